#!/usr/bin/env bash
# What one read of a controller's replication costs the controller and the client: two Samba AD
# DCs that replicate with each other (tests/integration/run_samba_dc.sh start, then join), the
# first read READS times one after another as its Administrator, either by zeltor-probe
# --replication, each a probe of its own (a new connection, bind and tombstone lifetime read every
# time, as a probe run pays them), or by zeltor-exporter's module replication, a scrape a read
# over curl, its connection kept between scrapes (the first scrape, which makes it, is not
# counted). Reports the CPU time of the first controller's processes per read (every process of
# its PID namespace, smbd's included: /proc/PID/task/*/schedstat, with the CPU of the children
# that ended, from /proc/PID/stat), less what it spends idle in the same time, the client's own
# CPU (the exporter's from its /proc/PID/stat, not curl's) and wall time, and for the exporter
# what reading 100 controllers every 5 minutes would take of a core.
#
#   tools/measure_replication.sh [READS] [probe|exporter]      20 reads by the probe by default
#
# Runs as root, in a network and mount namespace of its own (it makes them).
# ZELTOR_PROBE and ZELTOR_EXPORTER name the programs (default build/platform/linux/probe/zeltor-probe,
# build/platform/linux/exporter/zeltor-exporter).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${ZELTOR_MEASURE_REPLICATION_NS:-}" ]; then
    exec env ZELTOR_MEASURE_REPLICATION_NS=1 unshare --net --mount \
        bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
reads=${1:-20}
client=${2:-probe}
probe=${ZELTOR_PROBE:-build/platform/linux/probe/zeltor-probe}
exporter=${ZELTOR_EXPORTER:-build/platform/linux/exporter/zeltor-exporter}
case "$client" in
    probe) [ -x "$probe" ] || { echo "no $probe: build the target zeltor-probe, or set ZELTOR_PROBE" >&2; exit 1; } ;;
    exporter) [ -x "$exporter" ] || { echo "no $exporter: build zeltor-exporter, or set ZELTOR_EXPORTER" >&2; exit 1; } ;;
    *) echo "usage: $0 [READS] [probe|exporter]" >&2; exit 2 ;;
esac

scratch=$(mktemp -d /tmp/zeltor-replication-measure.XXXXXX)
first=$scratch/a.state
second=$scratch/b.state
exporter_pid=
cleanup() {
    [ -z "$exporter_pid" ] || kill "$exporter_pid" 2>/dev/null || true
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

if [ "$client" = exporter ]; then
    cat > "$scratch/exporter.yml" <<YAML
listen: 127.0.0.1:9755
auths:
  admin:
    user: '$(value domain)\\$(value user)'
    password_file: $scratch/password
    targets: [$host]
YAML
    "$exporter" --config "$scratch/exporter.yml" > "$scratch/exporter.log" 2>&1 &
    exporter_pid=$!
    for ((i = 0; i < 50; i++)); do curl -sf http://127.0.0.1:9755/-/ready > /dev/null && break; sleep 0.2; done
    # A read is a scrape; it failed when the replication could not be read.
    run() {
        local out
        out=$(curl -sf "http://127.0.0.1:9755/probe?target=$host&module=replication&auth=admin") || return 1
        echo "$out"
        grep -q '^zeltor_replication_read_success 1$' <<< "$out"
    }
    # utime and stime of the whole process, in clock ticks.
    client_ticks() { awk '{print $14 + $15}' "/proc/$exporter_pid/stat"; }
else
    run() {
        "$probe" --replication -u "$(value domain)\\$(value user)" --password-file="$scratch/password" -f json "$host"
    }
fi
run > "$scratch/first.json" || { cat "$scratch/first.json"; echo "the read fails" >&2; exit 1; }
sleep 2
idle_before=$(controller_cpu); sleep 5; idle=$(( $(controller_cpu) - idle_before ))
before=$(controller_cpu)
[ "$client" != exporter ] || ticks_before=$(client_ticks)
start=$(date +%s%N)
TIMEFORMAT='%U %S'
times=$( { time (for ((i = 0; i < reads; i++)); do run > /dev/null || echo "a read failed" >&2; done) ; } 2>&1 )
wall=$(( $(date +%s%N) - start ))
used=$(( $(controller_cpu) - before ))
idle_share=$(( idle * wall / 5000000000 ))
if [ "$client" = exporter ]; then
    user=$(awk -v t="$(( $(client_ticks) - ticks_before ))" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", t / hz }')
    system=0
else
    read -r user system <<< "$times"
fi
awk -v n="$reads" -v used="$used" -v idle="$idle_share" -v wall="$wall" -v user="$user" -v sys_s="$system" \
    -v client="$client" 'BEGIN {
    printf "reads: %d by the %s, %.1f ms each (wall)\n", n, client, wall / n / 1e6
    printf "controller CPU per read: %.1f ms (%.1f ms measured, less %.1f ms it spends idle in that time)\n",
           (used - idle) / n / 1e6, used / n / 1e6, idle / n / 1e6
    if (client == "exporter") {
        per = (user + sys_s) * 1000 / n
        printf "exporter CPU per read: %.2f ms (user and system)\n", per
        printf "100 controllers every 5 minutes: %.3f %% of a core\n", per * 100 / 300 / 1000 * 100
    } else {
        printf "client CPU per read: %.1f ms (user %.1f, system %.1f)\n", (user + sys_s) * 1000 / n, user * 1000 / n, sys_s * 1000 / n
    }
}'
