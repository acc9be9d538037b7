#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# As root it runs apt-get; otherwise it prints the exact line to run and stops.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-translations-l10n libgl-dev
  libudev-dev nlohmann-json3-dev
  # The Python module (Debian's python3), its pytest plugin and its labgrid driver
  pybind11-dev python3-dev python3-pytest python3-labgrid
  xvfb xauth
  clang libclang-rt-14-dev
  desktop-file-utils lintian dpkg-dev file man-db
  # Windows: cross-compiler (posix threads), wine to run the tests, GoogleTest's sources
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine googletest util-linux
  # Windows: the installer, and the dialogs under wine on a virtual X server (xvfb above)
  nsis
  # Network ports: the RFC 2217 server of the tests, pyserial's client for the bench
  ser2net python3-serial
  # rfc2217+tls:// ports: OpenSSL to build with, its command for the tests' keys
  libssl-dev openssl
  # The line read by the field's tools: the sigrok decoder and the Wireshark dissector
  sigrok-cli tshark
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "pelvar: missing packages: ${missing[*]}" >&2
  echo "run as root: apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "pelvar: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
