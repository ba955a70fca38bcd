#include "perfd/perfmon_sampler.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <sstream>
#include <string_view>

#include "framework/ascii_case.h"
#include "platform/linux/counters/proc_files.h"

bool RunsAsRoot(int procDirectory, int pid, const std::string& program)
{
    const std::string process = std::to_string(pid);
    std::string status;
    if (!ReadWholeFile((process + "/status").c_str(), status, procDirectory))
        return false;
    const std::size_t uids = status.find("\nUid:");
    if (uids == std::string::npos)
        return false;
    std::istringstream line(status.substr(uids + 5, status.find('\n', uids + 1) - uids - 5));
    int ids = 0;
    long id = -1;
    while (line >> id) {
        if (id != 0)
            return false;
        ++ids;
    }
    if (ids != 4)
        return false;
    // The program's file itself, whatever path it has from here: a server in a mount namespace
    // of its own may show its path from another root.
    struct stat running {
    }, expected{};
    if (fstatat(procDirectory, (process + "/exe").c_str(), &running, 0) == 0 && stat(program.c_str(), &expected) == 0 &&
        running.st_dev == expected.st_dev && running.st_ino == expected.st_ino)
        return true;
    // A program replaced by an upgrade since it started is the one of that name.
    char target[PATH_MAX];
    const ssize_t length = readlinkat(procDirectory, (process + "/exe").c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
        return false;
    std::string_view path(target, static_cast<std::size_t>(length));
    constexpr std::string_view kReplaced = " (deleted)";
    if (path.ends_with(kReplaced))
        path.remove_suffix(kReplaced.size());
    return path == program;
}

PerfmonSampler::PerfmonSampler(std::string procRoot, std::string lsassStandIn, std::string lsassProgram,
                               long ghostUpdates)
    : m_procRoot(std::move(procRoot)), m_lsassStandIn(std::move(lsassStandIn)), m_processes(m_procRoot),
      m_io(m_procRoot), m_slots(ghostUpdates)
{
    if (!m_lsassStandIn.empty()) {
        m_processes.KeepCounted(m_lsassStandIn, [program = std::move(lsassProgram)](int procDirectory, int pid) {
            return RunsAsRoot(procDirectory, pid, program);
        });
    }
    const long ticks = sysconf(_SC_CLK_TCK);
    m_sample.ticksPerSecond = ticks > 0 ? static_cast<std::uint32_t>(ticks) : 100;
}

const PerfmonSample& PerfmonSampler::Sample()
{
    m_sample.kernel = ReadKernelFigures(m_procRoot, kProcStat | kMeminfo | kVmstat | kMountinfo, m_buffer);
    // The moment of the kernel's counts, which the rates are measured by.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    m_sample.perfTime = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) /
                        (1'000'000'000 / kPerfFrequency);
    m_processes.Refresh();
    // File Read and Write Operations: every process's read and write calls, not the disks'
    // requests (perfd/io_call_tally.h).
    const IoCallTally::Totals calls = m_io.Update(m_processes.Processes());
    m_sample.kernel.disk = DiskOperations{ calls.reads, calls.writes };
    m_found = m_processes.Processes();
    const int standIn = m_lsassStandIn.empty() ? 0 : m_processes.Kept(m_lsassStandIn);
    m_sample.lsassIsCopy = !EqualsIgnoringCase(m_lsassStandIn, "lsass");
    if (m_all) {
        m_sample.processTotals.clear(); // the sums over the instances, as published
    } else {
        // Every process, before the stand-in's second copy joins them.
        SumProcessCounters(m_found, m_sample.processTotals);
    }
    AddLsassStandIn(m_found, standIn);
    if (!m_all) {
        std::erase_if(m_found, [&](const PublishedProcess& p) {
            const auto named = [&](const std::string& name) { return EqualsIgnoringCase(p.name, name); };
            return !(p.name == "lsass" && p.pid == standIn) && std::none_of(m_only.begin(), m_only.end(), named);
        });
    }
    // Each process is its PID; the stand-in for lsass is the directory's, whichever process
    // it is.
    constexpr std::uint64_t kLsassRole = std::uint64_t{ 1 } << 32;
    m_keys.clear();
    m_names.clear();
    for (const PublishedProcess& p : m_found) {
        m_keys.push_back(p.name == "lsass" && p.pid == standIn ? kLsassRole : static_cast<std::uint32_t>(p.pid));
        // Clients number the instances of one name with ASCII case ignored.
        std::string lower = p.name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        m_names.push_back(std::hash<std::string>{}(lower));
    }
    // A ghost is the process the last sample published at the place it was.
    const std::vector<InstanceSlots::Place>& places = m_slots.Arrange(m_keys, m_names);
    m_last.swap(m_sample.processes);
    m_sample.processes.resize(places.size());
    for (std::size_t k = 0; k < places.size(); ++k) {
        const InstanceSlots::Place& place = places[k];
        if (place.entity != InstanceSlots::kGhost)
            m_sample.processes[k] = std::move(m_found[place.entity]);
        else
            m_sample.processes[k] = std::move(m_last.at(place.was));
    }
    return m_sample;
}
