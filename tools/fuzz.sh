#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time from its committed seed
# corpus (fuzz/corpus/<target>; the procfs readers from tests/linux/data), as many at once as the
# machine has processors. Prints the executions per target; fails on any crash.
# FUZZ_SECONDS sets the time per target (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}

CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELTOR_FUZZ=ON -DBUILD_TESTING=OFF
cmake --build build-fuzz -j "$(nproc)"

# Runs one target; its verdict goes to build-fuzz/NAME.verdict.
fuzz_one() {
    local exe=$1 name=${1##*/fuzz_} work log runs
    work=$(mktemp -d)
    cp -r "fuzz/corpus/$name/." "$work/" 2>/dev/null || true
    # The procfs readers start from the files of the kernels the Linux tests keep (tests/linux/data).
    if [ "$name" = proc_files ]; then
        find tests/linux/data -type f | while read -r seed; do cp "$seed" "$work/${seed//\//_}"; done
    fi
    log=build-fuzz/$name.log
    if "$exe" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="build-fuzz/$name-" "$work" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz $name: ${runs:-?} executions in ${seconds}s, no crash" >"build-fuzz/$name.verdict"
    else
        { echo "fuzz $name: FAILED (see $log)"; tail -20 "$log"; } >"build-fuzz/$name.verdict"
    fi
    rm -rf "$work"
}

rm -f build-fuzz/*.verdict
running=0
for exe in build-fuzz/fuzz/fuzz_*; do
    if [ "$running" -ge "$(nproc)" ]; then
        wait -n || true
        running=$((running - 1))
    fi
    fuzz_one "$exe" &
    running=$((running + 1))
done
wait

passed=0
failed=0
for verdict in build-fuzz/*.verdict; do
    cat "$verdict"
    if head -1 "$verdict" | grep -q ': FAILED'; then
        failed=$((failed + 1))
    else
        passed=$((passed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
