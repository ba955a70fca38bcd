#!/usr/bin/env bash
# Makes the .debs from a built tree (cpack -G DEB) and checks them as Debian's own tools see them:
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
debs=("$work"/cpack/*.deb)
deb=$(ls "$work"/cpack/zeltor_*_amd64.deb)
for d in "${debs[@]}"; do
    echo "# $(basename "$d"): $(stat -c %s "$d") bytes; Depends: $(dpkg-deb -f "$d" Depends)"
    dpkg-deb -x "$d" "$work/root"
done

# Libraries the programs link come from dpkg-shlibdeps, with the versions it reads from their
# symbols files; the platform plugins, which nothing links, are named by hand.
has_dependency() { dpkg-deb -f "$1" Depends | tr -d ' ' | tr ',' '\n' | sed 's/(.*//' | grep -Fxq "$2"; }
for dep in libqt6widgets6 libqt6gui6 libqt6core6 samba-libs libstdc++6 libc6 qt6-qpa-plugins; do
    check "zeltor depends on $dep" has_dependency "$deb" "$dep"
done
# The provider of Samba's performance data, in a package of its own once it is built: its
# database library, its service and the service's maintainer scripts.
perfd=$(ls "$work"/cpack/zeltor-perfd_*_amd64.deb 2>/dev/null || true)
if [ -n "$perfd" ]; then
    check "zeltor-perfd depends on libtdb1" has_dependency "$perfd" libtdb1
    check "zeltor-perfd holds its program and its systemd unit" test -x "$work/root/usr/sbin/zeltor-perfd" -a \
        -f "$work/root/usr/lib/systemd/system/zeltor-perfd.service"
    check "zeltor-perfd has its maintainer scripts" bash -c "dpkg-deb -I '$perfd' | grep -q postinst && dpkg-deb -I '$perfd' | grep -q prerm"
    # The unit starts the program the package installs: its ExecStart is a file of the package,
    # and systemd's own check of the unit, on a root of the package's files beside this machine's
    # units, finds the command there.
    unit=$work/root/usr/lib/systemd/system/zeltor-perfd.service
    program=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
    check "zeltor-perfd's unit starts ${program:-nothing}, a program of the package" bash -c \
        "dpkg-deb -c '$perfd' | awk '{ print \$6 }' | sed 's|^\\.||' | grep -Fxq -- '$program' && test -x '$work/root$program'"
    mkdir -p "$work/unit-root"
    dpkg-deb -x "$perfd" "$work/unit-root"
    cp -an /usr/lib/systemd/system/. "$work/unit-root/usr/lib/systemd/system/"
    check "systemd-analyze verify accepts the installed unit" \
        systemd-analyze verify --man=no --root="$work/unit-root" /usr/lib/systemd/system/zeltor-perfd.service
    # Installed by hand to another prefix, the unit names the program there.
    DESTDIR=$work/prefixed cmake --install "$build" --component perfd --prefix /opt/zeltor >/dev/null
    check "installed to /opt/zeltor, the unit starts /opt/zeltor/sbin/zeltor-perfd" bash -c \
        "grep -Fxq 'ExecStart=/opt/zeltor/sbin/zeltor-perfd' '$work/prefixed/opt/zeltor/lib/systemd/system/zeltor-perfd.service' &&
         test -x '$work/prefixed/opt/zeltor/sbin/zeltor-perfd'"
fi

# The exporter, in a package of its own: none of the window's libraries, its service run by a
# user of its own without privileges on a read-only system, its passwords as credentials, its
# configuration a conffile that the program accepts, Prometheus' rules that promtool accepts.
exporter=$(ls "$work"/cpack/zeltor-exporter_*_amd64.deb 2>/dev/null || true)
if [ -n "$exporter" ]; then
    check "zeltor-exporter depends on libmicrohttpd12, libyaml-cpp and samba-libs" bash -c \
        "dpkg-deb -f '$exporter' Depends | grep -q libmicrohttpd12 && dpkg-deb -f '$exporter' Depends | grep -q libyaml-cpp &&
         dpkg-deb -f '$exporter' Depends | grep -q samba-libs"
    check "zeltor-exporter needs none of the window's libraries" bash -c \
        "! dpkg-deb -f '$exporter' Depends Recommends | grep -Eq 'qt6|libqt|xdg-utils|fonts-'"
    check "zeltor-exporter has its maintainer scripts and its conffile" bash -c \
        "dpkg-deb -I '$exporter' | grep -q postinst && dpkg-deb -I '$exporter' | grep -q prerm &&
         dpkg-deb --ctrl-tarfile '$exporter' | tar -xO ./conffiles | grep -Fxq /etc/zeltor-exporter/zeltor-exporter.yml"
    unit=$work/root/usr/lib/systemd/system/zeltor-exporter.service
    program=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
    check "zeltor-exporter's unit starts ${program:-nothing}, a program of the package" bash -c \
        "dpkg-deb -c '$exporter' | awk '{ print \$6 }' | sed 's|^\\.||' | grep -Fxq -- '$program' && test -x '$work/root$program'"
    for setting in DynamicUser=yes NoNewPrivileges=yes CapabilityBoundingSet= ProtectSystem=strict ProtectHome=yes \
                   PrivateTmp=yes LoadCredential=auth:/etc/zeltor-exporter/credentials; do
        check "zeltor-exporter's unit sets $setting" grep -Fxq -- "$setting" "$unit"
    done
    check "zeltor-exporter's unit reloads with SIGHUP" grep -Fxq -- 'ExecReload=/bin/kill -HUP $MAINPID' "$unit"
    check "zeltor-exporter's unit is not enabled by the package (no links, no enable in its scripts)" bash -c \
        "! dpkg-deb -c '$exporter' | grep -q 'wants/' && ! dpkg-deb --ctrl-tarfile '$exporter' | tar -xO ./postinst | grep -v '^ *#' | grep -Eq '(helper|systemctl).* enable'"
    mkdir -p "$work/exporter-root"
    dpkg-deb -x "$exporter" "$work/exporter-root"
    cp -an /usr/lib/systemd/system/. "$work/exporter-root/usr/lib/systemd/system/"
    # The reload's /bin/kill, which the package's dependency on procps brings to a real root.
    mkdir -p "$work/exporter-root/bin"
    cp -a "$(readlink -f /bin/kill)" "$work/exporter-root/bin/kill"
    check "systemd-analyze verify accepts zeltor-exporter's unit" \
        systemd-analyze verify --man=no --root="$work/exporter-root" /usr/lib/systemd/system/zeltor-exporter.service
    # systemd's own measure of the sandbox: 0 (locked down) to 10 (nothing at all).
    exposure=$(systemd-analyze security --offline=yes --root="$work/exporter-root" /usr/lib/systemd/system/zeltor-exporter.service 2>/dev/null |
        sed -n 's/.*Overall exposure level for zeltor-exporter.service: \([0-9.]*\).*/\1/p')
    echo "# zeltor-exporter.service: exposure ${exposure:-unknown} (systemd-analyze security)"
    check "zeltor-exporter's unit is locked down (exposure ${exposure:-unknown} below 2.5)" \
        awk -v e="${exposure:-99}" 'BEGIN { exit !(e < 2.5) }'
    # The sample configuration as the service reads it: its password as the credential that the
    # unit's LoadCredential= makes of /etc/zeltor-exporter/credentials/monitor.
    mkdir -m 700 "$work/credentials"
    echo 'sample-password' > "$work/credentials/auth_monitor"
    chmod 400 "$work/credentials/auth_monitor"
    check "the sample configuration is one the exporter accepts" env CREDENTIALS_DIRECTORY="$work/credentials" \
        "$work/root/usr/bin/zeltor-exporter" --config "$work/root/etc/zeltor-exporter/zeltor-exporter.yml" --check-config
    # Its keytab auth uncommented, with the keytab as the credential the same LoadCredential=
    # makes of /etc/zeltor-exporter/credentials/monitor.keytab: --check-config ends with the
    # service's own words when the credential or the credentials are missing.
    sed '/^  # kerberos:/,$ s/^  # /  /' "$work/root/etc/zeltor-exporter/zeltor-exporter.yml" >"$work/keytab.yml"
    check_keytab_config() { # EXPECTED_LINE ENV...
        local expected=$1 status=0; shift
        env "$@" "$work/root/usr/bin/zeltor-exporter" --config "$work/keytab.yml" --check-config >"$work/keytab.out" 2>&1 || status=$?
        cat "$work/keytab.out"
        [ "$status" = 1 ] && grep -Fxq "$expected" "$work/keytab.out"
    }
    check "--check-config: a keytab_credential without its file is refused" check_keytab_config \
        "zeltor-exporter: auth kerberos: cannot open the keytab $work/credentials/auth_monitor.keytab: No such file or directory" \
        CREDENTIALS_DIRECTORY="$work/credentials"
    check "--check-config: a keytab_credential without \$CREDENTIALS_DIRECTORY is refused" check_keytab_config \
        "zeltor-exporter: auth kerberos: keytab_credential auth_monitor.keytab: no credentials were given to the exporter (\$CREDENTIALS_DIRECTORY is not set: it is set by systemd's LoadCredential=)" \
        -u CREDENTIALS_DIRECTORY
    echo 'not read by --check-config' >"$work/credentials/auth_monitor.keytab"
    chmod 400 "$work/credentials/auth_monitor.keytab"
    check "--check-config: the sample's keytab_credential auth is accepted with its credential" env CREDENTIALS_DIRECTORY="$work/credentials" \
        "$work/root/usr/bin/zeltor-exporter" --config "$work/keytab.yml" --check-config
    check "Prometheus accepts the rules" promtool check rules "$work"/root/usr/share/zeltor-exporter/rules/*.yml
    check "the manual page is zeltor-exporter(1)" test -s "$work/root/usr/share/man/man1/zeltor-exporter.1.gz"
    check "the Grafana dashboard is JSON" python3 -c 'import json, sys; json.load(open(sys.argv[1]))' \
        "$work/root/usr/share/zeltor-exporter/dashboards/zeltor-domain-controllers.json"
    DESTDIR=$work/prefixed cmake --install "$build" --component exporter --prefix /opt/zeltor >/dev/null
    check "installed to /opt/zeltor, the unit starts /opt/zeltor/bin/zeltor-exporter" bash -c \
        "grep -Fxq 'ExecStart=/opt/zeltor/bin/zeltor-exporter --config /etc/zeltor-exporter/zeltor-exporter.yml' \
             '$work/prefixed/opt/zeltor/lib/systemd/system/zeltor-exporter.service' &&
         test -x '$work/prefixed/opt/zeltor/bin/zeltor-exporter'"
fi

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
check "lintian: no error, no warning ($(cd "$work/cpack" && echo *.deb))" lintian --fail-on error,warning --allow-root "${debs[@]}"

echo "deb: $failed failed"
[ "$failed" -eq 0 ]
