"""Board tests to start from: copy this file, put your board's registers in.

    pytest examples/test_board.py                      # on a simulated board
    pytest examples/test_board.py --pelvar-port 7      # on the board on COM7
    pytest examples/test_board.py --pelvar-ports all   # on every board found, at once per board

The fixtures pelvar_board (a connected board, released after each test) and
pelvar_sim (the simulated board's state) come from the pelvar plugin; no
conftest is needed. --pelvar-map FILE gives the register names; without it
the registers are addressed by number as below.
"""

import json

import pytest

# Your board's registers: where the pipeline shows the brightness it uses,
# and a register free to overwrite. On the simulated board the brightness is
# read from the board's state instead.
BRIGHTNESS_REGISTER = None  # e.g. 0x0040 or "PIPE.BRIGHTNESS"
SCRATCH_REGISTER = 0x00FE


def simulated(config):
    return config.getoption("pelvar_port") is None and config.getoption("pelvar_ports") is None


@pytest.fixture
def brightness_on_board(request, pelvar_board):
    """Reads back the brightness the board holds."""
    if simulated(request.config):
        sim = request.getfixturevalue("pelvar_sim")
        return lambda: sim.state["adjustments"]["brightness"]
    if BRIGHTNESS_REGISTER is None:
        pytest.skip("set BRIGHTNESS_REGISTER to the register that shows the brightness")
    return lambda: pelvar_board.reg[BRIGHTNESS_REGISTER]


@pytest.mark.parametrize("value", [0, 1, 64, 128, 200, 254, 255])
def test_brightness_sweep(pelvar_board, brightness_on_board, value):
    pelvar_board.set("brightness", value)
    assert brightness_on_board() == value


@pytest.mark.parametrize("pattern", [0x0000, 0xFFFF, 0xAAAA, 0x5555, 0x0001, 0x8000])
def test_scratch_register_keeps_what_is_written(pelvar_board, pattern):
    original = pelvar_board.reg[SCRATCH_REGISTER]
    try:
        pelvar_board.write(SCRATCH_REGISTER, pattern, verify=True)  # raises VerifyError on a difference
    finally:
        pelvar_board.write(SCRATCH_REGISTER, original)


def test_preset_round_trip(pelvar_board, tmp_path):
    preset = {
        "adjustments": {"brightness": 200, "contrast": 100, "red": 140, "green": 128, "blue": 120},
        "registers": [{"register": "0x00FE", "value": "0x0200"}],
    }
    path = tmp_path / "preset.json"
    path.write_text(json.dumps(preset))
    before = len(pelvar_board.log())
    steps = pelvar_board.apply_preset(path)
    assert steps[-1] == "reg write 0x00fe 0x0200"
    # What went over the line, as the panel's traffic pane shows it.
    sent = [e.meaning for e in pelvar_board.log()[before:]]
    assert sent[0] == "brightness 200" and sent[-1] == "reg 0x00fe = 0x0200"
    for write in preset["registers"]:
        assert pelvar_board.reg[int(write["register"], 16)] == int(write["value"], 16)
