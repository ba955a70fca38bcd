// The reader of a remote machine's performance data: the PERF_DATA_BLOCK and the "Counter 009"
// name table, as any server may send them, and the look-up and sampling of the program's
// counters in what was read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <span>

#include "perf/pdh_status.h"
#include "perf/perf_counter_lookup.h"

namespace {

// Windows' indices of the program's objects and counters, as "Counter 009" gives them.
std::vector<std::uint8_t> WindowsNames()
{
    std::vector<std::uint8_t> data;
    const auto text = [&](const char* s) {
        for (; *s != 0; ++s)
            data.insert(data.end(), { static_cast<std::uint8_t>(*s), 0 });
        data.insert(data.end(), { 0, 0 });
    };
    for (const char* s : { "2",    "System",
                           "4",    "Memory",
                           "6",    "% Processor Time",
                           "10",   "File Read Operations/sec",
                           "12",   "File Write Operations/sec",
                           "28",   "Page Faults/sec",
                           "230",  "Process",
                           "232",  "Thread",
                           "236",  "LogicalDisk",
                           "238",  "Processor",
                           "410",  "% Free Space",
                           "952",  "Handle Count",
                           "1406", "% Committed Bytes In Use" })
        text(s);
    data.insert(data.end(), { 0, 0 });
    return data;
}

const PerfCounterName kPaths[] = {
    { "Processor", "% Processor Time", true, "", "_Total", 0 },
    { "Memory", "% Committed Bytes In Use", false, "", "", 0 },
    { "LogicalDisk", "% Free Space", true, "", "_Total", 0 },
    { "Memory", "Page Faults/sec", false, "", "", 0 },
    { "Process", "Handle Count", true, "", "lsass", 1 },
    { "Thread", "% Processor Time", true, "lsass", "0", 0 },
    { "System", "File Read Operations/sec", false, "", "", 0 },
    { "System", "File Write Operations/sec", false, "", "", 0 },
};
constexpr std::size_t kPathCount = std::size(kPaths);

struct Reading {
    std::uint32_t type = 0;
    RawCounterSample sample;
};

// The counter's value in every format; aborts when the formats disagree, or a percentage leaves
// 0..100.
void CheckFormats(std::uint32_t type, const RawCounterSample& previous, const RawCounterSample& current)
{
    PdhFormattedValue asLong, asLarge, asDouble;
    const auto counterType = static_cast<CounterType>(type);
    const PDH_STATUS longStatus = FormatCounterValue(counterType, previous, current, PDH_FMT_LONG_FORMAT, &asLong);
    const PDH_STATUS largeStatus = FormatCounterValue(counterType, previous, current, PDH_FMT_LARGE_FORMAT, &asLarge);
    const PDH_STATUS doubleStatus =
        FormatCounterValue(counterType, previous, current, PDH_FMT_DOUBLE_FORMAT, &asDouble);
    if (longStatus != largeStatus || longStatus != doubleStatus)
        std::abort();
    if (longStatus != 0)
        return;
    if (asLong.longValue < 0 || asLarge.largeValue < 0 || !(asDouble.doubleValue >= 0.0) ||
        asLong.longValue != std::min<std::int64_t>(asLarge.largeValue, 2147483647))
        std::abort();
    // A percentage stays within 0..100, whatever the data.
    if ((type & 0x20000000) != 0 &&
        (asLong.longValue > 100 || asLarge.largeValue > 100 || asDouble.doubleValue > 100.0))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::uint8_t> windowsNames = WindowsNames();
    static const CounterNameTable windows = CounterNameTable::Parse(windowsNames);
    const std::span<const std::uint8_t> input(data, size);

    const CounterNameTable own = CounterNameTable::Parse(input);
    PerfDataBlock block;
    if (ReadPerfDataBlock(input, &block) != PerfDataStatus::Ok)
        return 0;
    for (const CounterNameTable* names : { &windows, &own }) {
        Reading readings[kPathCount];
        for (std::size_t i = 0; i < kPathCount; ++i) {
            PerfCounterLocation location;
            if (LocatePerfCounter(block, *names, kPaths[i], &location) != PerfLookupStatus::Ok)
                continue;
            readings[i].sample = SamplePerfCounter(block, location, kPaths[i], &readings[i].type);
            if (readings[i].sample.CStatus == PDH_CSTATUS_VALID_DATA && IsKnownCounterType(readings[i].type))
                CheckFormats(readings[i].type, readings[i].sample, readings[i].sample);
        }
        // Two readings apart: each counter's after another's of its type, taken a second of the
        // block's clock before (a 32-bit rate that wrapped, a timer ahead of its base).
        for (const Reading& current : readings) {
            for (const Reading& earlier : readings) {
                if (current.sample.CStatus != PDH_CSTATUS_VALID_DATA ||
                    earlier.sample.CStatus != PDH_CSTATUS_VALID_DATA || current.type != earlier.type ||
                    !IsKnownCounterType(current.type))
                    continue;
                RawCounterSample previous = earlier.sample;
                previous.perfTime = current.sample.perfTime - current.sample.perfFreq;
                if ((current.type & 0x00300000) == 0x00100000) // PERF_TIMER_100NS: its base is the time
                    previous.second = current.sample.second - 10'000'000;
                CheckFormats(current.type, previous, current.sample);
            }
        }
    }
    return 0;
}
