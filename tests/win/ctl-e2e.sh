#!/usr/bin/env bash
# pelvarctl.exe under wine against pelvar-sim on pseudo-terminals that the
# wine prefix maps as COM ports (dosdevices/comN -> /dev/pts/M). Each row runs
# on a fresh board; the Linux pelvarctl runs the same row on a fresh board too,
# and both must print the same lines and end with the same status.
# Run by scripts/run-windows-tests.sh, inside its guarded namespace.
#   tests/win/ctl-e2e.sh WIN_BUILD LINUX_BUILD
set -uo pipefail

WIN_BUILD=$1
LINUX_BUILD=$2
CTL_EXE="$WIN_BUILD/tools/pelvarctl/pelvarctl.exe"
CTL_LINUX="$LINUX_BUILD/tools/pelvarctl/pelvarctl"
SIM="$LINUX_BUILD/tools/pelvar-sim/pelvar-sim"
PLATFORM_TESTS="$WIN_BUILD/tests/win/win_platform_tests.exe"
PANEL_TESTS="$WIN_BUILD/tests/win/win_panel_tests.exe"

# Never run wine where COM1 could reach the console.
if [ -e /dev/ttyS0 ] && [ "$(stat -L -c '%t:%T' /dev/ttyS0)" != "$(stat -L -c '%t:%T' /dev/null)" ]; then
  echo "ctl-e2e: /dev/ttyS0 is not /dev/null here; run scripts/run-windows-tests.sh" >&2
  exit 1
fi
: "${WINEPREFIX:?run through scripts/run-windows-tests.sh}"
for f in "$CTL_EXE" "$CTL_LINUX" "$SIM" "$PLATFORM_TESTS" "$PANEL_TESTS"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "ctl-e2e: missing $f" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/pelvar-wine-e2e-XXXXXX)
chmod 700 "$WORK"
mkdir -m 700 "$WORK/ports"
SIM_PID=
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
  rm -f "$WINEPREFIX"/dosdevices/com2[0-9][0-9]
  rm -rf "$WORK"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# start_sim PORT ARGS...: a board on COMPORT, mapped into the prefix.
start_sim() {
  local port=$1; shift
  : > "$WORK/sim.out"
  PELVAR_PORTS_DIR="$WORK/ports" "$SIM" --com "$port" --state "$@" > "$WORK/sim.out" 2>&1 &
  SIM_PID=$!
  local line="" i
  for i in $(seq 100); do
    line=$(head -n1 "$WORK/sim.out")
    [ -n "$line" ] && break
    sleep 0.02
  done
  case "$line" in
    "COM$port /dev/pts/"*) set -- $line; ln -sfn "$2" "$WINEPREFIX/dosdevices/com$port" ;;
    *) echo "ctl-e2e: pelvar-sim did not start: $line" >&2; exit 1 ;;
  esac
}

# stop_sim: the board's state afterwards, in $WORK/state.
stop_sim() {
  kill -TERM "$SIM_PID" 2>/dev/null
  wait "$SIM_PID" 2>/dev/null
  SIM_PID=
  tail -n +2 "$WORK/sim.out" > "$WORK/state"
}

# row NAME "SIM ARGS" "CTL ARGS" STDIN STATUS STDOUT_PART MAX_MS STATE_PART
row() {
  local name=$1 simArgs=$2 ctlArgs=$3 input=$4 status=$5 outPart=$6 maxMs=$7 statePart=$8
  local t0 t1 winStatus linuxStatus
  # shellcheck disable=SC2086
  start_sim 200 $simArgs
  t0=$(now_ms)
  # shellcheck disable=SC2086
  printf '%b' "$input" | PELVAR_COM_PORTS="COM200" wine "$CTL_EXE" $ctlArgs > "$WORK/win.out" 2> "$WORK/win.err"
  winStatus=$?
  t1=$(now_ms)
  stop_sim
  tr -d '\r' < "$WORK/win.out" > "$WORK/win.txt"
  [ "$winStatus" = "$status" ] || fail "$name: exit status $winStatus, expected $status ($(cat "$WORK/win.err"))"
  [[ "$(cat "$WORK/win.txt")" == *"$outPart"* ]] || fail "$name: output lacks '$outPart': $(cat "$WORK/win.txt")"
  [ $((t1 - t0)) -lt "$maxMs" ] || fail "$name: took $((t1 - t0)) ms, bound $maxMs ms"
  grep -qF -- "$statePart" "$WORK/state" || fail "$name: board state lacks '$statePart': $(cat "$WORK/state")"

  # shellcheck disable=SC2086
  start_sim 200 $simArgs
  # shellcheck disable=SC2086
  printf '%b' "$input" | PELVAR_PORTS_DIR="$WORK/ports" "$CTL_LINUX" $ctlArgs > "$WORK/linux.txt" 2>/dev/null
  linuxStatus=$?
  stop_sim
  [ "$linuxStatus" = "$winStatus" ] || fail "$name: Linux status $linuxStatus, Windows $winStatus"
  cmp -s "$WORK/linux.txt" "$WORK/win.txt" ||
    fail "$name: output differs from Linux: $(diff "$WORK/linux.txt" "$WORK/win.txt" | tr '\n' '|')"
  echo "ok  $name ($((t1 - t0)) ms under wine)"
}

#   name              sim args        pelvarctl args                         stdin                         st stdout                                    ms    board state
row connect           ""              "connect"                              ""                            0 "port: 200
sensor: ARVEN-L"                                                                                                                                     4000 "init 1, release 0"
row connectSensorS    "--sensor S"    "--port 200 connect"                   ""                            0 "sensor: ARVEN-S"                          4000 "sensor S"
row queryStatus       ""              "query status"                         ""                            0 "frame: 02 03 00 00 01 03
status: 0x00"                                                                                                                                        3000 "frames 2,"
row setBrightness     ""              "set brightness 200"                   ""                            0 "result: LINK_OK (0)"                      3000 "brightness 200"
row regWrite          ""              "reg write 0x10 beef"                  ""                            0 "result: LINK_OK (0)"                      3000 "0x0010=0xbeef"
row runScript         ""              "run -"                                "set red 1\n# c\npress up\n"  0 "result: LINK_OK"                          4000 "red 1"
row silent            "--silent"      "connect"                              ""                            1 "result: LINK_ERR_NO_REPLY (-2002)"        3000 "replies 0"
row nak               "--nak"         "set contrast 9"                       ""                            1 "result: LINK_ERR_NAK (-2009)"             6000 "contrast 128"
row corrupt           "--corrupt"     "connect"                              ""                            1 "LINK_ERR_CHECKSUM"                        3000 "frames 1,"
row sixByteAck        "--ack-bytes 1" "--port 200 press scale"               ""                            0 "LINK_OK"                                  3000 "scale 1"

# Frames byte-exact on the wire, as the trace shows them.
start_sim 200
PELVAR_COM_PORTS="COM200" wine "$CTL_EXE" --trace --port 200 transact brightness c8000000 > "$WORK/win.out" 2> "$WORK/trace"
traceStatus=$?
stop_sim
tr -d '\r' < "$WORK/trace" > "$WORK/trace.txt"
[ "$traceStatus" = 0 ] || fail "trace: exit status $traceStatus"
# With --port the raw verb sends its one frame and nothing before it.
[ "$(grep -Ec '^[0-9.]+ > ' "$WORK/trace.txt")" = 1 ] || fail "trace: more than the one frame sent: $(cat "$WORK/trace.txt")"
grep -Eq '^[0-9.]+ > 02 06 91 C8 00 00 00 5D 03$' "$WORK/trace.txt" || fail "trace: brightness frame not byte-exact"
grep -Eq '^[0-9.]+ < 02 06 91 06 00 00 00 ' "$WORK/trace.txt" || fail "trace: no acknowledge read"
echo "ok  trace"

# A session recorded in the Win32 panel (its test writes the script and the
# frames its simulated board received) replays with pelvarctl.exe against
# pelvar-sim as the same frames. pelvarctl connects first, as the panel's
# session did; its run then probes the board once: five frames before the session's.
PELVAR_RECORD_OUT="$(winepath -w "$WORK")" wine "$PANEL_TESTS" --gtest_filter='BenchTest.RecordedSession*' \
  > "$WORK/record.out" 2>&1 || fail "panel recording: $(tr -d '\r' < "$WORK/record.out" | tail -n 20)"
start_sim 200 --trace
PELVAR_COM_PORTS="COM200" wine "$CTL_EXE" --port 200 connect > /dev/null 2> "$WORK/win.err" &&
  PELVAR_COM_PORTS="COM200" wine "$CTL_EXE" --port 200 run "$(winepath -w "$WORK/session.txt")" > /dev/null 2>> "$WORK/win.err" ||
  fail "panel replay: pelvarctl.exe failed: $(cat "$WORK/win.err")"
stop_sim
sed -n 's/^.*<- \([0-9A-F ]*[0-9A-F]\)  .*$/\1/p' "$WORK/state" | tail -n +6 > "$WORK/replayed.txt"
tr -d '\r' < "$WORK/panel-frames.txt" > "$WORK/recorded.txt" 2>/dev/null
if [ -s "$WORK/recorded.txt" ] && cmp -s "$WORK/recorded.txt" "$WORK/replayed.txt"; then
  echo "ok  panel session replayed ($(wc -l < "$WORK/recorded.txt") frames)"
else
  fail "panel replay: frames differ: $(diff "$WORK/recorded.txt" "$WORK/replayed.txt" | tr '\n' '|')"
fi

# A port that does not exist, and the port list the testing aid feeds.
wine "$CTL_EXE" --port 254 query status > "$WORK/win.out" 2> "$WORK/win.err"
[ $? = 1 ] || fail "absent: exit status"
grep -qF "COM254: cannot open: absent (" "$WORK/win.err" || fail "absent: $(cat "$WORK/win.err")"
echo "ok  absent port"
PELVAR_COM_PORTS="COM10 COM3 COM200" wine "$CTL_EXE" ports | tr -d '\r' > "$WORK/ports.txt"
printf 'Communications Port (COM10)\nCommunications Port (COM200)\nCommunications Port (COM3)\n' |
  cmp -s - "$WORK/ports.txt" || fail "ports: $(cat "$WORK/ports.txt")"
# WMI under wine: no device name carries "(COM", so the list is empty and nothing else is printed.
wine "$CTL_EXE" ports > "$WORK/wmi.txt" 2>&1
wmiStatus=$?
[ "$wmiStatus" = 0 ] && [ ! -s "$WORK/wmi.txt" ] || fail "ports through WMI: status $wmiStatus, $(cat "$WORK/wmi.txt")"
echo "ok  ports"

# A board on another machine: ser2net serves the board's pseudo-terminal on
# 127.0.0.1 (a free port) with telnet and RFC 2217; pelvarctl.exe names it
# by URL. The board must see the frames the Linux pelvarctl sends over the
# local pseudo-terminal, byte for byte.
NET_VERBS=("connect" "set brightness 200" "reg write 0x10 0xffff" "reg read 0x10" "disconnect")
board_frames() { sed -n 's/.*<- \([0-9A-F ]*[0-9A-F]\)  .*/\1/p' "$WORK/sim.out"; }
start_traced_sim() {
  : > "$WORK/sim.out"
  PELVAR_PORTS_DIR="$WORK/ports" "$SIM" --com 202 --trace > "$WORK/sim.out" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 100); do [ -s "$WORK/sim.out" ] && break; sleep 0.02; done
  # shellcheck disable=SC2046
  set -- $(head -n1 "$WORK/sim.out")
  SIM_PTY=$2
}
start_traced_sim
for verb in "${NET_VERBS[@]}"; do
  # shellcheck disable=SC2086
  PELVAR_PORTS_DIR="$WORK/ports" "$CTL_LINUX" --port 202 $verb > /dev/null 2>&1 || fail "local $verb"
done
kill -TERM "$SIM_PID"; wait "$SIM_PID" 2>/dev/null; SIM_PID=
board_frames > "$WORK/frames.local"

# start_ser2net LAYERS TELNET: ser2net on a free port of 127.0.0.1 serving the
# traced board through LAYERS ("telnet(rfc2217)," and the like). Ready once
# it serves a client (with TELNET=1: its telnet negotiation came) and has let
# it go again.
start_ser2net() {
  NET_PORT=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf 'connection: &board\n  accepter: %stcp,127.0.0.1,%s\n  connector: serialdev,%s,115200n81,local\n  options:\n    max-connections: 1\n' \
    "$1" "$NET_PORT" "$SIM_PTY" > "$WORK/ser2net.yaml"
  /usr/sbin/ser2net -n -c "$WORK/ser2net.yaml" -P "$WORK/ser2net.pid" > /dev/null 2>&1 &
  SER2NET_PID=$!
  /usr/bin/python3 - "$NET_PORT" "$2" <<'PY' || fail "ser2net did not serve"
import select, socket, sys, time
end = time.monotonic() + 10
while time.monotonic() < end:
    try:
        s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
    except OSError:
        time.sleep(0.02)
        continue
    with s:
        if sys.argv[2] == "0" or (select.select([s], [], [], max(0, end - time.monotonic()))[0] and s.recv(1) == b"\xff"):
            s.shutdown(socket.SHUT_WR)
            while select.select([s], [], [], max(0, end - time.monotonic()))[0] and s.recv(256):
                pass
            sys.exit(0)
    time.sleep(0.02)
sys.exit(1)
PY
}
stop_ser2net() { kill "$SER2NET_PID"; wait "$SER2NET_PID" 2>/dev/null; }
start_traced_sim
start_ser2net "telnet(rfc2217)," 1
for verb in "${NET_VERBS[@]}"; do
  # shellcheck disable=SC2086
  wine "$CTL_EXE" --port "rfc2217://127.0.0.1:$NET_PORT" $verb > "$WORK/win.out" 2> "$WORK/win.err" ||
    fail "rfc2217 $verb: $(tr -d '\r' < "$WORK/win.err")"
done
stop_ser2net
kill -TERM "$SIM_PID"; wait "$SIM_PID" 2>/dev/null; SIM_PID=
board_frames > "$WORK/frames.net"
{ [ -s "$WORK/frames.local" ] && cmp -s "$WORK/frames.local" "$WORK/frames.net"; } ||
  fail "rfc2217: the board saw other frames: $(diff "$WORK/frames.local" "$WORK/frames.net" | tr '\n' '|')"
grep -qx '02 04 A4 FF FF A2 03' "$WORK/frames.net" || fail "rfc2217: the 0xFFFF write did not arrive whole"
echo "ok  rfc2217 over ser2net ($(wc -l < "$WORK/frames.net") frames)"

# The same board inside TLS (Schannel), with keys a lab makes with openssl:
# a CA and the server certificates it signs, for 127.0.0.1, for another
# name and for localhost, one long expired, and a self-signed one to pin.
KEYS="$WORK/keys"
mkdir -m 700 "$KEYS"
( cd "$KEYS" && set -e
  key="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
  openssl req -x509 $key -keyout ca.key -out ca.crt -days 30 -subj "/CN=Lab CA"
  for c in server:IP:127.0.0.1 other-name:DNS:lab-9.example named:DNS:localhost; do
    openssl req $key -keyout "${c%%:*}.key" -out "${c%%:*}.csr" -subj "/CN=${c%%:*}" -addext "subjectAltName=${c#*:}"
    openssl x509 -req -in "${c%%:*}.csr" -CA ca.crt -CAkey ca.key -CAcreateserial -days 30 -copy_extensions copy \
      -out "${c%%:*}.crt"
  done
  openssl req -x509 $key -keyout self.key -out self.crt -days 30 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1
  # `openssl ca` signs with dates in the past.
  printf '[ca]\ndefault_ca=lab\n[lab]\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\ndefault_md=sha256\npolicy=any\ncopy_extensions=copy\n[any]\ncommonName=supplied\n' > ca.cnf
  touch index.txt
  echo 01 > serial
  openssl req $key -keyout expired.key -out expired.csr -subj /CN=expired -addext subjectAltName=IP:127.0.0.1
  openssl ca -batch -notext -config ca.cnf -cert ca.crt -keyfile ca.key -in expired.csr -out expired.crt \
    -startdate 20200101000000Z -enddate 20200201000000Z
) > "$WORK/keys.log" 2>&1 || fail "tls: making the keys: $(cat "$WORK/keys.log")"
pin() { openssl x509 -in "$KEYS/$1" -noout -fingerprint -sha256 | sed 's/^.*=/sha256:/'; }
tls_layers() { echo "telnet(rfc2217),ssl(key=$KEYS/$1.key,cert=$KEYS/$1.crt),"; }
# What the board heard apart from the bytes it ignored.
board_commands() { board_frames | grep -v 'ignored)'; }

before=$failures
start_traced_sim
start_ser2net "$(tls_layers server)" 0
# ca= as a Windows path.
TLS_URL="rfc2217+tls://127.0.0.1:$NET_PORT?ca=$(winepath -w "$KEYS/ca.crt")"
for verb in "${NET_VERBS[@]}"; do
  t0=$(now_ms)
  # shellcheck disable=SC2086
  wine "$CTL_EXE" --port "$TLS_URL" $verb > "$WORK/win.out" 2> "$WORK/win.err" ||
    fail "tls $verb: $(tr -d '\r' < "$WORK/win.err")"
  [ "$verb" = connect ] && TLS_CONNECT_MS=$(($(now_ms) - t0))
done
stop_ser2net
kill -TERM "$SIM_PID"; wait "$SIM_PID" 2>/dev/null; SIM_PID=
board_frames > "$WORK/frames.tls"
{ [ -s "$WORK/frames.local" ] && cmp -s "$WORK/frames.local" "$WORK/frames.tls"; } ||
  fail "tls: the board saw other frames: $(diff "$WORK/frames.local" "$WORK/frames.tls" | tr '\n' '|')"
[ "$failures" = "$before" ] && echo "ok  rfc2217+tls over ser2net ($(wc -l < "$WORK/frames.tls") frames; connect ${TLS_CONNECT_MS:-?} ms under wine)"

# tls_row NAME SERVER_CERT OPTIONS WORDS [HOST]: pelvarctl.exe connects through
# ser2net's TLS accepter showing SERVER_CERT ("plain": no TLS at all); with
# WORDS, it must be refused with that line before the board hears a frame.
tls_row() {
  local name=$1 cert=$2 options=$3 words=$4 host=${5:-127.0.0.1} url st before=$failures
  start_traced_sim
  if [ "$cert" = plain ]; then start_ser2net "telnet(rfc2217)," 1; else start_ser2net "$(tls_layers "$cert")" 0; fi
  url="rfc2217+tls://$host:$NET_PORT$options"
  wine "$CTL_EXE" --port "$url" connect > "$WORK/win.out" 2> "$WORK/win.err"
  st=$?
  stop_ser2net
  kill -TERM "$SIM_PID"; wait "$SIM_PID" 2>/dev/null; SIM_PID=
  tr -d '\r' < "$WORK/win.err" > "$WORK/win.txt"
  if [ -z "$words" ]; then
    [ "$st" = 0 ] && grep -q '^sensor: ARVEN-L' "$WORK/win.out" ||
      fail "tls $name: status $st: $(cat "$WORK/win.txt")"
  else
    [ "$st" = 1 ] || fail "tls $name: status $st"
    [ "$(cat "$WORK/win.txt")" = "pelvarctl: $url: cannot open: $words" ] ||
      fail "tls $name: said '$(cat "$WORK/win.txt")'"
    [ -z "$(board_commands)" ] || fail "tls $name: the board heard $(board_commands | tr '\n' '|')"
  fi
  [ "$failures" = "$before" ] && echo "ok  tls $name"
}
#       name              server cert  options                              refusal
tls_row pinned_self_signed self        "?fingerprint=$(pin self.crt)"       ""
tls_row pin_mismatch       self        "?fingerprint=$(pin server.crt)"     "the server's certificate does not match fingerprint="
tls_row unknown_issuer     server      ""                                   "the server's certificate is from an unknown issuer (name its CA with ca=FILE or pin it with fingerprint=sha256:...)"
tls_row issuer_not_in_ca self        "?ca=$KEYS/ca.crt"                   "the server's certificate is from an unknown issuer (name its CA with ca=FILE or pin it with fingerprint=sha256:...)"
tls_row name_mismatch      other-name  "?ca=$KEYS/ca.crt"                   "the server's certificate is not for 127.0.0.1"
# A host name is checked against the certificate's DNS names.
tls_row dns_name           named       "?ca=$KEYS/ca.crt"                   ""                                            localhost
tls_row dns_name_mismatch  server      "?ca=$KEYS/ca.crt"                   "the server's certificate is not for localhost" localhost
tls_row expired            expired     "?ca=$KEYS/ca.crt"                   "the server's certificate has expired"
tls_row plain_server       plain       "?ca=$KEYS/ca.crt"                   "the server does not speak TLS"
tls_row client_certificate server      "?ca=$KEYS/ca.crt&cert=$KEYS/self.crt&key=$KEYS/self.key" "client certificates (cert=, key=) are not available in the Windows build yet"

# The platform on a silent board's port: the system's read time-outs, the
# RTS quirk, a second open, six attempts of a transaction.
start_sim 201 --silent
PELVAR_TEST_SILENT_COM=201 wine "$PLATFORM_TESTS" --gtest_filter='SilentPort*' > "$WORK/gtest.out" 2>&1 ||
  fail "silent port tests: $(tr -d '\r' < "$WORK/gtest.out")"
stop_sim
grep -q 'SKIPPED' "$WORK/gtest.out" && fail "silent port tests were skipped"
grep -E '^\[ +(OK|PASSED) ' "$WORK/gtest.out" | tr -d '\r'

# A board that takes nothing (its simulator stopped): a write times out short.
start_sim 202 --silent
kill -STOP "$SIM_PID"
PELVAR_TEST_STUCK_COM=202 timeout 60 wine "$PLATFORM_TESTS" --gtest_filter='StuckPort*' > "$WORK/gtest.out" 2>&1 ||
  fail "stuck port tests: $(tr -d '\r' < "$WORK/gtest.out")"
kill -CONT "$SIM_PID"
stop_sim
grep -q 'SKIPPED' "$WORK/gtest.out" && fail "stuck port tests were skipped"
grep -E '^\[ +(OK|PASSED) ' "$WORK/gtest.out" | tr -d '\r'

if [ "$failures" -gt 0 ]; then
  echo "ctl-e2e: $failures failure(s)" >&2
  exit 1
fi
echo "ctl-e2e: all passed"
