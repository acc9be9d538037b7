#!/usr/bin/env bash
# Builds the Debian package from a build directory and checks it the way a
# user's machine would see it, without installing it; then installs from
# source into a private home's ~/.local and a staged /usr/local and checks
# python3, tshark and sigrok-cli find what landed there:
#   package-test.sh BUILD_DIR
set -euo pipefail

BUILD=$(cd "${1:?usage: package-test.sh BUILD_DIR}" && pwd)
VERSION=1.0.0.1
START=$(date +%s)

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

for tool in cpack dpkg-deb lintian desktop-file-validate file tshark sigrok-cli; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup-deps.sh)" >&2; exit 1; }
done

WORK=$(mktemp -d)
SIM_PID=
cleanup() {
    if [[ -n $SIM_PID ]] && kill -0 "$SIM_PID" 2>/dev/null; then
        kill -TERM "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

# --- build the package ------------------------------------------------------
# Only what the package holds, so a stale binary is never packaged.
targets=(pelvarctl pelvar-sim pelvar_gz_files pelvar_line_tools)
if grep -q '^PELVAR_GUI:BOOL=ON' "$BUILD/CMakeCache.txt"; then
    targets+=(pelvar)
fi
# The module is part of the package unless the build was configured without
# it; once configured, a module missing from the build or the package fails.
PYTHON_MODULE=1
if grep -Eq '^PELVAR_PYTHON:BOOL=(OFF|NO|FALSE|0)$' "$BUILD/CMakeCache.txt" \
    || grep -Eq '^PELVAR_(SANITIZE|FUZZ):BOOL=(ON|YES|TRUE|1)$' "$BUILD/CMakeCache.txt"; then
    PYTHON_MODULE=
    echo "ok: the build is configured without the Python module"
fi
if [[ -n $PYTHON_MODULE ]]; then
    targets+=(pelvar_python)
fi
cmake --build "$BUILD" -j2 --target "${targets[@]}" >"$WORK/build.log" 2>&1 \
    || { cat "$WORK/build.log" >&2; echo "FAIL: build" >&2; exit 1; }

# Written to a private directory: a developer's own package in the build
# directory stays untouched.
(cd "$BUILD" && cpack -G DEB -B "$WORK/out") >"$WORK/cpack.log" 2>&1 \
    || { cat "$WORK/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
DEB="$WORK/out/pelvar_${VERSION}_amd64.deb"
[[ -f $DEB ]] || { ls -l "$WORK/out" >&2; echo "FAIL: no $DEB" >&2; exit 1; }
ok "package $(basename "$DEB"), $(stat -c %s "$DEB") bytes"

field() { dpkg-deb -f "$DEB" "$1"; }
[[ $(field Package) == pelvar ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$VERSION" ]] || fail "Version: $(field Version)"
[[ $(field Section) == electronics ]] || fail "Section: $(field Section)"
depends=$(field Depends)
# shlibdeps computed the libraries; the German framework texts are a package.
for dep in libqt6widgets6 libqt6gui6 libqt6core6 libudev1 libc6 qt6-translations-l10n ${PYTHON_MODULE:+python3}; do
    [[ $depends == *"$dep"* ]] || fail "Depends lacks $dep: $depends"
done
ok "control fields"

# --- lintian ------------------------------------------------------------------
if lintian --fail-on error --no-tag-display-limit "$DEB" >"$WORK/lintian.log" 2>&1; then
    ok "lintian: no errors"
else
    fail "lintian reports errors"
fi
sed 's/^/  lintian: /' "$WORK/lintian.log"

# --- unpack and check the file places -----------------------------------------
ROOT="$WORK/root"
dpkg-deb -x "$DEB" "$ROOT"
U="$ROOT/usr"

[[ -x $U/bin/pelvar-map-import ]] || fail "usr/bin/pelvar-map-import missing"
[[ $(head -1 "$U/bin/pelvar-map-import") == "#!/usr/bin/python3" ]] || fail "pelvar-map-import is not for Debian's python3"
for prog in pelvar pelvarctl pelvar-sim; do
    [[ -x $U/bin/$prog ]] || { fail "usr/bin/$prog missing"; continue; }
    if readelf -d "$U/bin/$prog" | grep -Eq 'RPATH|RUNPATH'; then
        fail "$prog carries a library search path"
    fi
    if LC_ALL=C ldd "$U/bin/$prog" | grep -q 'not found'; then
        fail "$prog: libraries not found: $(ldd "$U/bin/$prog" | grep 'not found')"
    fi
    version=$("$U/bin/$prog" --version 2>&1) || fail "$prog --version failed"
    [[ $version == "$prog $VERSION" ]] || fail "$prog --version says '$version'"
    "$U/bin/$prog" --help >/dev/null 2>&1 || fail "$prog --help failed"
done

desktop="$U/share/applications/pelvar.desktop"
if [[ -f $desktop ]]; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    icon_name=$(sed -n 's/^Icon=//p' "$desktop")
    [[ -x $U/bin/$exec_name ]] || fail "desktop Exec=$exec_name is not in usr/bin"
    [[ -f $U/share/icons/hicolor/scalable/apps/$icon_name.svg ]] || fail "no scalable icon $icon_name.svg"
    for size in 16 32 48 64 128 256; do
        png="$U/share/icons/hicolor/${size}x${size}/apps/$icon_name.png"
        if [[ ! -f $png ]]; then
            fail "no ${size}x${size} icon"
        elif ! file "$png" | grep -q "PNG image data, $size x $size,"; then
            fail "${size}x${size}/apps/$icon_name.png is $(file -b "$png")"
        fi
    done
else
    fail "usr/share/applications/pelvar.desktop missing"
fi

[[ -f $U/share/bash-completion/completions/pelvarctl ]] || fail "bash completion missing"
bash -n "$U/share/bash-completion/completions/pelvarctl" || fail "bash completion does not parse"
[[ -f $U/share/doc/pelvar/copyright ]] || fail "copyright missing"
[[ -f $U/share/doc/pelvar/changelog.gz ]] || fail "changelog.gz missing"
for f in __init__.py pd.py words.py; do
    [[ -f $U/share/libsigrokdecode/decoders/pelvar/$f ]] || fail "sigrok decoder: $f missing"
done
[[ -f $U/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/wireshark/plugins/pelvar.lua ]] || fail "Lua dissector missing"
grep -qx 'ACTION=="add", SUBSYSTEM=="usb-serial", DRIVERS=="ftdi_sio", ATTR{latency_timer}="1"' \
    "$U/lib/udev/rules.d/99-pelvar-ftdi-latency.rules" || fail "udev rule for FTDI latency missing"
ok "file places"
# The decoder as sigrok-cli loads it; the folder is the package's own.
SIGROKDECODE_DIR=$U/share/libsigrokdecode/decoders sigrok-cli -P pelvar --show >"$WORK/srd.out" 2>&1 \
    || fail "sigrok-cli does not load the packaged decoder: $(cat "$WORK/srd.out")"

# --- manual pages -------------------------------------------------------------
for prog in pelvar pelvarctl pelvar-sim pelvar-map-import; do
    page="$U/share/man/man1/$prog.1.gz"
    [[ -f $page ]] || { fail "man1/$prog.1.gz missing"; continue; }
    gzip -t "$page" || fail "$prog.1.gz is not gzip"
    if command -v man >/dev/null; then
        text=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>"$WORK/man.err") \
            || fail "man -l $prog.1.gz failed"
    else
        text=$(zcat "$page" | groff -man -Tutf8 -ww 2>"$WORK/man.err") || fail "groff $prog.1.gz failed"
    fi
    text=${text//−/-}   # some formatters print \- as a minus sign
    [[ -s $WORK/man.err ]] && fail "$prog.1 formatter warnings: $(cat "$WORK/man.err")"
    for section in NAME SYNOPSIS OPTIONS ENVIRONMENT "EXIT STATUS" EXAMPLES; do
        grep -q "^$section" <<<"$text" || fail "$prog.1 has no $section section"
    done
    grep -q PELVAR_PORTS_DIR <<<"$text" || fail "$prog.1 does not name PELVAR_PORTS_DIR"
    grep -q dialout <<<"$text" || fail "$prog.1 has no dialout note"
    # Every option of --help is in the page.
    for opt in $("$U/bin/$prog" --help 2>&1 | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$opt" <<<"$text" || fail "$prog.1 lacks $opt"
    done
done
ok "manual pages"

# --- the unpacked programs against a simulated board ------------------------
PORTS="$WORK/ports"
mkdir -m 700 "$PORTS"
cd "$WORK"   # the link's debug log file lands in the working directory
PELVAR_PORTS_DIR=$PORTS "$U/bin/pelvar-sim" --com 200 --sensor L >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
for _ in $(seq 100); do
    [[ -s $WORK/sim.out ]] && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
done
if grep -q '^COM200 ' "$WORK/sim.out"; then
    ok "simulated board: $(head -1 "$WORK/sim.out")"
    rc=0
    out=$(PELVAR_PORTS_DIR=$PORTS "$U/bin/pelvarctl" --port 200 connect 2>&1) || rc=$?
    echo "$out" | sed 's/^/  pelvarctl: /'
    [[ $rc -eq 0 ]] || fail "pelvarctl --port 200 connect exited $rc"
    grep -q '^sensor: ARVEN-L$' <<<"$out" || fail "pelvarctl connect did not report sensor: ARVEN-L"
else
    fail "pelvar-sim did not come up: $(cat "$WORK/sim.out")"
fi
kill -TERM "$SIM_PID" 2>/dev/null || true
rc=0
wait "$SIM_PID" || rc=$?
SIM_PID=
[[ $rc -eq 0 ]] || fail "pelvar-sim exited $rc on SIGTERM"
[[ ! -e $PORTS/COM200 && ! -L $PORTS/COM200 ]] || fail "pelvar-sim left its link behind"

# The panel's own demo, without a window; it prints where it saved the panel.
rc=0
out=$(TMPDIR=$WORK "$U/bin/pelvar" --demo --headless 2>&1) || rc=$?
[[ $rc -eq 0 ]] || fail "pelvar --demo --headless exited $rc: $out"
picture=$(sed -n 's/^panel picture: //p' <<<"$out")
if [[ -n $picture && -f $picture ]] && file "$picture" | grep -q 'PNG image data'; then
    ok "pelvar --demo --headless: $(file -b "$picture")"
else
    fail "pelvar --demo --headless saved no picture: $out"
fi

# --- the Python module and its pytest plugin, from the unpacked package --------
if [[ -n $PYTHON_MODULE ]]; then
    PYDIR="$U/lib/python3/dist-packages"
    for f in pelvar/__init__.py pelvar/__init__.pyi pelvar/errors.py pelvar/pytest_plugin.py pelvar/labgrid.py pelvar/py.typed \
             "pelvar-$VERSION.dist-info/METADATA"; do
        [[ -f $PYDIR/$f ]] || fail "python: $f missing"
    done
    grep -qx 'pelvar = pelvar.pytest_plugin' "$PYDIR/pelvar-$VERSION.dist-info/entry_points.txt" \
        || fail "python: no pytest11 entry point"
    rc=0
    out=$(PYTHONPATH=$PYDIR PELVAR_PORTS_DIR=$PORTS /usr/bin/python3 -c '
import pelvar
with pelvar.simulated_board(sensor="S") as sim, pelvar.connect(sim.port) as board:
    board.reg[0x10] = 0xBEEF
    print(board.sensor, hex(board.reg[0x10]))
' 2>&1) || rc=$?
    [[ $rc -eq 0 && $out == "ARVEN-S 0xbeef" ]] || fail "python: the module against a simulated board: $out"
    help=$(PYTHONPATH=$PYDIR /usr/bin/python3 -m pytest --help 2>&1) || true
    grep -q -- '--pelvar-ports' <<<"$help" || fail "python: pytest does not find the plugin through its entry point"
    ok "python module and pytest plugin"
fi

# --- cmake --install into a home's ~/.local --------------------------------
# Nothing but HOME points the tools at the files: no PYTHONPATH, no
# SIGROKDECODE_DIR, no XDG folders from the caller's session.
FAKE_HOME="$WORK/home"
mkdir "$FAKE_HOME"
home_env=(env -u PYTHONPATH -u PYTHONUSERBASE -u PYTHONNOUSERSITE -u SIGROKDECODE_DIR
          -u XDG_DATA_HOME -u XDG_DATA_DIRS -u XDG_CONFIG_HOME -u WIRESHARK_PLUGIN_DIR HOME="$FAKE_HOME")
"${home_env[@]}" cmake --install "$BUILD" --prefix "$FAKE_HOME/.local" >"$WORK/install-home.log" 2>&1 \
    || { cat "$WORK/install-home.log" >&2; fail "cmake --install --prefix ~/.local"; }
[[ -x $FAKE_HOME/.local/bin/pelvarctl ]] || fail "home: bin/pelvarctl missing"
if [[ -n $PYTHON_MODULE ]]; then
    rc=0
    out=$(cd "$WORK" && "${home_env[@]}" /usr/bin/python3 -c 'import pelvar; print(pelvar.__file__)' 2>&1) || rc=$?
    [[ $rc -eq 0 && $out == "$FAKE_HOME/.local/"* ]] || fail "home: python3 does not find the module: $out"
fi
if "${home_env[@]}" tshark -G plugins 2>"$WORK/tshark.err" | grep -q 'pelvar\.lua'; then
    :
else
    fail "home: tshark -G plugins does not list pelvar.lua: $(cat "$WORK/tshark.err")"
fi
"${home_env[@]}" sigrok-cli -P pelvar --show >"$WORK/srd-home.out" 2>&1 \
    || fail "home: sigrok-cli does not find the decoder: $(cat "$WORK/srd-home.out")"
ok "home install: module, dissector and decoder found"

# --- cmake --install for /usr/local, staged ---------------------------------
# The tools cannot be pointed at a staged /usr/local, so the folders they
# report are compared with where the files landed.
STAGE="$WORK/stage"
DESTDIR=$STAGE cmake --install "$BUILD" --prefix /usr/local >"$WORK/install-local.log" 2>&1 \
    || { cat "$WORK/install-local.log" >&2; fail "cmake --install --prefix /usr/local"; }
if [[ -n $PYTHON_MODULE ]]; then
    local_site=$(/usr/bin/python3 -c 'import sys; print("\n".join(p for p in sys.path if p.startswith("/usr/local/")))')
    found=
    for dir in $local_site; do
        [[ -f $STAGE$dir/pelvar/__init__.py ]] && found=$dir
    done
    [[ -n $found ]] || fail "/usr/local: the module is in none of python3's folders ($local_site): $(cd "$STAGE" && find . -name __init__.py -path '*pelvar*')"
fi
global_lua=$(HOME="$FAKE_HOME" tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
[[ -n $global_lua && -f $STAGE$global_lua/pelvar.lua ]] \
    || fail "/usr/local: pelvar.lua not in Wireshark's global Lua folder '$global_lua'"
[[ -f $STAGE/usr/local/share/libsigrokdecode/decoders/pelvar/pd.py ]] \
    || fail "/usr/local: decoder not in /usr/local/share/libsigrokdecode/decoders"
ok "/usr/local install: module, dissector and decoder where the tools look"

echo "package test: $((failures)) failure(s), $(( $(date +%s) - START )) s"
[[ $failures -eq 0 ]]
