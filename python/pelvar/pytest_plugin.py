"""The pytest plugin of the pelvar module, found through its entry point.

Fixtures:
  pelvar_board  a connected board, released after the test (or the module,
                or the session: --pelvar-scope)
  pelvar_sim    the simulated board pelvar_board talks to when no real port
                is given; a test that takes it on a real board is skipped

Marker:
  @pytest.mark.pelvar_sim(sensor="S", faults={"nak": True})
                the simulated board's sensor, and faults in force while the
                test function runs (set_faults' keywords)

Options:
  --pelvar-port N        a real board on COMN; without it the tests run on a simulated board
  --pelvar-ports all|LIST  the tests that take pelvar_board run once per board
                         (every listed port, or 7,8,9), the port in the test's id
  --pelvar-map FILE      the register map for register names
  --pelvar-scope SCOPE   function (default), module or session: how long one board stays connected
  --pelvar-reply-timeout MS  how long a reply is waited for (500, the board's window, to 60000)

Every exchange goes to the logger "pelvar" at INFO; a failing test's report
shows its last exchanges, and --junitxml carries them as a property.
"""

import pytest

import pelvar

# How many of the board's last exchanges a failing test's report shows.
REPORT_EXCHANGES = 20

SCOPES = ("function", "module", "session")


def pytest_addoption(parser):
    group = parser.getgroup("pelvar", "Pelvar camera board")
    group.addoption("--pelvar-port", default=None, metavar="N",
                    help="run on the real board on COMN (7 or COM7); without it, on a simulated board")
    group.addoption("--pelvar-ports", default=None, metavar="all|LIST",
                    help="run the tests that take pelvar_board once per board: every listed port, or 7,8,9")
    group.addoption("--pelvar-map", default=None, metavar="FILE",
                    help="register map (JSON) for register names")
    group.addoption("--pelvar-scope", default="function", choices=SCOPES,
                    help="how long one board stays connected: each test (function, the default), "
                         "each module, or the whole session")
    group.addoption("--pelvar-reply-timeout", default=None, type=int, metavar="MS",
                    help="how long a reply is waited for: 500 (the board's window, the default) to 60000, "
                         "for a board behind a slow path")


def _port_list(option):
    if option == "all":
        ports = pelvar.port_list("all")
        if not ports:
            # Running nothing, or running on a simulator instead, would pass a suite that tested no board.
            raise pytest.UsageError("--pelvar-ports all: no serial port is listed on this machine")
        return ports
    try:
        return pelvar.port_list(option)
    except ValueError as e:
        raise pytest.UsageError(f"--pelvar-ports: {e}") from None


_PORTS = pytest.StashKey()
_LIVE = pytest.StashKey()
_START = pytest.StashKey()


def pytest_configure(config):
    config.addinivalue_line(
        "markers",
        "pelvar_sim(sensor='L', faults={}): the simulated board's sensor ('L', 'S' or 'none') and the faults "
        "(SimulatedBoard.set_faults keywords) in force while the test runs; skipped on a real board")
    # A bad list is refused before any test is collected; "all" is listed once.
    option = config.getoption("pelvar_ports")
    if option:
        if config.getoption("pelvar_port"):
            raise pytest.UsageError("--pelvar-port and --pelvar-ports: give one of them")
        config.stash[_PORTS] = _port_list(option)
    config.stash[_LIVE] = {}


def _scope(fixture_name, config):
    return config.getoption("pelvar_scope")


def pytest_generate_tests(metafunc):
    ports = metafunc.config.stash.get(_PORTS, None)
    if ports is not None and "pelvar_board" in metafunc.fixturenames:
        metafunc.parametrize("pelvar_port", ports, ids=[f"COM{p}" for p in ports],
                             scope=metafunc.config.getoption("pelvar_scope"))


def _real_port(item):
    """The real board's port the test runs on, or None on a simulated board."""
    callspec = getattr(item, "callspec", None)
    if callspec is not None and "pelvar_port" in callspec.params:
        return callspec.params["pelvar_port"]
    return item.config.getoption("pelvar_port")


def _marked(node):
    """(sensor or None, faults) of the closest pelvar_sim marker, or None without one."""
    marker = node.get_closest_marker("pelvar_sim")
    if marker is None:
        return None
    unknown = sorted(set(marker.kwargs) - {"sensor", "faults"})
    if marker.args or unknown:
        raise TypeError(f"pelvar_sim marker: takes sensor= and faults= only, not {marker.args or unknown}")
    faults = marker.kwargs.get("faults", {})
    if not isinstance(faults, dict):
        raise TypeError("pelvar_sim marker: faults must be a dict of set_faults keywords")
    return marker.kwargs.get("sensor"), dict(faults)


def _skip_reason(port):
    name = f"COM{port}" if str(port).isdigit() else str(port)
    return f"needs the simulated board; the tests run on the real board on {name}"


@pytest.fixture(scope=_scope)
def pelvar_port(request):
    """The real board's port (--pelvar-port), or None for a simulated board."""
    return request.config.getoption("pelvar_port")


@pytest.fixture(scope=_scope)
def _pelvar_simulator(request, pelvar_port):
    if pelvar_port is not None:
        yield None
        return
    marked = _marked(request.node)
    sensor = marked[0] if marked and marked[0] is not None else "L"
    with pelvar.simulated_board(sensor=sensor) as sim:
        yield sim


@pytest.fixture
def pelvar_sim(pelvar_port, _pelvar_simulator):
    """The simulated board pelvar_board talks to: .port, .state, .register(addr), .set_faults(...).
    Skipped on a real board: a fault set on a simulator nobody talks to would prove nothing."""
    if _pelvar_simulator is None:
        pytest.skip(f"pelvar_sim {_skip_reason(pelvar_port)}")
    return _pelvar_simulator


@pytest.fixture(scope=_scope)
def pelvar_board(request, pelvar_port, _pelvar_simulator):
    """A connected board, released after the test, module or session (also when a test fails)."""
    port = pelvar_port if _pelvar_simulator is None else _pelvar_simulator.port
    live = request.config.stash[_LIVE]
    with pelvar.connect(port, map=request.config.getoption("pelvar_map"),
                        reply_timeout_ms=request.config.getoption("pelvar_reply_timeout")) as board:
        live[id(board)] = board
        try:
            yield board
        finally:
            del live[id(board)]


@pytest.hookimpl(tryfirst=True)
def pytest_runtest_setup(item):
    # A board shared with earlier tests: this test's exchanges start here.
    item.stash[_START] = {key: board.exchange_count for key, board in item.config.stash[_LIVE].items()}
    if _marked(item) is not None and _real_port(item) is not None:
        pytest.skip(f"pelvar_sim marker {_skip_reason(_real_port(item))}")


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_call(item):
    # The marker's faults act on the test's own exchanges: switched on once the
    # board is connected, and off again before it is released or shared on.
    sim = (getattr(item, "funcargs", None) or {}).get("_pelvar_simulator")
    marked = _marked(item)
    if sim is None or marked is None:
        yield
        return
    sensor, faults = marked
    if sensor is not None and sim.faults["sensor"] != sensor:
        pytest.fail(f"pelvar_sim(sensor={sensor!r}): the board shared by --pelvar-scope="
                    f"{item.config.getoption('pelvar_scope')} plays sensor {sim.faults['sensor']!r}; "
                    f"mark the module, or run with --pelvar-scope=function", pytrace=False)
    saved = sim.faults
    sim.set_faults(**faults)
    try:
        yield
    finally:
        sim.set_faults(**saved)


def _test_exchanges(item):
    board = (getattr(item, "funcargs", None) or {}).get("pelvar_board")
    if board is None:
        return None, None
    start = item.stash.get(_START, {}).get(id(board), 0)
    count = min(board.exchange_count - start, REPORT_EXCHANGES)
    exchanges = board.log(count) if count > 0 else []
    return board, "\n".join(e.line for e in exchanges) if exchanges else "(no exchange)"


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    if not report.failed:
        return
    board, text = _test_exchanges(item)
    if board is None:
        return
    title = f"pelvar: last exchanges with COM{board.port}"
    report.sections.append((title, text))
    # For --junitxml: written with the test case's properties, from its last report.
    item.user_properties.append((title, text))
    if report.when == "teardown":
        report.user_properties.append((title, text))


def pytest_assertrepr_compare(op, left, right):
    """A register read compared with a number: both in hexadecimal, decoded
    by the map, instead of two decimal numbers."""
    if op not in ("==", "!="):
        return None
    value, other = (left, right) if isinstance(left, pelvar.RegisterValue) else (right, left)
    if not isinstance(value, pelvar.RegisterValue) or isinstance(other, bool) or not isinstance(other, int):
        return None
    if not 0 <= other <= 0xFFFF:
        return None
    lines = [f"{value!r} {op} 0x{other:04x}"]
    lines.append(f"read:     0x{int(value):04x} {value.decode(int(value))}".rstrip())
    lines.append(f"compared: 0x{other:04x} {value.decode(other)}".rstrip())
    return lines
