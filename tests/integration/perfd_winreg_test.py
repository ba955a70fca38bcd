#!/usr/bin/python3
"""zeltor-perfd under Samba's real winreg server: the provider fills the performance databases
of a Samba server on loopback, and Samba's own client (python3-samba) reads
HKEY_PERFORMANCE_DATA back over SMB. The objects, counters and instances carry Windows' names and
numbers, and the values agree with /proc.

ZELTOR_PEER_STATE names the state file of the server's fixture, ZELTOR_PEER_KIND what it is:
"dc", the domain controller of run_samba_dc.sh (its samba process stands in for lsass), or
"smbd", the standalone server of run_smbd.sh (its smbd does, by --lsass)."""

import ctypes
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from perf_data_block import PerfData, PerfDataClient  # noqa: E402

SYSTEM, MEMORY, PROCESS, LOGICAL_DISK, PROCESSOR = 2, 4, 230, 236, 238
POLLS = 40  # of 0.25 s: the bound of every wait


KIND = os.environ.get("ZELTOR_PEER_KIND", "dc")
STAND_IN = {"dc": "samba", "smbd": "smbd"}[KIND]


def read_state():
    with open(os.environ["ZELTOR_PEER_STATE"]) as state:
        return dict(line.rstrip("\n").split("=", 1) for line in state if "=" in line)


def proc_stat():
    """The cpu line's idle+iowait and irq, and the processors (cpuN lines)."""
    with open("/proc/stat") as f:
        lines = f.read().splitlines()
    fields = [int(x) for x in lines[0].split()[1:]]
    processors = sum(1 for line in lines if re.match(r"cpu\d", line))
    return {"idle": fields[3] + fields[4], "irq": fields[5], "total": sum(fields[:8]), "cpus": processors}


def to_100ns(ticks, cpus):
    return ticks * 10_000_000 // (os.sysconf("SC_CLK_TCK") * cpus)


def vmstat():
    with open("/proc/vmstat") as f:
        return {name: int(value) for name, value in (line.split() for line in f)}


def meminfo():
    with open("/proc/meminfo") as f:
        return {line.split(":")[0]: int(line.split()[1]) for line in f}


def descriptors(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def start_time(pid):
    """When the process started (field 22 of its stat), or None once it has ended."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return int(f.read().rsplit(")", 1)[1].split()[19])
    except OSError:
        return None


def comm(pid):
    """The process's name, or None once it has ended."""
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return None


def pid_namespace(pid):
    """The PID namespace the process lives in, or None once it has ended."""
    try:
        return os.readlink("/proc/%d/ns/pid" % pid)
    except OSError:
        return None


def server_pid_namespace(state):
    """The fixture's server runs as the first process of a PID namespace of its own, the one
    child of the unshare whose PID the state file holds."""
    unshare = int(state["pid"])
    with open("/proc/%d/task/%d/children" % (unshare, unshare)) as f:
        return pid_namespace(int(f.read().split()[0]))


def start_child(name, extra_files):
    """A process that names itself and holds extra open files until its stdin closes."""
    script = (
        "import ctypes, sys\n"
        "ctypes.CDLL(None).prctl(15, sys.argv[1].encode(), 0, 0, 0)\n"
        "held = [open('/dev/null') for _ in range(int(sys.argv[2]))]\n"
        "print('ready', flush=True)\n"
        "sys.stdin.read()\n"
    )
    child = subprocess.Popen([sys.executable, "-c", script, name, str(extra_files)],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline().strip() == "ready"
    return child


class PerfdUnderSambasWinreg(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.state = read_state()
        cls.log = tempfile.NamedTemporaryFile(prefix="zeltor-perfd-", suffix=".log")
        # Two processes of one name, which clients tell apart as NAME and NAME#1 by their order.
        cls.name = "zpd%d" % (os.getpid() % 100000)
        cls.children = [start_child(cls.name, 3), start_child(cls.name, 7)]
        # A process that merely calls itself lsass, and one that calls itself the stand-in.
        cls.impostors = [start_child("lsass", 1), start_child(STAND_IN, 1)]
        cls.perfd = subprocess.Popen(
            [os.environ["ZELTOR_PERFD"], "-s", cls.state["smb_conf"], "--interval", "0.5", "--lsass", STAND_IN, "--all-processes"],
            stderr=cls.log)
        cls.client = cls.connect()

    @classmethod
    def connect(cls):
        return PerfDataClient(cls.state["address"], cls.state["user"], cls.state["password"], cls.state["smb_conf"],
                              cls.state.get("port"))

    @classmethod
    def tearDownClass(cls):
        if cls.perfd.poll() is None:
            cls.perfd.kill()
            cls.perfd.wait()
        for child in cls.children + cls.impostors:
            child.stdin.close()
            child.wait()
        try:
            cls.client.close()
        except Exception:  # a connection the server dropped has nothing to close
            pass
        cls.log.close()

    def global_data(self):
        return PerfData(self.client.query("Global"))

    def published(self):
        """The data once it holds both children."""
        for _ in range(POLLS):
            data = self.global_data()
            names = [name for name, _ in data.objects.get(PROCESS, PerfData.__new__(PerfData)).instances] \
                if PROCESS in data.objects else []
            if names.count(self.name) == 2:
                return data
            time.sleep(0.25)
        self.fail("the children never showed in the Process object")

    def test_1_windows_names_and_numbers(self):
        self.published()
        names = self.client.names()
        for index, name in [(SYSTEM, "System"), (MEMORY, "Memory"), (PROCESS, "Process"),
                            (LOGICAL_DISK, "LogicalDisk"), (PROCESSOR, "Processor"),
                            (10, "File Read Operations/sec"), (12, "File Write Operations/sec"),
                            (28, "Page Faults/sec"), (42, "Page Reads/sec"), (48, "Pages Output/sec"),
                            (50, "Page Writes/sec"), (822, "Pages Input/sec"),
                            (1406, "% Committed Bytes In Use"), (408, "% Free Space"),
                            (698, "% Interrupt Time"), (952, "Handle Count"), (784, "ID Process")]:
            self.assertEqual(names.get(index), name)
        # Samba's server cannot serve % Processor Time at its Windows index 6, below Processor's.
        self.assertEqual(names.get(2000), "% Processor Time")
        data = self.global_data()
        types = {(obj.index, c.index): c.type for obj in data.objects.values() for c in obj.counters}
        self.assertEqual(types[(PROCESSOR, 2000)], 0x21510500)  # PERF_100NSEC_TIMER_INV
        self.assertEqual(types[(PROCESSOR, 698)], 0x20510500)  # PERF_100NSEC_TIMER
        self.assertEqual(types[(MEMORY, 1406)], 0x20020400)  # PERF_RAW_FRACTION
        self.assertEqual(types[(MEMORY, 2002)], 0x40030403)  # its PERF_RAW_BASE, right after it
        self.assertEqual(types[(SYSTEM, 10)], 0x10410400)  # PERF_COUNTER_COUNTER
        self.assertEqual(types[(PROCESS, 952)], 0x00010000)  # PERF_COUNTER_RAWCOUNT
        self.assertEqual(data.perf_freq, 10_000_000)

    def test_2_instances(self):
        before = {int(entry) for entry in os.listdir("/proc") if entry.isdigit()}
        # A process joins at the update after the one that saw it start: two updates and the
        # age of the sample, with room for a machine under load.
        time.sleep(3.0)
        data = self.published()
        after = {int(entry) for entry in os.listdir("/proc") if entry.isdigit()}
        self.assertEqual([name for name, _ in data.objects[PROCESSOR].instances], ["_Total"])
        self.assertEqual([name for name, _ in data.objects[LOGICAL_DISK].instances], ["_Total"])
        processes = data.objects[PROCESS].instances
        # Every process once (the stand-in for lsass besides); the children, each with the
        # descriptors /proc shows it holding, in the order they started.
        pids = [values[784] for name, values in processes if name != "lsass" and values[784] != 0]
        # _Total first: the handle counts summed over the processes (the stand-in for lsass, a
        # second copy of one, not counted twice), ID Process 0, as Windows has it.
        self.assertEqual(processes[0][0], "_Total")
        self.assertEqual([name for name, _ in processes].count("_Total"), 1)
        self.assertEqual(processes[0][1][784], 0)
        # An answer that spans an update takes the later instances' figures from the next
        # sample (docs/perfd.md), and the provider's own descriptors (one for each process it
        # counts the calls of) change with the machine's processes: answers are asked for
        # until one falls within one sample.
        for _ in range(10):
            if processes[0][1][952] == sum(values[952] for name, values in processes[1:] if name != "lsass"):
                break
            processes = self.global_data().objects[PROCESS].instances
        self.assertEqual(processes[0][1][952], sum(values[952] for name, values in processes[1:] if name != "lsass"))
        self.assertEqual(len(pids), len(set(pids)))
        children = [(values[784], values[952]) for name, values in processes if name == self.name]
        self.assertEqual(children, sorted((c.pid, descriptors(c.pid)) for c in self.children))
        self.assertNotEqual(children[0][1], children[1][1])
        # Every process that lived through the answer's sample (and the second before it, when a
        # new one joins) is there, or is one of those that read as zeros (a name read a while
        # ago: kernel threads rename themselves).
        zeroed = [name for name, values in processes if values[784] == 0 and name != "_Total"]
        missing = (before & after) - set(pids)
        self.assertLessEqual(len(missing), len(zeroed), ([(pid, comm(pid)) for pid in missing], zeroed))
        listed = after
        # Samba has no lsass: the oldest process of the stand-in's name answers as it too. On a
        # domain controller that is samba, which holds the directory.
        lsass = [values[784] for name, values in processes if name == "lsass"]
        named = [(start_time(pid), pid) for pid in listed if comm(pid) == STAND_IN and pid != self.impostors[1].pid]
        self.assertEqual(lsass, [min(named)[1]])
        # Only root running Samba's program stands in: the process that calls itself lsass
        # answers as lsass_PID, and the one that calls itself the stand-in as itself alone.
        fake = self.impostors[0].pid
        self.assertEqual([name for name, values in processes if values[784] == fake], ["lsass_%d" % fake])
        fake = self.impostors[1].pid
        self.assertEqual([name for name, values in processes if values[784] == fake], [STAND_IN])
        if KIND == "dc":
            links = [os.readlink("/proc/%d/fd/%s" % (lsass[0], fd)) for fd in os.listdir("/proc/%d/fd" % lsass[0])]
            self.assertTrue(any(link.endswith("/private/sam.ldb") for link in links), links)
        # And ntfrs stays absent, as on a controller that replicates with DFSR.
        self.assertNotIn("ntfrs", [name for name, _ in processes])

    def test_3_values_agree_with_proc(self):
        self.published()
        # Each cumulative figure lies between /proc's before the sample the answer holds (its
        # PerfTime is the monotonic clock when the provider read the kernel's counts) and
        # /proc's after the answer.
        before = time.clock_gettime(time.CLOCK_MONOTONIC)
        before_stat, before_vm = proc_stat(), vmstat()
        for _ in range(POLLS):
            time.sleep(0.25)
            data = self.global_data()
            if data.perf_time / 1e7 > before + 0.05:
                break
        after_stat, after_vm = proc_stat(), vmstat()
        self.assertGreater(data.perf_time / 1e7, before + 0.05)
        cpus = after_stat["cpus"]

        processor = data.objects[PROCESSOR].instances[0][1]
        for index, field in [(2000, "idle"), (698, "irq")]:
            self.assertLessEqual(to_100ns(before_stat[field], cpus) - 1, processor[index])
            self.assertLessEqual(processor[index], to_100ns(after_stat[field], cpus) + 1)
        self.assertLessEqual(to_100ns(before_stat["total"], cpus) - 1, data.perf_time_100ns)
        self.assertLessEqual(data.perf_time_100ns, to_100ns(after_stat["total"], cpus) + 1)

        memory = data.objects[MEMORY].values
        # Pages Input: each hard fault's page and those swap readahead read with them.
        for vm in (before_vm, after_vm):
            vm["pages_input"] = vm.get("pgmajfault", 0) + vm.get("swap_ra", 0)
        for index, name in [(28, "pgfault"), (42, "pgmajfault"), (48, "pswpout"), (50, "pswpout"), (822, "pages_input")]:
            low, high = before_vm.get(name, 0) & 0xFFFFFFFF, after_vm.get(name, 0) & 0xFFFFFFFF
            if low <= high:  # a 32-bit counter: not across its wrap
                self.assertTrue(low <= memory[index] <= high, (name, low, memory[index], high))
        committed = 100.0 * memory[1406] / memory[2002]
        info = meminfo()
        self.assertAlmostEqual(committed, 100.0 * info["Committed_AS"] / info["CommitLimit"], delta=2.0)

        disk = data.objects[LOGICAL_DISK].instances[0][1]
        self.assertGreater(disk[2004], 0)
        self.assertTrue(0 <= disk[408] <= disk[2004])

        # Two answers give % Processor Time by Windows' formula for its type.
        time.sleep(1.0)
        later = self.global_data()
        idle = later.objects[PROCESSOR].instances[0][1][2000] - processor[2000]
        elapsed = later.perf_time_100ns - data.perf_time_100ns
        self.assertGreater(elapsed, 0)
        self.assertTrue(0.0 <= 100.0 * (1 - idle / elapsed) <= 100.0)
        self.assertGreater(later.perf_time, data.perf_time)

    def test_3a_file_operations_count_cached_reads(self):
        # 20,000 preads a second of a file in the cache, which no disk sees, read through the
        # server as File Read Operations/sec (besides the machine's other calls).
        script = (
            "import os, sys, time\n"
            "fd = os.open(sys.argv[1], os.O_RDONLY)\n"
            "print('ready', flush=True)\n"
            "start = time.monotonic(); done = 0\n"
            "while time.monotonic() < start + float(sys.argv[2]):\n"
            "    while done < int((time.monotonic() - start) * 20000):\n"
            "        os.pread(fd, 1, 0); done += 1\n"
            "    time.sleep(0.001)\n"
        )
        reader = subprocess.Popen([sys.executable, "-c", script, sys.executable, "6"], stdout=subprocess.PIPE, text=True)
        try:
            self.assertEqual(reader.stdout.readline().strip(), "ready")
            time.sleep(2.0)  # the provider finds it at an update, and reads its calls at each one
            first = self.global_data()
            time.sleep(2.5)
            second = self.global_data()
        finally:
            reader.wait(timeout=30)
            reader.stdout.close()
        seconds = (second.perf_time - first.perf_time) / second.perf_freq
        self.assertGreater(seconds, 1.0)
        reads = (second.objects[SYSTEM].values[10] - first.objects[SYSTEM].values[10]) & 0xFFFFFFFF
        print("File Read Operations/sec while 20,000 preads a second ran: %.0f" % (reads / seconds), file=sys.stderr)
        self.assertGreaterEqual(reads / seconds, 15_000)

    def test_4_winreg_server_restarts(self):
        self.published()
        # Samba starts rpcd_winreg again on the next request; the provider carries on.
        # Only this fixture's own winreg servers: another Samba on the machine is none of ours.
        namespace = server_pid_namespace(self.state)
        servers = [pid for pid in (int(p) for p in os.listdir("/proc") if p.isdigit())
                   if comm(pid) == "rpcd_winreg" and pid_namespace(pid) == namespace]
        self.assertTrue(servers, "no rpcd_winreg of this server right after an answer")
        for pid in servers:
            os.kill(pid, signal.SIGTERM)
        for _ in range(POLLS):
            try:
                type(self).client = self.connect()
                break
            except Exception:  # the pipe is not served again yet
                time.sleep(0.25)
        self.published()
        self.assertIsNone(self.perfd.poll())

    def test_5_stopped_provider_leaves_no_figures(self):
        self.published()
        self.perfd.send_signal(signal.SIGTERM)
        self.assertEqual(self.perfd.wait(timeout=10), 0)
        self.assertEqual(self.client.names(), {})
        self.assertEqual(self.global_data().objects, {})


def start_other_client(state):
    """Another client of the server, reading HKEY_PERFORMANCE_DATA back to back until ended, so
    that answers overlap and an update often finds one under way."""
    script = (
        "import sys\n"
        "sys.path.insert(0, sys.argv[1])\n"
        "from perf_data_block import PerfDataClient\n"
        "client = PerfDataClient(*sys.argv[2:7])\n"
        "while True:\n"
        "    client.query('Global')\n"
    )
    return subprocess.Popen([sys.executable, "-c", script, os.path.dirname(os.path.abspath(__file__)),
                             state["address"], state["user"], state["password"], state["smb_conf"],
                             state.get("port", "")])


@unittest.skipUnless(KIND == "smbd", "one server is enough: the provider is the same")
class NamesKeepTheirFiguresUnderChurn(unittest.TestCase):
    """Samba's server reads an answer's instance names once but each instance's figures as it
    goes: answers read fast while older (lower-PID) processes end and new ones start, with the
    provider updating ten times a second and two other clients reading back to back, never pair
    a name with another process's figures."""

    ANSWERS = 200

    def test_fast_answers_while_older_processes_come_and_go(self):
        state = read_state()
        prefix = "zc%d_" % (os.getpid() % 10000)
        children, pid_of, others = {}, {}, []

        def start(k):
            child = start_child(prefix + str(k), k % 5)
            children[child.pid] = child
            pid_of[prefix + str(k)] = child.pid

        def end(child):
            child.stdin.close()
            child.stdout.close()
            child.wait()

        log = tempfile.NamedTemporaryFile(prefix="zeltor-perfd-", suffix=".log")
        perfd = None
        try:
            for k in range(40):
                start(k)
            perfd = subprocess.Popen(
                [os.environ["ZELTOR_PERFD"], "-s", state["smb_conf"], "--interval", "0.1", "--lsass", STAND_IN, "--all-processes"],
                stderr=log)
            client = PerfDataClient(state["address"], state["user"], state["password"], state["smb_conf"],
                                    state.get("port"))
            for _ in range(POLLS):
                data = PerfData(client.query("Global"))
                if PROCESS in data.objects and any(n.startswith(prefix) for n, _ in data.objects[PROCESS].instances):
                    break
                time.sleep(0.25)
            others += [start_other_client(state) for _ in range(2)]
            answers_wrong = names_wrong = zeroed = 0
            following = 40
            for answer in range(self.ANSWERS):
                # The oldest child ends and a new one starts, at every answer.
                end(children.pop(min(children)))
                start(following)
                following += 1
                data = PerfData(client.query("Global"))
                wrong = 0
                for name, values in data.objects[PROCESS].instances:
                    if not name.startswith(prefix):
                        continue
                    if values[784] == 0:
                        zeroed += 1  # ID Process 0: no process's figures
                    elif values[784] != pid_of.get(name):
                        wrong += 1
                names_wrong += wrong
                answers_wrong += wrong > 0
                time.sleep((answer % 6) / 100)  # 0 to 50 ms between answers
            client.close()
            perfd.terminate()
            perfd.wait()
            perfd = None
            # The provider's tally: how often an update waited for an answer, or had to publish
            # during one.
            with open(log.name) as provider:
                tally = [line.strip() for line in provider if "samples published" in line]
            print("\n%d of %d answers paired a name with another process's figures (%d names); "
                  "%d instances read as zeros; %s" % (answers_wrong, self.ANSWERS, names_wrong, zeroed, tally),
                  file=sys.stderr)
            self.assertEqual(answers_wrong, 0)
        finally:
            for other in others:
                other.kill()
                other.wait()
            if perfd is not None:
                perfd.terminate()
                perfd.wait()
            for child in children.values():
                end(child)
            log.close()


@unittest.skipUnless(KIND == "smbd", "one server is enough: the provider is the same")
class AnswersUnderChurnAtTenHertz(unittest.TestCase):
    """A client that reads the server ten times a second, as a PDH client polling a counter
    would, while the provider updates ten times a second and processes start and end: every
    rate it works out between two answers is one its counter can have, and every process keeps
    its instance name (NAME, NAME#1, ... by their order) for as long as it lives, both with
    --all-processes and with the processes of the stand-in's name alone (the default)."""

    ANSWERS = 500  # for each way of publishing
    SECONDS = 70  # at most: a busy machine's answers may take longer than a tenth of a second

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="zeltor-churn-")
        # Named by their program, as the provider names processes: a link to Python.
        self.filler = "zcf%d" % (os.getpid() % 10000)
        for name in (STAND_IN, self.filler):
            os.symlink(sys.executable, os.path.join(self.dir.name, name))
        self.alive = {}  # PID -> (process, name)

    def tearDown(self):
        for child, _ in self.alive.values():
            self.end_process(child)
        self.dir.cleanup()

    def start(self, name, files, busy):
        """A process named name, holding extra open files and busy for part of its time (a
        share of 1/busy, none for 0) until its stdin closes."""
        script = (
            "import select, sys, time\n"
            "held = [open('/dev/null') for _ in range(int(sys.argv[1]))]\n"
            "busy = float(sys.argv[2])\n"
            "print('ready', flush=True)\n"
            "while not select.select([sys.stdin], [], [], 0.02)[0]:\n"
            "    end = time.monotonic() + busy\n"
            "    while time.monotonic() < end: pass\n"
        )
        child = subprocess.Popen([os.path.join(self.dir.name, name), "-c", script, str(files), str(busy)],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.assertEqual(child.stdout.readline().strip(), "ready")
        self.alive[child.pid] = (child, name)
        return child.pid

    def end_process(self, child):
        child.stdin.close()
        child.wait()
        child.stdout.close()

    def end(self, pid):
        child, _ = self.alive.pop(pid)
        self.end_process(child)

    def run_reader(self, options):
        state = read_state()
        import random
        rng = random.Random(11)
        # Older processes of another name, which end one by one below the others; processes of
        # the stand-in's name before and after those that stay, which end and start again.
        fillers = [self.start(self.filler, k % 4, 0) for k in range(60)]
        churners = [self.start(STAND_IN, 1, 0.002) for _ in range(3)]
        stayers = [self.start(STAND_IN, 2 + k, 0.003) for k in range(4)]
        log = tempfile.NamedTemporaryFile(prefix="zeltor-perfd-", suffix=".log")
        perfd = subprocess.Popen([os.environ["ZELTOR_PERFD"], "-s", state["smb_conf"], "--interval", "0.1",
                                  "--lsass", STAND_IN] + options, stderr=log)
        try:
            client = PerfDataClient(state["address"], state["user"], state["password"], state["smb_conf"],
                                    state.get("port"))
            for _ in range(POLLS):
                data = PerfData(client.query("Global"))
                if PROCESS in data.objects and any(values[784] == stayers[-1]
                                                   for _, values in data.objects[PROCESS].instances):
                    break
                time.sleep(0.25)
            label_of = {}  # PID -> its instance name, from the first answer that showed it
            out_of_range, renamed, mixed, same_sample, before = [], [], [], 0, None
            start = time.monotonic()
            answers = 0
            later = None  # when the oldest churner's successor starts
            for answer in range(self.ANSWERS):
                if time.monotonic() > start + self.SECONDS:
                    break
                answers += 1
                if answer % 3 == 0 and fillers:
                    self.end(fillers.pop(0))
                # Now and then the oldest of the name, before those that stay, ends and none
                # starts for 6 s, longer than its place waits for one; else one ends and
                # another starts every 7 answers.
                if answer % 150 == 20:
                    self.end(churners.pop(0))
                    later = time.monotonic() + 6
                elif later is not None and time.monotonic() > later:
                    churners.append(self.start(STAND_IN, 1, 0.002))
                    later = None
                elif later is None and answer % 7 == 0:
                    self.end(churners.pop(rng.randrange(len(churners))))
                    churners.append(self.start(STAND_IN, 1, 0.002))
                time.sleep(max(0.0, start + answer / 10 - time.monotonic()))
                data = PerfData(client.query("Global"))
                # Each process's name as a client numbers it, checked for the processes of
                # this test that lived through the answer.
                seen = {}
                for name, values in data.objects[PROCESS].instances:
                    key = name.lower()
                    label = name if key not in seen else "%s#%d" % (name, seen[key])
                    seen[key] = seen.get(key, 0) + 1
                    pid = values[784]
                    # (A child that the provider named before its exec shows under its
                    # parent's name until the provider reads its name again.)
                    if pid not in self.alive or name != self.alive[pid][1]:
                        continue
                    if label_of.setdefault(pid, label) != label:
                        renamed.append((answer, pid, label_of[pid], label))
                # With every process published, Process(_Total), read first, holds the sums of
                # the instances read after it: of one sample.
                processes = data.objects[PROCESS].instances
                if "--all-processes" in options and processes[0][1][952] != sum(
                        values[952] for name, values in processes[1:] if name != "lsass"):
                    mixed.append(answer)
                # Processor time and interrupt time between this answer and the one before.
                processor = data.objects[PROCESSOR].instances[0][1]
                if before is not None:
                    elapsed = data.perf_time_100ns - before[0]
                    if elapsed == 0:
                        same_sample += 1
                    else:
                        busy = 100.0 * (1 - (processor[2000] - before[1]) / elapsed)
                        interrupts = 100.0 * (processor[698] - before[2]) / elapsed
                        if not (-0.01 <= busy <= 100.01 and -0.01 <= interrupts <= 100.01):
                            out_of_range.append((answer, round(busy, 1), round(interrupts, 1)))
                before = (data.perf_time_100ns, processor[2000], processor[698])
            client.close()
        finally:
            perfd.terminate()
            perfd.wait(timeout=10)
            log.seek(0)
            published = [line for line in log.read().decode().splitlines() if "samples published" in line]
            log.close()
        # The provider publishes during an answer only when the answers under way outlast both
        # its wait and the age its figures may reach (a machine so busy that an answer takes
        # most of a second); it says how often.
        during = re.search(r"(\d+) published during one", published[0] if published else "")
        during = int(during.group(1)) if during else 0
        print("\n%s: %d answers in %.0f s, %d pairs of one sample; %d rates out of range %s; %d answers of two "
              "samples %s; %d processes renamed %s; %s"
              % (" ".join(options) or "default", answers, time.monotonic() - start, same_sample, len(out_of_range),
                 out_of_range[:5], len(mixed), mixed[:5], len(renamed), renamed[:5], published), file=sys.stderr)
        self.assertGreaterEqual(answers, 100)
        self.assertLessEqual(len(out_of_range), during, out_of_range)
        self.assertLessEqual(len(mixed), during, mixed)
        self.assertEqual(renamed, [])
        self.assertGreater(len(label_of), 20)

    def test_every_process(self):
        self.run_reader(["--all-processes"])

    def test_the_stand_ins_processes(self):
        self.run_reader([])


@unittest.skipUnless(KIND == "smbd", "the standalone server's user has a Unix group of its own")
class ReadersGroup(unittest.TestCase):
    """With --readers, the databases are readable by root and that group alone, and Samba's
    server, which opens them as each caller's Unix user, answers the group's members alone."""

    def answer(self, group):
        """The databases' modes and groups, and the objects the server's user reads (None for
        an answer without data)."""
        state = read_state()
        files = [os.path.join(state["perfmon"], name) for name in ("names.tdb", "data.tdb")]
        perfd = subprocess.Popen([os.environ["ZELTOR_PERFD"], "-s", state["smb_conf"], "--interval", "0.5",
                                  "--lsass", STAND_IN, "--readers", str(group)], stderr=subprocess.DEVNULL)
        try:
            owners = None
            for _ in range(POLLS):
                time.sleep(0.25)
                try:
                    owners = [(os.stat(f).st_mode & 0o7777, os.stat(f).st_gid) for f in files]
                except OSError:
                    continue
                if owners == [(0o640, group)] * 2:
                    break
            client = PerfDataClient(state["address"], state["user"], state["password"], state["smb_conf"],
                                    state.get("port"))
            try:
                objects = sorted(PerfData(client.query("230 2 4 236 238")).objects)
            except Exception:  # no PERF_DATA_BLOCK: the server could not open the databases
                objects = None
            client.close()
            return owners, objects
        finally:
            perfd.terminate()
            perfd.wait(timeout=10)

    def test_only_the_group_reads(self):
        group = int(read_state()["user_gid"])
        self.assertEqual(self.answer(group), ([(0o640, group)] * 2, [SYSTEM, MEMORY, PROCESS, LOGICAL_DISK, PROCESSOR]))
        self.assertEqual(self.answer(65534), ([(0o640, 65534)] * 2, None))


if __name__ == "__main__":
    unittest.main(verbosity=2)
