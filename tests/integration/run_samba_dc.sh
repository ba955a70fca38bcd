#!/usr/bin/env bash
# Runs a Samba Active Directory domain controller for the integration tests: provisioned into a
# fresh directory under /tmp and served on loopback only (interface lo: 127.0.0.1 and ::1).
# Its DNS forwards nothing, and the services that would reach out on their own (NetBIOS and
# WINS, dynamic DNS updates, the NTP signer) do not run, so it sends nothing off the machine;
# it touches nothing outside its directory.
#
#   run_samba_dc.sh start STATE   provisions and starts it, then writes STATE: key=value lines
#                                 (dir, pid, address, dns_port, realm, domain, host, user,
#                                 password, smb_conf) for the tests to read
#   run_samba_dc.sh stop STATE    stops it and removes its directory and STATE
#
# With ZELTOR_DC_CLOCK_AHEAD set (a faketime offset such as 7m), the controller's services run
# with their clock that far ahead of the machine's (libfaketime preloaded: faketime's wrapper
# keeps a semaphore named by its process ID, which a PID namespace of its own reuses); provisioning
# keeps the real clock.
# Its directory's modules then bind their symbols as any library does (LDB_MODULES_DISABLE_DEEPBIND),
# so that faketime's clock is theirs too: loaded with RTLD_DEEPBIND, they would read the real one.
#
# Needs root: the controller listens on the privileged ports of SMB, DNS, Kerberos and LDAP.
set -euo pipefail

readonly REALM=ZELTOR.TEST
readonly DOMAIN=ZELTOR
readonly HOST=dc1
readonly ADDRESS=127.0.0.1
readonly ADMIN_PASSWORD='Zeltor-Test-Adm1n!'
# Bounded waits, in half seconds.
readonly START_POLLS=120
readonly STOP_POLLS=40

usage() {
    echo "usage: $0 start|stop STATE" >&2
    exit 2
}

readonly FIXTURE=run_samba_dc
readonly TEMP_PREFIX=/tmp/zeltor-dc
peer_logs() {
    echo "$1/provision.log" "$1/samba.out" "$1"/log/log.*
}
# shellcheck source=peer_fixture.sh
. "$(dirname "$0")/peer_fixture.sh"

start() {
    local state=$1 dir pid i port
    stop "$state"
    [ "$(id -u)" -eq 0 ] || { echo "run_samba_dc: must run as root (ports 53, 88, 389, 445)" >&2; exit 1; }
    command -v samba-tool >/dev/null && command -v samba >/dev/null \
        || { echo "run_samba_dc: samba-tool and samba are missing (tools/install-deps.sh)" >&2; exit 1; }
    for port in 53 88 389 445; do
        if listening "$ADDRESS" "$port"; then
            echo "run_samba_dc: something already listens on $ADDRESS:$port" >&2
            exit 1
        fi
    done

    dir=$(mktemp -d /tmp/zeltor-dc.XXXXXX)
    # The domain's users reach SYSVOL and NETLOGON under it as themselves: they may pass through.
    # Anonymous logons are refused as a Windows controller refuses them (restrict anonymous).
    chmod o+x "$dir"
    echo "dir=$dir" > "$state"
    mkdir -p "$dir/run" "$dir/log"
    # An empty configuration to start from, so the machine's own smb.conf plays no part.
    : > "$dir/empty.conf"
    timeout 240 samba-tool domain provision -s "$dir/empty.conf" \
        --use-rfc2307 --realm="$REALM" --domain="$DOMAIN" --server-role=dc \
        --dns-backend=SAMBA_INTERNAL --adminpass="$ADMIN_PASSWORD" \
        --targetdir="$dir" --host-name="$HOST" --host-ip="$ADDRESS" \
        --option="interfaces = lo" --option="bind interfaces only = yes" \
        --option="log file = $dir/log/log.%m" \
        --option="usershare path = $dir/usershares" \
        --option="server services = s3fs rpc ldap cldap kdc drepl winbindd kcc dns" \
        --option="restrict anonymous = 2" \
        > "$dir/provision.log" 2>&1 || fail "$state" "provisioning failed"
    # Provisioning copies the machine's resolver as forwarder; the test domain answers alone.
    sed -i '/dns forwarder/d' "$dir/etc/smb.conf"

    # Some paths are built into Samba rather than taken from smb.conf: smbd finds winbindd
    # through a socket under /run/samba, and the RPC helpers log to /var/log/samba. So samba runs
    # in a mount namespace of its own where /run is empty, /run/samba is our directory's run/ and
    # /var/log/samba its log/ (mount -n: no record of these mounts under the real /run). It is
    # also the first process of a PID namespace of its own: the RPC helpers that smbd starts
    # leave its process group, and they all end when it does.
    setsid unshare --mount --propagation private --pid --mount-proc --kill-child=TERM -- bash -c '
        mount -n -t tmpfs -o mode=0755 zeltor-run /run &&
        mkdir /run/samba &&
        mount -n --bind "$1/run" /run/samba &&
        { [ ! -d /var/log/samba ] || mount -n --bind "$1/log" /var/log/samba; } &&
        if [ -n "$2" ]; then
            export LDB_MODULES_DISABLE_DEEPBIND=1 FAKETIME="+$2" \
                LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1 &&
            exec samba -i -s "$1/etc/smb.conf"
        fi &&
        exec samba -i -s "$1/etc/smb.conf"' samba-dc "$dir" "${ZELTOR_DC_CLOCK_AHEAD:-}" < /dev/null > "$dir/samba.out" 2>&1 &
    pid=$!
    echo "pid=$pid" >> "$state"
    for port in 445 53 389; do
        for ((i = 0; i < START_POLLS; i++)); do
            listening "$ADDRESS" "$port" && break
            alive "$pid" || fail "$state" "samba exited"
            sleep 0.5
        done
        listening "$ADDRESS" "$port" || fail "$state" "nothing listens on $ADDRESS:$port"
    done

    # Provisioning registers no address for a controller on loopback; the tests find it by name.
    timeout 60 samba-tool dns add "$ADDRESS" "${REALM,,}" "$HOST" A "$ADDRESS" -s "$dir/empty.conf" \
        --use-kerberos=off -U "Administrator%$ADMIN_PASSWORD" >> "$dir/provision.log" 2>&1 \
        || fail "$state" "adding the controller's address record failed"

    # The controller's LDAP service name, which a Windows controller registers and Samba's
    # dnsupdate service (not run here) would: what a Kerberos bind to its LDAP asks a ticket for.
    timeout 60 samba-tool spn add "ldap/$HOST.${REALM,,}" "${HOST^^}\$" -s "$dir/etc/smb.conf" \
        >> "$dir/provision.log" 2>&1 || fail "$state" "adding the controller's LDAP service name failed"

    cat >> "$state" <<STATE
address=$ADDRESS
dns_port=53
realm=$REALM
domain=$DOMAIN
host=$HOST.${REALM,,}
user=Administrator
password=$ADMIN_PASSWORD
smb_conf=$dir/etc/smb.conf
STATE
}

[ $# -eq 2 ] || usage
case "$1" in
    start) start "$2" ;;
    stop) stop "$2" ;;
    *) usage ;;
esac
