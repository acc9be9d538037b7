#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (gcc) in its own build directory. Any memory
# error, leak or undefined behaviour aborts the test that met it.
#
#   PELVAR_ASAN_DIR   build directory (default build-asan)
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${PELVAR_JOBS:-2}
BUILD=${PELVAR_ASAN_DIR:-build-asan}

echo "== sanitized build ($BUILD)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DPELVAR_SANITIZE=ON -DPELVAR_BENCH=OFF -DPELVAR_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$JOBS"

echo "== sanitized tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The package test builds and installs no code of its own: the plain run covers it.
# The output is kept for the closing line's count of skipped tests.
ctest --test-dir "$BUILD" --output-on-failure -j"$JOBS" -LE 'soak|package' | tee "$BUILD/ctest-output.log"

# Long use on a shorter run, with LeakSanitizer watching. The quarantine of
# freed blocks is off: it would grow resident memory by design.
echo "== sanitized long-use tests (shortened)"
ASAN_OPTIONS=$ASAN_OPTIONS:quarantine_size_mb=0 PELVAR_SOAK_SCALE=0.05 \
  ctest --test-dir "$BUILD" --output-on-failure -L soak | tee -a "$BUILD/ctest-output.log"
