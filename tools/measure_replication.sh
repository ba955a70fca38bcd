#!/usr/bin/env bash
# What one read of a controller's replication (zeltor-probe --replication) costs the controller and
# the client: two Samba AD DCs that replicate with each other (tests/integration/run_samba_dc.sh
# start, then join), the first read READS times one after another as its Administrator, each a
# probe of its own (a new connection, bind and tombstone lifetime read every time, as a probe
# run pays them). Reports the CPU time of the first controller's processes per read (every process
# of its PID namespace, smbd's included: /proc/PID/task/*/schedstat, with the CPU of the children
# that ended, from /proc/PID/stat), less what it spends idle in the same time, and the probe's
# own CPU and wall time.
#
#   tools/measure_replication.sh [READS]      20 by default
#
# Runs as root, in a network and mount namespace of its own (it makes them).
# ZELTOR_PROBE names the program (default build/platform/linux/probe/zeltor-probe).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${ZELTOR_MEASURE_REPLICATION_NS:-}" ]; then
    exec env ZELTOR_MEASURE_REPLICATION_NS=1 unshare --net --mount \
        bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
reads=${1:-20}
probe=${ZELTOR_PROBE:-build/platform/linux/probe/zeltor-probe}
[ -x "$probe" ] || { echo "no $probe: build the target zeltor-probe, or set ZELTOR_PROBE" >&2; exit 1; }

scratch=$(mktemp -d /tmp/zeltor-replication-measure.XXXXXX)
first=$scratch/a.state
second=$scratch/b.state
cleanup() {
    tests/integration/run_samba_dc.sh stop "$second" >/dev/null 2>&1 || true
    tests/integration/run_samba_dc.sh stop "$first" >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT
tests/integration/run_samba_dc.sh start "$first" 127.0.0.21 REPL.TEST dca >/dev/null
tests/integration/run_samba_dc.sh join "$second" "$first" 127.0.0.22 dcb >/dev/null
value() { sed -n "s/^$1=//p" "$first"; }
host=$(value host)
{ cat /etc/hosts; echo "$(value address) $host"; } > "$scratch/hosts"
mount -n --bind "$scratch/hosts" /etc/hosts
# The reverse name of loopback is localhost, which GSSAPI would ask a ticket for.
printf '[libdefaults]\n rdns = false\n dns_lookup_kdc = false\n' > "$scratch/krb5.conf"
export KRB5_CONFIG=$scratch/krb5.conf
value password > "$scratch/password"
chmod 600 "$scratch/password"
root=$(awk '{print $1}' "/proc/$(value pid)/task/$(value pid)/children")
namespace=$(readlink "/proc/$root/ns/pid")

# Nanoseconds of CPU of every process in the controller's PID namespace.
controller_cpu() {
    local total=0 pid task run ticks
    for pid in /proc/[0-9]*; do
        [ "$(readlink "$pid/ns/pid" 2>/dev/null)" = "$namespace" ] || continue
        for task in "$pid"/task/*/schedstat; do
            read -r run _ < "$task" 2>/dev/null || continue
            total=$((total + run))
        done
        ticks=$(awk '{print $16 + $17}' "$pid/stat" 2>/dev/null || echo 0)
        total=$((total + ticks * 1000000000 / $(getconf CLK_TCK)))
    done
    echo "$total"
}

run() {
    "$probe" --replication -u "$(value domain)\\$(value user)" --password-file="$scratch/password" -f json "$host"
}
run > "$scratch/first.json" || { cat "$scratch/first.json"; echo "the read fails" >&2; exit 1; }
sleep 2
idle_before=$(controller_cpu); sleep 5; idle=$(( $(controller_cpu) - idle_before ))
before=$(controller_cpu)
start=$(date +%s%N)
TIMEFORMAT='%U %S'
client=$( { time (for ((i = 0; i < reads; i++)); do run > /dev/null || echo "a read failed" >&2; done) ; } 2>&1 )
wall=$(( $(date +%s%N) - start ))
used=$(( $(controller_cpu) - before ))
idle_share=$(( idle * wall / 5000000000 ))
read -r user system <<< "$client"
awk -v n="$reads" -v used="$used" -v idle="$idle_share" -v wall="$wall" -v user="$user" -v sys_s="$system" 'BEGIN {
    printf "reads: %d, %.1f ms each (wall)\n", n, wall / n / 1e6
    printf "controller CPU per read: %.1f ms (%.1f ms measured, less %.1f ms it spends idle in that time)\n",
           (used - idle) / n / 1e6, used / n / 1e6, idle / n / 1e6
    printf "client CPU per read: %.1f ms (user %.1f, system %.1f)\n", (user + sys_s) * 1000 / n, user * 1000 / n, sys_s * 1000 / n
}'
