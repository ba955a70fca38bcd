"""Reading HKEY_PERFORMANCE_DATA back with Samba's own winreg client (python3-samba), and the
PERF_DATA_BLOCK it answers decoded by the layout of winperf.h, for the provider's tests."""

import struct

from samba import credentials, param
from samba.dcerpc import winreg

PERF_NO_INSTANCES = 0xFFFFFFFF
PERF_SIZE_LARGE = 0x100
MAXIMUM_ALLOWED = 0x02000000


class PerfDataClient:
    """OpenHKPD on a server's winreg pipe, then QueryValue of its values."""

    def __init__(self, address, user, password, smb_conf, port=None):
        lp = param.LoadParm()
        lp.load(smb_conf)
        if port:
            lp.set("smb ports", str(port))
        creds = credentials.Credentials()
        creds.guess(lp)
        creds.set_username(user)
        creds.set_password(password)
        self.conn = winreg.winreg("ncacn_np:%s" % address, lp, creds)
        self.handle = self.conn.OpenHKPD(None, MAXIMUM_ALLOWED)

    def query(self, name):
        """The value's bytes. Samba's server cuts an answer to the buffer without saying so, so
        a buffer the answer fills is asked again twice as large."""
        size = 1 << 16
        while True:
            value_name = winreg.String()
            value_name.name = name
            _, data, _, length = self.conn.QueryValue(self.handle, value_name, 0, [0] * size, size, 0)
            if length < size:
                return bytes(data[:length])
            size *= 2

    def names(self):
        """Counter 009 as index -> name."""
        text = self.query("Counter 009").decode("utf-16-le").split("\0")
        return {int(text[i]): text[i + 1] for i in range(0, len(text) - 1, 2) if text[i]}

    def close(self):
        self.conn.CloseKey(self.handle)


class Counter:
    def __init__(self, index, counter_type, size, offset):
        self.index, self.type, self.size, self.offset = index, counter_type, size, offset

    def read(self, block):
        """Its value in a counter block: 8 bytes for the LARGE types, else a DWORD."""
        if self.type & 0x300 == PERF_SIZE_LARGE:
            return struct.unpack_from("<Q", block, self.offset)[0]
        return struct.unpack_from("<I", block, self.offset)[0]


class PerfObject:
    def __init__(self, index):
        self.index = index
        self.counters = []
        self.values = None  # index -> value, for an object without instances
        self.instances = []  # (name, {index: value}) in the order of the data


class PerfData:
    """A decoded PERF_DATA_BLOCK."""

    def __init__(self, data):
        if data[:8] != "PERF".encode("utf-16-le"):
            raise ValueError("no PERF_DATA_BLOCK")
        (self.header_length, self.object_count) = struct.unpack_from("<II", data, 24)
        (self.perf_time, self.perf_freq, self.perf_time_100ns) = struct.unpack_from("<QQQ", data, 56)
        self.objects = {}
        at = self.header_length
        for _ in range(self.object_count):
            obj = self._object(data, at)
            self.objects[obj.index] = obj
            at += struct.unpack_from("<I", data, at)[0]

    @staticmethod
    def _object(data, at):
        (_, definition_length, header_length, index) = struct.unpack_from("<IIII", data, at)
        (counter_count, _, instance_count) = struct.unpack_from("<IiI", data, at + 32)
        obj = PerfObject(index)
        where = at + header_length
        for _ in range(counter_count):
            (length, name_index) = struct.unpack_from("<II", data, where)
            (counter_type, size, offset) = struct.unpack_from("<III", data, where + 28)
            obj.counters.append(Counter(name_index, counter_type, size, offset))
            where += length
        where = at + definition_length
        if instance_count == PERF_NO_INSTANCES:
            obj.values = {c.index: c.read(data[where:]) for c in obj.counters}
            return obj
        for _ in range(instance_count):
            (length, _, _, _, name_offset, name_length) = struct.unpack_from("<IIIIII", data, where)
            name = data[where + name_offset:where + name_offset + name_length].decode("utf-16-le").rstrip("\0")
            block = data[where + length:]
            obj.instances.append((name, {c.index: c.read(block) for c in obj.counters}))
            where += length + struct.unpack_from("<I", block, 0)[0]
        return obj
