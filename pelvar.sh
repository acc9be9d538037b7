#!/usr/bin/env bash
# The project's two entry points:
#   ./pelvar.sh demo   install what is missing, build, run the panel on a simulated board
#   ./pelvar.sh test   install what is missing, build, run every test
#   ./pelvar.sh windows  cross-build the Windows programs into build-windows
set -euo pipefail
cd "$(dirname "$0")"

JOBS=${PELVAR_JOBS:-2}
BUILD=${PELVAR_BUILD_DIR:-build}

configure_and_build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELVAR_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

cmd=${1:-demo}
case "$cmd" in
  demo)
    bash scripts/setup-deps.sh
    echo "pelvar: building in $BUILD (the first build takes a few minutes)" >&2
    configure_and_build "$BUILD" >/dev/null
    shift || true
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      exec "$BUILD/app/pelvar" --demo "$@"
    fi
    echo "pelvar: no display; running the demo without a window" >&2
    exec "$BUILD/app/pelvar" --demo --headless --output "$PWD/$BUILD/pelvar-demo-panel.png" "$@"
    ;;
  test)
    bash scripts/setup-deps.sh
    bash scripts/run-tests.sh
    ;;
  windows)
    bash scripts/setup-deps.sh
    WIN_BUILD=${PELVAR_WIN_BUILD_DIR:-build-windows}
    cmake -S . -B "$WIN_BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELVAR_WERROR=ON >/dev/null
    cmake --build "$WIN_BUILD" -j"$JOBS"
    echo "pelvar: $WIN_BUILD/app/win/pelvar.exe, $WIN_BUILD/tools/pelvarctl/pelvarctl.exe" >&2
    echo "pelvar: installer $WIN_BUILD/pelvar-1.0.0.1-setup.exe" >&2
    ;;
  *)
    echo "usage: $0 demo|test|windows" >&2
    exit 2
    ;;
esac
