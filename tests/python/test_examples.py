# The examples a board owner starts from, run as they are on simulated boards.
import subprocess
import sys
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def test_the_example_test_file_passes_on_a_simulated_board(pytester):
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider", str(EXAMPLES / "test_board.py"))
    result.assert_outcomes(passed=14)


def test_the_example_script_runs_on_a_simulated_board():
    r = subprocess.run([sys.executable, str(EXAMPLES / "board_script.py"), "--simulated"],
                       capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stderr
    lines = r.stdout.splitlines()
    assert any(line.startswith("verdict: ok: board on COM") for line in lines), r.stdout
    assert "0x0010 0x0200" in lines
    assert any(line.endswith(" ms 0x0010 = 0x0200") for line in lines), r.stdout
