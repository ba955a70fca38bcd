#!/usr/bin/env bash
# Runs a Samba Active Directory domain controller for the integration tests: provisioned into a
# fresh directory under /tmp and served on loopback only (interface lo: 127.0.0.1 and ::1).
# Its DNS forwards nothing, and the services that would reach out on their own (NetBIOS and
# WINS, dynamic DNS updates, the NTP signer) do not run, so it sends nothing off the machine;
# it touches nothing outside its directory.
#
#   run_samba_dc.sh start STATE [ADDRESS REALM HOST]
#                                 provisions and starts it, then writes STATE: key=value lines
#                                 (dir, pid, address, dns_port, realm, domain, host, user,
#                                 password, smb_conf) for the tests to read. By default it serves
#                                 lo as dc1 of ZELTOR.TEST; given an ADDRESS, it serves that address
#                                 of lo alone (added to lo), and looks names up in its own DNS
#   run_samba_dc.sh join STATE FIRST_STATE ADDRESS HOST
#                                 a second controller of the first's domain, joined to it as a DC
#                                 and serving ADDRESS alone; its records go to the first's DNS, then
#                                 every naming context is replicated both ways until each has
#                                 succeeded (so both list each other as inbound partners)
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

ADDRESS=${3:-127.0.0.1}
REALM=${4:-ZELTOR.TEST}
HOST=${5:-dc1}
DOMAIN=${REALM%%.*}
readonly ADMIN_PASSWORD='Zeltor-Test-Adm1n!'
# Bounded waits, in half seconds.
readonly START_POLLS=120
# Rounds of forced replication after a join, each of every naming context both ways.
readonly REPLICATION_ROUNDS=10
readonly STOP_POLLS=40

usage() {
    echo "usage: $0 start STATE [ADDRESS REALM HOST] | join STATE FIRST_STATE ADDRESS HOST | stop STATE" >&2
    exit 2
}

readonly FIXTURE=run_samba_dc
readonly TEMP_PREFIX=/tmp/zeltor-dc
peer_logs() {
    echo "$1/provision.log" "$1/samba.out" "$1"/log/log.*
}
# shellcheck source=peer_fixture.sh
. "$(dirname "$0")/peer_fixture.sh"

# Starts the controller of directory $2 (state file $1) and waits for its ports.
serve() {
    local state=$1 dir=$2 pid i port
    # Some paths are built into Samba rather than taken from smb.conf: smbd finds winbindd
    # through a socket under /run/samba, and the RPC helpers log to /var/log/samba. So samba runs
    # in a mount namespace of its own where /run is empty, /run/samba is our directory's run/ and
    # /var/log/samba its log/ (mount -n: no record of these mounts under the real /run). It is
    # also the first process of a PID namespace of its own: the RPC helpers that smbd starts
    # leave its process group, and they all end when it does. A controller of its own address
    # finds its partners (<GUID>._msdcs.<forest>) in the domain's DNS: its resolv.conf names it.
    setsid unshare --mount --propagation private --pid --mount-proc --kill-child=TERM -- bash -c '
        mount -n -t tmpfs -o mode=0755 zeltor-run /run &&
        mkdir /run/samba &&
        mount -n --bind "$1/run" /run/samba &&
        { [ ! -d /var/log/samba ] || mount -n --bind "$1/log" /var/log/samba; } &&
        { [ ! -f "$1/resolv.conf" ] || mount -n --bind "$1/resolv.conf" /etc/resolv.conf; } &&
        { [ ! -f "$1/krb5.conf" ] || export KRB5_CONFIG="$1/krb5.conf"; } &&
        if [ -n "$2" ]; then
            export LDB_MODULES_DISABLE_DEEPBIND=1 FAKETIME="+$2" \
                LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1
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

}

# A controller of its own address looks names up in the domain's DNS at $2, and asks its own KDC
# (at $3) for its tickets to its partners, whatever case their principals give the realm.
resolver() {
    echo "nameserver $2" > "$1/resolv.conf"
    cat > "$1/krb5.conf" <<KRB5
[libdefaults]
 default_realm = $REALM
 dns_lookup_realm = false
 dns_lookup_kdc = false
 rdns = false
[realms]
 $REALM = {
  kdc = $3
 }
 ${REALM,,} = {
  kdc = $3
 }
[domain_realm]
 .${REALM,,} = $REALM
 ${REALM,,} = $REALM
KRB5
}

# The GUID of the NTDS Settings object of the controller at $ADDRESS (its directory $1).
ntds_guid() {
    timeout 60 samba-tool drs showrepl "$ADDRESS" --json -s "$1/empty.conf" --use-kerberos=off \
        -U "Administrator%$ADMIN_PASSWORD" 2>> "$1/provision.log" \
        | /usr/bin/python3 -c 'import json, sys; print(json.load(sys.stdin)["dsa"]["objectGUID"])'
}

# The controller serves lo's own addresses (the default), or its own address of lo alone. Not
# "lo": that is every address lo has when samba starts, among them another controller's.
interfaces() {
    if [ "$ADDRESS" = 127.0.0.1 ]; then
        echo "127.0.0.1 ::1"
    else
        case "$(ip -o -4 addr show dev lo)" in
            *"inet $ADDRESS/"*) ;;
            *) ip addr add "$ADDRESS/8" dev lo ;;
        esac
        echo "$ADDRESS"
    fi
}

start() {
    local state=$1 dir port
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
        --option="interfaces = $(interfaces)" --option="bind interfaces only = yes" \
        --option="log file = $dir/log/log.%m" \
        --option="usershare path = $dir/usershares" \
        --option="server services = s3fs rpc ldap cldap kdc drepl winbindd kcc dns" \
        --option="restrict anonymous = 2" \
        > "$dir/provision.log" 2>&1 || fail "$state" "provisioning failed"
    # Provisioning copies the machine's resolver as forwarder; the test domain answers alone.
    sed -i '/dns forwarder/d' "$dir/etc/smb.conf"
    [ "$ADDRESS" = 127.0.0.1 ] || resolver "$dir" "$ADDRESS" "$ADDRESS"

    serve "$state" "$dir"
    # Provisioning registers no address for a controller on 127.0.0.1; the tests find it by name.
    timeout 60 samba-tool dns add "$ADDRESS" "${REALM,,}" "$HOST" A "$ADDRESS" -s "$dir/empty.conf" \
        --use-kerberos=off -U "Administrator%$ADMIN_PASSWORD" >> "$dir/provision.log" 2>&1 \
        || tail -n 1 "$dir/provision.log" | grep -q "Record already exists" \
        || fail "$state" "adding the controller's address record failed"

    # The controller's LDAP service name, which a Windows controller registers and Samba's
    # dnsupdate service (not run here) would: what a Kerberos bind to its LDAP asks a ticket for.
    timeout 60 samba-tool spn add "ldap/$HOST.${REALM,,}" "${HOST^^}\$" -s "$dir/etc/smb.conf" \
        >> "$dir/provision.log" 2>&1 || fail "$state" "adding the controller's LDAP service name failed"
    # And the replication service's name (<DRSUAPI>/<NTDS Settings GUID>/<domain>), which a second
    # controller asks a ticket for to pull from this one; the join copies it there.
    if [ "$ADDRESS" != 127.0.0.1 ]; then
        timeout 60 samba-tool spn add "E3514235-4B06-11D1-AB04-00C04FC2DCD2/$(ntds_guid "$dir")/${REALM,,}" \
            "${HOST^^}\$" -s "$dir/etc/smb.conf" >> "$dir/provision.log" 2>&1 \
            || fail "$state" "adding the controller's replication service name failed"
    fi

    write_state "$state" "$dir"
}

write_state() {
    cat >> "$1" <<STATE
address=$ADDRESS
dns_port=53
realm=$REALM
domain=$DOMAIN
host=$HOST.${REALM,,}
user=Administrator
password=$ADMIN_PASSWORD
smb_conf=$2/etc/smb.conf
STATE
}

# Every naming context replicated from controller $2 to controller $1 (addresses), both named by
# host ($3: the source's), once each.
replicate_all() {
    local nc ok=0
    for nc in "$BASE" "CN=Configuration,$BASE" "CN=Schema,CN=Configuration,$BASE" \
              "DC=DomainDnsZones,$BASE" "DC=ForestDnsZones,$BASE"; do
        timeout 60 samba-tool drs replicate "$1" "$3" "$nc" -U "Administrator%$ADMIN_PASSWORD" \
            --use-kerberos=off >> "$LOG" 2>&1 || ok=1
    done
    return $ok
}

join() {
    local state=$1 first=$2 dir port first_address first_host guid i
    ADDRESS=$3
    HOST=$4
    REALM=$(state_value realm "$first")
    DOMAIN=$(state_value domain "$first")
    first_address=$(state_value address "$first")
    first_host=$(state_value host "$first")
    first_host=${first_host%%.*}
    BASE=DC=${REALM,,}
    BASE=${BASE//./,DC=}
    stop "$state"
    for port in 53 88 389 445; do
        if listening "$ADDRESS" "$port"; then
            echo "run_samba_dc: something already listens on $ADDRESS:$port" >&2
            exit 1
        fi
    done
    dir=$(mktemp -d /tmp/zeltor-dc.XXXXXX)
    chmod o+x "$dir"
    echo "dir=$dir" > "$state"
    mkdir -p "$dir/run" "$dir/log"
    LOG=$dir/provision.log
    : > "$dir/empty.conf"
    timeout 300 samba-tool domain join "${REALM,,}" DC -s "$dir/empty.conf" --server="$first_address" \
        -U "Administrator%$ADMIN_PASSWORD" --use-kerberos=off --dns-backend=SAMBA_INTERNAL \
        --targetdir="$dir" --option="netbios name = ${HOST^^}" \
        --option="interfaces = $(interfaces)" --option="bind interfaces only = yes" \
        --option="log file = $dir/log/log.%m" \
        --option="usershare path = $dir/usershares" \
        --option="server services = s3fs rpc ldap cldap kdc drepl winbindd kcc dns" \
        --option="restrict anonymous = 2" \
        > "$LOG" 2>&1 || fail "$state" "joining the domain failed"
    sed -i '/dns forwarder/d' "$dir/etc/smb.conf"
    resolver "$dir" "$first_address" "$ADDRESS"
    serve "$state" "$dir"

    # The join registers no records for a loopback address: its address and the alias its
    # partners replicate from (<NTDS Settings GUID>._msdcs.<forest>), in the first's DNS.
    timeout 60 samba-tool dns add "$first_address" "${REALM,,}" "$HOST" A "$ADDRESS" -s "$dir/empty.conf" \
        --use-kerberos=off -U "Administrator%$ADMIN_PASSWORD" >> "$LOG" 2>&1 \
        || tail -n 1 "$LOG" | grep -q "Record already exists" \
        || fail "$state" "adding the controller's address record failed"
    guid=$(ntds_guid "$dir") || fail "$state" "reading the controller's GUID failed"
    timeout 60 samba-tool dns add "$first_address" "_msdcs.${REALM,,}" "$guid" CNAME "$HOST.${REALM,,}" \
        -s "$dir/empty.conf" --use-kerberos=off -U "Administrator%$ADMIN_PASSWORD" >> "$LOG" 2>&1 || true
    timeout 60 samba-tool spn add "ldap/$HOST.${REALM,,}" "${HOST^^}\$" -s "$dir/etc/smb.conf" \
        >> "$LOG" 2>&1 || fail "$state" "adding the controller's LDAP service name failed"

    # Each pulls every naming context from the other, until all have succeeded once.
    for ((i = 0; i < REPLICATION_ROUNDS; i++)); do
        replicate_all "$first_address" "$ADDRESS" "$HOST" && replicate_all "$ADDRESS" "$first_address" "$first_host" \
            && break
        sleep 2
    done
    [ "$i" -lt "$REPLICATION_ROUNDS" ] || fail "$state" "the naming contexts did not replicate both ways"
    write_state "$state" "$dir"
}

[ $# -ge 2 ] || usage
case "$1" in
    start) start "$2" ;;
    join) [ $# -eq 5 ] || usage; join "$2" "$3" "$4" "$5" ;;
    stop) stop "$2" ;;
    *) usage ;;
esac
