# The pytest plugin, run by pytest itself in a child process that finds the
# plugin through its entry point: the test files here have no conftest.
import pytest

import pelvar

BOARD_TESTS = """
def test_brightness(pelvar_board, pelvar_sim):
    pelvar_board.set("brightness", 10)
    assert pelvar_sim.state["adjustments"]["brightness"] == 10

def test_register_mismatch(pelvar_board):
    pelvar_board.reg[0x10] = 0x1234
    assert pelvar_board.reg[0x10] == 0x9999
"""

REAL_BOARD_TEST = """
def test_on_the_board(pelvar_board):
    pelvar_board.reg[0x20] = pelvar_board.port
"""


def run(pytester, *args):
    return pytester.runpytest_subprocess("-p", "no:cacheprovider", *args)


def test_fixtures_come_from_the_entry_point_with_a_simulated_board(pytester):
    pytester.makepyfile(BOARD_TESTS)
    result = run(pytester, "-v")
    result.assert_outcomes(passed=1, failed=1)
    result.stdout.fnmatch_lines(["*test_brightness PASSED*", "*test_register_mismatch FAILED*"])


def test_a_failure_shows_the_boards_last_exchanges(pytester):
    pytester.makepyfile(BOARD_TESTS)
    result = run(pytester, "-k", "mismatch")
    result.stdout.fnmatch_lines([
        "*- pelvar: last exchanges with COM* -*",
        "*reg_write*reg 0x0010 = 0x1234*LINK_OK*> 02 04 A4 34 12 84 03*",
        "*reg_read*reg 0x0010 reads 0x1234*LINK_OK*",
    ])


def test_pelvar_port_uses_the_real_board_and_releases_it(pytester):
    with pelvar.simulated_board() as board:
        pytester.makepyfile(REAL_BOARD_TEST)
        run(pytester, f"--pelvar-port={board.port}").assert_outcomes(passed=1)
        assert board.register(0x20) == board.port
        assert board.state["commands"]["release"] == 1


@pytest.mark.parametrize("which", ["all", "LIST"])
def test_pelvar_ports_runs_once_per_board_with_the_port_in_the_id(pytester, which):
    boards = [pelvar.simulated_board() for _ in range(3)]
    try:
        wanted = boards[:2] if which == "LIST" else boards
        ports = ",".join(str(b.port) for b in wanted) if which == "LIST" else "all"
        pytester.makepyfile(REAL_BOARD_TEST)
        result = run(pytester, "-v", f"--pelvar-ports={ports}")
        result.assert_outcomes(passed=len(wanted))
        result.stdout.fnmatch_lines([f"*test_on_the_board?COM{b.port}? PASSED*" for b in wanted])
        assert [b.register(0x20) for b in boards] == [b.port if b in wanted else 0 for b in boards]
    finally:
        for b in boards:
            b.stop()


def test_a_bad_port_list_is_a_usage_error(pytester):
    pytester.makepyfile(REAL_BOARD_TEST)
    result = run(pytester, "--pelvar-ports=7,x")
    assert result.ret == pytest.ExitCode.USAGE_ERROR
    result.stderr.fnmatch_lines(["*--pelvar-ports: 'x' is not a port number*"])


SIM_ONLY_TESTS = """
import pytest
import pelvar

def test_a_refusal(pelvar_board, pelvar_sim):
    pelvar_sim.set_faults(nak=True)
    with pytest.raises(pelvar.RefusedError):
        pelvar_board.press("edge")

@pytest.mark.pelvar_sim(faults={"nak": True})
def test_a_declared_refusal(pelvar_board):
    with pytest.raises(pelvar.RefusedError):
        pelvar_board.press("edge")
"""


@pytest.mark.parametrize("option", ["--pelvar-port", "--pelvar-ports"])
def test_the_simulator_on_a_real_port_skips_the_test_with_the_reason(pytester, option):
    with pelvar.simulated_board() as board:
        pytester.makepyfile(SIM_ONLY_TESTS)
        result = run(pytester, "-rs", f"{option}={board.port}")
        result.assert_outcomes(skipped=2)
        result.stdout.fnmatch_lines([
            f"SKIPPED * pelvar_sim needs the simulated board; the tests run on the real board on COM{board.port}",
            f"SKIPPED * pelvar_sim marker needs the simulated board; the tests run on the real board on "
            f"COM{board.port}",
        ])
        assert "edge" not in board.state["commands"]


SHARED_BOARD_TESTS = """
import pytest
import pelvar

boards = []

def test_first(pelvar_board):
    boards.append(pelvar_board)
    pelvar_board.set("brightness", 7)

@pytest.mark.pelvar_sim(faults={"nak": True})
def test_refused(pelvar_board, pelvar_sim):
    with pytest.raises(pelvar.RefusedError):
        pelvar_board.press("edge")
    assert pelvar_sim.faults["nak"] is True
    assert pelvar_sim.state["adjustments"]["brightness"] == 7

def test_faults_gone_again(pelvar_board, pelvar_sim):
    pelvar_board.press("edge")
    assert pelvar_board is boards[0]
    assert pelvar_sim.state["commands"]["init"] == 1

@pytest.mark.pelvar_sim(sensor="S")
def test_sensor_s(pelvar_board):
    assert pelvar_board.sensor == "ARVEN-S"
"""


def test_a_board_shared_by_a_module_takes_each_tests_declared_faults_and_drops_them(pytester):
    pytester.makepyfile(SHARED_BOARD_TESTS)
    result = run(pytester, "-v", "--pelvar-scope=module")
    result.assert_outcomes(passed=3, failed=1)
    result.stdout.fnmatch_lines([
        "*test_sensor_s FAILED*",
        "*pelvar_sim(sensor='S'): the board shared by --pelvar-scope=module plays sensor 'L'; mark the module, "
        "or run with --pelvar-scope=function",
    ])
    run(pytester, "-k", "sensor_s").assert_outcomes(passed=1)


def test_exchanges_go_to_the_pelvar_logger_and_live_logs(pytester):
    pytester.makepyfile("""
        import logging

        def test_logged(pelvar_board, caplog):
            caplog.set_level(logging.INFO, logger="pelvar")
            pelvar_board.set("brightness", 200)
            [record] = caplog.records
            assert (record.name, record.levelname) == ("pelvar", "INFO")
            assert record.getMessage().startswith(f"COM{pelvar_board.port} ")
    """)
    result = run(pytester, "--log-cli-level=INFO")
    result.assert_outcomes(passed=1)
    result.stdout.fnmatch_lines(["*INFO*pelvar*COM* brightness*brightness 200*LINK_OK*> 02 06 91 C8 00 00 00 5D 03*"])


def test_junit_xml_carries_a_failing_tests_own_exchanges(pytester):
    import xml.etree.ElementTree as ET

    pytester.makepyfile(BOARD_TESTS)
    result = run(pytester, "--pelvar-scope=module", "--junitxml=out.xml")
    result.assert_outcomes(passed=1, failed=1)
    cases = {c.get("name"): c for c in ET.parse(pytester.path / "out.xml").getroot().iter("testcase")}
    assert cases["test_brightness"].find("properties") is None
    [prop] = cases["test_register_mismatch"].find("properties")
    assert prop.get("name").startswith("pelvar: last exchanges with COM")
    lines = prop.get("value").split("\n")
    assert [line.split()[2] for line in lines] == ["reg_address", "reg_write", "reg_address", "reg_read"]
    assert "reg 0x0010 = 0x1234" in lines[1] and "> 02 04 A4 34 12 84 03" in lines[1]


def test_pelvar_ports_all_without_a_port_is_a_usage_error(pytester, monkeypatch, tmp_path):
    empty = tmp_path / "no-ports"
    empty.mkdir(mode=0o700)
    monkeypatch.setenv("PELVAR_PORTS_DIR", str(empty))
    pytester.makepyfile(REAL_BOARD_TEST)
    result = run(pytester, "--pelvar-ports=all")
    assert result.ret == pytest.ExitCode.USAGE_ERROR
    result.stderr.fnmatch_lines(["*--pelvar-ports all: no serial port is listed on this machine*"])


def test_the_reply_timeout_reaches_the_board(pytester):
    pytester.makepyfile("""
import pytest

@pytest.mark.pelvar_sim(faults={"delay_ms": 1500})
def test_a_slow_reply(pelvar_board):
    assert pelvar_board.query("status").value == 0x11
""")
    run(pytester).assert_outcomes(failed=1)
    run(pytester, "--pelvar-reply-timeout", "2500").assert_outcomes(passed=1)


REGISTER_ASSERTION = """
import pelvar

def test_ctrl(tmp_path):
    path = tmp_path / "m.json"
    path.write_text('{"registers": [{"name": "CTRL", "address": "0x0012", "fields": ['
                    '{"name": "MODE", "lsb": 0, "width": 2, "values": {"off": 0, "continuous": 2}},'
                    '{"name": "GAIN", "lsb": 4, "width": 3}]}]}')
    with pelvar.simulated_board() as sim, pelvar.connect(sim.port, map=path) as board:
        board.reg["CTRL"] = 0x1111
        assert board.reg["CTRL"] == 0x2222
"""


def test_a_register_in_a_failed_assertion_shows_hexadecimal_and_its_fields(pytester):
    pytester.makepyfile(REGISTER_ASSERTION)
    result = run(pytester)
    result.assert_outcomes(failed=1)
    result.stdout.fnmatch_lines([
        "*assert CTRL=0x1111 (MODE=1 GAIN=1) == 0x2222",
        "*read:     0x1111 MODE=1 GAIN=1",
        "*compared: 0x2222 MODE=continuous(2) GAIN=2",
    ])
    result.stdout.no_fnmatch_line("*assert 4369 == 8738*")
