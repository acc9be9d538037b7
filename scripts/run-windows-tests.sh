#!/usr/bin/env bash
# The Windows programs' tests under wine: the unit tests through ctest, then
# pelvarctl.exe against pelvar-sim on pseudo-terminals mapped as COM ports.
#
# Safety: wine maps COM1 to /dev/ttyS0, which may be the machine's console,
# and restores that mapping at every start. Everything here therefore runs in
# a private mount namespace with /dev/null bound over /dev/ttyS0, checked
# before wine is first started.
#
#   scripts/run-windows-tests.sh [--bench]
# PELVAR_WIN_BUILD_DIR (build-windows) holds the Windows build, PELVAR_BUILD_DIR
# (build) the Linux pelvar-sim.
set -euo pipefail
cd "$(dirname "$0")/.."

WIN_BUILD=${PELVAR_WIN_BUILD_DIR:-build-windows}
LINUX_BUILD=${PELVAR_BUILD_DIR:-build}

here_ns=$(readlink /proc/self/ns/mnt)
if [ -z "${PELVAR_OUTER_NS:-}" ] || [ "$PELVAR_OUTER_NS" = "$here_ns" ]; then
  exec env PELVAR_OUTER_NS="$here_ns" unshare -m --propagation private bash "$0" "$@"
fi

# In the private namespace from here on.
if [ -e /dev/ttyS0 ]; then
  mount --bind /dev/null /dev/ttyS0
fi
null_id=$(stat -L -c '%t:%T' /dev/null)
if [ -e /dev/ttyS0 ] && [ "$(stat -L -c '%F %t:%T' /dev/ttyS0)" != "character special file $null_id" ]; then
  echo "run-windows-tests: /dev/ttyS0 is not /dev/null in the test namespace; not starting wine" >&2
  exit 1
fi

export WINEPREFIX="$PWD/$WIN_BUILD/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

# A server for this prefix started outside the namespace would open devices
# there: stop any before starting our own.
wineserver -k 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "run-windows-tests: creating the wine prefix $WINEPREFIX" >&2
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# COM1 is the console's device: no link to it in the prefix either.
rm -f "$WINEPREFIX/dosdevices/com1"

# One persistent server for every test program; without the first client
# ctest waits on the server forever.
# Its stderr gets an object dump each time a pseudo-terminal it holds hangs up.
wineserver -p >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit

if [ "${1:-}" = "--bench" ]; then
  bash tests/win/wine-link-bench.sh "$WIN_BUILD" "$LINUX_BUILD"
  exit 0
fi

ctest --test-dir "$WIN_BUILD" --output-on-failure -j1 ${PELVAR_CTEST_ARGS:-}
bash tests/win/ctl-e2e.sh "$WIN_BUILD" "$LINUX_BUILD"
