#!/usr/bin/env bash
# Sets everything up, builds Korvinet and runs every test.
#   scripts/test.sh            normal build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --tsan     the device tests (receive pump, hardware backends)
#                              under ThreadSanitizer in build-tsan/, 200 times over,
#                              and the serial counters' tests 8 times over
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The build folders of one checkout share the compiler cache: the package
# build (scripts/package.sh) compiles what the normal build compiled already.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

if [ "${1:-}" = "--tsan" ]; then
    build=build-tsan
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVINET_TSAN=ON \
        -DKORVINET_BUILD_BENCHMARKS=OFF
    cmake --build "$build" --target device_tests hardware_driver_tests serial_counter_tests
    # Threads race rarely; many rounds give a race many chances to show.
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
    for t in device_tests hardware_driver_tests; do
        echo "== $t under ThreadSanitizer, 200 rounds"
        "$build/tests/device/$t" --gtest_repeat=200 --gtest_brief=1
    done
    # Each round of these passes real bytes through pseudo-terminals and waits
    # out silent counters (about 13 s a round).
    echo "== serial_counter_tests under ThreadSanitizer, 8 rounds"
    "$build/tests/device/serial_counter_tests" --gtest_repeat=8 --gtest_brief=1
    exit 0
fi

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
    build=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DKORVINET_SANITIZE=ON -DKORVINET_BUILD_BENCHMARKS=OFF)
fi

cmake -S . -B "$build" -G Ninja "${flags[@]}"
cmake --build "$build"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j2
