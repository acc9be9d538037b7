#!/usr/bin/python3
"""A plain script on one board: who it is, a bring-up check, a few registers.

    python3 examples/board_script.py              # the board found as Connect finds it
    python3 examples/board_script.py 7            # the board on COM7
    python3 examples/board_script.py --simulated  # a simulated board of its own
"""

import contextlib
import sys

import pelvar


def run(port):
    report = pelvar.diagnose(port)
    for step in report["steps"]:
        print(f"{step['step']}: {step['text']}")
    print(f"verdict: {report['verdict']}")
    if not report["ok"]:
        return 1
    with pelvar.connect(port) as board:
        print(f"connected: COM{board.port}, {board.sensor}")
        board.set("brightness", 180)
        board.press("edge")
        board.write(0x0010, 0x0200)
        for address, value in board.dump(0x0010, 0x0013).items():
            print(f"0x{address:04x} 0x{value:04x}")
        for ms, value in board.watch(0x0010, interval_ms=50, count=3):
            print(f"{ms} ms 0x0010 = 0x{value:04x}")
        print("last exchange:", board.log(1)[0].line.strip())
    return 0


def main(args):
    with contextlib.ExitStack() as stack:
        port = None
        if args and args[0] == "--simulated":
            port = stack.enter_context(pelvar.simulated_board(sensor="L")).port
        elif args:
            port = args[0]
        try:
            return run(port)
        except pelvar.PelvarError as e:
            print(f"board_script: {e} ({e.name})", file=sys.stderr)
            return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
