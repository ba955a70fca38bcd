#!/usr/bin/python3
"""The same BaseRegQueryValue of HKEY_PERFORMANCE_DATA with python3-samba's winreg client, timed
the same way: CPU time of this process per query (time.process_time), wall time, bytes.

  winreg_python_bench.py STATE [QUERIES]   STATE: a run_smbd.sh state file (with objects=...)
"""
import sys
import time

from samba import credentials
from samba.dcerpc import winreg
from samba.param import LoadParm


def main():
    state = dict(line.rstrip("\n").split("=", 1) for line in open(sys.argv[1]) if "=" in line)
    queries = int(sys.argv[2]) if len(sys.argv) > 2 else 500
    lp = LoadParm()
    lp.set("smb ports", state["port"])
    creds = credentials.Credentials()
    creds.guess(lp)
    creds.set_username(state["user"])
    creds.set_password(state["password"])
    pipe = winreg.winreg(f"ncacn_np:{state['address']}[\\pipe\\winreg]", lp, creds)
    key = pipe.OpenHKPD(None, 0x02000000)
    name = winreg.String()
    name.name = state["objects"]
    size = 64 * 1024  # the remote source's first buffer, which the answer fits
    received = 0
    cpu, wall = time.process_time(), time.perf_counter()
    for _ in range(queries):
        _, data, _, length = pipe.QueryValue(key, name, 0, [0] * size, size, 0)
        received += length
    cpu, wall = time.process_time() - cpu, time.perf_counter() - wall
    pipe.CloseKey(key)
    print(f"python3-samba winreg: {queries} queries, {cpu / queries * 1e6:.0f} us CPU and "
          f"{wall / queries * 1e6:.0f} us wall per query, {received // queries} bytes per answer")


if __name__ == "__main__":
    main()
