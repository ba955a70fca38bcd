#!/usr/bin/env bash
# Builds Zeltor and runs every test: the portable and Linux tests (ctest), and the Windows
# program under Wine. Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh test

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --no-tests=error --output-on-failure -j "$jobs" --timeout 600

# The same tests, except those that need outside servers, built with AddressSanitizer,
# UndefinedBehaviorSanitizer and leak checking.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELTOR_SANITIZE=ON
cmake --build build-asan -j "$jobs"
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --no-tests=error --output-on-failure -j "$jobs" --timeout 900 -LE 'integration|wine|trace|package'

# The .deb, installed with apt on a fresh Debian 12 root and started from its desktop entry. It
# needs the package archive of this machine's apt sources, which a run inside a network namespace
# of its own cannot reach.
mirror=$(tools/apt-mirror.sh bookworm 2>/dev/null || true)
mirror_host=$(printf '%s\n' "$mirror" | sed -n 's|^[a-z+]*://\([^/:]*\).*|\1|p')
if [ -n "$mirror_host" ] && getent ahosts "$mirror_host" >/dev/null 2>&1; then
    rm -f build/*.deb
    (cd build && cpack -G DEB >/dev/null)
    tools/test-deb-install.sh build/zeltor_*_amd64.deb $(ls build/zeltor-perfd_*_amd64.deb build/zeltor-exporter_*_amd64.deb 2>/dev/null)
else
    echo "deb-install: not run: the package archive of this machine's apt sources (${mirror:-none}) cannot be reached from here (tools/test-deb-install.sh)"
fi

# Every parser of outside input, fuzzed for a bounded time from its seed corpus.
tools/fuzz.sh

if [ -x tools/test-wine.sh ]; then
    tools/test-wine.sh
fi
