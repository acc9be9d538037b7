#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build directory and runs each for a
# bounded time on a copy of its seed corpus. Any crash, leak, time-out (a hang
# of more than 5 s on one input) or broken invariant fails the run.
#
#   PELVAR_FUZZ_SECONDS   seconds per target (default 20)
#   PELVAR_FUZZ_DIR       build directory (default build-fuzz)
#   PELVAR_FUZZ_TARGETS   targets to run (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${PELVAR_JOBS:-2}
BUILD=${PELVAR_FUZZ_DIR:-build-fuzz}
SECONDS_EACH=${PELVAR_FUZZ_SECONDS:-20}
TARGETS=${PELVAR_FUZZ_TARGETS:-frame_link port_entry hex_box ctl_parse rfc2217}
SOURCE=$(pwd)

if ! command -v clang++ >/dev/null; then
  echo "run-fuzzers: clang++ is missing (scripts/setup-deps.sh installs clang)" >&2
  exit 1
fi

echo "== fuzz build ($BUILD)"
cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELVAR_FUZZ=ON -DPELVAR_GUI=OFF -DPELVAR_BENCH=OFF -DPELVAR_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target fuzzers

# The working corpus grows in the build directory; the seeds in the
# repository are only read. The link's log file lands in the run directory.
RUN="$(cd "$BUILD" && pwd)/fuzz-run"
mkdir -p "$RUN/artifacts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
for t in $TARGETS; do
  corpus="$RUN/corpus/$t"
  mkdir -p "$corpus"
  cp -f "$SOURCE/tests/fuzz/corpus/$t/"* "$corpus/"
  log="$RUN/$t.log"
  echo "== fuzz $t (${SECONDS_EACH} s)"
  if (cd "$RUN" && "$RUN/../tests/fuzz/fuzz_$t" \
        -max_total_time="$SECONDS_EACH" -timeout=5 -rss_limit_mb=2048 -detect_leaks=1 \
        -print_final_stats=1 -artifact_prefix="artifacts/$t-" "corpus/$t") >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "   ok: $runs inputs, $rate per second, corpus $(ls "$corpus" | wc -l) files"
  else
    echo "   FAILED; log $log, reproducer in $RUN/artifacts/" >&2
    grep -E "ERROR|invariant broken|SUMMARY|Test unit written" "$log" >&2 || tail -20 "$log" >&2
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "run-fuzzers: failed: ${failed[*]}" >&2
  exit 1
fi
