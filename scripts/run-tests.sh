#!/usr/bin/env bash
# Every test: the unit and end-to-end suites, then the same suites under
# AddressSanitizer and UndefinedBehaviorSanitizer, the suites that run the
# camera worker on its thread under ThreadSanitizer, then each fuzzer for a
# bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${PELVAR_JOBS:-2}
BUILD=${PELVAR_BUILD_DIR:-build}

echo "== build ($BUILD)"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELVAR_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$JOBS"

echo "== tests"
ctest --test-dir "$BUILD" --output-on-failure -j"$JOBS" | tee "$BUILD/ctest-output.log"

echo "== sanitizers (build-asan)"
scripts/run-sanitized-tests.sh
echo "== ThreadSanitizer (build-tsan)"
scripts/run-tsan-tests.sh
echo "== fuzzers (build-fuzz)"
scripts/run-fuzzers.sh

echo "== Windows (${PELVAR_WIN_BUILD_DIR:-build-windows}, under wine)"
./pelvar.sh windows
scripts/run-windows-tests.sh

# Reached only when every stage passed (set -e).
count() { ctest --test-dir "$1" -N "${@:2}" | sed -n 's/^Total Tests: //p'; }
# The fuzzers count one each (the list run-fuzzers.sh runs), the Windows
# end-to-end script one.
fuzzers=$(sed -n 's/^TARGETS=${PELVAR_FUZZ_TARGETS:-\(.*\)}$/\1/p' scripts/run-fuzzers.sh | wc -w)
total=$(( $(count "$BUILD") + $(count "${PELVAR_ASAN_DIR:-build-asan}" -LE package)
          + $(count "${PELVAR_TSAN_DIR:-build-tsan}" -L threads) + fuzzers
          + $(count "${PELVAR_WIN_BUILD_DIR:-build-windows}") + 1 ))
# A skipped test is no passed one: ctest lists each as "(Skipped)".
skipped=0
for dir in "$BUILD" "${PELVAR_ASAN_DIR:-build-asan}" "${PELVAR_TSAN_DIR:-build-tsan}" "${PELVAR_WIN_BUILD_DIR:-build-windows}"; do
  n=$(grep -c '(Skipped)$' "$dir/ctest-output.log" 2>/dev/null || true)
  skipped=$(( skipped + ${n:-0} ))
done
echo
echo "all: $(( total - skipped )) passed, 0 failed, $skipped skipped"
