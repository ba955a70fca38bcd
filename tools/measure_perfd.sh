#!/usr/bin/env bash
# Runs zeltor-perfd (RelWithDebInfo) at one update a second on a temporary state directory,
# for 60 s (or $1 seconds), with 2,000 extra idle processes (or $2), and reports its CPU time
# (user + system, from the scheduler) and its memory. With "busy" as $3, a loop also starts a
# short-lived process ten times a second, as on a machine that starts processes all the time.
# With "private" as $4, all of it runs in a PID namespace of its own with its own /proc (needs
# root), so that the processes the rest of the machine starts and ends are not in the figures.
# Ends with the provider's own account of its samples: how many waited for an answer of Samba's
# server to end, were passed over, or were published during one (docs/perfd.md).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
extra=${2:-2000}
mode=${3:-idle}
scope=${4:-machine}
exe=build-rel/perfd/zeltor-perfd
if [ "$scope" = private ] && [ -z "${ZELTOR_MEASURE_PRIVATE:-}" ]; then
    exec env ZELTOR_MEASURE_PRIVATE=1 unshare --pid --fork --mount-proc "$0" "$seconds" "$extra" "$mode" "$scope"
fi
cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build-rel --target zeltor-perfd >/dev/null

state=$(mktemp -d /tmp/zeltor-perfd-measure.XXXXXX)
children=()
cleanup() {
    [ ${#children[@]} -eq 0 ] || kill "${children[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$state"
}
trap cleanup EXIT

for _ in $(seq "$extra"); do
    sleep 100000 &
    children+=($!)
done
if [ "$mode" = busy ]; then
    (while :; do /bin/true; sleep 0.1; done) &
    children+=($!)
fi

"$exe" --state-dir "$state" 2>"$state/perfd.log" &
pid=$!
children+=("$pid")
sleep 5 # the first listing and the first round of counts

# CPU time in nanoseconds from the scheduler (/proc/PID/schedstat, its first field): finer than
# the clock ticks of /proc/PID/stat.
read_cpu() { awk '{ print $1 }' "/proc/$pid/schedstat"; }
start_cpu=$(read_cpu)
start=$(date +%s.%N)
sleep "$seconds"
end_cpu=$(read_cpu)
end=$(date +%s.%N)
processes=$(ls /proc | grep -c '^[0-9]')
instances=$(tdbdump -k 230inst "$state/perfmon/names.tdb")
rss_kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
sizes=$(stat -c '%n %s' "$state"/perfmon/*.tdb "$state"/perfmon/.zeltor-perfd.*.tdb | sed "s|$state/perfmon/||" | tr '\n' ' ')

awk -v c0="$start_cpu" -v c1="$end_cpu" -v t0="$start" -v t1="$end" -v n="$processes" -v i="$instances" \
    -v mode="$mode$([ "$scope" = private ] && echo " (own PID namespace)")" -v rss="$rss_kb" -v peak="$peak_kb" -v sizes="$sizes" 'BEGIN {
    cpu = (c1 - c0) / 1e9; elapsed = t1 - t0;
    printf "zeltor-perfd, %s machine of %d processes (%d Process instances published), %.1f s at one update a second:\n", mode, n, i, elapsed
    printf "  CPU %.3f s (user + system): %.3f %% of one core, %.2f ms an update\n", cpu, 100 * cpu / elapsed, 1000 * cpu / elapsed
    printf "  resident %.1f MiB (peak %.1f MiB); files: %s\n", rss / 1024, peak / 1024, sizes }'
kill -TERM "$pid"
wait "$pid" 2>/dev/null || true
sed -n 's/^zeltor-perfd: \(.*samples published.*\)/  \1/p' "$state/perfd.log"
