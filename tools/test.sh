#!/usr/bin/env bash
# Builds Zeltor and runs every test: the portable and Linux tests (ctest), the same with the
# sanitizers, the packages on a fresh root, the fuzzers, the Windows program under Wine, and the
# sources' lint (tools/lint.sh: the layout, and clang-tidy over what changed since the tree was
# last clean as a whole).
# Installs the Debian packages it needs when they are missing. Stages that wait on something other
# than this machine's processors (the package root's downloads, Wine's own start) run beside the
# others; each stage's time is printed when it ends, and the run's at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh test

jobs=$(nproc)
started=$SECONDS
logs=$(mktemp -d /tmp/zeltor-test.XXXXXX)
trap 'rm -rf "$logs"' EXIT

# Runs "$@" as the stage named $1, and prints how long it took.
stage() {
    local name=$1 begun=$SECONDS
    shift
    echo "== $name"
    "$@"
    echo "== $name: done in $((SECONDS - begun)) s"
}

# Starts "$@" as the stage named $1 in the background, its output kept for finish_stage.
start_stage() {
    local name=$1
    shift
    ( stage "$name" "$@" ) >"$logs/$name.log" 2>&1 &
    echo $! >"$logs/$name.pid"
    echo "== $name: started beside the rest"
}

# Waits for a stage start_stage began, prints its output, and fails the run when it failed.
finish_stage() {
    local name=$1 status=0
    wait "$(cat "$logs/$name.pid")" || status=$?
    cat "$logs/$name.log"
    if [ "$status" -ne 0 ]; then
        echo "== $name: FAILED ($status)"
        return "$status"
    fi
}

linux_build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
    cmake --build build -j "$jobs"
}

linux_tests() {
    ctest --test-dir build --no-tests=error --output-on-failure -j "$jobs" --timeout 600
}

# The same tests, except those that need outside servers, built with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak checking.
sanitized_tests() {
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELTOR_SANITIZE=ON
    cmake --build build-asan -j "$jobs"
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --no-tests=error --output-on-failure -j "$jobs" --timeout 900 -LE 'integration|wine|trace|package'
}

# The .debs, installed with apt on a fresh Debian 12 root and started from the desktop entry. They
# need the package archive of this machine's apt sources, which a run inside a network namespace of
# its own cannot reach.
package_install() {
    local mirror mirror_host
    mirror=$(tools/apt-mirror.sh bookworm 2>/dev/null || true)
    mirror_host=$(printf '%s\n' "$mirror" | sed -n 's|^[a-z+]*://\([^/:]*\).*|\1|p')
    if [ -n "$mirror_host" ] && getent ahosts "$mirror_host" >/dev/null 2>&1; then
        # Packed into a folder of their own: the package test of the Linux tests packs beside it.
        rm -rf build/debs
        cpack --config build/CPackConfig.cmake -G DEB -B build/debs >/dev/null
        tools/test-deb-install.sh build/debs/zeltor_*_amd64.deb $(ls build/debs/zeltor-perfd_*_amd64.deb build/debs/zeltor-exporter_*_amd64.deb 2>/dev/null)
    else
        echo "deb-install: not run: the package archive of this machine's apt sources (${mirror:-none}) cannot be reached from here (tools/test-deb-install.sh)"
    fi
}

stage "linux build" linux_build
# The package root is made mostly of downloads: it is made while the tests run.
start_stage "package install" package_install
# The sources' layout, and clang-tidy's checks of every source that changed since the tree was last
# clean as a whole (tools/tidy-clean-at), beside the tests. (The whole tree's checks, tools/lint.sh
# tidy, cost about 75 core-minutes from nothing: they run before a merge; docs/reliability.md.)
lint() {
    local status=0
    tools/lint.sh format || status=1
    tools/lint.sh changed || status=1
    return "$status"
}
start_stage "lint" lint
stage "linux tests" linux_tests
stage "sanitized tests" sanitized_tests
# Every parser of outside input, fuzzed for a bounded time from its seed corpus, one per processor.
stage "fuzzers" tools/fuzz.sh
if [ -x tools/test-wine.sh ]; then
    stage "windows program under wine" tools/test-wine.sh
fi
failed=0
finish_stage "lint" || failed=1
finish_stage "package install" || failed=1
echo "== all stages done in $((SECONDS - started)) s"
exit "$failed"
