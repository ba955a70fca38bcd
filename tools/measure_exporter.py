#!/usr/bin/env python3
"""Scrapes a running zeltor-exporter as Prometheus would and prints its figures: CPU per scrape
of one target, steady state of 100 targets scraped every 15 s (CPU share of one core, resident
memory per target, scrape latency p50/p99, logons at the peer), and one silent target among
fifty. Run by tools/measure_exporter.sh, which starts the peer and the exporter."""

import argparse
import glob
import http.client
import os
import re
import statistics
import threading
import time
from collections import Counter
from concurrent.futures import ThreadPoolExecutor

EXPORTER = ("127.0.0.1", 9755)
SILENT = "127.0.0.250"
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def logons(peer_dir):
    """Successful logons in the peer's auth audit log."""
    count = 0
    for path in [f"{peer_dir}/smbd.out"] + glob.glob(f"{peer_dir}/log/*"):
        try:
            with open(path, errors="replace") as log:
                count += sum(1 for line in log if "Auth: " in line and "status [NT_STATUS_OK]" in line)
        except OSError:
            pass
    return count


_connections = threading.local()
KEEP_ALIVE = True  # --close: a new connection for each scrape


def scrape(target, module="dc", auth="peer", timeout=10):
    """One scrape: (seconds, success, body). Each thread keeps its HTTP connection open between
    scrapes, as Prometheus keeps its connections to an exporter."""
    path = f"/probe?target={target}&module={module}&auth={auth}"
    start = time.monotonic()
    for attempt in range(2):
        connection = getattr(_connections, "connection", None)
        if connection is None:
            connection = _connections.connection = http.client.HTTPConnection(*EXPORTER, timeout=timeout + 5)
        try:
            connection.request("GET", path, headers={"X-Prometheus-Scrape-Timeout-Seconds": str(timeout)})
            body = connection.getresponse().read().decode()
            if not KEEP_ALIVE:
                connection.close()
                _connections.connection = None
            break
        except (http.client.RemoteDisconnected, ConnectionResetError, BrokenPipeError):
            # The exporter closed a connection it had kept: once more on a new one.
            connection.close()
            _connections.connection = None
            if attempt == 1:
                raise
    seconds = time.monotonic() - start
    return seconds, re.search(r"^zeltor_probe_success 1$", body, re.M) is not None, body


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def ms(seconds):
    return f"{seconds * 1000:.1f} ms"


def single_target(pid, peer_dir, count):
    for _ in range(5):
        scrape("127.0.0.1")  # the session, its logon and name table
    logons_before, cpu_before = logons(peer_dir), cpu_seconds(pid)
    start = time.monotonic()
    latencies = []
    for _ in range(count):
        seconds, ok, body = scrape("127.0.0.1")
        assert ok, body
        latencies.append(seconds)
    wall = time.monotonic() - start
    cpu = cpu_seconds(pid) - cpu_before
    print(f"one target, {count} scrapes back to back: exporter CPU {cpu / count * 1e6:.0f} us a scrape "
          f"({cpu:.2f} s in {wall:.1f} s), latency p50 {ms(percentile(latencies, 50))} "
          f"p99 {ms(percentile(latencies, 99))}, logons {logons(peer_dir) - logons_before}")


def steady(pid, peer_dir, targets, interval, rounds):
    """Each target scraped every interval, spread over it as Prometheus spreads its targets."""
    rss_before, rss_at = resident_kib(pid), time.monotonic()
    pool = ThreadPoolExecutor(max_workers=64)
    latencies, failures = [], []
    lock = threading.Lock()
    marks = {}

    def one(target):
        seconds, ok, body = scrape(target)
        with lock:
            latencies.append((time.monotonic(), seconds))
            if not ok:
                failure = re.search(r'^zeltor_probe_failure_info\{status="([^"]*)"', body, re.M)
                failures.append((time.monotonic(), target, failure.group(1) if failure else "?"))

    # A first round makes the sessions (their logons), spread over the interval as Prometheus
    # spreads its first scrapes too, all of it finished before the steady state is measured; a
    # target whose first scrape failed is scraped again until it has its session (at most four
    # more times), so that the steady state starts with every session made.
    first_round = []
    for i, target in enumerate(targets):
        time.sleep(max(0, interval / len(targets) * i - (time.monotonic() - rss_at)))
        first_round.append(pool.submit(one, target))
    for future in first_round:
        future.result()
    first_failures = len(failures)
    first = [s for _, s in latencies]
    print(f"first round (the sessions made): p50 {ms(percentile(first, 50))} max {ms(max(first))}, "
          f"{first_failures} failed")
    for status, count in sorted(Counter(status for _, _, status in failures).items()):
        print(f"  failed with {status}: {count}")
    unmade = sorted({target for _, target, _ in failures})
    first_failed = len(unmade)
    for _ in range(4):
        if not unmade:
            break
        failures.clear()
        for future in [pool.submit(one, target) for target in unmade]:
            future.result()
        unmade = sorted({target for _, target, _ in failures})
    print(f"  made on a later try: {first_failed - len(unmade)}, never made: {len(unmade)}")
    failures.clear()
    marks["cpu"], marks["logons"], marks["at"] = cpu_seconds(pid), logons(peer_dir), time.monotonic()
    start = marks["at"]
    for r in range(rounds - 1):
        for i, target in enumerate(targets):
            at = start + r * interval + i * interval / len(targets)
            time.sleep(max(0, at - time.monotonic()))
            pool.submit(one, target)
    time.sleep(max(0, start + (rounds - 1) * interval - time.monotonic()))
    pool.shutdown(wait=True)
    end = time.monotonic()
    cpu = cpu_seconds(pid) - marks["cpu"]
    window = end - marks["at"]
    steady_latencies = [s for at, s in latencies if at >= marks["at"]]
    rss = resident_kib(pid)
    scrapes = len(steady_latencies)
    print(f"{len(targets)} targets every {interval:.0f} s, {rounds - 1} steady rounds ({window:.0f} s, {scrapes} scrapes): "
          f"exporter CPU {cpu / window * 100:.2f}% of one core ({cpu / max(scrapes, 1) * 1e6:.0f} us a scrape), "
          f"resident {rss} KiB ({rss_before} KiB before the targets: {(rss - rss_before) / len(targets):.0f} KiB a target), "
          f"latency p50 {ms(percentile(steady_latencies, 50))} p99 {ms(percentile(steady_latencies, 99))} "
          f"max {ms(max(steady_latencies))}, logons {logons(peer_dir) - marks['logons']} "
          f"({(logons(peer_dir) - marks['logons']) / max(scrapes, 1):.3f} a scrape), failures {len(failures)}")
    if failures:
        statuses = {}
        for at, _, status in failures:
            statuses.setdefault(status, []).append(at - marks["at"])
        for status, ats in sorted(statuses.items()):
            print(f"  failed with {status}: {len(ats)} times, {min(ats):.1f} s to {max(ats):.1f} s into the steady state")


def fifty(rounds, with_silent, label):
    """Fifty targets scraped at the same moment, each round; the durations of the 49 that answer."""
    targets = [f"127.0.0.{i}" for i in range(2, 51)] + [SILENT if with_silent else "127.0.0.51"]
    durations, silent = [], []
    with ThreadPoolExecutor(max_workers=50) as pool:
        for _ in range(rounds):
            results = list(pool.map(lambda t: (t, scrape(t, timeout=3)), targets))
            for target, (seconds, ok, _) in results:
                if target == SILENT:
                    silent.append((seconds, ok))
                else:
                    durations.append(seconds)
            time.sleep(1)
    extra = ""
    if silent:
        extra = (f"; the silent one: {sum(1 for _, ok in silent if not ok)}/{len(silent)} failed, "
                 f"in {ms(statistics.median(s for s, _ in silent))}")
    print(f"{label}: the 49 others over {rounds} rounds: p50 {ms(percentile(durations, 50))} "
          f"p99 {ms(percentile(durations, 99))} max {ms(max(durations))}{extra}")


def page_probes():
    for target, module, auth in (("127.0.0.1", "dc", "peer"), ("127.0.0.2", "ntds", "peer"),
                                 ("127.0.0.3", "dc", "stale"), (SILENT, "dc", "peer")):
        seconds, ok, _ = scrape(target, module, auth, timeout=3)
        print(f"{target} {module} {auth}: {'success' if ok else 'failure'} in {ms(seconds)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--peer-dir", required=True)
    parser.add_argument("--page-probes", action="store_true")
    parser.add_argument("--scrapes", type=int, default=300)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--interval", type=float, default=15)
    parser.add_argument("--close", action="store_true", help="a new HTTP connection for each scrape")
    parser.add_argument("--phases", default="single,steady,fifty", help="which of single, steady, fifty to run")
    arguments = parser.parse_args()
    global KEEP_ALIVE
    KEEP_ALIVE = not arguments.close
    if arguments.page_probes:
        page_probes()
        return
    idle = resident_kib(arguments.pid)
    print(f"exporter resident at start: {idle} KiB")
    phases = arguments.phases.split(",")
    if "single" in phases:
        single_target(arguments.pid, arguments.peer_dir, arguments.scrapes)
    if "steady" in phases:
        steady(arguments.pid, arguments.peer_dir, [f"127.0.0.{i}" for i in range(2, 102)], arguments.interval,
               arguments.rounds)
    if "fifty" in phases:
        # Their sessions first, one target after another over five seconds, each until made.
        for target in [f"127.0.0.{i}" for i in range(2, 52)]:
            for _ in range(5):
                if scrape(target, timeout=3)[1]:
                    break
            time.sleep(0.1)
        fifty(10, with_silent=False, label="fifty that answer")
        fifty(10, with_silent=True, label="one silent among fifty")
        fifty(10, with_silent=False, label="fifty that answer, again")


if __name__ == "__main__":
    main()
