#!/usr/bin/env bash
# Makes the .deb from a built tree (cpack -G DEB) and checks it as Debian's own tools see it:
# the dependencies dpkg-shlibdeps computed, the files a desktop needs, desktop-file-validate,
# appstreamcli validate and lintian (no error, no warning).
#
#   check_deb.sh BUILD_DIR
set -euo pipefail

build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
check() { # check DESCRIPTION COMMAND...
    local what=$1; shift
    if "$@" >"$work/out" 2>&1; then
        echo "ok - $what"
    else
        echo "not ok - $what"; sed 's/^/    /' "$work/out"; failed=$((failed + 1))
    fi
}

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/cpack/zeltor_*_amd64.deb)
echo "# $(basename "$deb"): $(stat -c %s "$deb") bytes"
dpkg-deb -x "$deb" "$work/root"
depends=$(dpkg-deb -f "$deb" Depends)
echo "# Depends: $depends"

# Libraries the program links come from dpkg-shlibdeps, with the versions it reads from their
# symbols files; the platform plugins, which nothing links, are named by hand.
has_dependency() { tr -d ' ' <<<"$depends" | tr ',' '\n' | sed 's/(.*//' | grep -Fxq "$1"; }
for dep in libqt6widgets6 libqt6gui6 libqt6core6 libsmbclient libstdc++6 libc6 qt6-qpa-plugins; do
    check "depends on $dep" has_dependency "$dep"
done

app=example.zeltor.Zeltor
desktop=$work/root/usr/share/applications/$app.desktop
metainfo=$work/root/usr/share/metainfo/$app.metainfo.xml
check "desktop entry is valid" desktop-file-validate "$desktop"
check "AppStream metadata is valid" appstreamcli validate --no-net "$metainfo"
# The desktop entry starts a program of the package, and its icon is in every size folder.
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
check "Exec=$exec_program is a program of the package" test -x "$work/root/usr/bin/$exec_program"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 32 48 64 128 256; do
    check "icon $icon at ${size}x$size" bash -c \
        "[ \"\$(identify -format %wx%h '$work/root/usr/share/icons/hicolor/${size}x$size/apps/$icon.png')\" = ${size}x$size ]"
done
check "the copyright file and the changelog" test -s "$work/root/usr/share/doc/zeltor/copyright" -a \
    -s "$work/root/usr/share/doc/zeltor/changelog.gz"
check "the program is stripped" bash -c "! file '$work/root/usr/bin/zeltor' | grep -q 'not stripped'"
check "lintian: no error, no warning" lintian --fail-on error,warning --allow-root "$deb"

echo "deb: $failed failed"
[ "$failed" -eq 0 ]
