# pelvar-map-import on a small CMSIS-SVD and a small IP-XACT file: the map it
# writes, what it says it left out, and that pelvarctl takes the map.
import json
import os
import subprocess
from pathlib import Path

import pytest

HERE = Path(__file__).parent / "map-import"
IMPORT = os.environ["PELVAR_MAP_IMPORT"]
PELVARCTL = os.environ["PELVARCTL"]


def run(*args):
    return subprocess.run(["/usr/bin/python3", IMPORT, *args], capture_output=True, text=True)


def test_svd_keeps_names_addresses_fields_values_resets_access_and_descriptions():
    r = run(str(HERE / "camera.svd"))
    assert r.returncode == 0, r.stderr
    assert json.loads(r.stdout)["registers"] == [
        {"name": "ID", "address": "0x0011", "reset": "0x5a01", "access": "ro"},
        {"name": "CTRL", "address": "0x0012", "reset": "0x0002", "description": "Pipeline control", "fields": [
            {"name": "MODE", "lsb": 0, "width": 2, "values": {"off": 0, "continuous": 2, "single": 3},
             "description": "Capture mode"},
            {"name": "IRQ", "lsb": 8, "width": 1, "access": "w1c"},
            {"name": "EN", "lsb": 15, "width": 1}]},
        {"name": "FIFO", "address": "0x0031", "width": 8, "access": "rc"},
    ]
    where = f"pelvar-map-import: {HERE / 'camera.svd'}: "
    assert r.stderr.splitlines() == [
        where + "CTRL.MODE: value other (isDefault) not carried: no single number",
        where + "WIDE: 32-bit register: a map's registers are 16 bits at most: left out",
    ]


def test_ipxact_keeps_field_resets_and_says_what_it_could_not_carry():
    r = run(str(HERE / "camera-ipxact.xml"))
    assert r.returncode == 0, r.stderr
    assert json.loads(r.stdout)["registers"] == [
        {"name": "CTRL", "address": "0x0012", "reset": "0x0002", "description": "Pipeline control", "fields": [
            {"name": "MODE", "lsb": 0, "width": 2, "values": {"off": 0, "continuous": 2}},
            {"name": "ERR", "lsb": 9, "width": 1, "access": "w1c"}]},
        {"name": "STATUS", "address": "0x0030", "access": "volatile"},
    ]
    where = f"pelvar-map-import: {HERE / 'camera-ipxact.xml'}: "
    assert r.stderr.splitlines() == [
        where + "CTRL: volatile not carried: its w1c fields are kept, which need an rw register",
        where + "STATUS: ro and volatile: written as volatile (its ro is not kept)",
    ]


@pytest.mark.parametrize("source", ["camera.svd", "camera-ipxact.xml"])
def test_pelvarctl_takes_the_imported_map(tmp_path, source):
    mapped = tmp_path / "registers.json"
    mapped.write_text(run(str(HERE / source)).stdout)
    saved = subprocess.run([PELVARCTL, "--map", str(mapped), "preset", "save", str(tmp_path / "p.json"),
                            "--reg", "CTRL.MODE=2"], capture_output=True, text=True)
    assert saved.returncode == 0, saved.stderr


def test_neither_format_nor_a_file_is_refused(tmp_path):
    other = tmp_path / "other.xml"
    other.write_text("<registers/>")
    r = run(str(other))
    assert (r.returncode, r.stdout) == (1, "")
    assert r.stderr == f"pelvar-map-import: {other}: <registers> is neither CMSIS-SVD (<device>) nor IP-XACT (<component>)\n"
    assert run().returncode == 2
