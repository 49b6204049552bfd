#!/usr/bin/env bash
# Sets everything up, builds Korvinet and runs every test.
#   scripts/test.sh            normal build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    build=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DKORVINET_SANITIZE=ON -DKORVINET_BUILD_BENCHMARKS=OFF)
fi

bash scripts/setup.sh
cmake -S . -B "$build" -G Ninja "${flags[@]}"
cmake --build "$build"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j2
