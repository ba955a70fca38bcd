#!/usr/bin/env python3
"""Checks zeltor-probe's output with consumers no one here wrote: Python's csv and json modules,
promtool (prometheus) for the exposition format, and the monitoring plugin guidelines' output
grammar and exit codes.

    check_probe_output.py [--failing-machine NAME] MACHINE UNAVAILABLE_PATH PROBE_COMMAND...

MACHINE is read; UNAVAILABLE_PATH is a counter path that machine does not publish; a failing
machine is one the probe cannot connect to. Prints "ok - ..." / "not ok - ..." per check and
exits non-zero on any failure."""

import argparse
import csv
import datetime
import io
import json
import re
import subprocess
import sys

COUNTER_SET = [
    "\\Processor(_Total)\\% Processor Time",
    "\\Memory\\% Committed Bytes In Use",
    "\\LogicalDisk(_Total)\\% Free Space",
    "\\System\\File Read Operations/sec",
    "\\System\\File Write Operations/sec",
    "\\Processor(_Total)\\% Interrupt Time",
    "\\Process(lsass)\\Handle Count",
    "\\Process(ntfrs)\\Handle Count",
    "\\Memory\\Page Faults/sec",
    "\\Memory\\Pages Input/sec",
    "\\Memory\\Pages Output/sec",
    "\\Memory\\Page Reads/sec",
    "\\Memory\\Page Writes/sec",
]
FREE_SPACE = COUNTER_SET[2]
TIMEOUT = 120  # seconds for one run of the probe

# The plugin output line: 'label'=value[UOM];[warn];[crit];[min];[max], space separated.
PERF_DATUM = r"'[^'=]+'=(-?\d+(\.\d+)?(%|s|ms|us|B|KB|MB|TB|c)?|U)(;[^; ]*){0,4}"
PLUGIN_LINE = re.compile(r"ZELTOR (OK|WARNING|CRITICAL|UNKNOWN) - [^|\n]+( \| " + PERF_DATUM + r"( " + PERF_DATUM + r")*)?\n")


class Checks:
    def __init__(self, probe):
        self.probe = probe
        self.failed = 0

    def run(self, *args, stdin=None):
        return subprocess.run(self.probe + list(args), input=stdin, capture_output=True, timeout=TIMEOUT)

    def check(self, name, condition, detail=""):
        if condition:
            print(f"ok - {name}")
        else:
            self.failed += 1
            print(f"not ok - {name}\n{detail}")
        return condition


def is_value(cell):
    return re.fullmatch(r"-?\d+", cell) is not None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--failing-machine")
    parser.add_argument("machine")
    parser.add_argument("unavailable")
    parser.add_argument("probe", nargs="+")
    options = parser.parse_args()
    c = Checks(options.probe)
    machine = options.machine
    qualified = ["\\\\" + machine + p for p in COUNTER_SET]

    # CSV: the sampler's header and quoted cells, parsed by Python's csv module.
    r = c.run("-f", "csv", "-n", "2", "-i", "0.2", machine)
    rows = list(csv.reader(io.StringIO(r.stdout.decode("utf-8"), newline="")))
    c.check("csv: exit 0, a header and two rows", r.returncode == 0 and len(rows) == 3, r)
    if len(rows) == 3:
        c.check("csv: the header names PDH CSV 4.0 and the time zone",
                re.fullmatch(r"\(PDH-CSV 4\.0\) \([^()]*\)\(-?\d+\)", rows[0][0]) is not None, rows[0][0])
        c.check("csv: machine-qualified paths of the counter set, in order", rows[0][1:] == qualified, rows[0])
        for row in rows[1:]:
            c.check("csv: a time and thirteen values or blanks",
                    re.fullmatch(r"\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}", row[0]) is not None and len(row) == 14 and
                    all(is_value(v) or v == " " for v in row[1:]), row)
        c.check("csv: lines end with CR LF", r.stdout.count(b"\r\n") == 3, r.stdout[:200])
    r = c.run("-f", "csv", machine, FREE_SPACE, options.unavailable)
    rows = list(csv.reader(io.StringIO(r.stdout.decode("utf-8"), newline="")))
    c.check("csv: an unavailable counter is a blank, not 0",
            r.returncode == 0 and len(rows) == 2 and is_value(rows[1][1]) and rows[1][2] == " ", rows)

    # JSON lines, parsed by Python's json module.
    r = c.run("-f", "json", "-n", "2", "-i", "0.2", machine, *COUNTER_SET, options.unavailable)
    lines = r.stdout.decode("utf-8").splitlines()
    c.check("json: exit 0, one object per sample and line", r.returncode == 0 and len(lines) == 2, r)
    for line in lines:
        try:
            sample = json.loads(line)
            ok = (datetime.datetime.fromisoformat(sample["time"]).utcoffset() is not None and
                  sample["machine"] == machine and
                  [x["path"] for x in sample["counters"]] == qualified + ["\\\\" + machine + options.unavailable] and
                  all(isinstance(x["value"], int) or x["value"] is None for x in sample["counters"]) and
                  sample["counters"][-1]["value"] is None)
        except (ValueError, KeyError, TypeError) as error:
            ok, line = False, f"{line}\n{error}"
        c.check("json: time with offset, machine, paths in order, whole numbers or null for the unavailable", ok, line)

    # Prometheus: promtool's check (syntax and its lint rules), with a handle count that has a
    # value on Linux too (this script's own process).
    try:
        with open("/proc/self/comm") as comm:
            own = comm.read().strip()
    except OSError:
        own = "python3"
    r = c.run("-f", "prometheus", machine, *COUNTER_SET, f"\\Process({own})\\Handle Count", options.unavailable)
    text = r.stdout.decode("utf-8")
    promtool = subprocess.run(["promtool", "check", "metrics"], input=r.stdout, capture_output=True, timeout=TIMEOUT)
    c.check("prometheus: promtool check metrics passes", r.returncode == 0 and promtool.returncode == 0,
            text + promtool.stdout.decode() + promtool.stderr.decode())
    available = re.findall(r"^zeltor_probe_path_available\{[^}]*\} ([01])$", text, re.M)
    c.check("prometheus: an availability per counter, 0 for the unavailable one",
            len(available) == 15 and available[-2] == "1" and available[-1] == "0", text)
    c.check("prometheus: the handle count as zeltor_process_handles, the machine as instance",
            re.search(r'^zeltor_process_handles\{instance="' + re.escape(machine) + '",pdh_instance="' + re.escape(own) +
                      r'"\} \d+$', text, re.M), text)

    # The plugin: its line's grammar and its exit codes by the thresholds.
    cases = [
        ("no thresholds", [], 0),
        ("outside the warning range", ["-w", FREE_SPACE + "=@0:100"], 1),
        ("outside the critical range (by place)", ["-w", "3=@0:100", "-c", "3=@0:100"], 2),
        ("inside both ranges", ["-w", "3=0:100", "-c", "3=~:100"], 0),
        ("a threshold on an unavailable counter", ["-w", "2=1", machine, FREE_SPACE, options.unavailable], 3),
        ("a bad command line", ["--warning=3=10:5"], 3),
    ]
    if options.failing_machine:
        cases.append(("a machine that cannot be reached", ["--", options.failing_machine], 3))
    for name, args, code in cases:
        if machine not in args and "--" not in args:
            args = args + [machine]
        r = c.run("-f", "nagios", *args)
        out = r.stdout.decode("utf-8")
        c.check(f"nagios: {name}: exit {code} and one plugin line", r.returncode == code and PLUGIN_LINE.fullmatch(out),
                f"exit {r.returncode}: {out}{r.stderr.decode()}")

    # The password never from the command line; --help and --version.
    r = c.run("--password", "Hunter2x", machine)
    err = r.stderr.decode("utf-8")
    c.check("a password on the command line is refused, saying how to give it",
            r.returncode == 2 and "--password-stdin" in err and "--password-file" in err and "Hunter2x" not in err
            and r.stdout == b"", err)
    r = c.run("--help")
    c.check("--help", r.returncode == 0 and b"Usage: zeltor-probe" in r.stdout, r)
    r = c.run("--version")
    c.check("--version", r.returncode == 0 and re.fullmatch(rb"zeltor-probe \d+\.\d+\.\d+\n", r.stdout) is not None, r)

    print(f"probe output: {c.failed} failed")
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main())
