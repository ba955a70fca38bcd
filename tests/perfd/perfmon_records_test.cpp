// The records of Samba's performance databases for one sample, read back the way Samba's
// winreg server reads them, and turned into values by the program's own calculator.
#include <gtest/gtest.h>

#include <map>

#include "perf/pdh_status.h"
#include "perfd/perfmon_records.h"

namespace {

std::map<std::string, std::string> ToMap(const std::vector<PerfmonRecord>& records)
{
    std::map<std::string, std::string> map;
    for (const PerfmonRecord& r : records)
        EXPECT_TRUE(map.emplace(r.key, r.value).second) << "twice: " << r.key;
    return map;
}

// Field `index` of a counter block whose fields are `width` bytes wide, little-endian.
std::uint64_t BlockField(const std::string& block, std::size_t offset, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t byte = 0; byte < width && byte < 8; ++byte)
        value |= std::uint64_t{ static_cast<unsigned char>(block.at(offset + byte)) } << (8 * byte);
    return value;
}

// A value's text as the server reads it: no text is 0.
std::uint64_t Number(const std::string& text)
{
    return text.empty() ? 0 : std::stoull(text);
}

PerfmonSample Sample(std::uint64_t idleTicks, std::uint64_t totalTicks, std::uint64_t perfTime)
{
    PerfmonSample sample;
    CpuTimes cpu;
    cpu.idle = idleTicks;
    cpu.user = totalTicks - idleTicks - 40;
    cpu.irq = 40;
    cpu.processors = 4;
    sample.kernel.cpu = cpu;
    sample.kernel.commit = CommitCharge{ 3'000'000, 12'000'000 };
    sample.kernel.vm.pgfault = 0x1'0000'0007; // past 32 bits
    sample.kernel.vm.pgmajfault = 0;
    sample.kernel.disk = DiskOperations{ 1500, 700 };
    sample.kernel.space = SpaceTotals{ 300ull << 40, 1000ull << 40 }; // 1000 TiB: far past 32 bits
    sample.processes = { { "samba", 40, 31 }, { "smbd", 300, 12 }, { "smbd", 1200, std::nullopt } };
    sample.perfTime = perfTime;
    sample.ticksPerSecond = 100;
    return sample;
}

} // namespace

TEST(PerfmonRecords, NamesAndRelationsAsSambasServerReadsThem)
{
    PerfmonRecords records;
    BuildPerfmonRecords(Sample(1000, 4000, 77), 8, records);
    const auto names = ToMap(records.names);
    // The server reads names at 2, 4, ... up to twice "1": the highest index is 2004.
    EXPECT_EQ(names.at("1"), "1002");
    EXPECT_EQ(names.at("0PerfFreq"), "10000000");
    EXPECT_EQ(names.at("238"), "Processor");
    EXPECT_EQ(names.at("238rel"), "p");
    EXPECT_EQ(names.count("239"), 1u); // its help
    EXPECT_EQ(names.at("2000"), "% Processor Time");
    EXPECT_EQ(names.at("2000rel"), "c[238]");
    EXPECT_EQ(names.at("2000type"), "558957824"); // PERF_100NSEC_TIMER_INV
    EXPECT_EQ(names.at("1406type"), "537003008"); // PERF_RAW_FRACTION
    EXPECT_EQ(names.at("2002"), "% Committed Bytes In Use Base");
    EXPECT_EQ(names.at("2002rel"), "c[4]");
    EXPECT_EQ(names.at("2002type"), "1073939459"); // PERF_RAW_BASE
    // Instances: _Total of Processor and LogicalDisk, and the processes in the order given.
    EXPECT_EQ(names.at("238inst"), "1");
    EXPECT_EQ(names.at("238i0name"), "_Total");
    EXPECT_EQ(names.at("236i0name"), "_Total");
    // Process: _Total first, then the processes.
    EXPECT_EQ(names.at("230inst"), "4");
    EXPECT_EQ(names.at("230i0name"), "_Total");
    EXPECT_EQ(names.at("230i1name"), "samba");
    EXPECT_EQ(names.at("230i2name"), "smbd");
    EXPECT_EQ(names.at("230i3name"), "smbd");
    // Objects without instances have no count: the server then lays out their values alone.
    EXPECT_EQ(names.count("2inst") + names.count("4inst"), 0u);
    // The server copies each text into a 256-byte buffer.
    for (const PerfmonRecord& r : records.names)
        EXPECT_LE(r.value.size(), 255u) << r.key;
}

TEST(PerfmonRecords, ValuesAndCounterBlocksInTheServersLayout)
{
    for (const std::size_t dword : { std::size_t{ 8 }, std::size_t{ 4 } }) {
        PerfmonRecords records;
        BuildPerfmonRecords(Sample(1000, 4000, 77), dword, records);
        const auto data = ToMap(records.data);
        EXPECT_EQ(data.at("0PerfTime"), "77");
        // 4000 ticks of 4 processors at 100 a second: 10 s, in 100 ns.
        EXPECT_EQ(data.at("0PerfTime100nSec"), "100000000");
        EXPECT_EQ(data.at("2000"), "25000000");
        EXPECT_EQ(data.at("698"), "1000000");
        // A 32-bit counter wraps; 0 is no text, as the server would read "0" as 48.
        EXPECT_EQ(data.at("28"), "7");
        EXPECT_EQ(data.at("42"), "");
        EXPECT_EQ(data.at("10"), "1500");
        // Raw fractions and their bases fit 32 bits together, in the same ratio.
        EXPECT_EQ(data.at("1406"), "3000000");
        EXPECT_EQ(data.at("2002"), "12000000");
        EXPECT_LE(Number(data.at("2004")), 0xFFFFFFFFu);
        EXPECT_EQ(Number(data.at("408")) * 10, Number(data.at("2004")) * 3);
        // Counters of Process need an object-level value too; the figures are per instance.
        EXPECT_EQ(data.at("784"), "");
        EXPECT_EQ(data.at("952"), "");

        // Processor(_Total): % Interrupt Time (698), % Processor Time (2000), both 64-bit.
        const std::string& processor = data.at("238i0");
        ASSERT_EQ(processor.size(), 16u);
        EXPECT_EQ(BlockField(processor, 0, 8), 1000000u);
        EXPECT_EQ(BlockField(processor, 8, 8), 25000000u);
        // LogicalDisk(_Total): % Free Space and its base, DWORDs laid out as the server's long.
        const std::string& disk = data.at("236i0");
        ASSERT_EQ(disk.size(), 2 * dword);
        EXPECT_EQ(BlockField(disk, 0, dword), Number(data.at("408")));
        EXPECT_EQ(BlockField(disk, dword, dword), Number(data.at("2004")));
        // Process: ID Process (784), Handle Count (952); descriptors that could not be counted
        // are 0.
        ASSERT_EQ(data.at("230i2").size(), 2 * dword);
        EXPECT_EQ(BlockField(data.at("230i2"), 0, dword), 300u);
        EXPECT_EQ(BlockField(data.at("230i2"), dword, dword), 12u);
        EXPECT_EQ(BlockField(data.at("230i3"), 0, dword), 1200u);
        EXPECT_EQ(BlockField(data.at("230i3"), dword, dword), 0u);
        // Process(_Total): the handle counts summed (31 + 12 + none), ID Process 0.
        ASSERT_EQ(data.at("230i0").size(), 2 * dword);
        EXPECT_EQ(BlockField(data.at("230i0"), 0, dword), 0u);
        EXPECT_EQ(BlockField(data.at("230i0"), dword, dword), 43u);
    }
}

TEST(PerfmonRecords, ProcessTotalCountsWhatIsPublishedOnce)
{
    // The stand-in for lsass is a second copy of samba, and does not add to _Total. A stand-in
    // that is itself named lsass (--lsass=lsass) is no copy, and counts.
    PerfmonSample sample = Sample(1000, 4000, 77);
    sample.processes = { { "samba", 40, 31 }, { "lsass", 40, 31 }, { "smbd", 300, 12 }, { "kdc[0]", 51, 5 } };
    PerfmonRecords records;
    BuildPerfmonRecords(sample, 8, records);
    EXPECT_EQ(BlockField(ToMap(records.data).at("230i0"), 8, 8), 48u);
    EXPECT_EQ(BlockField(ToMap(records.data).at("230i4"), 8, 8), 5u);
    sample.lsassIsCopy = false;
    BuildPerfmonRecords(sample, 8, records);
    EXPECT_EQ(BlockField(ToMap(records.data).at("230i0"), 8, 8), 79u);
}

TEST(PerfmonRecords, TwoSamplesGiveTheLocalSourcesProcessorTime)
{
    // The calculator as a client runs it on the published fields (the time base is the data
    // block's PerfTime100nSec) and as the local source runs it on the ticks agree.
    const auto published = [](std::uint64_t idle, std::uint64_t total) {
        PerfmonRecords records;
        BuildPerfmonRecords(Sample(idle, total, 0), 8, records);
        const auto data = ToMap(records.data);
        RawCounterSample s;
        s.CStatus = PDH_CSTATUS_VALID_DATA;
        s.first = Number(data.at("2000"));
        s.second = Number(data.at("0PerfTime100nSec"));
        return s;
    };
    const auto ticks = [](std::uint64_t idle, std::uint64_t total) {
        RawCounterSample s;
        s.CStatus = PDH_CSTATUS_VALID_DATA;
        s.first = idle;
        s.second = total;
        return s;
    };
    for (const auto& [idle0, total0, idle1, total1] :
         { std::array<std::uint64_t, 4>{ 1000, 4000, 1300, 4400 }, std::array<std::uint64_t, 4>{ 7, 8, 7, 408 },
           std::array<std::uint64_t, 4>{ 123456789, 987654321, 123456889, 987654721 } }) {
        PdhFormattedValue remote, local;
        ASSERT_EQ(FormatCounterValue(CounterType::Timer100nsInverse, published(idle0, total0), published(idle1, total1),
                                     PDH_FMT_LONG_FORMAT, &remote),
                  0u);
        ASSERT_EQ(FormatCounterValue(CounterType::Timer100nsInverse, ticks(idle0, total0), ticks(idle1, total1),
                                     PDH_FMT_LONG_FORMAT, &local),
                  0u);
        EXPECT_EQ(remote.longValue, local.longValue) << idle0;
    }
}

TEST(PerfmonRecords, MissingFiguresAreZeroAndLongNamesAreCutWhole)
{
    PerfmonSample sample;
    std::string longName;
    for (int i = 0; i < 100; ++i)
        longName += "\xe2\x82\xac"; // 300 bytes of three-byte characters
    sample.processes = { { longName, 9, 1 } };
    PerfmonRecords records;
    BuildPerfmonRecords(sample, 8, records);
    const auto data = ToMap(records.data);
    for (const char* key : { "2000", "698", "1406", "2002", "408", "2004", "10", "28" })
        EXPECT_EQ(data.at(key), "") << key;
    const std::string name = ToMap(records.names).at("230i1name");
    EXPECT_EQ(name.size(), 255u);
    EXPECT_EQ(name, longName.substr(0, 255));
}

TEST(PerfmonRecords, RecordsKeepTheirPlacesFromSampleToSample)
{
    // Only the Process instances move, and they come last: a store compares place by place.
    PerfmonRecords first, second;
    PerfmonSample sample = Sample(1000, 4000, 77);
    BuildPerfmonRecords(sample, 8, first);
    sample.processes.pop_back();
    BuildPerfmonRecords(sample, 8, second);
    ASSERT_EQ(second.names.size() + 1, first.names.size());
    ASSERT_EQ(second.data.size() + 1, first.data.size());
    for (std::size_t i = 0; i < second.data.size(); ++i)
        EXPECT_EQ(first.data[i].key, second.data[i].key);
}

TEST(LsassStandIn, TheProcessThatHoldsTheDirectoryAnswersAsLsassToo)
{
    const std::vector<PublishedProcess> processes = { { "init", 1, 4 }, { "samba", 40, 31 }, { "samba", 41, 9 } };
    std::vector<PublishedProcess> withStandIn = processes;
    AddLsassStandIn(withStandIn, 41);
    ASSERT_EQ(withStandIn.size(), 4u);
    EXPECT_EQ(withStandIn[3].name, "lsass");
    EXPECT_EQ(withStandIn[3].pid, 41);
    EXPECT_EQ(withStandIn[3].descriptors, 9u);
    EXPECT_EQ(withStandIn[2].name, "samba");

    // None configured, or not among the processes: nothing is added.
    for (const int standIn : { 0, 77 }) {
        std::vector<PublishedProcess> list = processes;
        AddLsassStandIn(list, standIn);
        EXPECT_EQ(list.size(), processes.size()) << standIn;
    }
}

TEST(LsassStandIn, AProcessThatCallsItselfLsassNeverAnswersAsLsass)
{
    // With the stand-in, without it, and before it in the list: lsass is the stand-in or none,
    // and each process of that name is NAME_PID.
    for (const int standIn : { 40, 0 }) {
        std::vector<PublishedProcess> list = { { "LSASS", 9, 2 }, { "samba", 40, 31 }, { "lsass", 900, 7 } };
        AddLsassStandIn(list, standIn);
        std::vector<std::string> names;
        names.reserve(list.size());
        for (const PublishedProcess& p : list)
            names.push_back(p.name + " " + std::to_string(p.pid));
        if (standIn != 0)
            EXPECT_EQ(names, (std::vector<std::string>{ "lsass_9 9", "samba 40", "lsass 40", "lsass_900 900" }));
        else
            EXPECT_EQ(names, (std::vector<std::string>{ "lsass_9 9", "samba 40", "lsass_900 900" }));
    }
    // A stand-in named lsass itself (--lsass=lsass) keeps its name, once.
    std::vector<PublishedProcess> list = { { "lsass", 40, 31 } };
    AddLsassStandIn(list, 40);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "lsass");
}
