#!/usr/bin/env bash
# Builds Zeltor for Linux and runs it. Installs the Debian packages it needs when they are missing.
# Without a display it runs on a virtual one (Xvfb); see README.md for how to look at it.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target zeltor zeltor-probe

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run: no display; starting Zeltor on a virtual one (xvfb-run)" >&2
    exec xvfb-run -a -s "-screen 0 1024x768x24" build/platform/qt/zeltor "$@"
fi
exec build/platform/qt/zeltor "$@"
