#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Zeltor need, when any is
# missing. Needs root (apt-get).
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config git
    libgtest-dev libgmock-dev libbenchmark-dev
    # the Linux program
    qt6-base-dev libgl-dev fonts-liberation
    libsmbclient-dev
    # tests: a display, screenshots, DNS and a domain controller on loopback, tracing
    xvfb xauth x11-utils imagemagick dnsmasq-base strace
    # the Windows program and its tests
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools wine64 wine fonts-wine
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
