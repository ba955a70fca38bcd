#!/usr/bin/python3
"""Writes the seed corpus of the performance-data fuzzer (fuzz/corpus/perf_data):

  windows-*   blocks laid out as Windows sends them (32-bit counters 4 bytes wide, TotalByteLength
              counting the header, instances with parents), built here with Windows' indices
  samba-*     the answers of a real Samba server's winreg (python3-samba's client), when
              --smbd STATE names a running run_smbd.sh whose perfmon fill_perfmon.py filled
  names-*     "Counter 009" tables of both
  and shapes a hostile server may send (windows-wrap, windows-parents, names-short)
"""
import argparse
import os
import struct

PERF_NO_INSTANCES = 0xFFFFFFFF


def utf16(text):
    return text.encode("utf-16-le") + b"\0\0"


def pad8(data):
    return data + b"\0" * (-len(data) % 8)


def counter_block(values):
    """PERF_COUNTER_BLOCK of (type, value) pairs: 4 bytes for 32-bit types, 8 for large ones."""
    body, offsets, at = b"", [], 8
    for kind, value in values:
        width = 8 if kind & 0x300 == 0x100 else 4
        at += -at % width
        body += b"\0" * (at - 8 - len(body))
        body += struct.pack("<Q" if width == 8 else "<I", value)
        offsets.append((at, width))
        at += width
    block = pad8(struct.pack("<I", 0) + b"\0" * 4 + body)
    return struct.pack("<I", len(block)) + block[4:], offsets


def perf_object(index, counters, instances=None, values=None):
    """counters: [(name index, type)]; instances: [(name, parent object, parent instance, [values])]."""
    rows = [values] if instances is None else [i[3] for i in instances]
    _, offsets = counter_block(list(zip([c[1] for c in counters], rows[0])))
    definitions = b"".join(struct.pack("<10I", 40, n, 0, n + 1, 0, 0, 100, kind, w, at)
                           for (n, kind), (at, w) in zip(counters, offsets))
    header_length = 64
    body = b""
    if instances is None:
        body = counter_block(list(zip([c[1] for c in counters], values)))[0]
    else:
        for name, parent, parent_instance, row in instances:
            text = utf16(name)
            head = pad8(struct.pack("<6I", 0, parent, parent_instance, 0xFFFFFFFF, 24, len(text)) + text)
            head = struct.pack("<I", len(head)) + head[4:]
            body += head + counter_block(list(zip([c[1] for c in counters], row)))[0]
    definition_length = header_length + len(definitions)
    count = PERF_NO_INSTANCES if instances is None else len(instances)
    total = definition_length + len(body)
    head = struct.pack("<12I2Q", total, definition_length, header_length, index, 0, index + 1, 0, 100,
                       len(counters), 0, count, 0, 0, 0)
    return head + definitions + body


def perf_block(objects):
    name = pad8(utf16("DC1"))
    header_length = 88 + len(name)
    data = b"".join(objects)
    head = "PERF".encode("utf-16-le") + struct.pack("<7I", 1, 1, 1, header_length + len(data), header_length,
                                                    len(objects), 0xFFFFFFFF)
    head += b"\0" * 16 + b"\0" * 4  # SystemTime, padding
    head += struct.pack("<3Q2I", 123456789, 10_000_000, 133_000_000_000_000_000, 8, 88)
    return head + name + data


def windows_seeds():
    timer_inv, timer, rate, fraction, base, raw = 0x21510500, 0x20510500, 0x10410400, 0x20020400, 0x40030403, 0x10000
    processor = perf_object(238, [(6, timer_inv), (698, timer)],
                            [(n, 0, 0, [4_000_000_000 + i, 10_000 + i]) for i, n in enumerate(["0", "1", "_Total"])])
    memory = perf_object(4, [(1406, fraction), (1407, base), (28, rate), (822, rate), (48, rate), (40, rate), (50, rate)],
                         values=[3_000_000, 8_000_000, 123_456, 0, 7, 42, 7])
    disk = perf_object(236, [(408, fraction), (409, base)], [(n, 234, i, [50_000 + i, 100_000]) for i, n in enumerate(["C:", "_Total"])])
    system = perf_object(2, [(10, rate), (12, rate)], values=[1000, 2000])
    names = ["lsass", "svchost", "ntfrs", "svchost", "System", "svchost"] + [f"app{i}" for i in range(194)]
    process = perf_object(230, [(952, raw)], [(n, 0, 0, [100 + i]) for i, n in enumerate(names)])
    thread = perf_object(232, [(804, raw)], [("0", 230, i, [i]) for i in range(3)])
    full = perf_block([processor, memory, disk, system, process, thread])
    table = b"".join(utf16(str(i)) + utf16(n) for i, n in [
        (1, "1847"), (2, "System"), (4, "Memory"), (6, "% Processor Time"), (10, "File Read Operations/sec"),
        (12, "File Write Operations/sec"), (28, "Page Faults/sec"), (40, "Page Reads/sec"), (48, "Pages Output/sec"),
        (50, "Page Writes/sec"), (230, "Process"), (232, "Thread"), (236, "LogicalDisk"), (238, "Processor"),
        (408, "% Free Space"), (698, "% Interrupt Time"), (804, "ID Thread"), (822, "Pages Input/sec"),
        (952, "Handle Count"), (1406, "% Committed Bytes In Use")]) + b"\0\0"
    return {"windows-block": full, "windows-memory": perf_block([memory]), "names-windows": table,
            **hostile_seeds(timer_inv, rate, raw)}


def hostile_seeds(timer_inv, rate, raw):
    """Shapes a hostile server may send, small enough to fuzz from: a 32-bit rate about to wrap
    beside one that has, a thread's processor time far ahead of the processor's; many objects
    and many instances of one name under one parent; a name table of many short names."""
    system = perf_object(2, [(10, rate), (12, rate)], values=[0x100, 0xFFFFFF00])
    processor = perf_object(238, [(6, timer_inv)], [("_Total", 0, 0, [4_000_000_000])])
    process = perf_object(230, [(952, raw)], [("lsass", 0, 0, [800])])
    thread = perf_object(232, [(6, timer_inv)], [("0", 230, 0, [4_030_000_000])])
    wrap = perf_block([system, processor, process, thread])
    fillers = [perf_object(10_000 + 2 * i, [(804, raw)], values=[i]) for i in range(200)]
    threads = perf_object(232, [(6, timer_inv)], [("0", 230, 0, [i]) for i in range(300)])
    parents = perf_block(fillers + [threads, process])
    names = b"".join(utf16(str(i)) + utf16(f"n{i % 100}") for i in range(1, 2000)) + b"\0\0"
    return {"windows-wrap": wrap, "windows-parents": parents, "names-short": names}


def samba_seeds(state_path):
    from samba import credentials
    from samba.dcerpc import winreg
    from samba.param import LoadParm
    state = dict(line.rstrip("\n").split("=", 1) for line in open(state_path) if "=" in line)
    lp = LoadParm()
    lp.set("smb ports", state["port"])
    creds = credentials.Credentials()
    creds.guess(lp)
    creds.set_username(state["user"])
    creds.set_password(state["password"])
    pipe = winreg.winreg(f"ncacn_np:{state['address']}[\\pipe\\winreg]", lp, creds)
    key = pipe.OpenHKPD(None, 0x02000000)
    seeds = {}
    for name, value in [("names-samba", "Counter 009"), ("samba-block", "2 8 24 30 36")]:
        text = winreg.String()
        text.name = value
        _, data, _, _ = pipe.QueryValue(key, text, 0, [0] * 262144, 262144, 0)
        seeds[name] = bytes(data)
    pipe.CloseKey(key)
    return seeds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--smbd", help="state file of a running run_smbd.sh with filled perfmon")
    args = parser.parse_args()
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "perf_data")
    os.makedirs(out, exist_ok=True)
    seeds = windows_seeds()
    if args.smbd:
        seeds.update(samba_seeds(args.smbd))
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
