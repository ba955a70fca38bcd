#!/usr/bin/env bash
# Installs the Debian 12 packages that Zeltor needs, when any is missing. Needs root (apt-get)
# only when something is missing.
#
#   tools/install-deps.sh [run|package|windows|test]
#
#   run      building and running the Linux program (the default; tools/run.sh)
#   package  the same, and making the Debian packages (cpack -G DEB)
#   windows  cross-building the Windows program, its zip and its installer
#   test     everything the tests need: both of the above and the test bench (tools/test.sh)
set -euo pipefail

set_name=${1:-run}

# Building and running the Linux program.
run_packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev fonts-liberation
    # a controller's health: LDAP with Cyrus SASL's GSSAPI (its plugin for MIT Kerberos)
    libldap-dev libsasl2-dev libsasl2-modules-gssapi-mit
    # logons and other machines' counters over their Remote Registry: Samba's client libraries,
    # and Kerberos to find the user's ticket
    samba-dev libkrb5-dev
    # zeltor-perfd: Samba's performance databases
    libtdb-dev
    # zeltor-exporter: its HTTP server and its YAML configuration
    libmicrohttpd-dev libyaml-cpp-dev
    # its TLS (GnuTLS, which libmicrohttpd uses) and the bcrypt hashes of basic authentication (libxcrypt)
    libgnutls28-dev libcrypt-dev
    # who a systemd credential's ACL lets read it (zeltor-probe's and the exporter's credentials)
    libacl1-dev
    # opening web and mail links: xdg-open, and xdg-mime for the web handler
    xdg-utils
    # tools/run.sh without a desktop: a virtual display
    xvfb xauth
)
# Making the Debian packages: dpkg-shlibdeps computes their dependencies (it needs file), and
# help2man writes the manual pages of programs from their --help.
package_packages=(
    dpkg-dev file help2man
)
# Cross-building the Windows program and packing it (zip, NSIS installer).
windows_packages=(
    cmake ninja-build
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
    nsis
)
# The test bench.
test_packages=(
    git clang libclang-rt-14-dev
    # the sources' layout and static checks (tools/lint.sh)
    clang-format clang-tidy
    libgtest-dev libgmock-dev libbenchmark-dev
    # a display, screenshots, DNS and a domain controller on loopback, tracing
    x11-utils imagemagick dnsmasq-base strace xdotool
    # network namespaces and the peers' connections (ip, ss), entering a peer's namespaces (nsenter)
    iproute2 util-linux
    samba samba-ad-dc samba-ad-provision winbind
    # the remote counters' peers: perfmon databases, a client to compare with, a silent address
    python3-tdb python3-samba nftables krb5-user
    # other clients of a controller to compare its health with: ldapsearch, dig; a controller
    # whose clock runs ahead (faketime)
    ldap-utils bind9-dnsutils faketime
    # scraping the exporter from the tests' shell scripts
    curl
    # reading Samba's performance databases back
    tdb-tools
    # the Windows program under Wine
    wine64 wine fonts-wine
    # the packages: checking the .deb, installing it on a fresh root (and a certificate for the
    # exporter's TLS there)
    lintian desktop-file-utils appstream debootstrap openssl
    # systemd-analyze verify of the provider's unit, and the units it names; the exporter's
    # service run by a fresh root's own systemd (systemd-nspawn)
    systemd systemd-container
    # the window over the accessibility bus
    python3-pyatspi at-spi2-core dbus-daemon dbus-bin dbus-x11
    # the probe's formats read by their own consumers: promtool, Python's csv and json; the
    # exporter's rules under promtool, and Prometheus' server scraping it (the test reads the
    # documented scrape configuration with python3-yaml)
    prometheus python3 python3-yaml
)

case "$set_name" in
run) packages=("${run_packages[@]}") ;;
package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
windows) packages=("${windows_packages[@]}") ;;
test) packages=("${run_packages[@]}" "${package_packages[@]}" "${windows_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "usage: tools/install-deps.sh [run|package|windows|test]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: these packages are missing and installing them needs root:" >&2
    echo "  sudo tools/install-deps.sh $set_name    (or: sudo apt-get install ${missing[*]})" >&2
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
