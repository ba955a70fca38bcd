#include "platform/linux/process_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/linux/ascii_case.h"
#include "platform/linux/proc_files.h"
#include "platform/linux/proc_parsers.h"
#include "platform/linux/process_names.h"

namespace {

constexpr int kUnknownPid = -1;

} // namespace

ProcessTable::ProcessTable(std::string procRoot, int countsPerRefresh)
    : m_procRoot(std::move(procRoot)),
      m_countsPerRefresh(std::max(1, countsPerRefresh)),
      m_fdDirectorySizeIsCount(FdDirectorySizeIsCount(m_procRoot))
{
}

void ProcessTable::KeepCounted(std::string name)
{
    m_keptNames.push_back(std::move(name));
}

int ProcessTable::CountPeriod() const
{
    const auto n = static_cast<int>(m_processes.size());
    return std::max(1, (n + m_countsPerRefresh - 1) / m_countsPerRefresh);
}

int ProcessTable::ReadLastPid()
{
    const std::string path = m_procRoot + "/loadavg";
    if (!ReadWholeFile(path.c_str(), m_buffer))
        return kUnknownPid;
    return ParseLastPid(m_buffer).value_or(kUnknownPid);
}

void ProcessTable::Refresh()
{
    ++m_refreshes;
    m_countsAtLastRefresh = 0;
    m_namesAtLastRefresh = 0;
    const int lastPid = ReadLastPid();
    if (!m_everListed || lastPid == kUnknownPid || lastPid != m_lastPid || m_refreshes - m_listedAt >= CountPeriod())
        List();
    m_lastPid = lastPid;

    const int procDirectory = open(m_procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Found at an earlier listing and perhaps not yet past exec then.
    for (std::size_t at = 0; at < m_processes.size(); ++at) {
        Bookkeeping& book = m_books[at];
        if (book.young && book.namedAt < m_refreshes) {
            Name(at, procDirectory);
            book.young = false;
        }
    }
    // The turn of counts, by PID from where the last refresh stopped.
    const std::size_t n = m_processes.size();
    if (n > 0) {
        const std::size_t turn = std::min<std::size_t>(n, static_cast<std::size_t>(m_countsPerRefresh));
        std::size_t at = static_cast<std::size_t>(
            std::lower_bound(m_processes.begin(), m_processes.end(), m_nextToCount,
                             [](const Process& p, int pid) { return p.pid < pid; }) -
            m_processes.begin());
        for (std::size_t k = 0; k < turn; ++k, ++at) {
            at %= n;
            if (m_books[at].countedAt == m_refreshes)
                continue;
            if (m_refreshes - m_books[at].namedAt >= kNameCheckPeriod)
                Name(at, procDirectory);
            Count(at);
        }
        m_nextToCount = m_processes[(at - 1) % n].pid + 1;
    }
    if (procDirectory >= 0)
        close(procDirectory);
    // Those kept counted, at every refresh.
    for (const std::string& name : m_keptNames) {
        const auto found = std::find_if(m_processes.begin(), m_processes.end(),
                                        [&](const Process& p) { return EqualsIgnoringCase(p.name, name); });
        if (found != m_processes.end() && m_books[found - m_processes.begin()].countedAt != m_refreshes)
            Count(static_cast<std::size_t>(found - m_processes.begin()));
    }
    // Those found gone.
    std::size_t kept = 0;
    for (std::size_t at = 0; at < m_processes.size(); ++at) {
        if (m_books[at].ended)
            continue;
        if (kept != at) {
            m_processes[kept] = std::move(m_processes[at]);
            m_books[kept] = m_books[at];
        }
        ++kept;
    }
    m_processes.resize(kept);
    m_books.resize(kept);
}

void ProcessTable::List()
{
    ++m_listings;
    m_everListed = true;
    m_listedAt = m_refreshes;
    std::vector<std::pair<int, std::uint64_t>> listed;
    DIR* proc = opendir(m_procRoot.c_str());
    if (proc == nullptr)
        return;
    while (const dirent* entry = readdir(proc)) {
        if (IsPidName(entry->d_name))
            listed.emplace_back(std::atoi(entry->d_name), entry->d_ino);
    }
    const int procDirectory = dirfd(proc);
    std::sort(listed.begin(), listed.end());

    std::vector<Process> processes;
    std::vector<Bookkeeping> books;
    processes.reserve(listed.size());
    books.reserve(listed.size());
    std::size_t old = 0;
    for (const auto& [pid, inode] : listed) {
        while (old < m_processes.size() && m_processes[old].pid < pid)
            ++old;
        if (old < m_processes.size() && m_processes[old].pid == pid && m_books[old].inode == inode) {
            processes.push_back(std::move(m_processes[old]));
            books.push_back(m_books[old]);
            continue;
        }
        processes.push_back(Process{ pid, {}, std::nullopt });
        books.push_back(Bookkeeping{ inode, 0, 0, true, false });
    }
    m_processes = std::move(processes);
    m_books = std::move(books);
    // The new ones: named and counted now.
    for (std::size_t at = 0; at < m_processes.size(); ++at) {
        if (m_books[at].young && m_books[at].namedAt == 0) {
            Name(at, procDirectory);
            Count(at);
        }
    }
    closedir(proc);
}

void ProcessTable::Name(std::size_t at, int procDirectory)
{
    ++m_namesAtLastRefresh;
    Bookkeeping& book = m_books[at];
    book.namedAt = m_refreshes;
    const std::string pid = std::to_string(m_processes[at].pid);
    const std::string commPath = pid + "/comm";
    // A process that ended meanwhile keeps its name until its count finds it gone.
    if (procDirectory < 0 || !ReadWholeFile(commPath.c_str(), m_buffer, procDirectory))
        return;
    m_processes[at].name = ProcessInstanceName(WithoutNewline(m_buffer), procDirectory, pid.c_str());
}

void ProcessTable::Count(std::size_t at)
{
    ++m_countsAtLastRefresh;
    Bookkeeping& book = m_books[at];
    book.countedAt = m_refreshes;
    int error = 0;
    const std::string fdDirectory = m_procRoot + "/" + std::to_string(m_processes[at].pid) + "/fd";
    m_processes[at].descriptors = CountOpenDescriptors(fdDirectory, m_fdDirectorySizeIsCount, &error);
    book.ended = error == ENOENT;
}
