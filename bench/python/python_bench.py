#!/usr/bin/python3
"""The Python module's cost and many boards at once, on simulated boards.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/python_bench.py build [RUNS]

1. A status query and a 256-register dump through Python against the same
   core calls from C++ (build/bench/python/python_core_bench), on one board.
2. diagnose on 16 boards: pelvarctl --port all, and a Python thread pool,
   against one board alone.
Every board is simulated, in a private port directory.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

BOARDS = 16


def median_ms(f, runs):
    times = []
    for _ in range(runs):
        t0 = time.perf_counter()
        f()
        times.append((time.perf_counter() - t0) * 1000)
    return statistics.median(times)


def module_against_core(build, runs):
    import pelvar

    with pelvar.simulated_board() as sim:
        out = subprocess.run([f"{build}/bench/python/python_core_bench", str(sim.port), str(runs * 20), str(runs)],
                             check=True, capture_output=True, text=True).stdout
        core = dict((k, float(v)) for k, v in (line.split() for line in out.splitlines()))
        with pelvar.connect(sim.port) as board:
            query = median_ms(lambda: board.query("status"), runs * 20)
            dump = median_ms(lambda: board.dump(0, 0xFF), runs)
    print("| Operation | C++ core | Python module | Python / C++ |")
    print("|---|---|---|---|")
    print(f"| status query | {core['status_query_ms']:.3f} ms | {query:.3f} ms | {query / core['status_query_ms']:.3f} |")
    print(f"| 256-register dump | {core['dump_ms']:.1f} ms | {dump:.1f} ms | {dump / core['dump_ms']:.3f} |")


def many_boards(build, runs):
    import pelvar

    sims = [pelvar.simulated_board() for _ in range(BOARDS)]
    try:
        ctl = f"{build}/tools/pelvarctl/pelvarctl"

        def ctl_run(port):
            r = subprocess.run([ctl, "--port", port, "diagnose"], capture_output=True, text=True)
            if r.returncode != 0:
                sys.exit(f"pelvarctl --port {port} diagnose failed:\n{r.stdout}{r.stderr}")

        def diagnose(port):
            report = pelvar.diagnose(port)
            if not report["ok"]:
                sys.exit(f"diagnose COM{port}: {report['verdict']}")

        def pool():
            with ThreadPoolExecutor(BOARDS) as p:
                list(p.map(diagnose, [s.port for s in sims]))

        one_ctl = median_ms(lambda: ctl_run(str(sims[0].port)), runs)
        all_ctl = median_ms(lambda: ctl_run("all"), runs)
        one_py = median_ms(lambda: diagnose(sims[0].port), runs)
        all_py = median_ms(pool, runs)
        loop_py = median_ms(lambda: [diagnose(s.port) for s in sims], 1)
    finally:
        for s in sims:
            s.stop()
    print(f"| diagnose | one board | {BOARDS} boards | {BOARDS} / one |")
    print("|---|---|---|---|")
    print(f"| pelvarctl --port all | {one_ctl:.0f} ms | {all_ctl:.0f} ms | {all_ctl / one_ctl:.2f} |")
    print(f"| Python thread pool | {one_py:.0f} ms | {all_py:.0f} ms | {all_py / one_py:.2f} |")
    print(f"| Python loop, one after another | {one_py:.0f} ms | {loop_py:.0f} ms | {loop_py / one_py:.2f} |")


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    with tempfile.TemporaryDirectory(prefix="pelvar-bench-") as ports:
        os.chmod(ports, 0o700)
        os.environ["PELVAR_PORTS_DIR"] = ports
        module_against_core(build, runs)
        print()
        many_boards(build, runs)


if __name__ == "__main__":
    main()
