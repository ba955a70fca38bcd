#!/usr/bin/env bash
# Builds Zeltor and runs every test: the portable and Linux tests (ctest), and the Windows
# program under Wine. Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600

if [ -x tools/test-wine.sh ]; then
    tools/test-wine.sh
fi
