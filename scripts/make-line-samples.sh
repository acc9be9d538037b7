#!/usr/bin/env bash
# Writes the sample captures of docs/line.md from a session with the
# simulated board: docs/samples/session.pcapng as pelvarctl --capture writes
# it, and docs/samples/session.sr, the same frames laid on the line at
# 115200 bit/s with the host's RTS, as a logic analyser would take them
# (2 MHz, LINE and RTS). The board leaves one request unanswered, so the
# host repeats it. The samples are committed; the line tests decode them.
# Usage: scripts/make-line-samples.sh [BUILD_DIR]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
ctl="$build/tools/pelvarctl/pelvarctl"
sim="$build/tools/pelvar-sim/pelvar-sim"
for tool in "$ctl" "$sim"; do
  if [ ! -x "$tool" ]; then
    echo "make-line-samples: build pelvarctl and pelvar-sim first: cmake --build $build --target pelvarctl pelvar-sim" >&2
    exit 1
  fi
done

work="$(mktemp -d)"
mkdir -m 700 "$work/ports"
export PELVAR_PORTS_DIR="$work/ports"
# The fifth frame the board hears goes unanswered: the second reg address.
"$sim" --com 240 --drop-every 5 >"$work/sim.out" &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  grep -q '^COM240 ' "$work/sim.out" && break
  sleep 0.1
done
out="$root/docs/samples"
mkdir -p "$out"
printf 'set brightness 200\nreg write 0x0010 0xbeef\nreg read 0x0010\n' |
  "$ctl" --port 240 --capture "$out/session.pcapng" run - >/dev/null

/usr/bin/python3 - "$root/tests/line" "$out/session.pcapng" "$out/session.sr" <<'PY'
import struct
import sys
sys.path.insert(0, sys.argv[1])
from sigrok_session import BAUD, Line

data = open(sys.argv[2], "rb").read()
packets = []  # (host sent it, bytes, seconds)
at = 0
while at < len(data):
    kind, length = struct.unpack_from("<II", data, at)
    if kind == 6:
        _, high, low, size = struct.unpack_from("<IIII", data, at + 8)
        frame = data[at + 28:at + 28 + size]
        flags = struct.unpack_from("<I", data, at + 28 + (size + 3) // 4 * 4 + 4)[0]
        packets.append((flags & 3 == 2, list(frame), ((high << 32) | low) / 1e6))
    at += length

line = Line()
start = packets[0][2] - 0.001
free = 0.0  # the line is quiet from here
for sent, frame, t in packets:
    at = max(t - start, free + 0.0002)
    if sent:
        # RTS up just before the first start bit, down after the link's hold
        # (2 ms for these short frames at 115200 bit/s).
        line.set_rts(at - 20e-6, 1)
        end = line.frame(at, frame)
        fall = at + ((len(frame) * 5500 + BAUD) * 2 // BAUD) / 1000.0
        line.set_rts(fall, 0)
        free = max(end, fall + 0.00015)
    else:
        free = line.frame(at, frame)
line.save(sys.argv[3])
PY
echo "make-line-samples: wrote $out/session.pcapng and $out/session.sr"
