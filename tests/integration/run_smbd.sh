#!/usr/bin/env bash
# Runs a standalone Samba file server (smbd) for the tests: its own configuration, account and
# databases in a fresh directory under /tmp, served on 127.0.0.1 at port 4450 only (or another
# address and port), so that it runs beside the domain controller of run_samba_dc.sh (127.0.0.1,
# port 445). Its winreg (samba-dcerpcd's
# rpcd_winreg, started on demand) answers HKEY_PERFORMANCE_DATA from the perfmon databases of
# its state directory, empty at start: fill_perfmon.py fills them.
#
#   run_smbd.sh start STATE [PORT [ADDRESS]]   starts it (on PORT, 4450 by default, and ADDRESS,
#                             127.0.0.1 by default), then writes STATE: key=value lines (dir, pid, address,
#                             port, host, user, user_gid, password, perfmon, smb_conf) for the tests
#   run_smbd.sh stop STATE    stops it and removes its directory and STATE
#   run_smbd.sh password STATE NEW   sets the account's password, as an administrator would
#   run_smbd.sh drop STATE    ends every client's connection (their smbd processes)
#   run_smbd.sh pause|resume STATE   stops every process of the server (SIGSTOP), or lets them go
#
# Needs root (an account of its own in a private mount namespace, and Samba's built-in paths).
# ZELTOR_SMBD_AUTH_AUDIT=3 logs the successful logons as well (tools/measure_exporter.sh counts them).
set -euo pipefail

readonly PORT=${3:-4450}
readonly ADDRESS=${4:-127.0.0.1}
readonly NETBIOS_NAME=PEER1
readonly USER_NAME=zeltor
readonly USER_ID=4242
readonly USER_PASSWORD='Zeltor-Peer-Pa55!'
# Bounded waits, in half seconds.
readonly START_POLLS=60
readonly STOP_POLLS=40

usage() {
    echo "usage: $0 start|stop STATE" >&2
    exit 2
}

readonly FIXTURE=run_smbd
readonly TEMP_PREFIX=/tmp/zeltor-smbd
peer_logs() {
    echo "$1/smbd.out" "$1"/log/*
}
# shellcheck source=peer_fixture.sh
. "$(dirname "$0")/peer_fixture.sh"

start() {
    local state=$1 dir pid i
    stop "$state"
    [ "$(id -u)" -eq 0 ] || { echo "run_smbd: must run as root" >&2; exit 1; }
    command -v smbd >/dev/null && command -v pdbedit >/dev/null \
        || { echo "run_smbd: smbd and pdbedit are missing (tools/install-deps.sh)" >&2; exit 1; }
    if listening "$ADDRESS" "$PORT"; then
        echo "run_smbd: something already listens on $ADDRESS:$PORT" >&2
        exit 1
    fi

    dir=$(mktemp -d /tmp/zeltor-smbd.XXXXXX)
    echo "dir=$dir" > "$state"
    mkdir -p "$dir"/{run,log,state/perfmon,lock,private,cache,ncalrpc,etc}
    chmod 755 "$dir"
    cat > "$dir/smb.conf" <<CONF
[global]
    server role = standalone server
    netbios name = $NETBIOS_NAME
    workgroup = ZELTORWG
    interfaces = $ADDRESS/8
    bind interfaces only = yes
    smb ports = $PORT
    disable netbios = yes
    state directory = $dir/state
    lock directory = $dir/lock
    private dir = $dir/private
    cache directory = $dir/cache
    pid directory = $dir/run
    ncalrpc dir = $dir/ncalrpc
    log file = $dir/log/log.%m
    passdb backend = tdbsam:$dir/private/passdb.tdb
    usershare path =
    load printers = no
    printcap name = /dev/null
    disable spoolss = yes
    map to guest = never
    # Refused logons are logged (the tests count them), successful ones not unless asked.
    log level = 1 auth_audit:${ZELTOR_SMBD_AUTH_AUDIT:-2}
CONF
    # The account lives in a copy of the user database that only this server's mount namespace
    # sees, so the machine's own is not touched.
    cp /etc/passwd "$dir/etc/passwd"
    cp /etc/group "$dir/etc/group"
    echo "$USER_NAME:x:$USER_ID:$USER_ID::/nonexistent:/usr/sbin/nologin" >> "$dir/etc/passwd"
    echo "$USER_NAME:x:$USER_ID:" >> "$dir/etc/group"

    # As for the domain controller: /run/samba and /var/log/samba, built into Samba's helpers,
    # are this directory's; smbd is the first process of a PID namespace of its own.
    setsid unshare --mount --propagation private --pid --mount-proc --kill-child=TERM -- bash -c '
        mount -n --bind "$1/etc/passwd" /etc/passwd &&
        mount -n --bind "$1/etc/group" /etc/group &&
        mount -n -t tmpfs -o mode=0755 zeltor-run /run &&
        mkdir /run/samba &&
        mount -n --bind "$1/run" /run/samba &&
        { [ ! -d /var/log/samba ] || mount -n --bind "$1/log" /var/log/samba; } &&
        printf "%s\n%s\n" "$3" "$3" | pdbedit -s "$1/smb.conf" -a -t -u "$2" > "$1/log/pdbedit.out" 2>&1 &&
        exec smbd --foreground --no-process-group --debug-stdout -s "$1/smb.conf"' \
        smbd "$dir" "$USER_NAME" "$USER_PASSWORD" < /dev/null > "$dir/smbd.out" 2>&1 &
    pid=$!
    echo "pid=$pid" >> "$state"
    for ((i = 0; i < START_POLLS; i++)); do
        listening "$ADDRESS" "$PORT" && break
        alive "$pid" || fail "$state" "smbd exited"
        sleep 0.5
    done
    listening "$ADDRESS" "$PORT" || fail "$state" "nothing listens on $ADDRESS:$PORT"

    cat >> "$state" <<STATE
address=$ADDRESS
port=$PORT
host=$NETBIOS_NAME
user=$USER_NAME
user_gid=$USER_ID
password=$USER_PASSWORD
perfmon=$dir/state/perfmon
smb_conf=$dir/smb.conf
STATE
}

# The processes of the server: unshare's descendants, the server first.
server_processes() {
    local pid
    pid=$(state_value pid "$1")
    descendants "$pid"
}
descendants() {
    local child
    for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
        echo "$child"
        descendants "$child"
    done
}

# The account's password, changed with Samba's own tool in the server's mount namespace, where
# its Unix account is.
set_password() {
    local state=$1 password=$2 pid
    pid=$(state_value pid "$state")
    printf "%s\n%s\n" "$password" "$password" \
        | nsenter -t "$pid" -m -r -w -- smbpasswd -c "$(state_value smb_conf "$state")" -s "$(state_value user "$state")" >/dev/null
}

# Ends every client's connection: the processes that hold the server's end of one.
drop_clients() {
    local port
    port=$(state_value port "$1")
    ss -Htnp state established "( sport = :$port )" | grep -o 'pid=[0-9]*' | cut -d= -f2 | sort -u \
        | xargs -r kill -KILL
}

[ $# -ge 2 ] && [ $# -le 4 ] || usage
case "$1" in
    start) start "$2" ;;
    stop) stop "$2" ;;
    password) [ $# -eq 3 ] || usage; set_password "$2" "$3" ;;
    drop) drop_clients "$2" ;;
    pause) kill -STOP $(server_processes "$2") ;;
    resume) kill -CONT $(server_processes "$2") ;;
    *) usage ;;
esac
