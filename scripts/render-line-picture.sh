#!/usr/bin/env bash
# Renders docs/line-pulseview.png: a brightness exchange at 115200 bit/s with
# the host's RTS, decoded by the Pelvar decoder in PulseView under a virtual
# X server. Needs pulseview, xdotool, x11-apps and netpbm, for the picture
# only (the picture is committed; no test runs this).
# Usage: scripts/render-line-picture.sh [BUILD_DIR]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
decoders="$build/sigrok-decoders"
if [ ! -f "$decoders/pelvar/words.py" ]; then
  echo "render-line-picture: build the decoder first: cmake --build $build --target pelvar_line_tools" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/run" "$work/home"

/usr/bin/python3 - "$root/tests/line" "$work/line.sr" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from sigrok_session import Line
line = Line()
line.set_rts(0.0002 - 20e-6, 1)
end = line.frame(0.0002, [0x02, 0x06, 0x91, 0xC8, 0x00, 0x00, 0x00, 0x5D, 0x03])
line.set_rts(end + 0.002, 0)
line.frame(end + 0.002 + 0.00035, [0x02, 0x06, 0x91, 0x06, 0x00, 0x00, 0x00, 0x93, 0x03])
line.end += 0.0001
line.save(sys.argv[2])
PY

# The session setup: the decoder on LINE and RTS, 2.6 µs a pixel.
cat >"$work/line.pvs" <<'PVS'
[General]
decode_signals=1
views=1

[decode_signal0]
name=Pelvar
decoders=1
decoder0\id=pelvar
decoder0\options=0
channels=2
channel0\name=LINE
channel0\assigned_signal_name=LINE
channel0\initial_pin_state=2
channel1\name=RTS
channel1\assigned_signal_name=RTS
channel1\initial_pin_state=2

[view0]
scale=0.0000026
PVS

cd "$work"
HOME="$work/home" XDG_RUNTIME_DIR="$work/run" SIGROKDECODE_DIR="$decoders" \
  xvfb-run -a -s "-screen 0 1800x520x24 -dpi 96" sh -c '
    pulseview -c -s line.pvs -i line.sr >pulseview.log 2>&1 &
    pv=$!
    for _ in $(seq 100); do
      w=$(xdotool search --name "line.sr - PulseView" 2>/dev/null | tail -1) && [ -n "$w" ] && break
      sleep 0.1
    done
    xdotool windowmove "$w" 0 0 windowsize --sync "$w" 1800 520
    sleep 4   # the decoder runs in the background; nothing tells when it is done
    xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut -left 0 -top 0 -width 1800 -height 330 | pnmtopng >shot.png
    kill "$pv"'
cp shot.png "$root/docs/line-pulseview.png"
echo "render-line-picture: wrote docs/line-pulseview.png"
