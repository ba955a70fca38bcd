#include "platform/linux/linux_counter_source.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "perf/counter_calculator.h"
#include "perf/pdh_status.h"
#include "platform/linux/ascii_case.h"
#include "platform/linux/counter_path.h"
#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parsers.h"
#include "platform/linux/process_finder.h"

namespace {

// The procfs files a counter needs; each is read once per collection.
enum KernelFile : unsigned {
    kProcStat = 1u << 0,
    kMeminfo = 1u << 1,
    kVmstat = 1u << 2,
    kDiskstats = 1u << 3,
    kMountinfo = 1u << 4,
    kProcessFiles = 1u << 5, // /proc/PID/comm and /proc/PID/fd of watched processes
};

enum class Instances {
    None,    // Memory, System
    Total,   // Processor(_Total), LogicalDisk(_Total)
    Process, // Process(NAME#N)
};

enum class Figure {
    ProcessorTime,
    InterruptTime,
    CommittedBytes,
    FreeSpace,
    FileReads,
    FileWrites,
    PageFaults,
    PagesInput,
    PagesOutput,
    PageReads,
    PageWrites,
    HandleCount,
};

struct CounterDefinition {
    std::string_view object;
    std::string_view counter;
    Instances instances;
    CounterType type;
    Figure figure;
    KernelFile file;
};

// The types are those of the Windows counters of the same names.
constexpr CounterDefinition kCounters[] = {
    { "Processor", "% Processor Time", Instances::Total, CounterType::Timer100nsInverse, Figure::ProcessorTime, kProcStat },
    { "Processor", "% Interrupt Time", Instances::Total, CounterType::Timer100ns, Figure::InterruptTime, kProcStat },
    { "Memory", "% Committed Bytes In Use", Instances::None, CounterType::RawFraction, Figure::CommittedBytes, kMeminfo },
    { "Memory", "Page Faults/sec", Instances::None, CounterType::PerSecond, Figure::PageFaults, kVmstat },
    { "Memory", "Pages Input/sec", Instances::None, CounterType::PerSecond, Figure::PagesInput, kVmstat },
    { "Memory", "Pages Output/sec", Instances::None, CounterType::PerSecond, Figure::PagesOutput, kVmstat },
    { "Memory", "Page Reads/sec", Instances::None, CounterType::PerSecond, Figure::PageReads, kVmstat },
    { "Memory", "Page Writes/sec", Instances::None, CounterType::PerSecond, Figure::PageWrites, kVmstat },
    { "LogicalDisk", "% Free Space", Instances::Total, CounterType::RawFraction, Figure::FreeSpace, kMountinfo },
    { "System", "File Read Operations/sec", Instances::None, CounterType::PerSecond, Figure::FileReads, kDiskstats },
    { "System", "File Write Operations/sec", Instances::None, CounterType::PerSecond, Figure::FileWrites, kDiskstats },
    { "Process", "Handle Count", Instances::Process, CounterType::RawCount, Figure::HandleCount, kProcessFiles },
};

constexpr std::string_view kTotalInstance = "_Total";

struct SpaceTotals {
    std::uint64_t freeBytes = 0;
    std::uint64_t sizeBytes = 0;
};

// The kernel's figures of one collection; a figure whose file could not be read or parsed
// stays empty.
struct KernelFigures {
    std::optional<CpuTimes> cpu;
    std::optional<CommitCharge> commit;
    VmCounters vm;
    std::optional<DiskOperations> disk;
    std::optional<SpaceTotals> space;
};

// Free and total bytes over the file systems, the free ones as the whole file system has them
// (f_bfree, blocks reserved for root included), like the free space of a Windows volume.
std::optional<SpaceTotals> MeasureSpace(const std::vector<std::string>& mountPoints)
{
    SpaceTotals totals;
    bool any = false;
    for (const std::string& mountPoint : mountPoints) {
        struct statvfs fs {};
        if (statvfs(mountPoint.c_str(), &fs) != 0 || fs.f_blocks == 0)
            continue;
        totals.freeBytes += static_cast<std::uint64_t>(fs.f_bfree) * fs.f_frsize;
        totals.sizeBytes += static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return totals;
}

KernelFigures ReadKernelFigures(const std::string& procRoot, unsigned files, std::string& buffer)
{
    KernelFigures figures;
    const auto read = [&](const char* name) { return ReadWholeFile((procRoot + name).c_str(), buffer); };
    if ((files & kProcStat) && read("/stat"))
        figures.cpu = ParseCpuTimes(buffer);
    if ((files & kMeminfo) && read("/meminfo"))
        figures.commit = ParseCommitCharge(buffer);
    if ((files & kVmstat) && read("/vmstat"))
        figures.vm = ParseVmCounters(buffer);
    if ((files & kDiskstats) && read("/diskstats"))
        figures.disk = ParseDiskOperations(buffer);
    if ((files & kMountinfo) && read("/self/mountinfo"))
        figures.space = MeasureSpace(ParseLocalBlockMounts(buffer));
    return figures;
}

RawCounterSample Sample(std::optional<std::uint64_t> first, std::optional<std::uint64_t> second = 0)
{
    RawCounterSample sample;
    if (first && second) {
        sample.CStatus = PDH_CSTATUS_VALID_DATA;
        sample.first = *first;
        sample.second = *second;
    }
    return sample;
}

RawCounterSample KernelSample(Figure figure, const KernelFigures& k)
{
    const auto cpu = [&](auto field) { return k.cpu ? std::optional<std::uint64_t>(field(*k.cpu)) : std::nullopt; };
    const auto total = cpu([](const CpuTimes& t) { return t.Total(); });
    switch (figure) {
    case Figure::ProcessorTime:
        return Sample(cpu([](const CpuTimes& t) { return t.Idle(); }), total);
    case Figure::InterruptTime:
        return Sample(cpu([](const CpuTimes& t) { return t.irq; }), total);
    case Figure::CommittedBytes:
        return k.commit ? Sample(k.commit->committedKb, k.commit->limitKb) : Sample(std::nullopt);
    case Figure::FreeSpace:
        return k.space ? Sample(k.space->freeBytes, k.space->sizeBytes) : Sample(std::nullopt);
    case Figure::FileReads:
        return k.disk ? Sample(k.disk->reads) : Sample(std::nullopt);
    case Figure::FileWrites:
        return k.disk ? Sample(k.disk->writes) : Sample(std::nullopt);
    case Figure::PageFaults:
        return Sample(k.vm.pgfault);
    case Figure::PagesInput:
        return Sample(k.vm.pswpin);
    case Figure::PagesOutput:
    case Figure::PageWrites:
        return Sample(k.vm.pswpout);
    case Figure::PageReads:
        return Sample(k.vm.pgmajfault);
    case Figure::HandleCount:
        break;
    }
    return Sample(std::nullopt);
}

const CounterDefinition* FindObject(std::string_view object)
{
    for (const CounterDefinition& definition : kCounters) {
        if (EqualsIgnoringCase(definition.object, object))
            return &definition;
    }
    return nullptr;
}

const CounterDefinition* FindCounter(std::string_view object, std::string_view counter)
{
    for (const CounterDefinition& definition : kCounters) {
        if (EqualsIgnoringCase(definition.object, object) && EqualsIgnoringCase(definition.counter, counter))
            return &definition;
    }
    return nullptr;
}

// Whether the path's instance part names an instance the object can have; a process is
// looked for at each collection instead.
bool InstanceCanExist(const CounterDefinition& definition, const CounterPath& path)
{
    switch (definition.instances) {
    case Instances::None:
        return !path.hasInstance;
    case Instances::Total:
        return path.hasInstance && path.parent.empty() && path.index == 0 &&
               EqualsIgnoringCase(path.instance, kTotalInstance);
    case Instances::Process:
        return path.hasInstance && path.parent.empty();
    }
    return false;
}

} // namespace

struct LinuxCounterSource::Counter {
    const CounterDefinition* definition = nullptr;
    bool instanceCanExist = false;
    std::size_t processSlot = 0; // Process counters: the finder's slot of the instance
    RawCounterSample previous, current;
};

struct LinuxCounterSource::Query {
    explicit Query(const std::string& procRoot) : processes(procRoot) {}

    std::vector<std::unique_ptr<Counter>> counters;
    unsigned files = 0;
    ProcessFinder processes;
    std::string buffer;
};

std::int64_t LinuxCounterSource::SteadyClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void LinuxCounterSource::SleepMilliseconds(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

LinuxCounterSource::LinuxCounterSource(std::string procRoot, std::string computerName, MonotonicClock clock,
                                       Sleeper sleeper)
    : m_procRoot(std::move(procRoot)),
      m_computerName(std::move(computerName)),
      m_clock(std::move(clock)),
      m_sleeper(std::move(sleeper)),
      m_fdDirectorySizeIsCount(FdDirectorySizeIsCount(m_procRoot))
{
}

LinuxCounterSource::~LinuxCounterSource() = default;

bool LinuxCounterSource::IsThisMachine(std::string_view name) const
{
    const std::string_view computer = m_computerName;
    const std::string_view firstLabel = computer.substr(0, computer.find('.'));
    // An empty name is the local machine, as a null one is to PdhConnectMachine.
    return name.empty() || name == "." || name == "127.0.0.1" || EqualsIgnoringCase(name, "localhost") ||
           EqualsIgnoringCase(name, computer) || EqualsIgnoringCase(name, firstLabel);
}

PDH_STATUS LinuxCounterSource::ConnectMachine(const CString& machine)
{
    return IsThisMachine(machine.ToUtf8()) ? 0 : PDH_CSTATUS_NO_MACHINE;
}

PDH_STATUS LinuxCounterSource::OpenQuery(std::uintptr_t, PdhQuery** query)
{
    if (query == nullptr)
        return PDH_INVALID_ARGUMENT;
    auto created = std::make_unique<Query>(m_procRoot);
    *query = reinterpret_cast<PdhQuery*>(created.get());
    m_queries.emplace(*query, std::move(created));
    return 0;
}

PDH_STATUS LinuxCounterSource::AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t,
                                          PdhCounter** counter)
{
    const auto found = m_queries.find(query);
    if (found == m_queries.end())
        return PDH_INVALID_HANDLE;
    if (counter == nullptr)
        return PDH_INVALID_ARGUMENT;
    const std::optional<CounterPath> path = ParseCounterPath(fullPath.ToUtf8());
    if (!path)
        return PDH_CSTATUS_BAD_COUNTERNAME;
    if (!IsThisMachine(path->machine))
        return PDH_CSTATUS_NO_MACHINE;
    if (FindObject(path->object) == nullptr)
        return PDH_CSTATUS_NO_OBJECT;
    const CounterDefinition* definition = FindCounter(path->object, path->counter);
    if (definition == nullptr)
        return PDH_CSTATUS_NO_COUNTER;

    Query& owner = *found->second;
    auto added = std::make_unique<Counter>();
    added->definition = definition;
    added->instanceCanExist = InstanceCanExist(*definition, *path);
    if (added->instanceCanExist && definition->instances == Instances::Process)
        added->processSlot = owner.processes.Watch(path->instance, path->index);
    owner.files |= definition->file;
    *counter = reinterpret_cast<PdhCounter*>(added.get());
    m_counters.insert(*counter);
    owner.counters.push_back(std::move(added));
    return 0;
}

PDH_STATUS LinuxCounterSource::CollectQueryData(PdhQuery* query)
{
    const auto found = m_queries.find(query);
    if (found == m_queries.end())
        return PDH_INVALID_HANDLE;
    Query& q = *found->second;
    if (q.counters.empty())
        return PDH_NO_DATA;

    const KernelFigures figures = ReadKernelFigures(m_procRoot, q.files, q.buffer);
    if (q.files & kProcessFiles)
        q.processes.Refresh();
    // Each watched process's descriptors are counted once, however many counters show them.
    struct Descriptors {
        int pid;
        RawCounterSample sample;
    };
    std::vector<Descriptors> descriptors;
    const auto descriptorsOf = [&](int pid) {
        const auto counted = std::find_if(descriptors.begin(), descriptors.end(), [&](const auto& d) { return d.pid == pid; });
        if (counted != descriptors.end())
            return counted->sample;
        int error = 0;
        const std::string fdDirectory = m_procRoot + "/" + std::to_string(pid) + "/fd";
        RawCounterSample sample = Sample(CountOpenDescriptors(fdDirectory, m_fdDirectorySizeIsCount, &error));
        // Ended since it was found; anything else (another user's process) leaves no figure.
        if (error == ENOENT)
            sample.CStatus = PDH_CSTATUS_NO_INSTANCE;
        return descriptors.emplace_back(Descriptors{ pid, sample }).sample;
    };
    const std::int64_t now = m_clock();

    for (const auto& c : q.counters) {
        RawCounterSample sample;
        if (!c->instanceCanExist) {
            sample.CStatus = PDH_CSTATUS_NO_INSTANCE;
        } else if (c->definition->figure == Figure::HandleCount) {
            const int pid = q.processes.Pid(c->processSlot);
            if (pid != 0)
                sample = descriptorsOf(pid);
            else
                sample.CStatus = PDH_CSTATUS_NO_INSTANCE;
        } else {
            sample = KernelSample(c->definition->figure, figures);
        }
        sample.timeNs = now;
        c->previous = c->current;
        c->current = sample;
    }
    return 0;
}

PDH_STATUS LinuxCounterSource::GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format,
                                                        PdhFormattedValue* value)
{
    if (!m_counters.contains(counter))
        return PDH_INVALID_HANDLE;
    const Counter& c = *reinterpret_cast<const Counter*>(counter);
    return FormatCounterValue(c.definition->type, c.previous, c.current, format, value);
}

PDH_STATUS LinuxCounterSource::CloseQuery(PdhQuery* query)
{
    const auto found = m_queries.find(query);
    if (found == m_queries.end())
        return PDH_INVALID_HANDLE;
    for (const auto& c : found->second->counters)
        m_counters.erase(reinterpret_cast<PdhCounter*>(c.get()));
    m_queries.erase(found);
    return 0;
}

void LinuxCounterSource::Sleep(std::uint32_t milliseconds)
{
    m_sleeper(milliseconds);
}
