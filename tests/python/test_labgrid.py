# The labgrid driver: environment files naming pelvar.labgrid, run by
# labgrid's own pytest plugin (--lg-env) in a child pytest as a lab's suite
# runs, or loaded through labgrid's Environment. The board is simulated, on
# its pseudo-terminal or behind ser2net on 127.0.0.1.
import contextlib
import os
import socket
import subprocess
import tempfile
import time

import pytest
from labgrid import Environment
from labgrid.binding import StateError

import pelvar


@pytest.fixture
def sim():
    with pelvar.simulated_board() as board:
        yield board


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until_served(server, port, telnet):
    """Until ser2net serves a client and lets it go again (with
    max-connections 1 the probe would otherwise turn the test away)."""
    while server.poll() is None:
        with socket.socket() as s:
            try:
                s.connect(("127.0.0.1", port))
            except ConnectionRefusedError:
                time.sleep(0.02)
                continue
            if telnet and s.recv(1) != b"\xff":
                continue
            s.shutdown(socket.SHUT_WR)
            while s.recv(256):
                pass
            return
    raise AssertionError(f"ser2net exited with {server.returncode}")


@contextlib.contextmanager
def ser2net(device, accepter):
    port = free_port()
    with tempfile.TemporaryDirectory(prefix="pelvar-ser2net-") as d:
        config = os.path.join(d, "ser2net.yaml")
        with open(config, "w") as f:
            f.write(f"connection: &board\n"
                    f"  accepter: {accepter}tcp,127.0.0.1,{port}\n"
                    f"  connector: serialdev,{device},115200n81,local\n"
                    f"  options:\n"
                    f"    max-connections: 1\n")
        server = subprocess.Popen(["/usr/sbin/ser2net", "-n", "-c", config, "-P", os.path.join(d, "pid")])
        try:
            wait_until_served(server, port, telnet=bool(accepter))
            yield port
        finally:
            server.kill()
            server.wait()


def environment(tmp_path, resource, driver="{}"):
    path = tmp_path / "env.yaml"
    path.write_text("imports:\n"
                    "  - pelvar.labgrid\n"
                    "targets:\n"
                    "  main:\n"
                    "    resources:\n"
                    f"{resource}"
                    "    drivers:\n"
                    f"      PelvarDriver: {driver}\n")
    return str(path)


def local(device):
    return f"      RawSerialPort:\n        port: {device}\n"


def network(port, protocol, host="127.0.0.1"):
    return (f"      NetworkSerialPort:\n        host: '{host}'\n        port: {port}\n"
            f"        protocol: {protocol}\n")


LAB_TEST = """
def test_the_board_as_a_target(target):
    drv = target.get_driver("PelvarDriver")
    drv.set("brightness", 200)
    drv.press("edge")
    drv.write(0x0010, 0xBEEF, verify=True)
    assert [e.command for e in drv.log(4)] == ["reg_address", "reg_write", "reg_address", "reg_read"]
    assert drv.read(0x0010) == 0xBEEF
    assert drv.dump(0x0010, 0x0011) == {0x0010: 0xBEEF, 0x0011: 0x0000}
    assert drv.board.reg[0x0010] == 0xBEEF
    report = drv.diagnose()
    assert report["ok"], report
    print("verdict:", report["verdict"])
"""


@pytest.mark.parametrize("transport", ["local", "rfc2217", "raw"])
def test_lab_suite_drives_the_board_through_the_driver(pytester, tmp_path, transport):
    with pelvar.simulated_board() as sim, contextlib.ExitStack() as stack:
        if transport == "local":
            resource, name = local(sim.device), sim.device
        else:
            port = stack.enter_context(ser2net(sim.device, "telnet(rfc2217)," if transport == "rfc2217" else ""))
            resource = network(port, transport)
            name = f"{'rfc2217' if transport == 'rfc2217' else 'socket'}://127.0.0.1:{port}"
        pytester.makepyfile(LAB_TEST)
        result = pytester.runpytest_subprocess("-p", "no:cacheprovider", "-s",
                                               f"--lg-env={environment(tmp_path, resource)}")
        result.assert_outcomes(passed=1)
        result.stdout.fnmatch_lines([f"*verdict: ok: board on {name}, sensor ARVEN-L, *"])
        assert sim.state["adjustments"]["brightness"] == 200
        assert sim.state["commands"]["edge"] == 1
        assert sim.register(0x0010) == 0xBEEF
        # labgrid's clean-up at the end of the session released the board.
        assert sim.state["commands"]["release"] == 1 and not sim.state["active"]


def test_a_deactivated_driver_has_released_the_board_and_refuses_calls(sim, tmp_path):
    (tmp_path / "regs.json").write_text('{"registers": [{"name": "EXPOSURE", "address": "0x0010"}]}')
    env = Environment(environment(tmp_path, local(sim.device), "{map: regs.json}"))
    try:
        target = env.get_target()
        drv = target.get_driver("PelvarDriver")
        drv.write("EXPOSURE", 0x0123)
        assert sim.register(0x0010) == 0x0123
        held = drv.board
        target.deactivate(drv)
        assert sim.state["commands"]["release"] == 1 and not held.open
        with pytest.raises(StateError):
            drv.set("brightness", 1)
        with pytest.raises(StateError):
            drv.board
        target.activate(drv)
        assert drv.board.reg["EXPOSURE"] == 0x0123
    finally:
        env.cleanup()
    # The clean-up let the port go: it opens again.
    with pelvar.connect(sim.device) as again:
        assert again.read(0x0010) == 0x0123


def test_the_modules_failure_passes_through_and_leaves_the_driver_inactive(tmp_path):
    with pelvar.simulated_board(silent=True) as silent:
        env = Environment(environment(tmp_path, local(silent.device)))
        try:
            target = env.get_target()
            with pytest.raises(pelvar.NoReplyError) as caught:
                target.get_driver("PelvarDriver")
            assert caught.value.port == silent.device
            drv = target.get_driver("PelvarDriver", activate=False)
            with pytest.raises(StateError):
                drv.read(0x0010)
        finally:
            env.cleanup()


def test_network_ports_are_named_as_pelvar_takes_them_and_other_protocols_refused(tmp_path):
    env = Environment(environment(tmp_path, network(4000, "rfc2217", host="[2001:db8::7]")))
    drv = env.get_target().get_driver("PelvarDriver", activate=False)
    assert drv.port_name() == "rfc2217://[2001:db8::7]:4000"

    env = Environment(environment(tmp_path, network(4000, "telnet")))
    with pytest.raises(ValueError, match="protocol 'telnet' is neither rfc2217 nor raw"):
        env.get_target()
