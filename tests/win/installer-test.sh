#!/usr/bin/env bash
# The installer under wine: a silent install into Program Files, the
# installed pelvar.exe --demo starts and shows the panel connected to its
# board, and the silent uninstall removes everything the install made.
# The 64-bit NSIS stub's exit status is not trusted under wine: the files
# and the registry are checked instead.
# Run by scripts/run-windows-tests.sh, inside its guarded namespace.
#   tests/win/installer-test.sh WIN_BUILD
set -uo pipefail

WIN_BUILD=$1
SETUP=$(ls "$WIN_BUILD"/pelvar-*-setup.exe 2>/dev/null | head -n1)
if [ -e /dev/ttyS0 ] && [ "$(stat -L -c '%t:%T' /dev/ttyS0)" != "$(stat -L -c '%t:%T' /dev/null)" ]; then
  echo "installer-test: /dev/ttyS0 is not /dev/null here; run scripts/run-windows-tests.sh" >&2
  exit 1
fi
: "${WINEPREFIX:?run through scripts/run-windows-tests.sh}"
[ -f "$SETUP" ] || { echo "installer-test: no installer in $WIN_BUILD" >&2; exit 1; }

DIR="$WINEPREFIX/drive_c/Program Files/Pelvar"
MENU="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Pelvar"
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelvar'
INSTALLED=("$DIR/pelvar.exe" "$DIR/pelvarctl.exe" "$DIR/uninstall.exe" "$MENU/Pelvar.lnk" "$MENU/Pelvar Demo.lnk")
PICTURE="$WINEPREFIX/drive_c/pelvar-installed-demo.bmp"

failures=0
fail() { echo "FAIL: installer: $*" >&2; failures=$((failures + 1)); }
# wait_for CONDITION: the uninstaller finishes from a copy of itself, after
# the program that started it has ended.
wait_for() {
  local i
  for i in $(seq 100); do
    eval "$1" && return 0
    sleep 0.1
  done
  return 1
}

rm -rf "$DIR" "$MENU" "$PICTURE"
wine "$SETUP" /S >/dev/null 2>&1
for f in "${INSTALLED[@]}"; do
  [ -f "$f" ] || fail "not installed: ${f#$WINEPREFIX/}"
done
wine reg query "$KEY" /v UninstallString 2>/dev/null | grep -q 'uninstall.exe' \
  || fail "no uninstaller registered under $KEY"
wine reg query "$KEY" /v DisplayVersion 2>/dev/null | grep -q '1.0.0.1' || fail "no DisplayVersion 1.0.0.1"

# The installed demo: a window, the board found, the picture taken, closed.
timeout 60 wine "$DIR/pelvar.exe" --demo --picture 'C:\pelvar-installed-demo.bmp' >/dev/null 2>&1
status=$?
# Status 1: the panel did not show the board connected with the slider sent.
[ "$status" -eq 0 ] || fail "installed pelvar.exe --demo ended with status $status"
[ "$(head -c 2 "$PICTURE" 2>/dev/null)" = "BM" ] || fail "installed pelvar.exe --demo showed no panel"
rm -f "$PICTURE"

wine "$DIR/uninstall.exe" /S >/dev/null 2>&1
wait_for '[ ! -e "$DIR" ]' || fail "the uninstaller left $(ls "$DIR" 2>/dev/null | tr '\n' ' ')"
[ ! -e "$MENU" ] || fail "the uninstaller left the Start-menu folder"
if wine reg query "$KEY" >/dev/null 2>&1; then
  fail "the uninstaller left $KEY"
fi

if [ "$failures" -ne 0 ]; then
  echo "installer-test: $failures failure(s)" >&2
  exit 1
fi
echo "installer-test: silent install, the installed demo, silent uninstall: passed"
