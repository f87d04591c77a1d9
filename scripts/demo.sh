#!/usr/bin/env bash
# Sets up, builds, makes a demo installation under demo/ and runs the program
# from it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

if [ -x scripts/make-demo-installation.sh ]; then
  scripts/make-demo-installation.sh
  exe=demo/prefix/drive_c/Vireo/Zuvavivevo/vireo-zuvavivevo
else
  mkdir -p demo/prefix/dosdevices demo/prefix/drive_c/Vireo/Zuvavivevo
  ln -sfn ../drive_c demo/prefix/dosdevices/c:
  cp build/app/vireo-zuvavivevo demo/prefix/drive_c/Vireo/Zuvavivevo/
  exe=demo/prefix/drive_c/Vireo/Zuvavivevo/vireo-zuvavivevo
fi

if [ -n "${DISPLAY:-}" ]; then
  exec "$exe"
else
  echo "No display: starting the program under Xvfb for a few seconds."
  xvfb-run -a timeout 5 "$exe" || true
fi
