#!/usr/bin/env bash
# Runs the real Linux program on a virtual display, clicks Update (Auto Update is ticked at
# start), lets it refresh for a while (60 s, or $1 seconds), and reports the program's CPU time
# (user + system) over the elapsed time and its peak resident memory. Needs xvfb and xdotool.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
exe=build-rel/platform/qt/zeltor
cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build build-rel --target zeltor >/dev/null

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$exe" &
pid=$!
window=""
for _ in $(seq 100); do
    window=$(xdotool search --name '^Zeltor$' 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "measure: the window did not appear" >&2; kill "$pid"; exit 1; }
sleep 1
# The Update button: 243,74 50x14 dialog units; its centre in the dialog font's base units
# (6 x 13 pixels for Liberation Sans at 8 points).
xdotool mousemove --window "$window" $(((243 + 25) * 6 / 4)) $(((74 + 7) * 13 / 8)) click 1

# CPU time in nanoseconds from the scheduler (/proc/PID/schedstat, its first field, summed over
# the threads): finer than the clock ticks of /proc/PID/stat.
read_cpu() { cat /proc/"$pid"/task/*/schedstat | awk '{ s += $1 } END { print s }'; }
start_cpu=$(read_cpu)
start=$(date +%s.%N)
sleep "$seconds"
end_cpu=$(read_cpu)
end=$(date +%s.%N)
# What the window showed at the end, to check that it was refreshing.
import -window root build-rel/auto-update.png || true
peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
rss_kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
kill "$pid"
wait "$pid" 2>/dev/null || true

awk -v c0="$start_cpu" -v c1="$end_cpu" -v t0="$start" -v t1="$end" -v peak="$peak_kb" -v rss="$rss_kb" 'BEGIN {
    cpu = (c1 - c0) / 1e9; elapsed = t1 - t0;
    printf "Auto Update for %.1f s: CPU %.3f s (user + system), %.3f %% of one core; peak resident %.1f MiB, resident at the end %.1f MiB\n",
        elapsed, cpu, 100 * cpu / elapsed, peak / 1024, rss / 1024 }'
echo "the window at the end: build-rel/auto-update.png"
