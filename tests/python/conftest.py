# The module's tests: every board is simulated, in a port directory of the
# session's own, so no real serial device is ever listed or opened.
import os
import tempfile

import pytest

pytest_plugins = ["pytester"]


@pytest.fixture(autouse=True, scope="session")
def private_ports_dir():
    with tempfile.TemporaryDirectory(prefix="pelvar-ports-") as path:
        os.chmod(path, 0o700)
        old = os.environ.get("PELVAR_PORTS_DIR")
        os.environ["PELVAR_PORTS_DIR"] = path
        yield path
        if old is None:
            del os.environ["PELVAR_PORTS_DIR"]
        else:
            os.environ["PELVAR_PORTS_DIR"] = old


@pytest.fixture
def register_map(tmp_path):
    path = tmp_path / "regs.json"
    path.write_text(
        '{"registers": ['
        '{"name": "EXPOSURE", "address": "0x0010"},'
        '{"name": "CTRL", "address": "0x0012", "fields": [{"name": "GAIN", "lsb": 4, "width": 3}]},'
        '{"name": "ID", "address": "0x0020", "access": "ro"},'
        '{"name": "NARROW", "address": "0x0030", "width": 8},'
        '{"name": "TRIGGER", "address": "0x0040", "access": "wo"}]}'
    )
    return path
