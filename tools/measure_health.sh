#!/usr/bin/env bash
# What one health check costs the controller and the client: a Samba AD DC on loopback
# (tests/integration/run_samba_dc.sh), checked CHECKS times one after another as its
# Administrator, by zeltor-probe --health (a process a check) or by zeltor-exporter's module
# health (one process, a scrape a check, over curl). Reports the CPU time of the controller's
# processes per check (every process of its PID namespace, smbd's included:
# /proc/PID/task/*/schedstat, nanoseconds, with the CPU of the children that ended, from
# /proc/PID/stat), the client's own CPU and wall time, and for the exporter what checking 100
# controllers every 30 s would take of a core at that CPU per check.
#
#   tools/measure_health.sh [CHECKS] [probe|exporter]     20 checks by the probe by default
#
# Runs as root, in a network and mount namespace of its own (it makes them): the controller's
# ports are its own, and /etc/hosts there names the controller.
# ZELTOR_PROBE and ZELTOR_EXPORTER name the programs (default build/platform/linux/probe/zeltor-probe,
# build/platform/linux/exporter/zeltor-exporter).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${ZELTOR_MEASURE_HEALTH_NS:-}" ]; then
    exec env ZELTOR_MEASURE_HEALTH_NS=1 unshare --net --mount \
        bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
checks=${1:-20}
client=${2:-probe}
probe=${ZELTOR_PROBE:-build/platform/linux/probe/zeltor-probe}
exporter=${ZELTOR_EXPORTER:-build/platform/linux/exporter/zeltor-exporter}
case "$client" in
    probe) [ -x "$probe" ] || { echo "no $probe: build the target zeltor-probe, or set ZELTOR_PROBE" >&2; exit 1; } ;;
    exporter) [ -x "$exporter" ] || { echo "no $exporter: build zeltor-exporter, or set ZELTOR_EXPORTER" >&2; exit 1; } ;;
    *) echo "usage: $0 [CHECKS] [probe|exporter]" >&2; exit 2 ;;
esac

scratch=$(mktemp -d /tmp/zeltor-health-measure.XXXXXX)
state=$scratch/dc.state
cleanup() {
    [ -z "${exporter_pid:-}" ] || kill "$exporter_pid" 2>/dev/null || true
    tests/integration/run_samba_dc.sh stop "$state" >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT
exporter_pid=
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

if [ "$client" = exporter ]; then
    cat > "$scratch/exporter.yml" <<YAML
listen: 127.0.0.1:9755
modules:
  health: { timeout_seconds: 20 }
auths:
  admin:
    user: '$(value domain)\\$(value user)'
    password_file: $scratch/password
    targets: [$host]
YAML
    "$exporter" --config "$scratch/exporter.yml" > "$scratch/exporter.log" 2>&1 &
    exporter_pid=$!
    for ((i = 0; i < 50; i++)); do curl -sf http://127.0.0.1:9755/-/ready > /dev/null && break; sleep 0.2; done
    # A check is a scrape; it failed when a check's series says 0.
    run() {
        local out
        out=$(curl -sf -H 'X-Prometheus-Scrape-Timeout-Seconds: 20' \
            "http://127.0.0.1:9755/probe?target=$host&module=health&auth=admin") || return 1
        echo "$out"
        ! grep -q '^zeltor_health_check_success{.*} 0$' <<< "$out"
    }
    # utime and stime of the whole process, in clock ticks.
    client_ticks() { awk '{print $14 + $15}' "/proc/$exporter_pid/stat"; }
else
    run() { "$probe" --health -u "$(value domain)\\$(value user)" --password-file="$scratch/password" -f json "$host"; }
fi
# A controller just started answers its first SMB logons slowly: checked until all pass (5 tries).
for ((i = 0; ; i++)); do
    run > "$scratch/first.json" && break
    [ "$i" -lt 4 ] || { cat "$scratch/first.json"; echo "the checks do not pass" >&2; exit 1; }
done
sleep 2
idle_before=$(controller_cpu); sleep 5; idle=$(( $(controller_cpu) - idle_before ))
before=$(controller_cpu)
[ "$client" != exporter ] || ticks_before=$(client_ticks)
start=$(date +%s%N)
TIMEFORMAT='%U %S'
times=$( { time (for ((i = 0; i < checks; i++)); do run > /dev/null || echo "a check failed" >&2; done) ; } 2>&1 )
wall=$(( $(date +%s%N) - start ))
used=$(( $(controller_cpu) - before ))
idle_share=$(( idle * wall / 5000000000 ))
if [ "$client" = exporter ]; then
    # The exporter's own CPU, not curl's (which the shell's times would count).
    ticks=$(( $(client_ticks) - ticks_before ))
    user=$(awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", t / hz }')
    system=0
else
    read -r user system <<< "$times"
fi
awk -v n="$checks" -v used="$used" -v idle="$idle_share" -v wall="$wall" -v user="$user" -v sys_s="$system" \
    -v client="$client" 'BEGIN {
    printf "checks: %d by the %s, %.1f ms each (wall)\n", n, client, wall / n / 1e6
    printf "controller CPU per check: %.1f ms (%.1f ms measured, less %.1f ms it spends idle in that time)\n",
           (used - idle) / n / 1e6, used / n / 1e6, idle / n / 1e6
    if (client == "exporter") {
        per = (user + sys_s) * 1000 / n
        printf "exporter CPU per check: %.1f ms (user and system)\n", per
        printf "100 controllers every 30 s: %.1f %% of a core\n", per * 100 / 30 / 1000 * 100
    } else {
        printf "client CPU per check: %.1f ms (user %.1f, system %.1f)\n", (user + sys_s) * 1000 / n, user * 1000 / n, sys_s * 1000 / n
    }
}'
