// The Linux counter source: PDH statuses, values from a fake procfs with a fake clock, and the
// thirteen counters of the program on this machine's real /proc.
#include <gtest/gtest.h>

#include <mntent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <set>

#include "perf/pdh_status.h"
#include "platform/linux/counters/linux_counter_source.h"
#include "platform/linux/counters/process_finder.h"
#include "tests/linux/child_process.h"
#include "tests/linux/fake_proc_root.h"

namespace {

const char* const kThirteenPaths[] = {
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
};

constexpr std::int64_t kSecondNs = 1'000'000'000;

struct Read {
    PDH_STATUS status;
    PdhFormattedValue value;
};

// A source on a query, with a fake clock by default.
class SourceTest : public ::testing::Test {
protected:
    void Open(std::string procRoot, bool realClock = false)
    {
        LinuxCounterSource::MonotonicClock clock = [this] { return now; };
        if (realClock)
            clock = LinuxCounterSource::SteadyClockNs;
        source = std::make_unique<LinuxCounterSource>(std::move(procRoot), "dc1.corp.example", clock,
                                                      [this](std::uint32_t ms) { slept.push_back(ms); });
        ASSERT_EQ(source->OpenQuery(0, &query), 0u);
    }

    PDH_STATUS Add(const std::string& fullPath, PdhCounter** counter)
    {
        return source->AddCounter(query, CString::FromUtf8(fullPath), 0, counter);
    }

    PdhCounter* AddLocal(const std::string& path)
    {
        PdhCounter* counter = nullptr;
        EXPECT_EQ(Add("\\\\dc1" + path, &counter), 0u) << path;
        return counter;
    }

    Read Value(PdhCounter* counter)
    {
        Read r{};
        r.status = source->GetFormattedCounterValue(counter, PDH_FMT_LONG_FORMAT, &r.value);
        return r;
    }

    void ExpectValue(PdhCounter* counter, std::int32_t expected, const char* what)
    {
        const Read r = Value(counter);
        EXPECT_EQ(r.status, 0u) << what;
        EXPECT_EQ(r.value.CStatus, PDH_CSTATUS_VALID_DATA) << what;
        EXPECT_EQ(r.value.longValue, expected) << what;
    }

    void ExpectInvalid(PdhCounter* counter, std::uint32_t cstatus, const char* what)
    {
        const Read r = Value(counter);
        EXPECT_EQ(r.status, PDH_INVALID_DATA) << what;
        EXPECT_EQ(r.value.CStatus, cstatus) << what;
    }

    std::int64_t now = 5 * kSecondNs;
    std::vector<std::uint32_t> slept;
    std::unique_ptr<LinuxCounterSource> source;
    PdhQuery* query = nullptr;
};

// The kernel files of one moment, in a fake procfs whose one block device is mounted on the
// fake root itself.
void WriteMoment(FakeProcRoot& proc, const std::string& cpu, std::uint64_t pgfault, std::uint64_t pgmajfault,
                 std::uint64_t pswpin, std::uint64_t pswpout, std::uint64_t reads, std::uint64_t writes,
                 std::uint64_t swapReadahead = 0)
{
    proc.Write("stat", "cpu  " + cpu + "\ncpu0 " + cpu + "\nintr 5 0 0\n");
    proc.Write("meminfo", "MemTotal: 4000000 kB\nCommitLimit: 1000000 kB\nCommitted_AS: 300000 kB\n");
    proc.Write("vmstat", "nr_free_pages 100\npswpin " + std::to_string(pswpin) + "\npswpout " +
                             std::to_string(pswpout) + "\npgfault " + std::to_string(pgfault) + "\npgmajfault " +
                             std::to_string(pgmajfault) + "\nswap_ra " + std::to_string(swapReadahead));
    proc.Write("diskstats", "   8 0 sda " + std::to_string(reads) + " 0 0 0 " + std::to_string(writes) +
                                " 0 0 0 0 0 0\n   8 1 sda1 900000 0 0 0 900000 0 0 0 0 0 0\n");
    proc.Write("self/mountinfo", "29 1 8:1 / " + proc.Path() + " rw - ext4 /dev/sda1 rw\n");
}

double FreeShare(const std::string& path)
{
    struct statvfs fs {};
    EXPECT_EQ(statvfs(path.c_str(), &fs), 0);
    return 100.0 * static_cast<double>(fs.f_bfree) / static_cast<double>(fs.f_blocks);
}

} // namespace

TEST_F(SourceTest, ConnectsToThisMachineByItsNamesOnly)
{
    Open("/proc");
    for (const char16_t* name : { u"dc1.corp.example", u"DC1.Corp.Example", u"dc1", u"DC1", u"localhost", u"LocalHost",
                                  u"127.0.0.1", u".", u"" })
        EXPECT_EQ(source->ConnectMachine(name), 0u) << CString(name).ToUtf8();
    for (const char16_t* name : { u"dc2", u"dc1.corp", u"corp.example", u"dc", u"127.0.0.2", u"\\\\dc1", u"dc1." })
        EXPECT_EQ(source->ConnectMachine(name), PDH_CSTATUS_NO_MACHINE) << CString(name).ToUtf8();
}

TEST_F(SourceTest, AddingReportsEachKindOfBadPath)
{
    Open("/proc");
    PdhCounter* counter = nullptr;
    for (const char* path : { "", "Memory\\Page Faults/sec", "\\Memory\\Page Faults/sec", "\\\\dc1", "\\\\dc1\\Memory",
                              "\\\\dc1\\Memory\\", "\\\\\\Memory\\Page Faults/sec", "\\\\dc1\\\\Page Faults/sec",
                              "\\\\dc1\\(lsass)\\Handle Count", "\\\\dc1\\Process(lsass\\Handle Count",
                              "\\\\dc1\\Process()\\Handle Count", "\\\\dc1\\Processlsass)\\Handle Count",
                              "\\\\dc1\\Process(lsass#x)\\Handle Count", "\\\\dc1\\Process(lsass#)\\Handle Count" })
        EXPECT_EQ(Add(path, &counter), PDH_CSTATUS_BAD_COUNTERNAME) << path;
    EXPECT_EQ(Add("\\\\dc2\\Memory\\Page Faults/sec", &counter), PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(Add("\\\\dc1\\Paging File(_Total)\\% Usage", &counter), PDH_CSTATUS_NO_OBJECT);
    EXPECT_EQ(Add("\\\\dc1\\Memory\\Available Bytes", &counter), PDH_CSTATUS_NO_COUNTER);
    EXPECT_EQ(Add("\\\\dc1\\Processor(_Total)\\Page Faults/sec", &counter), PDH_CSTATUS_NO_COUNTER);
    EXPECT_EQ(counter, nullptr);
    // Object and counter names regardless of case; the machine as any of its names.
    EXPECT_EQ(Add("\\\\DC1.corp.example\\MEMORY\\page faults/SEC", &counter), 0u);
    EXPECT_EQ(Add("\\\\localhost\\processor(_total)\\% processor time", &counter), 0u);

    EXPECT_EQ(source->AddCounter(nullptr, u"\\\\dc1\\Memory\\Page Faults/sec", 0, &counter), PDH_INVALID_HANDLE);
    PdhQuery* closed = nullptr;
    ASSERT_EQ(source->OpenQuery(0, &closed), 0u);
    ASSERT_EQ(source->CloseQuery(closed), 0u);
    EXPECT_EQ(source->AddCounter(closed, u"\\\\dc1\\Memory\\Page Faults/sec", 0, &counter), PDH_INVALID_HANDLE);
}

TEST_F(SourceTest, InstancesThatAreNotThereAddAndReadNoInstance)
{
    FakeProcRoot proc;
    WriteMoment(proc, "1 0 1 10 0 0 0 0", 1, 1, 1, 1, 1, 1);
    Open(proc.Path());
    PdhCounter* lsass = AddLocal("\\Process(lsass)\\Handle Count");
    PdhCounter* noInstance = AddLocal("\\Process\\Handle Count");
    PdhCounter* cpu3 = AddLocal("\\Processor(3)\\% Processor Time");
    PdhCounter* total1 = AddLocal("\\LogicalDisk(_Total#1)\\% Free Space");
    PdhCounter* memoryInstance = AddLocal("\\Memory(x)\\Page Faults/sec");
    PdhCounter* withParent = AddLocal("\\Process(init/lsass)\\Handle Count");
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    now += kSecondNs;
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    for (PdhCounter* c : { lsass, noInstance, cpu3, total1, memoryInstance, withParent })
        ExpectInvalid(c, PDH_CSTATUS_NO_INSTANCE, "missing instance");
}

TEST_F(SourceTest, DescriptorsThatCannotBeCountedAreNoFigureButTheProcessIsThere)
{
    FakeProcRoot proc;
    proc.AddProcess(700, "lsass");
    // Not a directory: opendir fails as it does with EACCES on another user's process.
    proc.Write("700/fd-file", "");
    std::filesystem::remove_all(proc.Path() + "/700/fd");
    std::filesystem::rename(proc.Path() + "/700/fd-file", proc.Path() + "/700/fd");
    Open(proc.Path());
    PdhCounter* handles = AddLocal("\\Process(lsass)\\Handle Count");
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    ExpectInvalid(handles, PDH_CSTATUS_INVALID_DATA, "uncountable");
}

TEST_F(SourceTest, HandlesOfClosedOrUnknownQueriesAndCountersAreRefused)
{
    Open("/proc");
    EXPECT_EQ(source->CollectQueryData(query), PDH_NO_DATA); // no counters yet
    PdhCounter* counter = AddLocal("\\Memory\\% Committed Bytes In Use");
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    EXPECT_EQ(Value(counter).status, 0u);
    PdhFormattedValue value;
    EXPECT_EQ(source->GetFormattedCounterValue(counter, PDH_FMT_LONG_FORMAT, nullptr), PDH_INVALID_ARGUMENT);
    EXPECT_EQ(source->GetFormattedCounterValue(nullptr, PDH_FMT_LONG_FORMAT, &value), PDH_INVALID_HANDLE);

    ASSERT_EQ(source->CloseQuery(query), 0u);
    EXPECT_EQ(source->CloseQuery(query), PDH_INVALID_HANDLE);
    EXPECT_EQ(source->CollectQueryData(query), PDH_INVALID_HANDLE);
    EXPECT_EQ(source->CollectQueryData(nullptr), PDH_INVALID_HANDLE);
    EXPECT_EQ(source->GetFormattedCounterValue(counter, PDH_FMT_LONG_FORMAT, &value), PDH_INVALID_HANDLE);
    EXPECT_EQ(source->OpenQuery(0, nullptr), PDH_INVALID_ARGUMENT);

    source->Sleep(100);
    EXPECT_EQ(slept, (std::vector<std::uint32_t>{ 100 }));
}

TEST_F(SourceTest, TwoSamplesOfAFakeProcfsGiveTheRates)
{
    FakeProcRoot proc;
    // busy 1650 idle 8500, irq 100.
    WriteMoment(proc, "1000 0 500 8000 500 100 50 0 0 0", 1000, 10, 0, 4, 100, 50);
    proc.AddProcess(4242, "ntfrs", 3);
    Open(proc.Path());
    std::map<std::string, PdhCounter*> c;
    for (const char* path : kThirteenPaths)
        c[path] = AddLocal(path);
    ASSERT_EQ(source->CollectQueryData(query), 0u);

    // One sample: the instantaneous counters only.
    ExpectValue(c["\\Memory\\% Committed Bytes In Use"], 30, "commit");
    ExpectValue(c["\\Process(ntfrs)\\Handle Count"], 3, "handles");
    ExpectInvalid(c["\\Process(lsass)\\Handle Count"], PDH_CSTATUS_NO_INSTANCE, "lsass");
    for (const char* delta : { "\\Processor(_Total)\\% Processor Time", "\\Processor(_Total)\\% Interrupt Time",
                               "\\System\\File Read Operations/sec", "\\Memory\\Page Faults/sec" })
        ExpectInvalid(c[delta], PDH_CSTATUS_INVALID_DATA, delta);

    // Two seconds on: busy +450 and irq +50 of 1050 ticks.
    WriteMoment(proc, "1300 0 600 8500 600 150 50 0 0 0", 3001, 30, 8, 10, 300, 51, 6);
    now += 2 * kSecondNs;
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    ExpectValue(c["\\Processor(_Total)\\% Processor Time"], 42, "cpu");
    ExpectValue(c["\\Processor(_Total)\\% Interrupt Time"], 4, "interrupt");
    ExpectValue(c["\\Memory\\Page Faults/sec"], 1000, "faults");
    ExpectValue(c["\\Memory\\Page Reads/sec"], 10, "major faults");
    // Pages Input: each hard fault's page and the 6 that swap readahead read with them.
    ExpectValue(c["\\Memory\\Pages Input/sec"], 13, "pages for hard faults");
    ExpectValue(c["\\Memory\\Pages Output/sec"], 3, "swap out");
    ExpectValue(c["\\Memory\\Page Writes/sec"], 3, "swap out");
    ExpectValue(c["\\System\\File Read Operations/sec"], 100, "reads");
    ExpectValue(c["\\System\\File Write Operations/sec"], 0, "writes");
    const Read space = Value(c["\\LogicalDisk(_Total)\\% Free Space"]);
    EXPECT_EQ(space.value.CStatus, PDH_CSTATUS_VALID_DATA);
    EXPECT_NEAR(space.value.longValue, FreeShare(proc.Path()), 1.0);

    // The process has ended and the disk statistics are gone.
    proc.RemoveProcess(4242);
    proc.Write("diskstats", "");
    now += kSecondNs;
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    ExpectInvalid(c["\\Process(ntfrs)\\Handle Count"], PDH_CSTATUS_NO_INSTANCE, "ended");
    ExpectInvalid(c["\\System\\File Read Operations/sec"], PDH_CSTATUS_INVALID_DATA, "no diskstats");
    ExpectValue(c["\\Memory\\Page Faults/sec"], 0, "unchanged");
}

TEST_F(SourceTest, EachFileIsOpenedOncePerCollection)
{
    FakeProcRoot proc;
    WriteMoment(proc, "1 0 1 10 0 0 0 0", 1, 1, 1, 1, 1, 1);
    Open(proc.Path());
    for (const char* path : kThirteenPaths)
        AddLocal(path);

    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    std::map<int, std::string> directories;
    directories[inotify_add_watch(watcher, proc.Path().c_str(), IN_OPEN)] = "";
    directories[inotify_add_watch(watcher, (proc.Path() + "/self").c_str(), IN_OPEN)] = "self/";
    // Collections with and without a scan for lsass and ntfrs (two rename intervals of a small
    // machine), a process started before each.
    for (int collection = 0; collection < 4 * ProcessFinder::kMinNewProcessScanInterval; ++collection) {
        alignas(inotify_event) char events[4096];
        proc.AddProcess(100 + collection, "cron");
        while (read(watcher, events, sizeof events) > 0) {
            // the test's own writes
        }
        ASSERT_EQ(source->CollectQueryData(query), 0u);
        std::map<std::string, int> opens;
        const ssize_t length = read(watcher, events, sizeof events);
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len > 0 && !std::isdigit(static_cast<unsigned char>(event->name[0])))
                ++opens[directories[event->wd] + event->name];
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        // stat serves two counters, vmstat five, diskstats two.
        for (const char* file : { "stat", "meminfo", "vmstat", "diskstats", "self/mountinfo" })
            EXPECT_EQ(opens[file], 1) << file << " at collection " << collection;
        EXPECT_LE(opens["loadavg"], 1) << collection;
    }
    close(watcher);
}

TEST_F(SourceTest, ChildHandleCountThroughTheRealProc)
{
    Open("/proc");
    const std::string name = "zh" + std::to_string(getpid());
    ChildProcess child(name, 11);
    ASSERT_TRUE(child.Running());
    PdhCounter* handles = AddLocal("\\Process(" + name + ")\\Handle Count");
    PdhCounter* second = AddLocal("\\Process(" + name + "#1)\\Handle Count");
    PdhCounter* id = AddLocal("\\Process(" + name + ")\\ID Process");
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    ExpectValue(handles, 11, "child");
    ExpectValue(id, child.Pid(), "pid");
    ExpectInvalid(second, PDH_CSTATUS_NO_INSTANCE, "no second child");
    child.End();
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    ExpectInvalid(handles, PDH_CSTATUS_NO_INSTANCE, "ended child");
    ExpectInvalid(id, PDH_CSTATUS_NO_INSTANCE, "ended child's pid");
}

TEST_F(SourceTest, FreeSpaceOfAMachineWhoseDisksAreZfsDatasets)
{
    // No block device at all: one pool with one dataset, mounted on the fake root, beside a
    // network share and a memory file system that do not count.
    FakeProcRoot proc;
    WriteMoment(proc, "1 0 1 10 0 0 0 0", 1, 1, 1, 1, 1, 1);
    proc.Write("self/mountinfo", "21 1 0:20 / " + proc.Path() +
                                     " rw - zfs tank/data rw,xattr\n"
                                     "50 21 0:45 / /proc rw - nfs4 fs1:/export rw\n"
                                     "52 21 0:47 / /tmp rw - tmpfs tmpfs rw\n");
    Open(proc.Path());
    PdhCounter* space = AddLocal("\\LogicalDisk(_Total)\\% Free Space");
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    const Read r = Value(space);
    EXPECT_EQ(r.value.CStatus, PDH_CSTATUS_VALID_DATA);
    EXPECT_NEAR(r.value.longValue, FreeShare(proc.Path()), 1.0);
}

TEST_F(SourceTest, FreeSpaceMatchesStatvfsOfTheMountedBlockDevices)
{
    // Independently: every mount from a /dev/ source, one per device number.
    FILE* mounts = setmntent("/proc/self/mounts", "r");
    ASSERT_NE(mounts, nullptr);
    std::set<dev_t> devices;
    double freeBytes = 0, sizeBytes = 0;
    const std::set<std::string> readOnlyImages = { "squashfs", "iso9660", "erofs" };
    mntent entry{};
    char strings[4096];
    while (const mntent* m = getmntent_r(mounts, &entry, strings, sizeof strings)) {
        if (std::string(m->mnt_type) == "zfs") {
            endmntent(mounts);
            GTEST_SKIP() << "ZFS pools are measured by FreeSpaceOfAMachineWhoseDisksAreZfsDatasets";
        }
        struct stat st {};
        struct statvfs fs {};
        if (std::string(m->mnt_fsname).rfind("/dev/", 0) != 0 || readOnlyImages.contains(m->mnt_type) ||
            stat(m->mnt_dir, &st) != 0 || !devices.insert(st.st_dev).second || statvfs(m->mnt_dir, &fs) != 0)
            continue;
        freeBytes += static_cast<double>(fs.f_bfree) * static_cast<double>(fs.f_frsize);
        sizeBytes += static_cast<double>(fs.f_blocks) * static_cast<double>(fs.f_frsize);
    }
    endmntent(mounts);
    if (sizeBytes == 0)
        GTEST_SKIP() << "no file system on a block device is mounted here";

    Open("/proc");
    PdhCounter* space = AddLocal("\\LogicalDisk(_Total)\\% Free Space");
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    const Read r = Value(space);
    EXPECT_EQ(r.value.CStatus, PDH_CSTATUS_VALID_DATA);
    EXPECT_NEAR(r.value.longValue, 100.0 * freeBytes / sizeBytes, 1.0);
}

TEST_F(SourceTest, AllThirteenCountersReadValidValuesOnThisMachine)
{
    // The two watched processes of a domain controller, played by children.
    ChildProcess lsass("lsass", 5);
    ChildProcess ntfrs("ntfrs", 4);
    ASSERT_TRUE(lsass.Running());
    ASSERT_TRUE(ntfrs.Running());
    Open("/proc", true);
    std::vector<PdhCounter*> counters;
    for (const char* path : kThirteenPaths)
        counters.push_back(AddLocal(path));
    ASSERT_EQ(counters.size(), 13u);
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    LinuxCounterSource::SleepMilliseconds(100); // for the CPU ticks to move on
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    for (std::size_t i = 0; i < counters.size(); ++i) {
        const Read r = Value(counters[i]);
        EXPECT_EQ(r.status, 0u) << kThirteenPaths[i];
        EXPECT_EQ(r.value.CStatus, PDH_CSTATUS_VALID_DATA) << kThirteenPaths[i];
        EXPECT_GE(r.value.longValue, 0) << kThirteenPaths[i];
    }
    // Whichever process is named lsass (this test's child, unless another came first), it
    // holds descriptors.
    EXPECT_GE(Value(counters[6]).value.longValue, 1);
}
