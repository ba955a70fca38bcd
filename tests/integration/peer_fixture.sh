# What the fixtures of the loopback peers (run_samba_dc.sh, run_smbd.sh) share: their state files,
# the bounded waits, and stopping a server that runs as the first process of a PID namespace of its
# own. Sourced by them. The fixture sets FIXTURE (its name in messages), TEMP_PREFIX (its
# directories are "$TEMP_PREFIX".XXXXXX), STOP_POLLS (half seconds), and defines peer_logs DIR,
# which prints the paths of the log files worth showing when the start fails.

state_value() {
    sed -n "s/^$1=//p" "$2"
}

# Whether process $1 runs (a zombie does not: nothing may be reaping it here).
alive() {
    local stat
    stat=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null) || return 1
    [ -n "$stat" ] && [ "${stat%% *}" != Z ]
}

# Whether something accepts connections at address $1, port $2.
listening() {
    timeout 1 bash -c "exec 3<>/dev/tcp/$1/$2" 2>/dev/null
}

# Stops the server of state file $1, then removes its directory and the state file. The state's
# pid is unshare, which waits for its one child: the server, the first process of the PID
# namespace. Every other process in the namespace ends with the server, then unshare exits.
stop() {
    local state=$1 dir pid child signal i
    [ -f "$state" ] || return 0
    dir=$(state_value dir "$state")
    pid=$(state_value pid "$state")
    if [ -n "$pid" ] && alive "$pid"; then
        child=$(cat "/proc/$pid/task/$pid/children" 2>/dev/null || true)
        for signal in TERM KILL; do
            [ -z "$child" ] || kill "-$signal" $child 2>/dev/null || true
            for ((i = 0; i < STOP_POLLS; i++)); do
                alive "$pid" || break 2
                sleep 0.5
            done
        done
    fi
    case "$dir" in
        "$TEMP_PREFIX".*) rm -rf "$dir" ;;
    esac
    rm -f "$state"
}

# Says why the start failed, shows the server's logs, stops it and exits.
fail() {
    local state=$1 dir log
    shift
    echo "$FIXTURE: $*" >&2
    dir=$(state_value dir "$state")
    for log in $(peer_logs "$dir"); do
        if [ -f "$log" ]; then
            echo "--- $log" >&2
            tail -n 30 "$log" >&2
        fi
    done
    stop "$state"
    exit 1
}
