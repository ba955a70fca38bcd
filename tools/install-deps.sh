#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Zeltor need, when any is
# missing. Needs root (apt-get).
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    # the Linux program
    qt6-base-dev libgl-dev fonts-liberation
    libsmbclient-dev
    # opening web and mail links: xdg-open, and xdg-mime for the web handler
    xdg-utils
    # tests: a display, screenshots, DNS and a domain controller on loopback, tracing
    xvfb xauth x11-utils imagemagick dnsmasq-base strace xdotool
    samba samba-ad-dc samba-ad-provision winbind
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
# The Samba packages would start their system services (file sharing on every interface, NetBIOS
# broadcasts); the tests start their own controller on loopback instead. Keep packages from
# starting services while they install, unless the machine already says so.
if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
    chmod +x /usr/sbin/policy-rc.d
    trap 'rm -f /usr/sbin/policy-rc.d' EXIT
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
