#!/usr/bin/python3
"""Measures zeltor-exporter's basic authentication as a guesser meets it: the time of a 401 for a
user that does not exist and for a known user with a wrong password (one bcrypt of cost 12 each,
when the unknown user is checked at the known user's cost), the exporter's CPU per guess, and the
time and CPU of a guess past the limit on failures (429, no hash). Each timed guess comes from an
address of its own in 127/8, so that the limit does not answer it.

    unshare -n sh -c 'ip link set lo up; tools/measure_basic_auth.py build/platform/linux/exporter/zeltor-exporter'

Needs Debian's python3 (its crypt module makes the cost-12 hash). Prints figures; judges nothing.
"""
import base64
import warnings

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import crypt
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

PORT = 19761
COST = 12


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def request(source, user, password):
    """The status of one GET /metrics from source, and how long it took."""
    header = base64.b64encode(f"{user}:{password}".encode()).decode()
    start = time.monotonic()
    with socket.socket() as s:
        s.bind((source, 0))
        s.settimeout(10)
        s.connect(("127.0.0.1", PORT))
        s.sendall(f"GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\nAuthorization: Basic {header}\r\n\r\n".encode())
        reply = b""
        while chunk := s.recv(65536):
            reply += chunk
    return int(reply[9:12]), time.monotonic() - start


def main():
    exporter = sys.argv[1] if len(sys.argv) > 1 else "build/platform/linux/exporter/zeltor-exporter"
    rounds = 40
    work = tempfile.mkdtemp(prefix="zeltor-basic-auth.")
    password_file = os.path.join(work, "a.password")
    with open(os.open(password_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
        f.write("unused\n")
    with open(os.path.join(work, "exporter.yml"), "w") as f:
        f.write(f"listen: 127.0.0.1:{PORT}\nauths:\n  a: {{user: u, password_file: {password_file}, targets: [dc1]}}\n")
    known = crypt.crypt("the right one", crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=2 ** COST))
    with open(os.path.join(work, "web.yml"), "w") as f:
        f.write(f"basic_auth_users:\n  prometheus: '{known}'\n")
    process = subprocess.Popen([exporter, "--config", os.path.join(work, "exporter.yml"), "--web.config.file",
                                os.path.join(work, "web.yml")], stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", PORT), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        addresses = (f"127.0.{i // 250 + 1}.{i % 250 + 2}" for i in range(10000))
        figures = {}
        for name, user in (("unknown user", "nobody"), ("known user, wrong password", "prometheus")):
            times, statuses = [], set()
            before = cpu_seconds(process.pid)
            for i in range(rounds):
                status, seconds = request(next(addresses), user, f"guess{i}")
                statuses.add(status)
                times.append(seconds)
            cpu = (cpu_seconds(process.pid) - before) / rounds
            figures[name] = statistics.median(times)
            print(f"{name:28} answers {sorted(statuses)}: median {1000 * statistics.median(times):6.1f} ms, "
                  f"min {1000 * min(times):6.1f}, max {1000 * max(times):6.1f}; exporter CPU {1000 * cpu:6.1f} ms a guess")
        # Past the limit: one address guessing on.
        source = next(addresses)
        for i in range(5):
            request(source, "prometheus", f"burst{i}")
        times, statuses = [], set()
        before = cpu_seconds(process.pid)
        for i in range(rounds):
            status, seconds = request(source, "prometheus", f"more{i}")
            statuses.add(status)
            times.append(seconds)
        cpu = (cpu_seconds(process.pid) - before) / rounds
        print(f"{'past the limit':28} answers {sorted(statuses)}: median {1000 * statistics.median(times):6.1f} ms; "
              f"exporter CPU {1000 * cpu:6.1f} ms a guess")
        difference = figures["known user, wrong password"] - figures["unknown user"]
        print(f"known less unknown: {1000 * difference:+.1f} ms (bcrypt cost {COST}, {rounds} guesses each, load {os.getloadavg()[0]:.1f})")
    finally:
        process.terminate()
        process.wait()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
