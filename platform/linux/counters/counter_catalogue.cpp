#include "platform/linux/counters/counter_catalogue.h"

#include <algorithm>

#include "framework/ascii_case.h"

namespace {

constexpr std::uint32_t kSystem = 2;
constexpr std::uint32_t kMemory = 4;
constexpr std::uint32_t kProcess = 230;
constexpr std::uint32_t kLogicalDisk = 236;
constexpr std::uint32_t kProcessor = 238;

// Indices from 2000 up are this machine's own: counters whose Windows index lies below their
// object's, and the bases of the raw fractions, which must directly follow their fraction
// within the object. Windows itself keeps a base beside its counter without a name of its own.
constexpr std::uint32_t kOwnProcessorTime = 2000;
constexpr std::uint32_t kOwnCommittedBytesBase = 2002;
constexpr std::uint32_t kOwnFreeSpaceBase = 2004;

constexpr PerfObject kObjects[] = {
    { "System", kSystem, Instances::None,
      "Counters that apply to the machine as a whole: the block I/O of all its disks." },
    { "Memory", kMemory, Instances::None,
      "Counters of physical and virtual memory: the commit charge and the paging to and from swap." },
    { "Process", kProcess, Instances::Process,
      "Counters of each running process, named by its process name; processes of one name as "
      "NAME, NAME#1, ... by ascending process ID." },
    { "LogicalDisk", kLogicalDisk, Instances::Total, "Counters of the local disk file systems together (_Total)." },
    { "Processor", kProcessor, Instances::Total,
      "Counters of the processors together (_Total), as the kernel accounts their time in /proc/stat." },
};

constexpr PerfCounter kCounters[] = {
    { kSystem, "File Read Operations/sec", 10, 10, CounterType::PerSecond, Figure::FileReads, 0,
      "Read requests completed per second by the whole disks (/proc/diskstats), after the page cache." },
    { kSystem, "File Write Operations/sec", 12, 12, CounterType::PerSecond, Figure::FileWrites, 0,
      "Write requests completed per second by the whole disks (/proc/diskstats), after the page cache." },

    { kMemory, "Page Faults/sec", 28, 28, CounterType::PerSecond, Figure::PageFaults, 0,
      "Page faults per second, minor and major (/proc/vmstat pgfault)." },
    { kMemory, "Page Reads/sec", 42, 42, CounterType::PerSecond, Figure::PageReads, 0,
      "Major page faults per second: each is one read from disk (/proc/vmstat pgmajfault)." },
    { kMemory, "Pages Output/sec", 48, 48, CounterType::PerSecond, Figure::PagesOutput, 0,
      "Pages written to swap per second (/proc/vmstat pswpout)." },
    { kMemory, "Page Writes/sec", 50, 50, CounterType::PerSecond, Figure::PageWrites, 0,
      "Pages written to swap per second (/proc/vmstat pswpout); Linux counts no write operations." },
    { kMemory, "Pages Input/sec", 822, 822, CounterType::PerSecond, Figure::PagesInput, 0,
      "Pages read per second to resolve hard page faults: the page of each major fault (/proc/vmstat "
      "pgmajfault) and the pages swap readahead read with it (swap_ra)." },
    { kMemory, "% Committed Bytes In Use", 1406, 1406, CounterType::RawFraction, Figure::CommittedBytes,
      kOwnCommittedBytesBase, "Committed_AS as a share of CommitLimit (/proc/meminfo)." },

    { kProcess, "ID Process", 784, 784, CounterType::RawCount, Figure::ProcessId, 0, "The process ID of the process." },
    { kProcess, "Handle Count", 952, 952, CounterType::RawCount, Figure::HandleCount, 0,
      "The file descriptors the process holds open (/proc/PID/fd)." },

    { kLogicalDisk, "% Free Space", 408, 408, CounterType::RawFraction, Figure::FreeSpace, kOwnFreeSpaceBase,
      "Free space as a share of the size of the local disk file systems (statvfs of each in "
      "/proc/self/mountinfo)." },

    { kProcessor, "% Interrupt Time", 698, 698, CounterType::Timer100ns, Figure::InterruptTime, 0,
      "Share of the processors' time spent serving hardware interrupts (/proc/stat irq)." },
    { kProcessor, "% Processor Time", 6, kOwnProcessorTime, CounterType::Timer100nsInverse, Figure::ProcessorTime, 0,
      "Share of the processors' time not spent idle (/proc/stat: all but idle and iowait)." },
};

} // namespace

std::span<const PerfObject> PerfObjects()
{
    return kObjects;
}

std::span<const PerfCounter> PerfCounters()
{
    return kCounters;
}

const PerfObject* FindPerfObject(std::string_view name)
{
    const auto* const found = std::find_if(std::begin(kObjects), std::end(kObjects),
                                           [&](const PerfObject& o) { return EqualsIgnoringCase(o.name, name); });
    return found != std::end(kObjects) ? found : nullptr;
}

const PerfObject* FindPerfObjectByIndex(std::uint32_t index)
{
    const auto* const found =
        std::find_if(std::begin(kObjects), std::end(kObjects), [&](const PerfObject& o) { return o.index == index; });
    return found != std::end(kObjects) ? found : nullptr;
}

const PerfCounter* FindPerfCounter(const PerfObject& object, std::string_view name)
{
    const auto* const found = std::find_if(std::begin(kCounters), std::end(kCounters), [&](const PerfCounter& c) {
        return c.objectIndex == object.index && EqualsIgnoringCase(c.name, name);
    });
    return found != std::end(kCounters) ? found : nullptr;
}

std::string BaseCounterName(const PerfCounter& counter)
{
    return std::string(counter.name) + " Base";
}

std::string BaseCounterHelp(const PerfCounter& counter)
{
    return "The denominator of " + std::string(counter.name) + ".";
}
