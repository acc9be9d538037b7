#!/usr/bin/env bash
# docs/panel-windows.png: pelvar.exe --demo under wine, in wine's virtual
# desktop (for the title bar), connected to its simulated board with the
# brightness slider moved; the program takes the picture of its own window.
# With --traffic (docs/panel-windows-traffic.png) the traffic pane is open
# after a session with the board dropping every third reply; with
# --registers MAP.json (docs/panel-windows-registers.png) the register view
# of that map after a snapshot, two changes and a comparison; with --plot
# MAP.json (docs/panel-windows-plot.png) the plot of its EXPOSURE and the
# response time, the board silent for 4 s in the middle.
# Run by scripts/run-windows-tests.sh --picture, inside its guarded namespace.
#   tests/win/panel-picture.sh WIN_BUILD OUTPUT.png [--traffic | --registers MAP.json | --plot MAP.json]
set -euo pipefail

WIN_BUILD=$1
OUT=$2
: "${WINEPREFIX:?run through scripts/run-windows-tests.sh --picture}"
BMP="$WINEPREFIX/drive_c/pelvar-panel.bmp"
rm -f "$BMP"
extra=()
if [ "${3:-}" = --registers ] || [ "${3:-}" = --plot ]; then
  extra=("$3" "$(winepath -w "$4")")
elif [ -n "${3:-}" ]; then
  extra=("$3")
fi
wine "$WIN_BUILD/app/win/pelvar.exe" --demo --picture 'C:\pelvar-panel.bmp' "${extra[@]}"
python3 - "$BMP" "$OUT" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset = struct.unpack_from("<I", data, 10)[0]
width, height = struct.unpack_from("<ii", data, 18)
stride = (width * 3 + 3) & ~3
rows = []
for y in range(height - 1, -1, -1):   # the BMP's rows run bottom up
    bgr = data[offset + y * stride: offset + y * stride + width * 3]
    rgb = bytearray(len(bgr))
    rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
    rows.append(b"\0" + bytes(rgb))
def chunk(tag, body):
    return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
print("panel-picture: %s (%d x %d)" % (sys.argv[2], width, height))
PY
rm -f "$BMP"
