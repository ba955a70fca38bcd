// Reading performance data as Windows and Samba send it: counters found by name, instances and
// their duplicates, the block's own clock, and answers cut short or lying about their lengths.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

#include "perf/pdh_status.h"
#include "perf/perf_counter_lookup.h"
#include "tests/fakes/perf_data_builder.h"

namespace {

constexpr std::uint32_t kTimerInv = 0x21510500, kRawFraction = 0x20020400, kRawBase = 0x40030403, kRate = 0x10410400,
                        kRawCount = 0x00010000;

// The same objects under two numberings: Windows' indices, and those of a Samba server whose
// provider numbered its names from 2 in its own order.
struct Numbering {
    std::uint32_t processor, cpuTime, memory, committed, committedBase, faults, process, handles, thread, threadId;
};
constexpr Numbering kWindows{ 238, 6, 4, 1406, 1407, 28, 230, 952, 232, 804 };
constexpr Numbering kSamba{ 20, 40, 2, 10, 12, 14, 30, 32, 50, 52 };

std::vector<std::uint8_t> Names(const Numbering& n)
{
    return BuildCounterNames({ { 1, "1847" },
                               { n.processor, "Processor" },
                               { n.cpuTime, "% Processor Time" },
                               { n.memory, "Memory" },
                               { n.committed, "% Committed Bytes In Use" },
                               { n.committedBase, "% Committed Bytes In Use" },
                               { n.faults, "Page Faults/sec" },
                               { n.process, "Process" },
                               { n.handles, "Handle Count" },
                               { n.thread, "Thread" },
                               { n.threadId, "ID Thread" } });
}

TestBlock Sample(const Numbering& n, std::uint64_t tick, std::uint64_t faults)
{
    TestBlock b;
    b.perfTime = 1'000'000 + tick * 10'000'000; // a 10 MHz clock, one second a tick
    b.perfFreq = 10'000'000;
    b.perfTime100nSec = 5'000'000'000 + tick * 10'000'000;
    TestObject processor{ n.processor, { { n.cpuTime, kTimerInv } }, {}, true, {} };
    // Idle time grows by 0.75 s a second: 25 % busy.
    for (const char16_t* cpu : { u"0", u"1", u"_Total" })
        processor.instances.push_back({ cpu, { 4'000'000'000 + tick * 7'500'000 } });
    TestObject memory{ n.memory,
                       { { n.committed, kRawFraction }, { n.committedBase, kRawBase }, { n.faults, kRate } },
                       { 3, 8, faults },
                       false,
                       {} };
    TestObject process{ n.process, { { n.handles, kRawCount } }, {}, true, {} };
    for (const auto& [name, handles] :
         { std::pair{ u"svchost", 10 }, { u"lsass", 800 }, { u"svchost", 11 }, { u"svchost", 12 } })
        process.instances.push_back({ name, { static_cast<std::uint64_t>(handles) } });
    // A thread of each process but the first, named by its process: lsass/0, svchost/0, ...
    TestObject thread{ n.thread, { { n.threadId, kRawCount } }, {}, true, {} };
    for (std::uint32_t p = 1; p < 4; ++p)
        thread.instances.push_back({ u"0", { 100 + p }, n.process, p });
    b.objects = { processor, memory, process, thread };
    return b;
}

PerfCounterName Path(std::string object, std::string counter, std::string instance = {}, int index = 0,
                     std::string parent = {})
{
    return { std::move(object), std::move(counter), !instance.empty(), std::move(parent), std::move(instance), index };
}

struct Reading {
    PerfDataStatus status;
    RawCounterSample sample;
    PerfLookupStatus lookup;
};

Reading Read(const std::vector<std::uint8_t>& data, const CounterNameTable& names, const PerfCounterName& path)
{
    PerfDataBlock block;
    Reading r{ ReadPerfDataBlock(data, &block), {}, PerfLookupStatus::NoObject };
    PerfCounterLocation location;
    r.lookup = LocatePerfCounter(block, names, path, &location);
    std::uint32_t type = 0;
    if (r.lookup == PerfLookupStatus::Ok)
        r.sample = SamplePerfCounter(block, location, path, &type);
    return r;
}

std::int32_t Formatted(CounterType type, const RawCounterSample& previous, const RawCounterSample& current)
{
    PdhFormattedValue value;
    EXPECT_EQ(FormatCounterValue(type, previous, current, PDH_FMT_LONG_FORMAT, &value), 0u);
    return value.longValue;
}

class PerfDataLayouts : public ::testing::TestWithParam<TestLayout> {
protected:
    const Numbering& n = GetParam() == TestLayout::Windows ? kWindows : kSamba;
    const std::vector<std::uint8_t> names = Names(n);
    const CounterNameTable table = CounterNameTable::Parse(names);
    const std::vector<std::uint8_t> first = BuildPerfData(Sample(n, 0, 1000), GetParam());
    const std::vector<std::uint8_t> second = BuildPerfData(Sample(n, 2, 1600), GetParam());
};

} // namespace

TEST_P(PerfDataLayouts, CountersAreFoundByNameAndFormattedByTheBlocksClock)
{
    // % Processor Time from two samples two seconds apart by the block's clock: 25 % busy.
    const PerfCounterName cpu = Path("processor", "% PROCESSOR TIME", "_total");
    const Reading a = Read(first, table, cpu), b = Read(second, table, cpu);
    ASSERT_EQ(a.status, PerfDataStatus::Ok);
    ASSERT_EQ(a.lookup, PerfLookupStatus::Ok);
    EXPECT_EQ(Formatted(CounterType::Timer100nsInverse, a.sample, b.sample), 25);
    // 600 faults over the two seconds; the fraction takes the base that follows it.
    const PerfCounterName faults = Path("Memory", "Page Faults/sec");
    EXPECT_EQ(Formatted(CounterType::PerSecond, Read(first, table, faults).sample, Read(second, table, faults).sample),
              300);
    EXPECT_EQ(Formatted(CounterType::RawFraction, {},
                        Read(second, table, Path("Memory", "% Committed Bytes In Use")).sample),
              37);

    // Duplicates by order in the block, then a parent instance by its name.
    const auto handles = [&](std::string instance, int index = 0) {
        const Reading r = Read(second, table, Path("Process", "Handle Count", std::move(instance), index));
        return r.sample.CStatus == PDH_CSTATUS_VALID_DATA ? static_cast<int>(r.sample.first) : -1;
    };
    EXPECT_EQ(handles("svchost"), 10);
    EXPECT_EQ(handles("svchost", 1), 11);
    EXPECT_EQ(handles("SVCHOST", 2), 12);
    EXPECT_EQ(handles("lsass"), 800);
    EXPECT_EQ(Read(second, table, Path("Thread", "ID Thread", "0", 0, "lsass")).sample.first, 101u);
    EXPECT_EQ(Read(second, table, Path("Thread", "ID Thread", "0", 1, "svchost")).sample.first, 103u);

    // What is not there.
    EXPECT_EQ(handles("svchost", 3), -1);
    EXPECT_EQ(Read(second, table, Path("Process", "Handle Count", "ntfrs")).sample.CStatus, PDH_CSTATUS_NO_INSTANCE);
    EXPECT_EQ(Read(second, table, Path("Process", "Handle Count")).sample.CStatus, PDH_CSTATUS_NO_INSTANCE);
    EXPECT_EQ(Read(second, table, Path("Memory", "Page Faults/sec", "x")).sample.CStatus, PDH_CSTATUS_NO_INSTANCE);
    EXPECT_EQ(Read(second, table, Path("Memory", "Handle Count")).lookup, PerfLookupStatus::NoCounter);
    EXPECT_EQ(Read(second, table, Path("Memory", "Page Faults")).lookup, PerfLookupStatus::NoCounter);
    EXPECT_EQ(Read(second, table, Path("LogicalDisk", "% Free Space", "_Total")).lookup, PerfLookupStatus::NoObject);
}

TEST_P(PerfDataLayouts, EveryCutAndEveryLyingLengthGivesAStatus)
{
    // Every prefix: cut short, never read as whole.
    for (std::size_t size = 0; size < second.size(); ++size) {
        PerfDataBlock block;
        const PerfDataStatus status = ReadPerfDataBlock(std::span(second.data(), size), &block);
        ASSERT_NE(status, PerfDataStatus::Ok) << size;
    }
    // Every 32-bit field set to values that lie about lengths, offsets and counts: a status and
    // no read outside the buffer (the sanitizer build checks the reads).
    for (std::size_t at = 0; at + 4 <= second.size(); at += 4) {
        for (std::uint32_t lie : { 0u, 3u, 0x7FFFFFFFu, 0xFFFFFFFEu, static_cast<std::uint32_t>(second.size()) }) {
            std::vector<std::uint8_t> data = second;
            for (int b = 0; b < 4; ++b)
                data[at + b] = static_cast<std::uint8_t>(lie >> (8 * b));
            PerfDataBlock block;
            if (ReadPerfDataBlock(data, &block) != PerfDataStatus::Ok)
                continue;
            for (const PerfCounterName& path :
                 { Path("Processor", "% Processor Time", "_Total"), Path("Memory", "% Committed Bytes In Use"),
                   Path("Thread", "ID Thread", "0", 0, "lsass") }) {
                PerfCounterLocation location;
                std::uint32_t type = 0;
                if (LocatePerfCounter(block, table, path, &location) == PerfLookupStatus::Ok)
                    (void)SamplePerfCounter(block, location, path, &type);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(, PerfDataLayouts, ::testing::Values(TestLayout::Windows, TestLayout::Samba),
                         [](const auto& info) { return info.param == TestLayout::Windows ? "Windows" : "Samba"; });

TEST(PerfData, CounterValuesAreCheckedAgainstTheirBlockAndType)
{
    const std::vector<std::uint8_t> block = { 16, 0, 0, 0, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF };
    std::uint64_t value = 0;
    // A 32-bit counter sent 8 bytes wide (Samba's long) keeps its low half.
    ASSERT_TRUE(ReadCounterValue(block, { 0, kRawCount, 8, 8 }, &value));
    EXPECT_EQ(value, 0x12345678u);
    ASSERT_TRUE(ReadCounterValue(block, { 0, 0x00010100, 8, 8 }, &value));
    EXPECT_EQ(value, 0xFFFFFFFF12345678u);
    EXPECT_FALSE(ReadCounterValue(block, { 0, 0x00010100, 4, 8 }, &value)); // 64-bit type, 4 bytes
    EXPECT_FALSE(ReadCounterValue(block, { 0, kRawCount, 4, 13 }, &value)); // past the block
    EXPECT_FALSE(ReadCounterValue(block, { 0, kRawCount, 4, 0xFFFFFFFE }, &value));
    EXPECT_FALSE(ReadCounterValue(block, { 0, 0x00000B00, 4, 8 }, &value)); // variable-length text
}

TEST(PerfData, NameTablesOfBothKindsAndTheirFlaws)
{
    std::vector<std::uint8_t> data = BuildCounterNames({ { 2, "System" },
                                                         { 4, "Memory" },
                                                         { 6, "% Processor Time" },
                                                         { 238, "Processor" },
                                                         { 1000, "% processor time" } });
    // A pair with no number, and a last name with no terminator.
    for (const char16_t* s : { u"x", u"Ghost", u"7" })
        for (const char16_t* c = s;; ++c) {
            data.insert(data.end() - 2, { static_cast<std::uint8_t>(*c), 0 });
            if (*c == 0)
                break;
        }
    data.insert(data.end() - 2, { 'E', 0, 'n', 0, 'd', 0 });
    data.resize(data.size() - 2);
    const CounterNameTable table = CounterNameTable::Parse(data);
    EXPECT_EQ(table.NameOf(238), "Processor");
    EXPECT_EQ(table.IndicesOf("% PROCESSOR TIME"), (std::vector<std::uint32_t>{ 6, 1000 }));
    EXPECT_EQ(table.NameOf(7), "End");
    EXPECT_TRUE(table.IndicesOf("Ghost").empty());
    EXPECT_EQ(table.Size(), 6u);
    EXPECT_TRUE(CounterNameTable::Parse({}).IsEmpty());
    EXPECT_TRUE(CounterNameTable::Parse(std::vector<std::uint8_t>{ 0, 0, '1', 0 }).IsEmpty());
    // Instance names in UTF-16: a surrogate pair, and a lone surrogate replaced.
    const std::vector<std::uint8_t> utf16 = { 'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 'b', 0, 0, 0, 'c', 0 };
    EXPECT_EQ(Utf16LeToUtf8(utf16), "a\xF0\x9F\x98\x80\xEF\xBF\xBD"
                                    "b");
}

namespace {

// The process's resident peak (VmHWM) and size now (VmRSS), in KiB; -1 where unknown.
long StatusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string(field).size()));
    }
    return -1;
}

// Starts the resident peak again from the size now; false where the system cannot.
bool ResetResidentPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    return static_cast<bool>(clear << "5" << std::flush);
}

} // namespace

// A server may send a "Counter 009" as large as the reader takes (16 MiB) of the shortest
// pairs: the table keeps no more than its share of that, and still answers for its names.
TEST(PerfData, AHugeNameTableOfShortNamesIsHeldCompactly)
{
    std::vector<std::pair<std::uint32_t, std::string>> pairs;
    std::size_t bytes = 0;
    for (std::uint32_t i = 1; bytes < (16u << 20); ++i) {
        pairs.emplace_back(i, "n" + std::to_string(i % 1000));
        bytes += 2 * (std::to_string(i).size() + pairs.back().second.size() + 2);
    }
    const std::vector<std::uint8_t> data = BuildCounterNames(pairs);
    pairs = {};
    if (!ResetResidentPeak() || StatusKiB("VmHWM:") < 0)
        GTEST_SKIP() << "no resident peak to measure by";
    const long before = StatusKiB("VmRSS:");
    const CounterNameTable table = CounterNameTable::Parse(data);
    const long grown = StatusKiB("VmHWM:") - before;
    EXPECT_LT(grown, 32 * 1024) << "KiB";
    EXPECT_LE(table.Size(), CounterNameTable::kMaxNames);
    EXPECT_EQ(table.NameOf(1001), "n1");
    EXPECT_EQ(table.IndicesOf("N999").front(), 999u);
    EXPECT_EQ(table.IndicesOf("N999")[1], 1999u);
}

// An instance's parent is found by its object's index once per instance: an answer of many
// objects and many instances of one name costs a search in an index, not through every object.
TEST(PerfData, ParentInstancesAreFoundWithoutASearchPerInstance)
{
    TestBlock b;
    for (std::uint32_t i = 0; i < 30000; ++i)
        b.objects.push_back(TestObject{ 10000 + 2 * i, { { 804, kRawCount } }, { 1 }, false, {} });
    TestObject thread{ 232, { { 804, kRawCount } }, {}, true, {} };
    for (std::uint32_t i = 0; i < 30000; ++i)
        thread.instances.push_back({ u"0", { i }, 230, 0 });
    TestObject process{ 230, { { 952, kRawCount } }, {}, true, {} };
    process.instances.push_back({ u"lsass", { 7 } });
    b.objects.push_back(thread);
    b.objects.push_back(process);
    const std::vector<std::uint8_t> data = BuildPerfData(b, TestLayout::Windows);
    const CounterNameTable names =
        CounterNameTable::Parse(BuildCounterNames({ { 230, "Process" }, { 232, "Thread" }, { 804, "ID Thread" } }));
    PerfDataBlock block;
    ASSERT_EQ(ReadPerfDataBlock(data, &block), PerfDataStatus::Ok);

    const auto start = std::chrono::steady_clock::now();
    std::uint64_t found = 0;
    for (int index : { 29999, 30000 }) { // the last instance, and one past it
        const PerfCounterName path = Path("Thread", "ID Thread", "0", index, "LSASS");
        PerfCounterLocation location;
        ASSERT_EQ(LocatePerfCounter(block, names, path, &location), PerfLookupStatus::Ok);
        std::uint32_t type = 0;
        const RawCounterSample sample = SamplePerfCounter(block, location, path, &type);
        found += sample.CStatus == PDH_CSTATUS_VALID_DATA ? sample.first : 0;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(found, 29999u);
    // A search through every object per instance takes seconds here (9e8 steps); the index, well
    // under a millisecond.
    EXPECT_LT(elapsed, std::chrono::milliseconds(500));
}
