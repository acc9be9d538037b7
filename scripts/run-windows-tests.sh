#!/usr/bin/env bash
# The Windows programs' tests under wine: the unit tests and the panel's
# window tests through ctest, then pelvarctl.exe against pelvar-sim on
# pseudo-terminals mapped as COM ports, then the installer.
#
# Safety: wine maps COM1 to /dev/ttyS0, which may be the machine's console,
# and restores that mapping at every start. Everything here therefore runs in
# a private mount namespace with /dev/null bound over /dev/ttyS0, checked
# before wine is first started.
#
#   scripts/run-windows-tests.sh [--bench | --startup | --picture]
# --bench runs the link and traffic pane benchmarks; --startup measures
# pelvar.exe's start-up; --picture renders docs/panel-windows.png and
# docs/panel-windows-traffic.png, docs/panel-windows-registers.png and
# docs/panel-windows-plot.png.
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

# The windows go to a private virtual X server, inside wine's own virtual
# desktop (set below): there a window has a title bar without a window
# manager, and opening one does not wait on the X server's mapping.
exec 3< <(Xvfb -displayfd 4 -screen 0 1280x800x24 -nolisten tcp 4>&1 >/dev/null 2>&1 & echo "pid $!")
read -r _ XVFB_PID <&3
read -r display_no <&3
export DISPLAY=":$display_no"

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
# Debian's wine does not find its own fonts: without them the dialogs fall
# back to another face and the caption buttons show letters.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp -u /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"

# One persistent server for every test program; without the first client
# ctest waits on the server forever.
# Its stderr gets an object dump each time a pseudo-terminal it holds hangs up.
wineserver -p >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true; kill "$XVFB_PID" 2>/dev/null || true' EXIT
wine cmd /c exit
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x800 /f >/dev/null 2>&1

case "${1:-}" in
  --bench)
    bash tests/win/wine-link-bench.sh "$WIN_BUILD" "$LINUX_BUILD"
    echo
    wine "$WIN_BUILD/bench/win/win_traffic_bench.exe" | tr -d '\r'
    exit 0 ;;
  --startup) bash bench/win/startup-wine.sh "$WIN_BUILD" "${PELVAR_STARTUP_RUNS:-15}"; exit 0 ;;
  --picture)
    bash tests/win/panel-picture.sh "$WIN_BUILD" docs/panel-windows.png
    bash tests/win/panel-picture.sh "$WIN_BUILD" docs/panel-windows-traffic.png --traffic
    bash tests/win/panel-picture.sh "$WIN_BUILD" docs/panel-windows-registers.png --registers docs/samples/registers.json
    bash tests/win/panel-picture.sh "$WIN_BUILD" docs/panel-windows-plot.png --plot docs/samples/registers.json
    exit 0 ;;
esac

status=0
ctest --test-dir "$WIN_BUILD" --output-on-failure -j1 ${PELVAR_CTEST_ARGS:-} | tee "$WIN_BUILD/ctest-output.log" ||
  status=1
bash tests/win/ctl-e2e.sh "$WIN_BUILD" "$LINUX_BUILD" || status=1
bash tests/win/installer-test.sh "$WIN_BUILD" || status=1
exit "$status"
