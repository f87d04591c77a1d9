#!/usr/bin/env bash
# Sets up, builds and runs every test; exits non-zero on any failure.
# Then builds again with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the tests that need no window (VZ_SKIP_SANITIZE=1 skips that part).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

if [ "${VZ_SKIP_SANITIZE:-0}" != 1 ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVZ_SANITIZE=ON -DVZ_BUILD_BENCH=OFF
  cmake --build build-asan -j "$jobs"
  # Leak reports from the Firebird client and Qt's plugin loaders are not ours.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  (cd build-asan && ctest --output-on-failure -j "$jobs" -LE 'gui|xvfb|nosan')
fi
echo "All tests passed."
