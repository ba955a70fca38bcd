#!/usr/bin/env bash
# Measures one remote refresh against a Samba peer on loopback: starts a standalone smbd
# (tests/integration/run_smbd.sh) in a private network namespace, fills its perfmon databases
# with a Windows-sized Process object (200 instances), and runs the refresh, the bare query
# through the same library, and python3-samba's winreg doing the same query. Needs root.
#   tools/bench-remote.sh [BUILD_DIR]    (a RelWithDebInfo build with zeltor_remote_bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-rel}
[ -x "$build/bench/zeltor_remote_bench" ] || { echo "bench-remote: build $build/bench/zeltor_remote_bench first" >&2; exit 2; }
exec unshare -n bash -c '
    set -euo pipefail
    ip link set lo up
    root=$1 build=$2
    state=$(mktemp /tmp/zeltor-bench.XXXXXX)
    trap "\"$root/tests/integration/run_smbd.sh\" stop \"$state\"" EXIT
    "$root/tests/integration/run_smbd.sh" start "$state"
    perfmon=$(sed -n "s/^perfmon=//p" "$state")
    /usr/bin/python3 "$root/tests/integration/fill_perfmon.py" "$perfmon" --processes 200
    # The figures change twice a second, as a provider would change them, while the runs last.
    /usr/bin/python3 "$root/tests/integration/fill_perfmon.py" "$perfmon" --processes 200 --every 0.5 --for 600 &
    filler=$!
    trap "kill $filler; \"$root/tests/integration/run_smbd.sh\" stop \"$state\"" EXIT
    # The objects of the thirteen counters, as the fixture numbers them.
    echo "objects=2 8 24 30 36" >> "$state"
    ZELTOR_SMBD_STATE=$state "$build/bench/zeltor_remote_bench" --benchmark_repetitions=3 \
        --benchmark_report_aggregates_only=true --benchmark_min_time=1
    /usr/bin/python3 "$root/bench/winreg_python_bench.py" "$state" 500
' bench-remote "$root" "$build"
