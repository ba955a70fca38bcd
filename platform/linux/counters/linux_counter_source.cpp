#include "platform/linux/counters/linux_counter_source.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "framework/ascii_case.h"
#include "perf/counter_calculator.h"
#include "perf/counter_path.h"
#include "perf/pdh_status.h"
#include "platform/linux/counters/counter_catalogue.h"
#include "platform/linux/counters/kernel_figures.h"
#include "platform/linux/counters/proc_files.h"
#include "platform/linux/counters/process_finder.h"

namespace {

// Whether the path's instance part names an instance the object can have; a process is
// looked for at each collection instead.
bool InstanceCanExist(const PerfObject& object, const CounterPath& path)
{
    switch (object.instances) {
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
    const PerfCounter* definition = nullptr;
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
    : m_procRoot(std::move(procRoot)), m_computerName(std::move(computerName)), m_clock(std::move(clock)),
      m_sleeper(std::move(sleeper)), m_fdDirectorySizeIsCount(FdDirectorySizeIsCount(m_procRoot))
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
    const PerfObject* object = FindPerfObject(path->object);
    if (object == nullptr)
        return PDH_CSTATUS_NO_OBJECT;
    const PerfCounter* definition = FindPerfCounter(*object, path->counter);
    if (definition == nullptr)
        return PDH_CSTATUS_NO_COUNTER;

    Query& owner = *found->second;
    auto added = std::make_unique<Counter>();
    added->definition = definition;
    added->instanceCanExist = InstanceCanExist(*object, *path);
    if (added->instanceCanExist && object->instances == Instances::Process)
        added->processSlot = owner.processes.Watch(path->instance, path->index);
    owner.files |= KernelFilesFor(definition->figure);
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
        std::optional<std::uint64_t> count;
        bool ended;
    };
    std::vector<Descriptors> descriptors;
    const auto descriptorsOf = [&](int pid) -> const Descriptors& {
        const auto counted =
            std::find_if(descriptors.begin(), descriptors.end(), [&](const auto& d) { return d.pid == pid; });
        if (counted != descriptors.end())
            return *counted;
        int error = 0;
        const std::string fdDirectory = m_procRoot + "/" + std::to_string(pid) + "/fd";
        const auto count = CountOpenDescriptors(fdDirectory, m_fdDirectorySizeIsCount, &error);
        // Ended since it was found; anything else (another user's process) leaves no figure.
        return descriptors.emplace_back(Descriptors{ pid, count, error == ENOENT });
    };
    const std::int64_t now = m_clock();

    for (const auto& c : q.counters) {
        RawCounterSample sample;
        if (!c->instanceCanExist) {
            sample.CStatus = PDH_CSTATUS_NO_INSTANCE;
        } else if (KernelFilesFor(c->definition->figure) == kProcessFiles) {
            const int pid = q.processes.Pid(c->processSlot);
            const Descriptors* process = pid != 0 ? &descriptorsOf(pid) : nullptr;
            if (process != nullptr && !process->ended)
                sample = ProcessSample(c->definition->figure, pid, process->count);
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

PDH_STATUS LinuxCounterSource::GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample)
{
    if (!m_counters.contains(counter))
        return PDH_INVALID_HANDLE;
    if (type == nullptr || sample == nullptr)
        return PDH_INVALID_ARGUMENT;
    const Counter& c = *reinterpret_cast<const Counter*>(counter);
    *type = static_cast<std::uint32_t>(c.definition->type);
    *sample = c.current;
    return 0;
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
