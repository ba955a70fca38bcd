#include "platform/linux/counters/process_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "framework/ascii_case.h"
#include "platform/linux/counters/proc_files.h"
#include "platform/linux/counters/proc_parsers.h"
#include "platform/linux/counters/process_names.h"

namespace {

constexpr int kUnknownPid = -1;
constexpr long kUnknownPosition = -1;

} // namespace

ProcessTable::ProcessTable(std::string procRoot, int countsPerRefresh)
    : m_procRoot(std::move(procRoot)), m_countsPerRefresh(std::max(1, countsPerRefresh)),
      m_fdDirectorySizeIsCount(FdDirectorySizeIsCount(m_procRoot)), m_procfs(IsProcfs(m_procRoot))
{
}

ProcessTable::~ProcessTable()
{
    if (m_proc != nullptr)
        closedir(m_proc);
}

void ProcessTable::KeepCounted(std::string name, Eligible eligible)
{
    m_kept.push_back(KeptProcess{ std::move(name), std::move(eligible), 0 });
}

int ProcessTable::Kept(std::string_view name) const
{
    for (const KeptProcess& kept : m_kept) {
        if (EqualsIgnoringCase(kept.name, name))
            return kept.pid;
    }
    return 0;
}

void ProcessTable::FindKept(KeptProcess& kept)
{
    const auto named = [&](const Process& p) { return EqualsIgnoringCase(p.name, kept.name); };
    const std::size_t current = IndexOf(kept.pid);
    // The one found still bears the name: any other of the name started after it.
    if (current < m_processes.size() && named(m_processes[current]))
        return;
    kept.pid = 0;
    std::uint64_t oldest = 0;
    const int procDirectory = m_proc != nullptr ? dirfd(m_proc) : -1;
    for (const Process& p : m_processes) {
        const std::string statPath = std::to_string(p.pid) + "/stat";
        if (!named(p) || procDirectory < 0 || (kept.eligible && !kept.eligible(procDirectory, p.pid)) ||
            !ReadWholeFile(statPath.c_str(), m_buffer, procDirectory))
            continue;
        const std::optional<std::uint64_t> started = ParseStartTime(m_buffer);
        if (started && (kept.pid == 0 || *started < oldest)) {
            kept.pid = p.pid;
            oldest = *started;
        }
    }
}

std::size_t ProcessTable::LowerBound(int pid) const
{
    const auto found = std::lower_bound(m_processes.begin(), m_processes.end(), pid,
                                        [](const Process& p, int pid) { return p.pid < pid; });
    return static_cast<std::size_t>(found - m_processes.begin());
}

std::size_t ProcessTable::IndexOf(int pid) const
{
    const std::size_t at = LowerBound(pid);
    return at < m_processes.size() && m_processes[at].pid == pid ? at : m_processes.size();
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

std::optional<std::uint64_t> ProcessTable::ProcLinks() const
{
    // procfs gives its root a link for each process (proc_root_getattr); a directory elsewhere,
    // one for each subdirectory.
    struct stat st {};
    if (m_proc == nullptr || fstat(dirfd(m_proc), &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_nlink);
}

void ProcessTable::Refresh()
{
    ++m_refreshes;
    m_countsAtLastRefresh = 0;
    m_namesAtLastRefresh = 0;
    if (m_proc == nullptr)
        m_proc = opendir(m_procRoot.c_str());
    // Those found at the last refresh join the table now.
    AdmitFound();
    const int lastPid = ReadLastPid();
    const bool started = lastPid != m_lastPid;
    const bool wrapped = lastPid < m_lastPid;
    if (m_listings == 0 || lastPid == kUnknownPid || wrapped || (started && !ReadNewProcesses(m_lastPid, lastPid))) {
        List();
    } else if (m_refreshes - m_listedAt >= CountPeriod()) {
        // Some process ended: the counts find each within the period too, so the listing that
        // also sees PIDs taken again need not come sooner.
        const std::optional<std::uint64_t> links = ProcLinks();
        if (!links || *links != m_linksBesideProcesses + m_processes.size() + m_found.size())
            List();
    }
    m_lastPid = lastPid;

    // The turn of counts, by PID from where the last refresh stopped.
    const std::size_t n = m_processes.size();
    if (n > 0) {
        const std::size_t turn = std::min<std::size_t>(n, static_cast<std::size_t>(m_countsPerRefresh));
        std::size_t at = LowerBound(m_nextToCount);
        for (std::size_t k = 0; k < turn; ++k, ++at) {
            at %= n;
            if (m_books[at].countedAt == m_refreshes)
                continue;
            if (m_refreshes - m_books[at].namedAt >= kNameCheckPeriod)
                Name(at);
            Count(at);
        }
        m_nextToCount = m_processes[(at - 1) % n].pid + 1;
    }
    // Those kept counted, at every refresh.
    for (KeptProcess& kept : m_kept) {
        FindKept(kept);
        const std::size_t at = IndexOf(kept.pid);
        if (at < m_processes.size() && m_books[at].countedAt != m_refreshes)
            Count(at);
    }
    DropEnded();
}

void ProcessTable::AdmitFound()
{
    if (m_found.empty())
        return;
    std::vector<Process> processes;
    std::vector<Bookkeeping> books;
    processes.reserve(m_processes.size() + m_found.size());
    books.reserve(m_processes.size() + m_found.size());
    std::size_t old = 0;
    for (const Found& found : m_found) {
        for (; old < m_processes.size() && m_processes[old].pid < found.pid; ++old) {
            processes.push_back(std::move(m_processes[old]));
            books.push_back(m_books[old]);
        }
        processes.push_back(Process{ {}, found.pid, std::nullopt });
        books.push_back(Bookkeeping{ found.inode, 0, 0, false });
    }
    for (; old < m_processes.size(); ++old) {
        processes.push_back(std::move(m_processes[old]));
        books.push_back(m_books[old]);
    }
    m_processes = std::move(processes);
    m_books = std::move(books);
    m_found.clear();
    for (std::size_t at = 0; at < m_processes.size(); ++at) {
        if (m_books[at].namedAt == 0) {
            Name(at);
            Count(at);
        }
    }
    DropEnded();
}

void ProcessTable::DropEnded()
{
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
    const bool first = m_listings == 0;
    ++m_listings;
    m_listedAt = m_refreshes;
    if (m_proc == nullptr)
        return;
    std::vector<std::pair<int, std::uint64_t>> listed;
    rewinddir(m_proc);
    // On procfs a process's entry stands at its PID plus a fixed offset; the listing learns the
    // offset, and only one that holds for every entry is used.
    m_pidPosition = kUnknownPosition;
    bool positionsHold = m_procfs;
    long before = telldir(m_proc);
    while (const dirent* entry = readdir(m_proc)) {
        const long position = before;
        before = telldir(m_proc);
        if (!IsPidName(entry->d_name))
            continue;
        listed.emplace_back(std::atoi(entry->d_name), entry->d_ino);
        const int pid = listed.back().first;
        if (m_pidPosition == kUnknownPosition)
            m_pidPosition = position - pid;
        positionsHold = positionsHold && position - pid == m_pidPosition;
    }
    if (!positionsHold)
        m_pidPosition = kUnknownPosition;
    std::sort(listed.begin(), listed.end());

    // Those in the table stay (unless their PID is another process's now); the others are found.
    std::vector<Process> processes;
    std::vector<Bookkeeping> books;
    processes.reserve(listed.size());
    books.reserve(listed.size());
    m_found.clear();
    std::size_t old = 0;
    for (const auto& [pid, inode] : listed) {
        while (old < m_processes.size() && m_processes[old].pid < pid)
            ++old;
        if (old < m_processes.size() && m_processes[old].pid == pid && m_books[old].inode == inode) {
            processes.push_back(std::move(m_processes[old]));
            books.push_back(m_books[old]);
        } else {
            m_found.push_back(Found{ pid, inode });
        }
    }
    m_processes = std::move(processes);
    m_books = std::move(books);
    // At the start, the whole table at once.
    if (first)
        AdmitFound();
    // What the link count of /proc holds besides the processes listed. Processes that started
    // or ended during the listing make it wrong, and a later refresh lists again.
    const std::optional<std::uint64_t> links = ProcLinks();
    m_linksBesideProcesses = links ? *links - std::min<std::uint64_t>(*links, listed.size()) : 0;
}

bool ProcessTable::ReadNewProcesses(int after, int upTo)
{
    // On procfs, PIDs come in ascending order from the position of any PID: the processes
    // started since the last refresh are those from the PID after the one last created then up
    // to the one last created now, less any older process whose PID lay there.
    if (m_pidPosition == kUnknownPosition || m_proc == nullptr)
        return false;
    ++m_readingsOnward;
    seekdir(m_proc, m_pidPosition + after + 1);
    int previous = after;
    while (const dirent* entry = readdir(m_proc)) {
        if (!IsPidName(entry->d_name))
            continue;
        const int pid = std::atoi(entry->d_name);
        if (pid <= previous)
            return false; // not in the order counted on: list whole
        if (pid > upTo)
            break;
        previous = pid;
        if (IndexOf(pid) == m_processes.size())
            m_found.push_back(Found{ pid, entry->d_ino });
    }
    return true;
}

void ProcessTable::Name(std::size_t at)
{
    ++m_namesAtLastRefresh;
    Bookkeeping& book = m_books[at];
    book.namedAt = m_refreshes;
    const std::string pid = std::to_string(m_processes[at].pid);
    const std::string commPath = pid + "/comm";
    const int procDirectory = m_proc != nullptr ? dirfd(m_proc) : -1;
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
