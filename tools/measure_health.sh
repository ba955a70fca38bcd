#!/usr/bin/env bash
# What one health check (zeltor-probe --health) costs the controller and the client: a Samba AD
# DC on loopback (tests/integration/run_samba_dc.sh), checked CHECKS times one after another as
# its Administrator. Reports the CPU time of the controller's processes per check (every process
# of its PID namespace, smbd's included: /proc/PID/task/*/schedstat, nanoseconds, with the CPU
# of the children that ended, from /proc/PID/stat), and the probe's own CPU and wall time.
#
#   tools/measure_health.sh [CHECKS]      20 by default
#
# Runs as root, in a network and mount namespace of its own (it makes them): the controller's
# ports are its own, and /etc/hosts there names the controller.
# ZELTOR_PROBE names the program (default build/platform/linux/probe/zeltor-probe).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${ZELTOR_MEASURE_HEALTH_NS:-}" ]; then
    exec env ZELTOR_MEASURE_HEALTH_NS=1 unshare --net --mount \
        bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
checks=${1:-20}
probe=${ZELTOR_PROBE:-build/platform/linux/probe/zeltor-probe}
[ -x "$probe" ] || { echo "no $probe: build the target zeltor-probe, or set ZELTOR_PROBE" >&2; exit 1; }

scratch=$(mktemp -d /tmp/zeltor-health-measure.XXXXXX)
state=$scratch/dc.state
cleanup() {
    tests/integration/run_samba_dc.sh stop "$state" >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT
tests/integration/run_samba_dc.sh start "$state" >/dev/null
value() { sed -n "s/^$1=//p" "$state"; }
host=$(value host)
{ cat /etc/hosts; echo "$(value address) $host"; } > "$scratch/hosts"
mount -n --bind "$scratch/hosts" /etc/hosts
# The reverse name of loopback is localhost, which GSSAPI would ask a ticket for.
printf '[libdefaults]\n rdns = false\n' > "$scratch/krb5.conf"
export KRB5_CONFIG=$scratch/krb5.conf
value password > "$scratch/password"
chmod 600 "$scratch/password"
namespace=$(readlink "/proc/$(value pid)/ns/pid" 2>/dev/null || true)
root=$(cat "/proc/$(value pid)/task/$(value pid)/children" | awk '{print $1}')
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
        # the children that ended: cutime and cstime, in clock ticks
        ticks=$(awk '{print $16 + $17}' "$pid/stat" 2>/dev/null || echo 0)
        total=$((total + ticks * 1000000000 / $(getconf CLK_TCK)))
    done
    echo "$total"
}

run() { "$probe" --health -u "$(value domain)\\$(value user)" --password-file="$scratch/password" -f json "$host"; }
# A controller just started answers its first SMB logons slowly: checked until all pass (5 tries).
for ((i = 0; ; i++)); do
    run > "$scratch/first.json" && break
    [ "$i" -lt 4 ] || { cat "$scratch/first.json"; echo "the checks do not pass" >&2; exit 1; }
done
sleep 2
idle_before=$(controller_cpu); sleep 5; idle=$(( $(controller_cpu) - idle_before ))
before=$(controller_cpu)
start=$(date +%s%N)
TIMEFORMAT='%U %S'
client=$( { time (for ((i = 0; i < checks; i++)); do run > /dev/null || echo "a check failed" >&2; done) ; } 2>&1 )
wall=$(( $(date +%s%N) - start ))
used=$(( $(controller_cpu) - before ))
idle_share=$(( idle * wall / 5000000000 ))
read -r user system <<< "$client"
awk -v n="$checks" -v used="$used" -v idle="$idle_share" -v wall="$wall" -v user="$user" -v sys_s="$system" 'BEGIN {
    printf "checks: %d, %.1f ms each (wall)\n", n, wall / n / 1e6
    printf "controller CPU per check: %.1f ms (%.1f ms measured, less %.1f ms it spends idle in that time)\n",
           (used - idle) / n / 1e6, used / n / 1e6, idle / n / 1e6
    printf "client CPU per check: %.1f ms (user %.1f, system %.1f)\n", (user + sys_s) * 1000 / n, user * 1000 / n, sys_s * 1000 / n
}'
