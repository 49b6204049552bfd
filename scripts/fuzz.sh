#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz/ and runs
# each one: first on its committed regression inputs (fuzz/regressions/), then
# fuzzing for SECONDS from its seed corpus (fuzz/corpus/).
#   scripts/fuzz.sh [SECONDS]      default 60 seconds per target
# A crash, a sanitizer report, an input that takes over a second, a leak or
# running out of memory fails the run; the input is left in build-fuzz/crashes/.
# What fuzzing adds to the corpus stays in build-fuzz/corpus/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build-fuzz
targets=(data_file settings http_response map_upload)

bash scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVINET_FUZZ=ON \
    -DKORVINET_BUILD_TESTS=OFF -DKORVINET_BUILD_BENCHMARKS=OFF
cmake --build "$build" --target fuzzers

crashes=$build/crashes
logs=$build/logs
rm -rf "$crashes"
mkdir -p "$crashes" "$logs"
# A smaller quarantine for freed memory than ASan's 256 MB: every input
# allocates afresh, and touching new pages all the time halves the rate.
export ASAN_OPTIONS=quarantine_size_mb=64
export UBSAN_OPTIONS=print_stacktrace=1

# The report of a failed run: from its first error line on.
report() {
    sed -n '/ERROR\|FUZZ_CHECK\|runtime error\|ALARM\|out-of-memory/,$p' "$1" | head -n 40
}

failed=()
summary=()
for t in "${targets[@]}"; do
    fuzzer=$build/fuzz/fuzz_$t
    args=(-timeout=1 -rss_limit_mb=2048 -detect_leaks=1 -artifact_prefix="$crashes/$t-")

    # Each committed slow case on its own, so every one that fails is named.
    for input in fuzz/regressions/"$t"/*; do
        [ -e "$input" ] || continue
        name=$(basename "$input")
        echo "== $t: $name"
        if ! "$fuzzer" "${args[@]}" "$input" >"$logs/$t-$name.log" 2>&1; then
            report "$logs/$t-$name.log"
            cp "$input" "$crashes/$t-regression-$name"
            failed+=("$t/$name")
        fi
    done

    echo "== $t: fuzzing for $seconds s"
    mkdir -p "$build/corpus/$t"
    if ! "$fuzzer" "${args[@]}" -max_len=8192 -max_total_time="$seconds" -print_final_stats=1 \
        "$build/corpus/$t" "fuzz/corpus/$t" >"$logs/$t.log" 2>&1; then
        report "$logs/$t.log"
        failed+=("$t")
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$t.log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$logs/$t.log")
    summary+=("$(printf '%-14s %10s inputs %8s inputs/s' "$t" "${runs:-?}" "${rate:-?}")")
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}; inputs in $crashes/, logs in $logs/"
    exit 1
fi
echo "All fuzz targets clean."
