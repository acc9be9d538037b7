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
