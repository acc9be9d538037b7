"""The pytest plugin of the pelvar module, found through its entry point.

Fixtures:
  pelvar_board  a connected board, released after the test
  pelvar_sim    a simulated board with its state (the board pelvar_board
                connects to when no real port is given)

Options:
  --pelvar-port N        a real board on COMN; without it the tests run on a simulated board
  --pelvar-ports all|LIST  the tests that take pelvar_board run once per board
                         (every listed port, or 7,8,9), the port in the test's id
  --pelvar-map FILE      the register map for register names
"""

import pytest

import pelvar

# How many of the board's last exchanges a failing test's report shows.
REPORT_EXCHANGES = 20


def pytest_addoption(parser):
    group = parser.getgroup("pelvar", "Pelvar camera board")
    group.addoption("--pelvar-port", default=None, metavar="N",
                    help="run on the real board on COMN (7 or COM7); without it, on a simulated board")
    group.addoption("--pelvar-ports", default=None, metavar="all|LIST",
                    help="run the tests that take pelvar_board once per board: every listed port, or 7,8,9")
    group.addoption("--pelvar-map", default=None, metavar="FILE",
                    help="register map (JSON) for register names")


def _port_list(option):
    if option == "all":
        return sorted({p.port for p in pelvar.ports()})
    try:
        return pelvar.port_list(option)
    except ValueError as e:
        raise pytest.UsageError(f"--pelvar-ports: {e}") from None


_PORTS = pytest.StashKey()


def pytest_configure(config):
    # A bad list is refused before any test is collected; "all" is listed once.
    option = config.getoption("pelvar_ports")
    if option:
        config.stash[_PORTS] = _port_list(option)


def pytest_generate_tests(metafunc):
    ports = metafunc.config.stash.get(_PORTS, None)
    if ports is not None and "pelvar_board" in metafunc.fixturenames:
        metafunc.parametrize("pelvar_port", ports, ids=[f"COM{p}" for p in ports])


@pytest.fixture
def pelvar_port(request):
    """The real board's port (--pelvar-port), or None for a simulated board."""
    return request.config.getoption("pelvar_port")


@pytest.fixture
def pelvar_sim():
    """A simulated board on a pseudo-terminal: .port, .state, .register(addr), .set_faults(...)."""
    with pelvar.simulated_board() as sim:
        yield sim


@pytest.fixture
def pelvar_board(request, pelvar_port):
    """A connected board, released after the test (also when it fails)."""
    port = pelvar_port
    if port is None:
        port = request.getfixturevalue("pelvar_sim").port
    with pelvar.connect(port, map=request.config.getoption("pelvar_map")) as board:
        request.node.stash[_BOARD] = board
        yield board


_BOARD = pytest.StashKey()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    board = item.stash.get(_BOARD, None)
    if board is None or not report.failed:
        return
    exchanges = board.log(REPORT_EXCHANGES)
    text = "\n".join(e.line for e in exchanges) if exchanges else "(no exchange)"
    report.sections.append((f"pelvar: last exchanges with COM{board.port}", text))
