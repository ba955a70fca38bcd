// The reader of a remote machine's performance data: the PERF_DATA_BLOCK and the "Counter 009"
// name table, as any server may send them, and the look-up and sampling of the program's
// counters in what was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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
    for (const char* s : { "2", "System", "4", "Memory", "6", "% Processor Time", "28", "Page Faults/sec", "230", "Process",
                           "232", "Thread", "236", "LogicalDisk", "238", "Processor", "410", "% Free Space", "952",
                           "Handle Count", "1406", "% Committed Bytes In Use" })
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
};

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
        for (const PerfCounterName& path : kPaths) {
            PerfCounterLocation location;
            if (LocatePerfCounter(block, *names, path, &location) != PerfLookupStatus::Ok)
                continue;
            std::uint32_t type = 0;
            const RawCounterSample sample = SamplePerfCounter(block, location, path, &type);
            PdhFormattedValue value;
            if (sample.CStatus == PDH_CSTATUS_VALID_DATA && IsKnownCounterType(type)) {
                const PDH_STATUS status = FormatCounterValue(static_cast<CounterType>(type), sample, sample,
                                                             PDH_FMT_LONG_FORMAT, &value);
                // A percentage stays within 0..100, whatever the data.
                if (status == 0 && (type & 0x20000000) != 0 && (value.longValue < 0 || value.longValue > 100))
                    std::abort();
            }
        }
    }
    return 0;
}
