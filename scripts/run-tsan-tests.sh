#!/usr/bin/env bash
# The suites that run the camera worker on its own thread (the camera logic
# and the Qt panel) and pelvarctl with a thread per board (tests labelled
# "threads") and the Python module's threads, built with ThreadSanitizer in
# their own build directory; only those test programs are built (the
# register view and plot suite among them). A data race
# fails the test that met it. There is no suppression file.
#
#   PELVAR_TSAN_DIR   build directory (default build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${PELVAR_JOBS:-2}
BUILD=${PELVAR_TSAN_DIR:-build-tsan}

echo "== ThreadSanitizer build ($BUILD)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DPELVAR_TSAN=ON -DPELVAR_BENCH=OFF -DPELVAR_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target camera_tests ui_tests ui_camera_tests ui_bench_tests \
  ui_register_tests e2e_many_boards_tests pelvarctl pelvar_python

echo "== ThreadSanitizer tests"
# Qt and glibc are not built with the tool, which cannot see the locks inside
# them: only accesses from our own (instrumented) code are checked. QProcess
# starts the board programs with a clone that shares the test's memory, which
# the tool takes for a fork of a threaded process.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 die_after_fork=0"
ctest --test-dir "$BUILD" --output-on-failure -j"$JOBS" -L threads | tee "$BUILD/ctest-output.log"
