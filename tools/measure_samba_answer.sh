#!/usr/bin/env bash
# What one answer of HKEY_PERFORMANCE_DATA costs a Samba server that zeltor-perfd feeds: a
# standalone smbd on loopback (tests/integration/run_smbd.sh), EXTRA idle processes beside it,
# zeltor-perfd writing its databases every second, and python3-samba's winreg client asking
# QUERIES times for the objects a Zeltor window asks for ("230 2 4 236 238"). Reports the CPU
# time of the server's processes (smbd, samba-dcerpcd, rpcd_winreg: /proc/PID/task/*/schedstat,
# which counts nanoseconds) and the client's wall time per answer, and the answer's size.
#
#   tools/measure_samba_answer.sh [EXTRA [QUERIES [ZELTOR-PERFD OPTION...]]]
#       EXTRA 2000 and QUERIES 20 by default; options such as --all-processes go to zeltor-perfd
#
# Runs as root, in a network namespace and a PID namespace of its own (it makes them), so that
# the server's port is its own and the Process object holds only the processes started here.
# ZELTOR_PERFD names the program (default build/perfd/zeltor-perfd); with ZELTOR_PROFILE=FILE,
# perf records the server's processes during the queries to FILE (perf report -i FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${ZELTOR_MEASURE_ANSWER_NS:-}" ]; then
    exec env ZELTOR_MEASURE_ANSWER_NS=1 unshare --net --pid --fork --mount-proc \
        bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
extra=${1:-2000}
queries=${2:-20}
shift $(($# < 2 ? $# : 2))
perfd=${ZELTOR_PERFD:-build/perfd/zeltor-perfd}
[ -x "$perfd" ] || { echo "no $perfd: build the target zeltor-perfd, or set ZELTOR_PERFD" >&2; exit 1; }

state=$(mktemp /tmp/zeltor-answer.XXXXXX)
children=()
cleanup() {
    [ ${#children[@]} -eq 0 ] || kill "${children[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    tests/integration/run_smbd.sh stop "$state" || true
}
trap cleanup EXIT
tests/integration/run_smbd.sh start "$state" 4450 >/dev/null
for _ in $(seq "$extra"); do
    sleep 100000 &
    children+=($!)
done
"$perfd" -s "$(sed -n 's/^smb_conf=//p' "$state")" --lsass smbd "$@" 2>/dev/null &
children+=($!)
sleep 4 # the first listing, and a few updates

/usr/bin/python3 - "$state" "$queries" "$*" <<'PYTHON'
import glob
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, "tests/integration")
from perf_data_block import PerfDataClient  # noqa: E402
from samba.dcerpc import winreg  # noqa: E402

state = dict(line.rstrip("\n").split("=", 1) for line in open(sys.argv[1]) if "=" in line)
queries, options = int(sys.argv[2]), sys.argv[3]


def descendants(pid):
    found = []
    for children in glob.glob("/proc/%d/task/*/children" % pid):
        try:
            for child in open(children).read().split():
                found.append(int(child))
                found.extend(descendants(int(child)))
        except OSError:
            pass
    return found


def cpu_ns():
    """The CPU time of each process of the server so far, by PID."""
    times = {}
    for pid in descendants(int(state["pid"])):
        total = 0
        for task in glob.glob("/proc/%d/task/*/schedstat" % pid):
            try:
                total += int(open(task).read().split()[0])
            except (OSError, ValueError):
                pass
        times[pid] = total
    return times


def query(size):
    """One answer's length, asked with a buffer of that size (the server cuts a longer answer to
    it, and the client's Python spends time on each byte of it, so it is no larger than needed)."""
    name = winreg.String()
    name.name = "230 2 4 236 238"
    _, _, _, length = client.conn.QueryValue(client.handle, name, 0, [0] * size, size, 0)
    return length


client = PerfDataClient(state["address"], state["user"], state["password"], state["smb_conf"], state["port"])
size = len(client.query("230 2 4 236 238"))  # starts the winreg server; not counted
buffer = size * 2 + 4096
profile = None
if os.environ.get("ZELTOR_PROFILE"):  # perf's samples of the server's processes, to that file
    profile = subprocess.Popen(["perf", "record", "-q", "-g", "-o", os.environ["ZELTOR_PROFILE"], "-p",
                                ",".join(str(pid) for pid in descendants(int(state["pid"])))])
    time.sleep(1)
before, wall = cpu_ns(), time.perf_counter()
for _ in range(queries):
    if query(buffer) >= buffer:
        sys.exit("an answer filled the %d bytes asked for" % buffer)
wall, after = time.perf_counter() - wall, cpu_ns()
client.close()
if profile:
    profile.send_signal(signal.SIGINT)
    profile.wait()
cpu = sum(ns - before.get(pid, 0) for pid, ns in after.items())
processes = sum(1 for name in os.listdir("/proc") if name.isdigit())
print("%d processes, zeltor-perfd %s: %d answers of %d bytes; Samba's CPU %.2f ms and wall %.2f ms an answer"
      % (processes, options or "(default options)", queries, size, cpu / queries / 1e6, wall / queries * 1e3))
PYTHON
