#!/usr/bin/python3
"""Fills a Samba server's performance-data databases (perfmon/names.tdb and data.tdb under its
state directory) with the program's counters, from this machine's /proc, so that the server's
winreg answers HKEY_PERFORMANCE_DATA with them. A test fixture: the names are numbered in an
order of its own, not Windows', so a client must find them by name.

  fill_perfmon.py DIR [--every SECONDS --for SECONDS] [--processes N] [--lsass NAME]

DIR is the perfmon directory. With --every, the data is refreshed that often until --for seconds
have passed. --processes N makes the Process object exactly N instances, as on a Windows
controller: this machine's processes, cut or padded with idle "svchost" instances. --lsass NAME
publishes the oldest process named NAME as "lsass", so that no test needs a process of that name.
"""
import argparse
import os
import struct
import time

import tdb

# winperf.h counter types
TIMER_100NS_INV = 0x21510500
TIMER_100NS = 0x20510500
PER_SECOND = 0x10410400
RAW_FRACTION = 0x20020400
RAW_BASE = 0x40030403
RAW_COUNT = 0x00010000

# (object, instances?, [(counter, type)]) in index order; a fraction's base follows it.
OBJECTS = [
    ("Processor", True, [("% Processor Time", TIMER_100NS_INV), ("% Interrupt Time", TIMER_100NS)]),
    ("Memory", False, [("% Committed Bytes In Use", RAW_FRACTION), ("Committed Bytes Base", RAW_BASE),
                       ("Page Faults/sec", PER_SECOND), ("Pages Input/sec", PER_SECOND),
                       ("Pages Output/sec", PER_SECOND), ("Page Reads/sec", PER_SECOND),
                       ("Page Writes/sec", PER_SECOND)]),
    ("LogicalDisk", True, [("% Free Space", RAW_FRACTION), ("Free Space Base", RAW_BASE)]),
    ("System", False, [("File Read Operations/sec", PER_SECOND), ("File Write Operations/sec", PER_SECOND)]),
    ("Process", True, [("Handle Count", RAW_COUNT)]),
]
HUNDRED_NS_PER_TICK = 100000  # a USER_HZ tick of 10 ms


def numbered():
    """Each object and counter with its index: 2, 4, 6, ... in the order above."""
    index = 2
    for obj, has_instances, counters in OBJECTS:
        obj_index = index
        index += 2
        numbered_counters = []
        for name, kind in counters:
            numbered_counters.append((index, name, kind))
            index += 2
        yield obj_index, obj, has_instances, numbered_counters


def proc_fields(path, key):
    with open(path) as f:
        for line in f:
            parts = line.split()
            if parts and parts[0].rstrip(":") == key:
                return [int(p) for p in parts[1:] if p.isdigit()]
    return []


def figures(processes, lsass):
    cpu = proc_fields("/proc/stat", "cpu")
    cpus = max(1, sum(1 for l in open("/proc/stat") if l.startswith("cpu") and l[3:4].isdigit()))
    user, nice, system, idle, iowait, irq, softirq, steal = (cpu + [0] * 8)[:8]
    total = user + nice + system + idle + iowait + irq + softirq + steal
    meminfo = {l.split(":")[0]: int(l.split()[1]) for l in open("/proc/meminfo")}
    vm = {l.split()[0]: int(l.split()[1]) for l in open("/proc/vmstat")}
    reads = writes = 0
    names = [l.split()[2] for l in open("/proc/diskstats")]
    for line in open("/proc/diskstats"):
        f = line.split()
        name = f[2]
        if any(name != n and name.startswith(n) and name[len(n):].lstrip("p").isdigit() for n in names):
            continue  # a partition of a listed disk
        reads += int(f[3])
        writes += int(f[7])
    fs = os.statvfs("/")
    procs = []
    for pid in sorted((int(p) for p in os.listdir("/proc") if p.isdigit())):
        try:
            name = open(f"/proc/{pid}/comm").read().strip()
            procs.append((name, len(os.listdir(f"/proc/{pid}/fd"))))
        except OSError:
            continue
    if lsass:
        stand_in = next((i for i, (name, _) in enumerate(procs) if name == lsass), None)
        if stand_in is not None:
            procs[stand_in] = ("lsass", procs[stand_in][1])
    if processes:
        procs = procs[:processes]
        while len(procs) < processes:
            procs.append(("svchost", 100 + len(procs)))
    per_cpu = lambda ticks: ticks * HUNDRED_NS_PER_TICK // cpus
    return {
        "base100ns": per_cpu(total),
        "% Processor Time": [("_Total", per_cpu(idle + iowait))],
        "% Interrupt Time": [("_Total", per_cpu(irq))],
        "% Committed Bytes In Use": meminfo["Committed_AS"],
        "Committed Bytes Base": meminfo["CommitLimit"],
        "Page Faults/sec": vm.get("pgfault", 0),
        "Pages Input/sec": vm.get("pswpin", 0),
        "Pages Output/sec": vm.get("pswpout", 0),
        "Page Reads/sec": vm.get("pgmajfault", 0),
        "Page Writes/sec": vm.get("pswpout", 0),
        "% Free Space": [("_Total", fs.f_bfree * fs.f_frsize >> 20)],
        "Free Space Base": [("_Total", fs.f_blocks * fs.f_frsize >> 20)],
        "File Read Operations/sec": reads,
        "File Write Operations/sec": writes,
        "Handle Count": procs,
    }


def put(db, key, value):
    db.store(key.encode(), value if isinstance(value, bytes) else str(value).encode(), tdb.REPLACE)


def write(directory, processes, lsass):
    """Writes both databases anew beside the old ones, then renames them over: Samba opens
    data.tdb afresh for every value it reads, and one open that fails while a writer holds the
    file in a transaction crashes its winreg server (reg_perfcount.c reads an instance it could
    not fetch); a rename is never seen half done."""
    values = figures(processes, lsass)
    entries = list(numbered())
    last = entries[-1][3][-1][0]
    paths = [os.path.join(directory, name) for name in ("names.tdb", "data.tdb")]
    for path in paths:
        if os.path.exists(path + ".new"):
            os.unlink(path + ".new")
    names, data = (tdb.Tdb(path + ".new", 0, tdb.DEFAULT, os.O_RDWR | os.O_CREAT, 0o644) for path in paths)
    put(names, "1", last // 2)
    put(names, "0PerfFreq", 10_000_000)
    put(data, "0PerfTime", time.monotonic_ns() // 100)
    put(data, "0PerfTime100nSec", values["base100ns"])
    for obj_index, obj, has_instances, counters in entries:
        put(names, str(obj_index), obj)
        put(names, f"{obj_index + 1}", f"The {obj} object.")
        put(names, f"{obj_index}rel", "p")
        for index, name, kind in counters:
            put(names, str(index), name)
            put(names, f"{index + 1}", f"{name}.")
            put(names, f"{index}rel", f"c[{obj_index}]")
            put(names, f"{index}type", kind)
            # Every counter needs a value of its own, even one whose object has instances.
            value = values[name]
            put(data, str(index), 0 if isinstance(value, list) else value)
        if has_instances:
            rows = values[counters[0][1]]
            put(names, f"{obj_index}inst", len(rows))
            for i in range(len(rows)):
                put(names, f"{obj_index}i{i}name", rows[i][0])
                # Samba lays instance data out 8 bytes a counter, in definition order.
                put(data, f"{obj_index}i{i}", b"".join(struct.pack("<q", values[n][i][1]) for _, n, _ in counters))
    names.close()
    data.close()
    for path in reversed(paths):  # the data first: names never point at values not yet there
        os.rename(path + ".new", path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("directory")
    parser.add_argument("--every", type=float, default=0)
    parser.add_argument("--for", dest="duration", type=float, default=0)
    parser.add_argument("--processes", type=int, default=0)
    parser.add_argument("--lsass", default="")
    args = parser.parse_args()
    os.makedirs(args.directory, exist_ok=True)
    end = time.monotonic() + args.duration
    write(args.directory, args.processes, args.lsass)
    while args.every > 0 and time.monotonic() < end:
        time.sleep(args.every)
        write(args.directory, args.processes, args.lsass)


if __name__ == "__main__":
    main()
