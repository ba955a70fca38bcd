#!/usr/bin/env bash
# Installs the .debs with apt on a fresh Debian 12 root (nothing installed by hand before them),
# starts the program there with its desktop entry's command on a virtual display, and saves a
# screenshot of its window; the provider's and the exporter's packages, when given, install their
# services disabled and purge cleanly, and the exporter reads its sample configuration there and
# runs as its service under the root's own systemd (systemd-nspawn). Needs root, debootstrap (or
# a base root as a tarball) and the network of the package archive this machine's apt uses
# (tools/apt-mirror.sh).
#
#   tools/test-deb-install.sh [--base BASE_TARBALL] DEB...
#
# BASE_TARBALL: a minbase root of bookworm packed with tar (saves the debootstrap); without it the
# root is made with debootstrap. The screenshot goes beside the first .deb (NAME.png).
set -euo pipefail

base=
if [ "${1:-}" = --base ]; then
    base=$2
    shift 2
fi
debs=()
for d in "$@"; do debs+=("$(realpath "$d")"); done
deb=${debs[0]}
if [ -z "${ZELTOR_IN_MOUNT_NAMESPACE:-}" ]; then
    # Mounts (proc, the X socket) made inside a namespace of their own vanish with it.
    exec env ZELTOR_IN_MOUNT_NAMESPACE=1 unshare -m --propagation private "$0" "$@"
fi

work=$(mktemp -d /tmp/zeltor-deb-install.XXXXXX)
root=$work/root
xvfb_pid=
program_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    umount -R "$root/proc" "$root/tmp/.X11-unix" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "== a fresh Debian 12 root ($root)"
mkdir -p "$root"
if [ -n "$base" ]; then
    tar -C "$root" -xf "$base"
else
    # From the archive this machine's apt uses; debootstrap writes it into the root's sources.
    mirror=$("$(dirname "$0")/apt-mirror.sh" bookworm) || exit 1
    debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log" 2>&1 \
        || { tail "$work/debootstrap.log"; exit 1; }
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No service starts inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
mount -t proc proc "$root/proc"
inside=()
for d in "${debs[@]}"; do
    cp "$d" "$root/tmp/"
    inside+=("/tmp/$(basename "$d")")
done

echo "== apt install ${inside[*]}"
chroot "$root" apt-get update -q >"$work/apt.log" 2>&1 || { tail "$work/apt.log"; exit 1; }
SECONDS=0
chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${inside[@]}" \
    >>"$work/apt.log" 2>&1 || { tail -30 "$work/apt.log"; exit 1; }
echo "installed in ${SECONDS}s: $(grep -c '^Setting up' "$work/apt.log") packages set up"
chroot "$root" dpkg-query -W 'zeltor*'

if chroot "$root" dpkg-query -W zeltor-perfd >/dev/null 2>&1; then
    unit=/usr/lib/systemd/system/zeltor-perfd.service
    [ -f "$root$unit" ] || { echo "not ok - zeltor-perfd installed no unit"; exit 1; }
    if ls "$root"/etc/systemd/system/*.wants/zeltor-perfd.service >/dev/null 2>&1; then
        echo "not ok - zeltor-perfd's service was enabled on install"; exit 1
    fi
    echo "ok - zeltor-perfd installs its service, not enabled"
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q zeltor-perfd >>"$work/apt.log" 2>&1 \
        || { tail -20 "$work/apt.log"; exit 1; }
    [ ! -e "$root$unit" ] && [ ! -e "$root/usr/sbin/zeltor-perfd" ] || { echo "not ok - zeltor-perfd's purge left files"; exit 1; }
    echo "ok - zeltor-perfd purges cleanly"
fi

# A keytab holding one AES-256 key of fixed bytes for principal (no KDC knows it; the exporter
# only has to read it), written in the keytab file format (version 0x502).
write_keytab() {
    python3 - "$1" "$2" <<'PYTHON'
import struct, sys
path, principal = sys.argv[1:]
name, realm = principal.rsplit("@", 1)
counted = lambda data: struct.pack(">H", len(data)) + data
key = bytes((0x5A ^ (i * 7)) & 0xFF for i in range(32))
components = name.split("/")
entry = (struct.pack(">H", len(components)) + counted(realm.encode()) + b"".join(counted(c.encode()) for c in components)
         + struct.pack(">IIB", 1, 0, 1)         # KRB5_NT_PRINCIPAL, a time stamp, the key's version
         + struct.pack(">H", 18) + counted(key)  # aes256-cts-hmac-sha1-96
         + struct.pack(">I", 1))
with open(path, "wb") as f:
    f.write(b"\x05\x02" + struct.pack(">i", len(entry)) + entry)
PYTHON
}

# The exporter's service under the root's own systemd (systemd-nspawn, a network of its own):
# started as the manual page says, it runs as a user systemd makes for it, without capabilities,
# under a system-call filter, on a read-only root, reads its password and a keytab from its
# credentials and answers; a target outside the auth's list is refused. Then, with the TLS
# drop-in the documentation gives, it speaks only HTTPS and asks for basic authentication.
exporter_under_systemd() {
    local leader= nspawn i i2 pid status credential docs=$(dirname "$0")/../docs/exporter.md
    rm -f "$root/usr/sbin/policy-rc.d"
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q systemd systemd-sysv dbus curl procps \
        >>"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log"; exit 1; }
    install -m 600 /dev/null "$root/etc/zeltor-exporter/credentials/monitor"
    echo 'sample-password' >"$root/etc/zeltor-exporter/credentials/monitor"
    # The sample configuration's keytab auth, as its comment says: the keytab in the credentials
    # folder, named by its credential. Its realm's KDC listens nowhere (a closed port).
    install -m 600 /dev/null "$root/etc/zeltor-exporter/credentials/monitor.keytab"
    write_keytab "$root/etc/zeltor-exporter/credentials/monitor.keytab" zeltor-monitor@EXAMPLE.ORG
    sed -i '/^  # kerberos:/,$ s/^  # /  /' "$root/etc/zeltor-exporter/zeltor-exporter.yml"
    grep -q '^    keytab_credential: auth_monitor.keytab$' "$root/etc/zeltor-exporter/zeltor-exporter.yml" \
        || { echo "not ok - the sample configuration has no keytab_credential example"; exit 1; }
    printf '[libdefaults]\n dns_lookup_kdc = false\n[realms]\n EXAMPLE.ORG = {\n  kdc = tcp/127.0.0.1:1\n }\n' >"$root/etc/krb5.conf"
    # The TLS drop-in's certificate and key (the container's /tmp is its own: root's home).
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=localhost \
        -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout "$root/root/tls.key" -out "$root/root/tls.crt" 2>"$work/openssl.log" \
        || { cat "$work/openssl.log"; exit 1; }
    umount "$root/proc"
    systemd-nspawn -q -D "$root" --boot --register=no --keep-unit --private-network >"$work/nspawn.log" 2>&1 &
    nspawn=$!
    for ((i = 0; i < 200; i++)); do
        # The container's first process, systemd (nspawn may have helpers of its own meanwhile).
        leader=
        for i2 in $(cat "/proc/$nspawn/task/$nspawn/children" 2>/dev/null); do
            [ "$(cat "/proc/$i2/comm" 2>/dev/null)" = systemd ] && { leader=$i2; break; }
        done
        [ -n "$leader" ] && nsenter -t "$leader" -a systemctl is-system-running 2>/dev/null | grep -Eq 'running|degraded' && break
        kill -0 "$nspawn" 2>/dev/null || break
        sleep 0.3
    done
    inside() { nsenter -t "$leader" -a "$@"; }
    stop_container() {
        inside systemctl poweroff >/dev/null 2>&1 || true
        for ((i = 0; i < 100; i++)); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.2; done
        kill "$nspawn" 2>/dev/null || true
        wait "$nspawn" 2>/dev/null || true
        mount -t proc proc "$root/proc"
    }
    fail_container() { echo "not ok - $1"; inside journalctl -u zeltor-exporter --no-pager | tail -20; stop_container; exit 1; }
    # Where this script itself runs in a changed root (a check of a fresh machine made with
    # chroot), entering the container's namespaces from outside does not reach its files; where
    # the machine cannot boot a container, its systemd never runs. Neither says anything of the
    # package (whose service is not enabled), so the service's run is left out there, and said so.
    local why=
    if [ -z "$leader" ]; then
        why="the root's systemd did not start here (systemd-nspawn: $(tail -n 3 "$work/nspawn.log" | tr '\n' ' '))"
    elif ! inside test -f /usr/lib/systemd/system/zeltor-exporter.service; then
        why="the container's files cannot be reached from here"
    fi
    if [ -n "$why" ]; then
        echo "skip - zeltor-exporter.service under systemd: $why"
        stop_container
        printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
        chmod +x "$root/usr/sbin/policy-rc.d"
        return 0
    fi
    [ "$(inside systemctl is-enabled zeltor-exporter)" = disabled ] || fail_container "zeltor-exporter is enabled"
    inside systemctl start zeltor-exporter || fail_container "zeltor-exporter.service does not start"
    for ((i = 0; i < 50; i++)); do
        inside curl -sf -o /dev/null http://127.0.0.1:9755/metrics && break
        sleep 0.2
    done
    pid=$(inside systemctl show -p MainPID --value zeltor-exporter)
    status=$(inside cat "/proc/$pid/status")
    grep -q '^Uid:[[:space:]]*0[[:space:]]' <<<"$status" && fail_container "the exporter runs as root"
    grep -q '^CapEff:[[:space:]]*0000000000000000$' <<<"$status" || fail_container "the exporter has capabilities"
    grep -q '^NoNewPrivs:[[:space:]]*1$' <<<"$status" || fail_container "the exporter may gain privileges"
    grep -q '^Seccomp:[[:space:]]*2$' <<<"$status" || fail_container "the exporter runs without a system-call filter"
    inside nsenter -t "$pid" -m findmnt -no OPTIONS -T /etc | grep -q '^ro,' || fail_container "the exporter's /etc is writable"
    inside curl -sf http://127.0.0.1:9755/metrics | grep -q '^zeltor_exporter_build_info' || fail_container "no /metrics"
    [ "$(inside curl -s -o /dev/null -w '%{http_code}' 'http://127.0.0.1:9755/probe?target=192.0.2.1&module=dc&auth=monitor')" = 403 ] \
        || fail_container "a target outside the auth's list is not refused"
    echo "ok - zeltor-exporter.service under systemd: $(grep '^Uid:' <<<"$status" | awk '{ print "uid " $2 }'), no capabilities, no new privileges, a system-call filter, a read-only /etc, its password from its credentials; it answers, and refuses a foreign target"

    # systemctl reload (the unit's ExecReload=: SIGHUP): a target added to the file is served by
    # the same process; then a file it cannot use is refused in the journal, and the one before
    # serves on.
    local config=$root/etc/zeltor-exporter/zeltor-exporter.yml probe='http://127.0.0.1:9755/probe?target=dc9.example.org&module=dc&auth=monitor'
    cp "$config" "$work/exporter.yml.good"
    [ "$(inside curl -s -o /dev/null -w '%{http_code}' "$probe")" = 403 ] || fail_container "dc9 is served before it is in the file"
    sed -i 's/^    targets: \[dc1.example.org, dc2.example.org\]$/    targets: [dc1.example.org, dc2.example.org, dc9.example.org]/' "$config"
    grep -q 'dc9.example.org' "$config" || fail_container "the sample configuration's monitor auth lists other targets"
    inside systemctl reload zeltor-exporter || fail_container "systemctl reload zeltor-exporter fails"
    [ "$(inside systemctl show -p MainPID --value zeltor-exporter)" = "$pid" ] || fail_container "the reload restarted the exporter"
    [ "$(inside curl -s -o /dev/null -w '%{http_code}' "$probe")" = 200 ] || fail_container "the target added by the reload is refused"
    echo 'bogus_key: 1' >>"$config"
    inside systemctl reload zeltor-exporter || fail_container "systemctl reload zeltor-exporter fails with a broken file"
    sleep 0.5
    [ "$(inside systemctl is-active zeltor-exporter)" = active ] && [ "$(inside systemctl show -p MainPID --value zeltor-exporter)" = "$pid" ] \
        || fail_container "a broken file stopped the exporter"
    inside journalctl -u zeltor-exporter --no-pager -o cat | grep -q 'msg="the configuration was not reloaded; the last one stays in force" trigger=SIGHUP err=".*unknown key bogus_key' \
        || fail_container "the journal does not say why the file was refused"
    inside curl -s http://127.0.0.1:9755/metrics | grep -qx 'zeltor_exporter_config_last_reload_successful 0' \
        || fail_container "the refused reload is not counted"
    [ "$(inside curl -s -o /dev/null -w '%{http_code}' "$probe")" = 200 ] || fail_container "the configuration before the broken file does not serve on"
    cp "$work/exporter.yml.good" "$config"
    inside systemctl reload zeltor-exporter || fail_container "systemctl reload zeltor-exporter fails"
    echo "ok - systemctl reload zeltor-exporter: a target added to the file is served by the same process; a broken file is refused in the journal, counted, and the configuration before it serves on"

    # The keytab auth: the service started with it, so it found and accepted its credential; a
    # probe gets as far as asking the KDC with the keytab's key, which no KDC answers (not a
    # refused logon, as a keytab it could not read or without the principal's key would be).
    credential=$(inside stat -c 'mode %a, uid %u' /run/credentials/zeltor-exporter.service/auth_monitor.keytab)
    inside curl -s 'http://127.0.0.1:9755/probe?target=dc1.example.org&module=dc&auth=kerberos' >"$work/probe.txt"
    grep -q '^zeltor_probe_success 0$' "$work/probe.txt" && ! grep -qi '^zeltor_probe_failure_info{status="0x0*52e"' "$work/probe.txt" \
        || { cat "$work/probe.txt"; fail_container "a keytab auth's probe does not fail for want of a KDC"; }
    inside journalctl -u zeltor-exporter --no-pager -o cat | grep -q \
        "the ticket of zeltor-monitor@EXAMPLE.ORG from keytab /run/credentials/zeltor-exporter.service/auth_monitor.keytab: Cannot contact any KDC for realm 'EXAMPLE.ORG'" \
        || fail_container "the keytab auth did not ask the KDC with its credential's key"
    # The configuration checked as the sample configuration's comment says, under the unit's credentials.
    inside systemd-run -q --pipe --wait -p DynamicUser=yes -p LoadCredential=auth:/etc/zeltor-exporter/credentials \
        /usr/bin/zeltor-exporter --config /etc/zeltor-exporter/zeltor-exporter.yml --check-config >"$work/check.txt" 2>&1 \
        || { cat "$work/check.txt"; fail_container "--check-config under the unit's credentials fails"; }
    echo "ok - a keytab auth under systemd: keytab_credential read from the service's credentials ($credential) by its dynamic user; the probe asks the KDC with its key; --check-config under systemd-run passes"

    # TLS and basic authentication: the drop-in exactly as the documentation gives it, with a
    # known bcrypt hash (of "s3cret:with colon", cost 5) in place of its placeholder.
    awk '/^install -d -m 700 \/etc\/zeltor-exporter\/web$/ { on = 1 } on && /^```$/ { exit } on' "$docs" >"$root/root/tls-drop-in.sh"
    grep -q '^systemctl edit zeltor-exporter' "$root/root/tls-drop-in.sh" || { echo "not ok - no TLS drop-in in $docs"; stop_container; exit 1; }
    sed -i 's|\$2y\$10\$\.\.\.|$2y$05$wQ2oCdSixkDDMvVTQN97M.dKhEbmE54fAGH2QPhW.2TpuG.wbzDV2|' "$root/root/tls-drop-in.sh"
    # systemctl edit's editor: writes the drop-in's lines the documentation shows. It edits only
    # on a terminal: the commands run on one (script).
    printf '#!/bin/sh\nfor f; do :; done\nsed -n "s/^#   //p" /root/tls-drop-in.sh >"$f"\n' >"$root/root/drop-in-editor"
    chmod +x "$root/root/drop-in-editor"
    inside script -qec 'env -C /root SYSTEMD_EDITOR=/root/drop-in-editor sh -e /root/tls-drop-in.sh' /dev/null </dev/null >"$work/drop-in.log" 2>&1 \
        || { cat "$work/drop-in.log"; fail_container "the documented TLS drop-in does not install"; }
    local code=
    for ((i = 0; i < 50; i++)); do
        code=$(inside curl -s --cacert /root/tls.crt -o /dev/null -w '%{http_code}' https://127.0.0.1:9755/metrics || true)
        [ "$code" = 401 ] && break
        sleep 0.2
    done
    [ "$code" = 401 ] || fail_container "over HTTPS without a user the exporter answers $code, not 401"
    inside curl -sf --cacert /root/tls.crt -u 'prometheus:s3cret:with colon' https://127.0.0.1:9755/metrics \
        | grep -q '^zeltor_exporter_build_info' || fail_container "no /metrics over HTTPS with the user's password"
    [ "$(inside curl -s --cacert /root/tls.crt -u 'prometheus:wrong' -o /dev/null -w '%{http_code}' https://127.0.0.1:9755/metrics)" = 401 ] \
        || fail_container "a wrong password is not refused"
    code=$(inside curl -s -u 'prometheus:s3cret:with colon' -o /dev/null -w '%{http_code}' http://127.0.0.1:9755/metrics || true)
    [ "$code" = 000 ] || fail_container "plain HTTP gets an answer ($code) under TLS"
    pid=$(inside systemctl show -p MainPID --value zeltor-exporter)
    grep -q '^Uid:[[:space:]]*0[[:space:]]' <<<"$(inside cat "/proc/$pid/status")" && fail_container "the exporter runs as root under TLS"
    echo "ok - the documented TLS drop-in under systemd: the key from the service's credentials, /metrics over HTTPS with the certificate (401 without a user or with a wrong password, 200 with it), no answer over plain HTTP"
    inside systemctl revert zeltor-exporter >/dev/null 2>&1
    inside systemctl stop zeltor-exporter
    stop_container
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod +x "$root/usr/sbin/policy-rc.d"
}

if chroot "$root" dpkg-query -W zeltor-exporter >/dev/null 2>&1; then
    unit=/usr/lib/systemd/system/zeltor-exporter.service
    [ -f "$root$unit" ] || { echo "not ok - zeltor-exporter installed no unit"; exit 1; }
    if ls "$root"/etc/systemd/system/*.wants/zeltor-exporter.service >/dev/null 2>&1; then
        echo "not ok - zeltor-exporter's service was enabled on install"; exit 1
    fi
    [ "$(stat -c '%a %U' "$root/etc/zeltor-exporter/credentials")" = "700 root" ] \
        || { echo "not ok - /etc/zeltor-exporter/credentials is not root's alone"; exit 1; }
    echo "ok - zeltor-exporter installs its service, not enabled, and a credentials folder of root's"
    # The packaged program on a root with only what its package pulled in, reading the sample
    # configuration with its password as the service would receive it.
    mkdir -m 700 "$root/tmp/credentials"
    echo 'sample-password' >"$root/tmp/credentials/auth_monitor"
    chmod 400 "$root/tmp/credentials/auth_monitor"
    chroot "$root" env -i CREDENTIALS_DIRECTORY=/tmp/credentials /usr/bin/zeltor-exporter \
        --config /etc/zeltor-exporter/zeltor-exporter.yml --check-config \
        || { echo "not ok - the installed exporter does not accept its sample configuration"; exit 1; }
    echo "ok - the installed exporter reads its sample configuration"
    exporter_under_systemd
    chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -q zeltor-exporter >>"$work/apt.log" 2>&1 \
        || { tail -20 "$work/apt.log"; exit 1; }
    [ ! -e "$root$unit" ] && [ ! -e "$root/usr/bin/zeltor-exporter" ] && [ ! -e "$root/etc/zeltor-exporter" ] \
        || { echo "not ok - zeltor-exporter's purge left files"; exit 1; }
    echo "ok - zeltor-exporter purges cleanly"
fi

desktop=$(ls "$root"/usr/share/applications/*.desktop | head -n1)
command=$(sed -n 's/^Exec=//p' "$desktop")
echo "== $(basename "$desktop"): Exec=$command"

# A virtual display on this machine; its socket is shared with the root.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
display=:$(head -n1 "$work/display")
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"

# The desktop entry's command, as a launcher runs it (field codes would be dropped; it has none).
chroot "$root" env -i DISPLAY="$display" HOME=/root PATH=/usr/bin:/bin sh -c "exec $command" \
    >"$work/program.log" 2>&1 &
program_pid=$!
window=
for _ in $(seq 150); do
    window=$(DISPLAY=$display xdotool search --onlyvisible --name '^Zeltor$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.2
done
if [ -z "$window" ]; then
    echo "not ok - the program showed no window"; cat "$work/program.log"; exit 1
fi
sleep 1 # the first paint lands
shot=${deb%.deb}.png
DISPLAY=$display import -window "$window" "$shot"
echo "ok - the program started from its desktop entry shows its window ($shot, $(identify -format '%wx%h' "$shot"))"
