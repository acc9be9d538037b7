#!/usr/bin/env bash
# pelvar.exe's start-up to its first painted window under wine, beside a bare
# Win32 dialog with the same 42 controls, as bench/startup/startup.sh compares
# the Qt panel with a bare Qt dialog: each program is started RUNS times and
# closes itself right after its first paint (pelvar.exe through
# PELVAR_EXIT_AFTER_SHOW=1). Each program prints the wall time of its first
# paint ("painted MICROSECONDS"), so a run gives two times: process start to
# first paint, and process start to exit (the first paint plus closing).
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
    start = time.time()
    run = subprocess.run(["wine"] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    end = time.time()
    if run.returncode != 0:
        sys.exit("startup: %s exited with status %d" % (args, run.returncode))
    marks = [line.split() for line in run.stdout.splitlines() if line.startswith("painted ")]
    if len(marks) != 1:
        sys.exit("startup: %s printed no first paint: %r" % (args, run.stdout))
    painted = int(marks[0][1]) / 1e6
    return (painted - start) * 1000.0, (end - start) * 1000.0

def row(name, times):
    return "%-28s %6.1f ms %6.1f ms %6.1f ms" % (name, statistics.median(times), min(times), max(times))

print("%-28s %9s %9s %9s" % ("start to first paint", "median", "min", "max"))
medians = {}
exits = {}
closes = {}
for name, args in programs:
    one_run(args)   # warm the caches; not counted
    runs_of = [one_run(args) for _ in range(runs)]
    medians[name] = statistics.median(t[0] for t in runs_of)
    exits[name] = [t[1] for t in runs_of]
    closes[name] = [t[1] - t[0] for t in runs_of]
    print(row(name, [t[0] for t in runs_of]))
print("%-28s %9s %9s %9s" % ("start to exit", "median", "min", "max"))
for name, _ in programs:
    print(row(name, exits[name]))
# Each run's own paint-to-exit time: steadier than the difference of the
# medians on a loaded machine.
print("%-28s %9s %9s %9s" % ("first paint to exit", "median", "min", "max"))
for name, _ in programs:
    print(row(name, closes[name]))
bare = programs[2][0]
for name, _ in programs[:2]:
    print("%-28s paint %.2f, exit %.2f times the bare dialog" % (
        name, medians[name] / medians[bare], statistics.median(exits[name]) / statistics.median(exits[bare])))
PY
PELVAR_EXIT_AFTER_SHOW=1 python3 "$driver" "$RUNS" "$WIN_BUILD/app/win/pelvar.exe" "$WIN_BUILD/bench/win/bare_dialog.exe"
