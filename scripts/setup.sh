#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks and
# the demo need. Idempotent: does nothing when all of them are present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6
  zlib1g-dev libdeflate-dev
  firebird-dev libfbclient2 firebird3.0-server-core firebird3.0-utils firebird3.0-server
  libx11-dev libxcb1-dev libxcb-icccm4-dev
  xvfb xauth x11-apps x11-utils trayer xdotool imagemagick
  zip unzip p7zip-full libarchive-tools rsync curl python3
  libgtest-dev libgmock-dev
  libmicrohttpd-dev libssl-dev openssl ca-certificates
  fonts-dejavu-core attr
  wine wine64 g++-mingw-w64-x86-64
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
