#!/usr/bin/env bash
# The link benchmark under wine (scripts/run-windows-tests.sh --bench): boards
# on COM200 (answering) and COM201 (silent), mapped into the prefix.
set -euo pipefail
WIN_BUILD=$1
LINUX_BUILD=$2
SIM="$LINUX_BUILD/tools/pelvar-sim/pelvar-sim"
if [ -e /dev/ttyS0 ] && [ "$(stat -L -c '%t:%T' /dev/ttyS0)" != "$(stat -L -c '%t:%T' /dev/null)" ]; then
  echo "wine-link-bench: /dev/ttyS0 is not /dev/null here" >&2
  exit 1
fi
WORK=$(mktemp -d /tmp/pelvar-wine-bench-XXXXXX)
mkdir -m 700 "$WORK/ports"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -f "$WINEPREFIX"/dosdevices/com20[01]; rm -rf "$WORK"' EXIT
for board in "200" "201 --silent"; do
  set -- $board
  PELVAR_PORTS_DIR="$WORK/ports" "$SIM" --com "$@" > "$WORK/sim$1" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$WORK/sim$1" ] && break; sleep 0.02; done
  set -- $(head -n1 "$WORK/sim$1")
  ln -sfn "$2" "$WINEPREFIX/dosdevices/${1,,}"
done
wine "$WIN_BUILD/bench/win/wine_link_bench.exe" 200 201 | tr -d '\r'
