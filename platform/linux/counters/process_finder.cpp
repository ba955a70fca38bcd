#include "platform/linux/counters/process_finder.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

#include "framework/ascii_case.h"
#include "platform/linux/counters/proc_files.h"
#include "platform/linux/counters/proc_parsers.h"
#include "platform/linux/counters/process_names.h"

namespace {

// Whether the process of that comm (and PID, a directory of procDirectory) has the instance name;
// commName is InstanceNameOf(comm), made once for all the names a process is compared with.
bool MatchesName(const std::string& name, std::string_view comm, const std::string& commName, int procDirectory,
                 const char* pid)
{
    if (EqualsIgnoringCase(commName, name))
        return true;
    // Only a comm the kernel may have cut short can stand for a longer name.
    if (!CommMayBeCut(comm) || name.size() <= commName.size() || !StartsWithIgnoringCase(name, commName))
        return false;
    const std::string uncut = UncutProcessName(comm, procDirectory, pid);
    return !uncut.empty() && EqualsIgnoringCase(InstanceNameOf(uncut), name);
}

} // namespace

ProcessFinder::ProcessFinder(std::string procRoot, int scanBudget)
    : m_procRoot(std::move(procRoot)), m_scanBudget(std::max(1, scanBudget))
{
}

int ProcessFinder::NewProcessScanInterval() const
{
    const int budgetShare = (m_processesAtScan + m_scanBudget - 1) / m_scanBudget;
    return std::max(kMinNewProcessScanInterval, budgetShare);
}

std::size_t ProcessFinder::Watch(std::string_view name, int index)
{
    for (std::size_t slot = 0; slot < m_watched.size(); ++slot) {
        if (EqualsIgnoringCase(m_watched[slot].name, name) && m_watched[slot].index == index)
            return slot;
    }
    m_watched.push_back({ std::string(name), index, 0, {} });
    // The new instance is looked for at the next refresh.
    m_everScanned = false;
    return m_watched.size() - 1;
}

void ProcessFinder::Refresh()
{
    if (m_watched.empty())
        return;
    ++m_refreshesSinceScan;
    bool scan = !m_everScanned || AnyFoundProcessChanged();
    const bool anyMissing =
        std::any_of(m_watched.begin(), m_watched.end(), [](const Watched& w) { return w.pid == 0; });
    // loadavg is read at most once a refresh, and only while an instance is missing.
    std::optional<int> lastPid;
    if (!scan && anyMissing) {
        lastPid = ReadLastPid();
        scan = m_refreshesSinceScan >= RenameScanInterval() || NewProcessMayHaveAWatchedName(*lastPid);
    }
    if (scan)
        Scan(lastPid ? *lastPid : ReadLastPid());
}

bool ProcessFinder::NewProcessMayHaveAWatchedName(int lastPid)
{
    if (lastPid == m_lastPidLookedAt)
        return false;
    // PIDs that wrapped around, or more new ones than are worth looking at one by one: a scan
    // when the budget allows.
    const bool probeable = m_lastPidLookedAt != kUnknownPid && lastPid > m_lastPidLookedAt &&
                           lastPid - m_lastPidLookedAt <= kMaxProbedPids;
    if (!probeable)
        return m_refreshesSinceScan >= NewProcessScanInterval();
    const int procDirectory = open(m_procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procDirectory < 0)
        return true;
    bool found = false;
    for (int pid = m_lastPidLookedAt + 1; pid <= lastPid && !found; ++pid) {
        char pidText[16], commPath[32];
        std::snprintf(pidText, sizeof pidText, "%d", pid);
        std::snprintf(commPath, sizeof commPath, "%d/comm", pid);
        // A PID whose process or thread has ended already has no comm to read.
        found = ReadWholeFile(commPath, m_buffer, procDirectory) &&
                HasAWatchedName(WithoutNewline(m_buffer), procDirectory, pidText);
    }
    close(procDirectory);
    m_lastPidLookedAt = lastPid;
    return found;
}

bool ProcessFinder::HasAWatchedName(std::string_view comm, int procDirectory, const char* pid)
{
    const std::string commName = InstanceNameOf(comm);
    return std::any_of(m_watched.begin(), m_watched.end(),
                       [&](const Watched& w) { return MatchesName(w.name, comm, commName, procDirectory, pid); });
}

bool ProcessFinder::AnyFoundProcessChanged()
{
    return std::any_of(m_watched.begin(), m_watched.end(), [this](const Watched& watched) {
        if (watched.pid == 0)
            return false;
        const std::string path = m_procRoot + "/" + std::to_string(watched.pid) + "/comm";
        return !ReadWholeFile(path.c_str(), m_buffer) || WithoutNewline(m_buffer) != watched.comm;
    });
}

int ProcessFinder::ReadLastPid()
{
    const std::string path = m_procRoot + "/loadavg";
    if (!ReadWholeFile(path.c_str(), m_buffer))
        return kUnknownPid;
    return ParseLastPid(m_buffer).value_or(kUnknownPid);
}

void ProcessFinder::Scan(int lastPid)
{
    ++m_scans;
    m_everScanned = true;
    m_refreshesSinceScan = 0;
    m_lastPidLookedAt = lastPid;
    m_processesAtScan = 0;

    // Every process of each watched name, with its comm.
    std::vector<std::vector<std::pair<int, std::string>>> matches(m_watched.size());
    DIR* proc = opendir(m_procRoot.c_str());
    if (proc != nullptr) {
        const int procDirectory = dirfd(proc);
        while (const dirent* entry = readdir(proc)) { // NOLINT(concurrency-mt-unsafe): a stream of this call alone
            if (!IsPidName(entry->d_name))
                continue;
            ++m_processesAtScan;
            const std::string commPath = std::string(entry->d_name) + "/comm";
            // A process that ended since readdir listed it has no comm to read.
            if (!ReadWholeFile(commPath.c_str(), m_buffer, procDirectory))
                continue;
            const std::string_view comm = WithoutNewline(m_buffer);
            const std::string commName = InstanceNameOf(comm);
            for (std::size_t slot = 0; slot < m_watched.size(); ++slot) {
                if (MatchesName(m_watched[slot].name, comm, commName, procDirectory, entry->d_name))
                    matches[slot].emplace_back(std::atoi(entry->d_name), std::string(comm));
            }
        }
        closedir(proc);
    }

    for (std::size_t slot = 0; slot < m_watched.size(); ++slot) {
        auto& found = matches[slot];
        std::sort(found.begin(), found.end());
        Watched& watched = m_watched[slot];
        const auto index = static_cast<std::size_t>(watched.index);
        watched.pid = index < found.size() ? found[index].first : 0;
        watched.comm = index < found.size() ? found[index].second : std::string();
    }
}
