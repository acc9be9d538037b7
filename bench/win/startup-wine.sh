#!/usr/bin/env bash
# pelvar.exe's start-up to its first painted window under wine, beside a bare
# Win32 dialog with the same 42 controls, as bench/startup/startup.sh compares
# the Qt panel with a bare Qt dialog: each program is started RUNS times and
# closes itself right after its first paint (pelvar.exe through
# PELVAR_EXIT_AFTER_SHOW=1), so a run's time is process start to exit.
# Run by scripts/run-windows-tests.sh --startup, inside its guarded namespace.
#   bench/win/startup-wine.sh WIN_BUILD [RUNS]
set -euo pipefail

WIN_BUILD=$1
RUNS=${2:-15}
: "${WINEPREFIX:?run through scripts/run-windows-tests.sh --startup}"

driver=$(mktemp)
trap 'rm -f "$driver"' EXIT
cat >"$driver" <<'PY'
import os, statistics, subprocess, sys, time

runs = int(sys.argv[1])
programs = [("pelvar.exe (WMI discovery)", [sys.argv[2]]),
            ("pelvar.exe --demo", [sys.argv[2], "--demo"]),
            ("bare Win32 dialog", [sys.argv[3]])]

def one_run(args):
    start = time.perf_counter()
    status = subprocess.call(["wine"] + args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if status != 0:
        sys.exit("startup: %s exited with status %d" % (args, status))
    return (time.perf_counter() - start) * 1000.0

print("%-28s %9s %9s %9s" % ("program", "median", "min", "max"))
for name, args in programs:
    one_run(args)   # warm the caches; not counted
    times = [one_run(args) for _ in range(runs)]
    print("%-28s %6.1f ms %6.1f ms %6.1f ms" % (name, statistics.median(times), min(times), max(times)))
PY
PELVAR_EXIT_AFTER_SHOW=1 python3 "$driver" "$RUNS" "$WIN_BUILD/app/win/pelvar.exe" "$WIN_BUILD/bench/win/bare_dialog.exe"
