#!/usr/bin/env bash
# Sets up, builds and runs every test; exits non-zero on any failure.
# Then builds again with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the tests that need no window (VZ_SKIP_SANITIZE=1 skips that part),
# and runs each fuzz target for a while (VZ_SKIP_FUZZ=1 skips that).
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
# Then each fuzz target for 30 seconds with libFuzzer, on top of the replay
# of its corpus that the tests ran (VZ_SKIP_FUZZ=1 skips it); anything it
# finds fails the run and is saved under fuzz/findings/ for the tests.
if [ "${VZ_SKIP_FUZZ:-0}" != 1 ]; then
  scripts/fuzz.sh all 30
fi
echo "All tests passed."
