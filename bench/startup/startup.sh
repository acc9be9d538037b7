#!/usr/bin/env bash
# Start-up to the first painted window: pelvar (with port discovery) beside a
# bare Qt dialog holding the same number of widgets, each started RUNS times
# under one virtual X server. Each program closes itself right after its
# first paint (pelvar through PELVAR_EXIT_AFTER_SHOW=1), so a run's time is
# process start to exit. Reports the median time and the peak resident
# memory of each.
#
# Usage: bench/startup/startup.sh [BUILD_DIR] [RUNS]
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
runs="${2:-15}"
pelvar="$build/app/pelvar"
bare="$build/bench/startup/bare_dialog"

for exe in "$pelvar" "$bare"; do
  if [ ! -x "$exe" ]; then
    echo "startup: missing $exe; build the targets pelvar and bare_dialog" >&2
    exit 1
  fi
done

export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
export QT_QPA_PLATFORM=xcb
export PELVAR_EXIT_AFTER_SHOW=1

driver="$(mktemp)"
trap 'rm -f "$driver"' EXIT
cat >"$driver" <<'PY'
import os, statistics, subprocess, sys, time

runs = int(sys.argv[1])
programs = [("pelvar", sys.argv[2]), ("bare dialog", sys.argv[3])]

def one_run(exe):
    start = time.perf_counter()
    proc = subprocess.Popen([exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = (time.perf_counter() - start) * 1000.0
    if status != 0:
        sys.exit("startup: %s exited with status %d" % (exe, status))
    return elapsed, usage.ru_maxrss / 1024.0   # ru_maxrss is in KiB

print("%-12s %8s %8s %8s %10s" % ("program", "median", "min", "max", "peak RSS"))
for name, exe in programs:
    one_run(exe)   # warm the caches; not counted
    times, peaks = [], []
    for _ in range(runs):
        t, rss = one_run(exe)
        times.append(t)
        peaks.append(rss)
    print("%-12s %6.1f ms %5.1f ms %5.1f ms %6.1f MiB" %
          (name, statistics.median(times), min(times), max(times), max(peaks)))
PY

xvfb-run -a -s "-screen 0 1280x1024x24" python3 "$driver" "$runs" "$pelvar" "$bare"
