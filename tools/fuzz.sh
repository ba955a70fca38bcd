#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time from its committed seed
# corpus (fuzz/corpus/<target>; the procfs readers from tests/linux/data). Prints the executions
# per target; fails on any crash.
# FUZZ_SECONDS sets the time per target (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}

CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELTOR_FUZZ=ON -DBUILD_TESTING=OFF
cmake --build build-fuzz -j "$(nproc)"

status=0
passed=0
failed=0
for exe in build-fuzz/fuzz/fuzz_*; do
    name=${exe##*/fuzz_}
    work=$(mktemp -d)
    cp -r "fuzz/corpus/$name/." "$work/" 2>/dev/null || true
    # The procfs readers start from the files of the kernels the Linux tests keep (tests/linux/data).
    if [ "$name" = proc_files ]; then
        find tests/linux/data -type f | while read -r seed; do cp "$seed" "$work/${seed//\//_}"; done
    fi
    log=build-fuzz/$name.log
    if "$exe" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="build-fuzz/$name-" "$work" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz $name: ${runs:-?} executions in ${seconds}s, no crash"
        passed=$((passed + 1))
    else
        echo "fuzz $name: FAILED (see $log)"
        tail -20 "$log"
        failed=$((failed + 1))
        status=1
    fi
    rm -rf "$work"
done
echo "fuzz: $passed passed, $failed failed"
exit $status
