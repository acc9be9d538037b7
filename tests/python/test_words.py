# One situation, one sentence: pelvarctl, the Python module and the
# diagnosis word each failure the same, through the core's describer.
import fcntl
import os
import socket
import subprocess

import pytest

import pelvar

PELVARCTL = os.environ["PELVARCTL"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ctl(*args):
    return subprocess.run([PELVARCTL, *args], capture_output=True, text=True, timeout=60)


def python_words(port):
    with pytest.raises(pelvar.PelvarError) as caught:
        pelvar.connect(port)
    return str(caught.value)


def diagnose_access_words(port):
    return next(s["text"] for s in pelvar.diagnose(port)["steps"] if s["step"] == "access")


def test_a_refused_network_port(private_ports_dir):
    url = f"rfc2217://127.0.0.1:{free_port()}"
    words = f"{url}: cannot open: connection refused (Connection refused)"
    assert ctl("--port", url, "connect").stderr == f"pelvarctl: {words}\n"
    assert python_words(url) == words
    assert diagnose_access_words(url) == words
    assert f"access: {words}\n" in ctl("--port", url, "diagnose").stdout


def test_an_unknown_host():
    url = "rfc2217://nohost.invalid:4000"
    words = f"{url}: cannot open: unknown host (the name does not resolve)"
    assert ctl("--port", url, "connect").stderr == f"pelvarctl: {words}\n"
    assert python_words(url) == words
    assert diagnose_access_words(url) == words


def test_a_tls_port_whose_key_others_may_read(tmp_path):
    # Refused before any connection: no server is needed to see the words.
    key = tmp_path / "lab.key"
    key.write_text("not read\n")
    key.chmod(0o644)
    url = f"rfc2217+tls://127.0.0.1:{free_port()}?cert={tmp_path}/lab.crt&key={key}"
    words = f"{url}: cannot open: key file {key} is readable by others"
    assert ctl("--port", url, "connect").stderr == f"pelvarctl: {words}\n"
    assert python_words(url) == words
    assert diagnose_access_words(url) == words


def test_an_absent_port():
    words = "COM99: cannot open: absent (No such file or directory)"
    assert ctl("--port", "99", "connect").stderr == f"pelvarctl: {words}\n"
    assert python_words(99) == words
    assert diagnose_access_words(99) == words


def test_a_port_another_program_holds(private_ports_dir):
    with pelvar.simulated_board() as sim:
        holder = subprocess.Popen(["flock", "-x", sim.device, "sleep", "60"])
        try:
            # Held once a lock of our own is refused.
            with open(sim.device, "rb") as probe:
                while True:
                    try:
                        fcntl.flock(probe, fcntl.LOCK_EX | fcntl.LOCK_NB)
                        fcntl.flock(probe, fcntl.LOCK_UN)
                    except BlockingIOError:
                        break
            prefix = f"COM{sim.port} ({private_ports_dir}/COM{sim.port}): cannot open: busy: held by process "
            # Each names a holder it can see: this process has the board's
            # side open too, which only the other processes count.
            assert python_words(sim.port).startswith(prefix)
            assert ctl("--port", str(sim.port), "connect").stderr.startswith(f"pelvarctl: {prefix}")
            assert diagnose_access_words(sim.port).startswith(prefix)
        finally:
            holder.kill()
            holder.wait()


def test_a_silent_board(private_ports_dir):
    with pelvar.simulated_board(silent=True) as sim:
        words = f"COM{sim.port} ({private_ports_dir}/COM{sim.port}): no reply from the board (LINK_ERR_NO_REPLY)"
        assert ctl("--port", str(sim.port), "connect").stderr == f"pelvarctl: {words}\n"
        assert python_words(sim.port) == words
