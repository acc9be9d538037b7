# The pelvar module against simulated boards on pseudo-terminals.
import errno
import logging
import os
import select
import signal
import socket
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import pelvar


@pytest.fixture
def sim():
    with pelvar.simulated_board(sensor="L") as board:
        yield board


@pytest.fixture
def board(sim, register_map):
    with pelvar.connect(sim.port, map=register_map) as b:
        yield b


def test_connect_starts_the_board_and_names_the_sensor(sim):
    with pelvar.connect(f"COM{sim.port}") as b:
        assert (b.port, b.sensor) == (sim.port, "ARVEN-L")
        assert sim.state["active"]
    with pelvar.simulated_board(sensor="S") as s, pelvar.connect(str(s.port)) as b:
        assert b.sensor == "ARVEN-S"


def test_set_sends_the_panels_frame(board, sim):
    board.set("brightness", 200)
    last = board.log(1)[0]
    assert last.frames[0] == (">", bytes.fromhex("02 06 91 C8 00 00 00 5D 03"))
    assert (last.command, last.meaning, last.result, last.attempts) == ("brightness", "brightness 200", "LINK_OK", 1)
    assert sim.state["adjustments"]["brightness"] == 200


def test_press_sends_the_buttons_command(board, sim):
    board.press("edge")
    board.press("test-pattern")
    assert sim.state["commands"]["edge"] == 1
    assert sim.state["commands"]["test_pattern"] == 1


def test_registers_by_address_and_by_name(board, sim):
    board.reg[0x0010] = 0xBEEF
    address, write = board.log(2)
    assert address.frames[0] == (">", bytes.fromhex("02 04 A5 10 00 B3 03"))
    assert write.frames[0] == (">", bytes.fromhex("02 04 A4 EF BE F3 03"))
    assert write.meaning == "reg 0x0010 = 0xbeef"
    assert sim.register(0x0010) == 0xBEEF
    assert board.reg["EXPOSURE"] == 0xBEEF
    assert board.read("0x10") == 0xBEEF


def test_a_field_is_read_modify_written(board, sim):
    board.reg["CTRL"] = 0xFF0F
    board.reg["CTRL.GAIN"] = 5
    assert sim.register(0x0012) == 0xFF5F
    assert board.reg["CTRL.GAIN"] == 5


def test_write_reads_back_only_when_asked_and_never_a_write_only_register(board, sim):
    board.write("EXPOSURE", 0x0200)
    board.reg["EXPOSURE"] = 0x0201
    assert [e.command for e in board.log()[-4:]] == ["reg_address", "reg_write", "reg_address", "reg_write"]
    board.write("EXPOSURE", 0x0202, verify=True)
    assert [e.command for e in board.log(4)] == ["reg_address", "reg_write", "reg_address", "reg_read"]
    board.write("TRIGGER", 1)
    board.reg["TRIGGER"] = 2
    assert [e.command for e in board.log()[-4:]] == ["reg_address", "reg_write", "reg_address", "reg_write"]
    assert sim.register(0x0040) == 2


def test_dump_gives_each_register_of_the_range(board):
    board.reg[0x11] = 0x1111
    assert board.dump(0x10, 0x12) == {0x10: 0, 0x11: 0x1111, 0x12: 0}


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda b: b.set("brightness", 256), ValueError),
        (lambda b: b.set("brightness", -1), ValueError),
        (lambda b: b.set("brightness", 1.5), TypeError),
        (lambda b: b.set("brightness", True), TypeError),
        (lambda b: b.set("hue", 1), ValueError),
        (lambda b: b.set(7, 1), TypeError),
        (lambda b: b.set(b"brightness", 1), TypeError),
        (lambda b: b.press("nope"), ValueError),
        (lambda b: b.reg[0x10000], ValueError),
        (lambda b: b.reg[-1], ValueError),
        (lambda b: b.reg[1.0], TypeError),
        (lambda b: b.reg[True], TypeError),
        (lambda b: b.reg[b"EXPOSURE"], TypeError),
        (lambda b: b.log(1.0), TypeError),
        (lambda b: b.reg["NOPE"], ValueError),
        (lambda b: b.write(0x10, 0x10000), ValueError),
        # Text is a field value's name: a register by address has none.
        (lambda b: b.write(0x10, "1"), ValueError),
        (lambda b: b.write(0x10, b"1"), TypeError),
        (lambda b: b.write("ID", 1), ValueError),
        (lambda b: b.write("NARROW", 0x100), ValueError),
        (lambda b: b.reg.__setitem__("CTRL.GAIN", 8), ValueError),
        (lambda b: b.write(0x10, 1, verify="yes"), TypeError),
        (lambda b: b.write(0x10, 1, verify=1), TypeError),
        (lambda b: b.write("TRIGGER", 1, verify=True), ValueError),
        (lambda b: b.dump(5, 4), ValueError),
        (lambda b: b.watch(0x10, interval_ms=-1), ValueError),
        (lambda b: b.transact(0x91, "c8000000"), TypeError),
        (lambda b: b.transact(0x100), ValueError),
        (lambda b: b.transact("nonsense"), ValueError),
        (lambda b: b.transact(0x91, bytes(253)), ValueError),
        (lambda b: b.apply_preset(42), TypeError),
        # Read at once and refused: a device that never ends, a directory.
        (lambda b: b.apply_preset("/dev/zero"), ValueError),
        (lambda b: b.apply_preset("/"), ValueError),
    ],
)
def test_bad_arguments_are_refused_before_anything_is_sent(board, sim, call, error):
    frames = sim.state["frames_received"]
    exchanges = len(board.log())
    with pytest.raises(error):
        call(board)
    assert sim.state["frames_received"] == frames
    assert len(board.log()) == exchanges


@pytest.mark.parametrize(
    "fault, exchange, error, name",
    [
        ({"nak": True}, lambda b: b.press("edge"), pelvar.RefusedError, "LINK_ERR_NAK"),
        ({"corrupt": True}, lambda b: b.query("status"), pelvar.ChecksumError, "LINK_ERR_CHECKSUM"),
        ({"silent": True}, lambda b: b.query("status"), pelvar.NoReplyError, "LINK_ERR_NO_REPLY"),
        ({"silent": True}, lambda b: b.reg[0x10], pelvar.NoReplyError, "LINK_ERR_NO_REPLY"),
    ],
)
def test_each_failure_raises_its_exception_with_code_and_name(board, sim, fault, exchange, error, name):
    sim.set_faults(**fault)
    with pytest.raises(error) as caught:
        exchange(board)
    assert isinstance(caught.value, pelvar.PelvarError)
    assert (caught.value.name, caught.value.code, caught.value.port) == (name, {
        "LINK_ERR_NAK": -2009, "LINK_ERR_CHECKSUM": -2003, "LINK_ERR_NO_REPLY": -2002}[name], sim.port)
    assert name in str(caught.value)
    assert board.log(1)[0].result == name


class FakeBoard:
    """A board of the test's own on a pseudo-terminal, for replies the simulated board never gives:
    it acknowledges every command, reports itself active with sensor L, and answers every register
    read with `reg_read_reply`, a whole frame."""

    def __init__(self, ports_dir, port, reg_read_reply):
        self.master, self.slave = os.openpty()
        self.link = os.path.join(ports_dir, f"COM{port}")
        os.symlink(os.ttyname(self.slave), self.link)
        self.reg_read_reply = reg_read_reply
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._serve)
        self.thread.start()

    @staticmethod
    def _frame(cmd, payload):
        body = bytes([0x02, len(payload) + 2, cmd]) + payload
        checksum = 0
        for b in body:
            checksum ^= b
        return body + bytes([checksum, 0x03])

    def _serve(self):
        pending = b""
        while not self.stopping.is_set():
            if not select.select([self.master], [], [], 0.05)[0]:
                continue
            pending += os.read(self.master, 256)
            while len(pending) >= 2 and len(pending) >= pending[1] + 3:
                cmd = pending[2]
                pending = pending[pending[1] + 3:]
                if cmd == 0x00:
                    reply = self._frame(cmd, b"\x11")
                elif cmd == 0x24:
                    reply = self.reg_read_reply
                else:
                    reply = self._frame(cmd, b"\x06\x00\x00\x00")
                os.write(self.master, reply)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.thread.join()
        os.unlink(self.link)
        os.close(self.slave)
        os.close(self.master)


@pytest.mark.parametrize(
    "reg_read_reply, call, error, name, text",
    [
        ("02 04 24 34 12 04 03", lambda b: b.write(0x10, 0x0001, verify=True), pelvar.VerifyError, "LINK_OK",
         "verify 0x0010: wrote 0x0001, read 0x1234"),
        ("02 01 03 03", lambda b: b.reg[0x10], pelvar.LinkError, "LINK_ERR_REPLY_TOO_LONG",
         "read 0x0010: reply longer than the protocol allows (LINK_ERR_REPLY_TOO_LONG)"),
    ],
)
def test_replies_the_simulator_never_gives_raise_their_exception(private_ports_dir, reg_read_reply, call, error,
                                                                 name, text):
    with FakeBoard(private_ports_dir, 190, bytes.fromhex(reg_read_reply)) as fake, pelvar.connect(190) as b:
        with pytest.raises(pelvar.PelvarError) as caught:
            call(b)
    assert type(caught.value) is error
    assert (caught.value.name, caught.value.port) == (name, 190)
    assert str(caught.value) == f"COM190 ({fake.link}): {text}"


def test_the_objects_read_well_in_a_repr(board, sim):
    assert repr(sim) == f"<pelvar.SimulatedBoard COM{sim.port} on {sim.device}, sensor L>"
    assert repr(board.reg) == f"<pelvar.RegisterView COM{sim.port}, 5 registers by name>"
    assert repr(board.query("status")) == "<pelvar.QueryReply value=0x11 frame=02 03 00 11 10 03>"
    board.set("brightness", 200)
    assert repr(board.log(1)[0]) == "<pelvar.Exchange brightness 200: LINK_OK>"
    sim.set_faults(nak=True, drop_every=3)
    assert repr(sim) == f"<pelvar.SimulatedBoard COM{sim.port} on {sim.device}, sensor L, faults: nak drop_every=3>"
    sim.set_faults(nak=False)
    for _ in range(3):
        board.press("edge")
    assert sorted(repr(e) for e in board.log(3)) == ["<pelvar.Exchange edge: LINK_OK, 2 attempts>",
                                                     "<pelvar.Exchange edge: LINK_OK>", "<pelvar.Exchange edge: LINK_OK>"]
    sim.set_faults(nak=True, drop_every=0)
    with pytest.raises(pelvar.RefusedError):
        board.press("edge")
    assert repr(board.log(1)[0]) == "<pelvar.Exchange edge: LINK_ERR_NAK, 6 attempts>"
    with pelvar.simulated_board() as other:
        pass
    assert repr(other) == f"<pelvar.SimulatedBoard COM{other.port} stopped>"


def test_exchanges_are_logged_as_they_happen(board, sim, caplog):
    caplog.set_level(logging.INFO, logger="pelvar")
    board.set("brightness", 200)
    sim.set_faults(nak=True)
    with pytest.raises(pelvar.RefusedError):
        board.press("edge")
    assert [(r.name, r.levelname) for r in caplog.records] == [("pelvar", "INFO")] * 2
    assert caplog.records[0].getMessage() == f"COM{sim.port} {board.log(2)[0].line}"
    assert "brightness 200" in caplog.records[0].getMessage()
    assert "LINK_ERR_NAK" in caplog.records[1].getMessage()
    caplog.clear()
    caplog.set_level(logging.WARNING, logger="pelvar")
    sim.set_faults(nak=False)
    board.press("edge")
    assert caplog.records == []


def test_a_silent_board_is_not_found():
    with pelvar.simulated_board(silent=True) as s:
        with pytest.raises(pelvar.NoReplyError) as caught:
            pelvar.connect(s.port)
        assert caught.value.code == -2002


def test_a_board_that_names_no_sensor_does_not_start():
    with pelvar.simulated_board(sensor="none") as s:
        with pytest.raises(pelvar.StartupError):
            pelvar.connect(s.port)


def test_a_port_that_cannot_be_opened_says_why(sim):
    with pytest.raises(pelvar.PortError) as absent:
        pelvar.connect(sim.port + 1 if sim.port < 255 else 1)
    assert absent.value.errno == errno.ENOENT and absent.value.name == "PORT_ERR_CONFIG"
    with pelvar.connect(sim.port):
        with pytest.raises(pelvar.PortBusyError) as busy:
            pelvar.connect(sim.port)
    assert "busy" in str(busy.value)


def test_network_ports_are_named_by_url():
    with socket.socket() as s:  # a port on which nothing listens
        s.bind(("127.0.0.1", 0))
        free = s.getsockname()[1]
    with pytest.raises(pelvar.PortError) as refused:
        pelvar.connect(f"rfc2217://127.0.0.1:{free}")
    # Refused at once, not timed out: the system's reason, kept.
    assert str(refused.value) == f"rfc2217://127.0.0.1:{free}: cannot open: connection refused (Connection refused)"
    assert (refused.value.name, refused.value.errno) == ("PORT_ERR_CONFIG", errno.ECONNREFUSED)
    with pytest.raises(ValueError, match="port number is missing"):
        pelvar.connect("rfc2217://127.0.0.1")


def test_named_ports_take_no_port_number():
    with socket.socket() as s:  # a port on which nothing listens
        s.bind(("127.0.0.1", 0))
        free = s.getsockname()[1]
    # More names than there are COM numbers, in one run.
    urls = [f"rfc2217://127.0.0.1:{20000 + i}" for i in range(300)]
    assert pelvar.port_list(",".join(["9", "COM7"] + urls)) == [7, 9] + urls
    with pelvar.simulated_board() as sim, pelvar.connect(sim.port) as b:
        assert (b.port, b.sensor) == (sim.port, "ARVEN-L")
    with pytest.raises(ValueError, match="^simulated board: port 'rfc2217://127.0.0.1:20000' is not a port number"):
        pelvar.simulated_board(urls[0])
    with pytest.raises(pelvar.PortError) as refused:
        pelvar.connect(f"rfc2217://127.0.0.1:{free}")
    assert refused.value.errno == errno.ECONNREFUSED and refused.value.port == f"rfc2217://127.0.0.1:{free}"
    assert str(refused.value) == f"rfc2217://127.0.0.1:{free}: cannot open: connection refused (Connection refused)"
    with pytest.raises(ValueError, match=r"^port '/dev/pts/2\\0junk' is not a port name: it holds a NUL byte$"):
        pelvar.connect("/dev/pts/2\0junk")


def test_the_board_and_port_are_released_on_an_exception(sim):
    with pytest.raises(RuntimeError):
        with pelvar.connect(sim.port) as b:
            raise RuntimeError("test failed")
    assert not b.open
    assert sim.state["commands"]["release"] == 1 and not sim.state["active"]
    with pytest.raises(pelvar.PortError):
        b.reg[0x10]
    with pelvar.connect(sim.port) as again:
        assert again.open


def test_watch_yields_the_first_value_and_each_change(board):
    changes = board.watch(0x10, interval_ms=20, count=4)
    first = next(changes)
    board.reg[0x10] = 7
    second = next(changes)
    assert (first[1], second[1]) == (0, 7)
    assert second[0] >= first[0] + 20
    assert list(changes) == []
    assert sum(e.command == "reg_read" for e in board.log()) == 4


def test_preset_sends_adjustments_then_register_writes(board, sim, tmp_path):
    preset = tmp_path / "preset.json"
    preset.write_text(
        '{"adjustments": {"brightness": 200, "contrast": 100, "red": 140, "green": 128, "blue": 120},'
        ' "registers": [{"register": "EXPOSURE", "value": "0x0200"}, {"register": "CTRL.GAIN", "value": 3}]}'
    )
    steps = board.apply_preset(preset)
    assert steps == ["set brightness 200", "set contrast 100", "set red 140", "set green 128", "set blue 120",
                     "reg write EXPOSURE 0x0200", "reg write CTRL.GAIN 0x0003"]
    assert sim.state["adjustments"] == {"brightness": 200, "contrast": 100, "red": 140, "green": 128, "blue": 120}
    assert (sim.register(0x10), sim.register(0x12)) == (0x0200, 0x0030)
    preset.write_text('{"adjustments": {"brightness": 300}}')
    with pytest.raises(ValueError):
        board.apply_preset(preset)


def test_raw_exchanges(board, sim):
    board.transact(0x91, bytes.fromhex("c8000000"))
    assert sim.state["adjustments"]["brightness"] == 200
    reply = board.query("status")
    assert reply.value == 0x11 and reply.frame == bytes.fromhex("02 03 00 11 10 03")
    board.reg[0x10] = 0xBEEF
    board.transact("reg_address", bytes.fromhex("1000"))
    reply = board.query("reg_read")
    assert reply.value == 0xBEEF and reply.frame == bytes.fromhex("02 04 24 EF BE 73 03")


def test_the_gil_is_released_while_a_board_is_slow(sim):
    with pelvar.simulated_board() as silent_sim, pelvar.connect(silent_sim.port) as silent, \
            pelvar.connect(sim.port) as fast:
        silent_sim.set_faults(silent=True)
        before = silent_sim.state["frames_received"]
        failures = []

        def press_silent_board():
            try:
                silent.press("edge")  # six attempts, about 3 s
            except pelvar.NoReplyError as e:
                failures.append(e)

        thread = threading.Thread(target=press_silent_board)
        thread.start()
        # Reading the state needs the GIL: a press that held it would let this
        # loop (and the writes below) go on only after its sixth attempt.
        while silent_sim.state["frames_received"] == before:
            time.sleep(0.001)
        for value in range(3):
            fast.reg[0x10] = value
        attempts_meanwhile = silent_sim.state["frames_received"] - before
        thread.join()
        assert len(failures) == 1 and silent_sim.state["frames_received"] - before == 6
        assert attempts_meanwhile < 6, "the other board waited for the silent one"


def test_threads_drive_several_boards(tmp_path):
    sims = [pelvar.simulated_board() for _ in range(4)]
    try:
        def drive(sim):
            with pelvar.connect(sim.port) as b:
                for value in range(10):
                    b.reg[0x40] = value + sim.port
                return b.reg[0x40]

        with ThreadPoolExecutor(4) as pool:
            results = list(pool.map(drive, sims))
        assert results == [9 + s.port for s in sims]
        assert len({s.port for s in sims}) == 4
    finally:
        for s in sims:
            s.stop()
    assert all(not s.running for s in sims)


def test_threads_sharing_one_board_take_the_line_in_turn(board, sim):
    # A register write is two exchanges (address, then value): a thread that
    # set its address between another's two would have that value land in
    # its own register.
    def drive(n):
        read = []
        for value in range(12):
            board.write(0x100 + n, 0x1000 * n + value, verify=True)
            read.append(board.reg[0x100 + n])
        return read

    with ThreadPoolExecutor(6) as pool:
        reads = list(pool.map(drive, range(6)))
    assert reads == [[0x1000 * n + v for v in range(12)] for n in range(6)]
    assert [sim.register(0x100 + n) for n in range(6)] == [0x000B, 0x100B, 0x200B, 0x300B, 0x400B, 0x500B]
    log = board.log()[-6 * 12 * 6:]
    assert all(e.result == "LINK_OK" and e.attempts == 1 for e in log)
    assert {e.command for e in log[0::2]} == {"reg_address"}


def test_a_killed_simulators_number_is_taken_over_and_a_live_ones_refused(private_ports_dir):
    child = subprocess.Popen(
        [sys.executable, "-c",
         "import pelvar, sys\nb = pelvar.simulated_board(231)\nprint(b.device, flush=True)\nsys.stdin.read()"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        dead_device = child.stdout.readline().strip()
    finally:
        child.kill()
        child.wait()
    left = os.path.join(private_ports_dir, "COM231")
    assert os.readlink(left) == dead_device  # left behind by the killed one

    # The system usually gives the freed terminal to the next board: the
    # old name must not reach it too.
    with pelvar.simulated_board(232) as other:
        if other.device == dead_device:
            assert not os.path.lexists(left)
        assert [p.port for p in pelvar.ports() if p.device == other.device] == [232]
        with pelvar.simulated_board(231) as board:
            assert os.readlink(board.link) == board.device
            with pytest.raises(pelvar.PortError) as caught:
                pelvar.simulated_board(231)
            assert str(caught.value).startswith(
                f"simulated board: COM231 is held by the simulated board of process {os.getpid()} (")
            with pelvar.connect(231) as b:
                assert b.port == 231


def test_ports_lists_the_simulated_boards(sim):
    listed = {p.port: p for p in pelvar.ports()}
    assert listed[sim.port].device == sim.device
    assert listed[sim.port].entry.endswith(f"(COM{sim.port})")


def test_a_released_board_refuses_further_use(sim):
    b = pelvar.connect(sim.port)
    b.close()
    with pytest.raises(pelvar.PortError) as caught:
        b.set("brightness", 1)
    assert caught.value.name == "LINK_ERR_NOT_OPEN"


def test_diagnose_walks_the_bring_up_and_leaves_the_board_connected(sim, register_map, tmp_path):
    scratch_map = tmp_path / "scratch.json"
    scratch_map.write_text('{"registers": [{"name": "SCRATCH", "address": "0x00FE", "scratch": true}]}')
    with pelvar.connect(sim.port, map=scratch_map) as b:
        b.set("blue", 120)
        report = b.diagnose()
        assert report["ok"], report
        # The board's start-up stays as it was: no CMD_INIT, no blue gain of 128 over the user's 120.
        assert [s["step"] for s in report["steps"]] == ["ports", "probe", "start-up", "scratch", "link"]
        assert report["steps"][0]["text"] == f"COM{sim.port} ({sim.link}): connected already"
        assert report["steps"][3]["text"] == "SCRATCH (0x00fe): 6 patterns written and read back; restored 0x0000"
        assert report["verdict"].startswith(f"ok: board on COM{sim.port} ({sim.link}), sensor ARVEN-L")
        assert sim.state["adjustments"]["blue"] == 120
        assert sim.state["commands"]["init"] == 1
        b.reg[0x10] = 0x4242
        assert sim.register(0x10) == 0x4242


def test_diagnose_names_the_symptom_of_a_refusing_board():
    with pelvar.simulated_board(nak=True) as s:
        report = pelvar.diagnose(s.port)
    assert not report["ok"]
    assert (report["result"], report["code"]) == ("LINK_ERR_NAK", -2009)
    assert report["verdict"] == "FAIL: the board refuses commands: NAK (LINK_ERR_NAK)"


def test_a_board_dropped_without_close_is_released(sim):
    b = pelvar.connect(sim.port)
    del b
    assert sim.state["commands"]["release"] == 1
    with pelvar.connect(sim.port) as again:
        assert again.open


@pytest.mark.parametrize(
    "faults, error",
    [({"ack_bytes": 0}, ValueError), ({"ack_bytes": 5}, ValueError), ({"delay_ms": -1}, ValueError),
     ({"silent": 1}, TypeError), ({"garbage": 0}, TypeError), ({"bogus": True}, TypeError), ({"sensor": "X"}, ValueError)],
)
def test_bad_faults_are_refused(faults, error):
    with pytest.raises(error):
        pelvar.simulated_board(**faults)


def test_faults_switch_while_the_board_runs(board, sim):
    sim.set_faults(drop_every=3, ack_bytes=2)
    assert sim.faults == {"sensor": "L", "silent": False, "nak": False, "delay_ms": 0, "drop_every": 3,
                          "garbage": False, "corrupt": False, "hangup_after": 0, "ack_bytes": 2}
    for _ in range(3):
        board.press("edge")
    presses = board.log(3)
    # Every third frame goes unanswered: one of three presses is sent again.
    assert sorted(e.attempts for e in presses) == [1, 1, 2]
    # An acknowledge of two payload bytes.
    assert b"".join(f for d, f in presses[0].frames if d == "<") == bytes.fromhex("02 04 1A 06 00 1A 03")
    sim.set_faults(drop_every=0, garbage=True)
    with pytest.raises(pelvar.NoReplyError):
        board.press("edge")
    assert b"".join(f for d, f in board.log(1)[0].frames if d == "<").startswith(bytes.fromhex("00 02 04 1A"))
    sim.set_faults(garbage=False, ack_bytes=4)
    for _ in range(3):
        board.press("edge")
    assert [e.attempts for e in board.log(3)] == [1, 1, 1]
    assert b"".join(f for d, f in board.log(1)[0].frames if d == "<") == bytes.fromhex("02 06 1A 06 00 00 00 18 03")


def test_the_stubs_name_what_the_module_has_and_every_call_is_documented():
    import ast
    from pathlib import Path

    tree = ast.parse((Path(pelvar.__file__).parent / "__init__.pyi").read_text())
    top = {n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    assert top == set(pelvar.__all__) - {"__version__"}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            assert "\n\n" in getattr(pelvar, node.name).__doc__, node.name
        if not isinstance(node, ast.ClassDef) or issubclass(getattr(pelvar, node.name), Exception):
            continue
        cls = getattr(pelvar, node.name)
        for item in node.body:
            if isinstance(item, ast.AnnAssign):
                assert hasattr(cls, item.target.id), f"{node.name}.{item.target.id}"
            elif isinstance(item, ast.FunctionDef):
                assert hasattr(cls, item.name), f"{node.name}.{item.name}"
                if not item.name.startswith("__"):
                    assert "\n\n" in getattr(cls, item.name).__doc__, f"{node.name}.{item.name} has no docstring"



def _split_top_level(text):
    """'a: Union[int, str], b: str = 'x, y'' split at the commas outside brackets and quotes."""
    parts, depth, quote, current = [], 0, None, ""
    for c in text:
        if quote:
            quote = None if c == quote else quote
        elif c in "'\"":
            quote = c
        elif c in "[(":
            depth += 1
        elif c in "])":
            depth -= 1
        elif c == "," and depth == 0:
            parts.append(current.strip())
            current = ""
            continue
        current += c
    return [p for p in parts + [current.strip()] if p]


def _module_signature(obj):
    """([(name, type or None, default or None, keyword_only)], return type or None) as the module declares them:
    pybind11's signature line, or the text signature of a plain method descriptor."""
    if getattr(obj, "__text_signature__", None):
        import inspect
        params = [(p.name, None, None if p.default is p.empty else repr(p.default), p.kind == p.KEYWORD_ONLY)
                  for p in inspect.signature(obj).parameters.values()]
        return params[1:], None  # without self
    import re
    line = obj.__doc__.split("\n")[0]
    match = re.fullmatch(r"[\w.]*\((.*)\) -> (.*)", line)
    assert match, line
    params, keyword_only = [], False
    for part in _split_top_level(match.group(1)):
        if part == "*":
            keyword_only = True
            continue
        name, _, rest = part.partition(": ")
        annotation, _, default = rest.partition(" = ")
        params.append((name, annotation, default or None, keyword_only))
    if params and params[0][0] in ("self", "arg0"):
        params = params[1:]
    return params, match.group(2)


def _pybind_text(text):
    """pybind11's spelling of a type as the stubs spell it; its os.PathLike takes a str as well."""
    import re
    for old, new in (("pelvar._pelvar.", ""), ("List[", "list["), ("Dict[", "dict["), ("Tuple[", "tuple[")):
        text = text.replace(old, new)
    return re.sub(r"os\.PathLike(?!\[)", "Union[str, os.PathLike[str]]", text)


def _types_agree(stub, module):
    # pybind11 names a py::dict or py::object result without its parameters.
    return stub == module or (module in ("dict", "list", "object") and stub.startswith(module + "["))


def test_the_stubs_declare_the_modules_parameters_and_types():
    import ast
    from pathlib import Path

    tree = ast.parse((Path(pelvar.__file__).parent / "__init__.pyi").read_text())
    aliases = {n.targets[0].id: ast.unparse(n.value) for n in tree.body if isinstance(n, ast.Assign)}

    def text(node):
        if node is None:
            return None
        for alias, meaning in aliases.items():
            for n in ast.walk(node):
                if isinstance(n, ast.Name) and n.id == alias:
                    n.id = meaning
        return ast.unparse(node)

    def stub_signature(fn):
        a = fn.args
        positional = a.posonlyargs + a.args
        defaults = [None] * (len(positional) - len(a.defaults)) + a.defaults
        params = [(p.arg, text(p.annotation), text(d), False) for p, d in zip(positional, defaults)]
        params += [(p.arg, text(p.annotation), text(d), True) for p, d in zip(a.kwonlyargs, a.kw_defaults)]
        return params[1:] if positional and positional[0].arg == "self" else params, text(fn.returns)

    checked = []
    for scope, body in [(pelvar, tree.body)] + [(getattr(pelvar, c.name), c.body)
                                                for c in tree.body if isinstance(c, ast.ClassDef)]:
        for node in body:
            where = f"{getattr(scope, '__name__', '')}.{getattr(node, 'name', '')}"
            if isinstance(node, ast.FunctionDef) and node.name in vars(scope):
                stub, stub_returns = stub_signature(node)
                module, returns = _module_signature(vars(scope)[node.name] if scope is not pelvar
                                                    else getattr(pelvar, node.name))
                assert [p[0] for p in stub] == [p[0] for p in module], f"{where}: parameter names"
                for (name, stub_type, stub_default, stub_kw), (_, mod_type, mod_default, mod_kw) in zip(stub, module):
                    if mod_type is not None:
                        assert _types_agree(stub_type, _pybind_text(mod_type)), f"{where}({name}): {mod_type}"
                    assert (stub_default is None) == (mod_default is None), f"{where}({name}): default"
                    if stub_default not in (None, "..."):
                        assert stub_default == mod_default, f"{where}({name}): default"
                    assert stub_kw == mod_kw, f"{where}({name}): keyword-only"
                if returns is not None:
                    assert _types_agree(stub_returns, _pybind_text(returns)), f"{where}: returns {returns}"
                checked.append(where)
            elif isinstance(node, ast.AnnAssign) and isinstance(vars(scope).get(node.target.id), property):
                _, returns = _module_signature(vars(scope)[node.target.id].fget)
                assert _types_agree(text(node.annotation), _pybind_text(returns)), f"{scope.__name__}.{node.target.id}"
                checked.append(f"{scope.__name__}.{node.target.id}")
    assert {"pelvar.connect", "Board.write", "SimulatedBoard.set_faults", "PelvarError.__init__",
            "Exchange.frames"} <= set(checked)

def test_disconnect_from_a_silent_board_raises_and_still_releases_the_port(sim):
    b = pelvar.connect(sim.port)
    sim.set_faults(silent=True)
    with pytest.raises(pelvar.NoReplyError) as caught:
        b.disconnect()
    assert str(caught.value) == f"COM{sim.port} ({sim.link}): release: no reply from the board (LINK_ERR_NO_REPLY)"
    assert not b.open
    sim.set_faults(silent=False)
    with pelvar.connect(sim.port) as again:
        assert again.open


def _when_dumping(sim, then):
    """Runs `then` on a thread once the board has taken a few of the dump's frames."""
    start = sim.state["frames_received"]

    def wait_and_act():
        while sim.state["frames_received"] < start + 20:
            time.sleep(0.005)
        then()

    t = threading.Thread(target=wait_and_act)
    t.start()
    return t


def test_ctrl_c_ends_a_long_dump_with_the_port_released(sim):
    b = pelvar.connect(sim.port)
    t = _when_dumping(sim, lambda: os.kill(os.getpid(), signal.SIGINT))
    with pytest.raises(KeyboardInterrupt):
        b.dump(0, 0xFFFF)
    t.join()
    assert not b.open
    frames = sim.state["frames_received"]
    with pelvar.connect(sim.port) as again:
        assert again.open
    # The dump stopped: the new connection's frames are the only ones since.
    assert sim.state["frames_received"] - frames < 20


def test_close_from_another_thread_ends_a_running_dump(sim):
    b = pelvar.connect(sim.port)
    t = _when_dumping(sim, b.close)
    with pytest.raises(pelvar.PortError, match="dump: interrupted"):
        b.dump(0, 0xFFFF)
    t.join()
    assert not b.open
    assert sim.state["commands"]["release"] == 1


def test_a_flood_keeps_its_first_and_last_bytes_and_counts_the_rest(private_ports_dir):
    # 3000 bytes of noise, then the reply: one exchange keeps 256 + 512 of them.
    noise = bytes([0x55]) * 3000
    with FakeBoard(private_ports_dir, 191, noise + bytes.fromhex("02 04 24 34 12 04 03")), pelvar.connect(191) as b:
        with pytest.raises(pelvar.PelvarError):
            b.reg[0x10]
        read = b.log(1)[0]
    kept = sum(len(f) for d, f in read.frames if d == "<")
    assert kept <= 768
    assert kept + read.bytes_not_kept == 3007


@pytest.mark.parametrize("reply_timeout_ms, answered", [(None, False), (500, False), (2500, True)])
def test_a_slow_path_to_the_board_takes_a_longer_reply_timeout(reply_timeout_ms, answered):
    # Every reply 1.5 s after the request: well past the board's own window.
    with pelvar.simulated_board(delay_ms=1500) as slow:
        if answered:
            with pelvar.connect(slow.port, reply_timeout_ms=reply_timeout_ms) as b:
                assert b.query("status").value == 0x11
        else:
            with pytest.raises(pelvar.NoReplyError):
                pelvar.connect(slow.port, reply_timeout_ms=reply_timeout_ms)


@pytest.mark.parametrize("reply_timeout_ms", [499, 60001])
def test_a_reply_timeout_outside_its_range_is_refused(sim, reply_timeout_ms):
    with pytest.raises(ValueError) as caught:
        pelvar.connect(sim.port, reply_timeout_ms=reply_timeout_ms)
    assert str(caught.value) == f"reply_timeout_ms {reply_timeout_ms} is not within 500..60000"


def test_rs485_mode_refused_by_the_driver_leaves_the_port_unused(sim):
    # A pseudo-terminal has no RS-485 mode: one line, and the port is free again.
    with pytest.raises(pelvar.PortError) as refused:
        pelvar.connect(sim.port, rs485=True)
    assert refused.value.errno == errno.ENOTTY
    assert str(refused.value) == (
        f"COM{sim.port} ({sim.link}): cannot open: the driver has no RS-485 mode; the port was not used "
        "(leave RS-485 mode off and Pelvar drives RTS itself)"
    )
    with pelvar.connect(sim.port) as b:
        assert b.sensor == "ARVEN-L"


NAMED_MAP = """{"registers": [
  {"name": "EXPOSURE", "address": "0x0010", "reset": "0x0100"},
  {"name": "CTRL", "address": "0x0012", "reset": "0x0000", "fields": [
    {"name": "MODE", "lsb": 0, "width": 2, "values": {"off": 0, "continuous": 2, "single": 3}},
    {"name": "GAIN", "lsb": 4, "width": 3},
    {"name": "IRQ", "lsb": 8, "width": 1, "access": "w1c"},
    {"name": "EN", "lsb": 15, "width": 1}]},
  {"name": "STATUS", "address": "0x0030", "access": "volatile"},
  {"name": "FIFO", "address": "0x0031", "access": "rc"}
]}"""


@pytest.fixture
def named(sim, tmp_path):
    path = tmp_path / "named.json"
    path.write_text(NAMED_MAP)
    with pelvar.connect(sim.port, map=path) as b:
        yield b


def test_named_values_in_and_out(named, sim):
    named.reg["CTRL"] = 0x8032
    value = named.reg["CTRL"]
    assert value == 0x8032 and isinstance(value, int)
    assert repr(value) == "CTRL=0x8032 (MODE=continuous(2) GAIN=3 IRQ=0 EN=1)"
    assert value.fields == {"MODE": 2, "GAIN": 3, "IRQ": 0, "EN": 1}
    import copy
    import pickle
    assert pickle.loads(pickle.dumps(value)) == 0x8032 and copy.deepcopy(value) == 0x8032
    assert named.reg["CTRL.MODE"] == "continuous"
    assert named.reg["CTRL.MODE"].value_name == "continuous"
    named.reg["CTRL.MODE"] = "single"
    assert named.log(1)[0].frames[0] == (">", bytes.fromhex("02 04 A4 33 80 11 03"))
    named.write("CTRL.MODE", "off", verify=True)
    assert sim.register(0x12) == 0x8030
    (_, mode), = named.watch("CTRL.MODE", interval_ms=0, count=1)
    assert mode == "off" and mode.value_name == "off"
    assert repr(named.reg[0x40]) == "0", "an address the map does not name reads as a plain int"
    with pytest.raises(ValueError, match=r"'burst' is no value of field MODE \(off, continuous, single, or 0 to 0x0003\)"):
        named.reg["CTRL.MODE"] = "burst"
    with pytest.raises(ValueError, match="EXPOSURE is no field"):
        named.write("EXPOSURE", "off")
    with pytest.raises(ValueError, match="CTRL.IRQ is w1c: a 1 written clears it"):
        named.write("CTRL.IRQ", 1, verify=True)


def test_snapshot_diff_and_restore_never_read_a_read_clear_register(named, sim, tmp_path):
    named.reg["EXPOSURE"] = 0x0200
    named.reg["CTRL"] = 0x8032
    file = tmp_path / "day1.json"
    start = len(named.log())
    assert named.snapshot(file) == {"EXPOSURE": 0x0200, "CTRL": 0x8032, "STATUS": 0}
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # the snapshot is of this very map
        assert named.diff(file) == []
    named.reg["CTRL.MODE"] = "off"
    named.reg["STATUS"] = 5
    differences = named.diff(str(file))
    assert [d["text"] for d in differences] == ["CTRL 0x0012: 0x8032 -> 0x8030, MODE continuous(2) -> off(0)",
                                               "STATUS (volatile) 0x0030: 0x0000 -> 0x0005"]
    assert differences[0]["fields"] == {"MODE": (2, 0)} and differences[1]["volatile"]
    steps = named.restore(file)
    assert [(s["name"], s["restored"]) for s in steps] == [("EXPOSURE", True), ("CTRL", True), ("STATUS", False),
                                                           ("FIFO", False)]
    assert steps[3]["why"] == "rc: a read clears it, so it is not read unless named"
    assert sim.register(0x12) == 0x8032
    assert not [e for e in named.log()[start:] if e.meaning.startswith("reg 0x0031")], "FIFO never latched"
    assert [d["name"] for d in named.diff("reset")] == ["EXPOSURE", "CTRL"]
    assert 0x31 not in named.dump(0x30, 0x31)


def test_restore_raises_on_a_refused_write_and_refuses_another_maps_snapshot(named, sim, tmp_path):
    file = tmp_path / "s.json"
    named.reg["EXPOSURE"] = 0x0200
    named.snapshot(file)
    named.reg["EXPOSURE"] = 0
    sim.set_faults(nak=True)
    with pytest.raises(pelvar.RefusedError):
        named.restore(file)
    sim.set_faults(nak=False)
    other = tmp_path / "other.json"
    other.write_text('{"map": {"file": "old.json", "fnv1a64": "0000000000000001"}, "registers": []}')
    with pytest.raises(ValueError, match="taken with another map"):
        named.restore(other)
    with pytest.warns(UserWarning, match=r"taken with another map \(old.json, fnv1a64 0000000000000001\)"):
        assert named.diff(other) == []
