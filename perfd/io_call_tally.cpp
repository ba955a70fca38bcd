#include "perfd/io_call_tally.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string_view>

namespace {

// The number after "name: " in /proc/PID/io's text.
bool Field(std::string_view text, std::string_view name, std::uint64_t& value)
{
    std::size_t at = 0;
    for (;;) {
        at = text.find(name, at);
        if (at == std::string_view::npos)
            return false;
        if (at == 0 || text[at - 1] == '\n')
            break;
        at += name.size();
    }
    const char* first = text.data() + at + name.size();
    while (first < text.data() + text.size() && *first == ' ')
        ++first;
    return std::from_chars(first, text.data() + text.size(), value).ec == std::errc();
}

// Each process's file is kept open: as many descriptors as the machine may allow.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// The parent's PID in /proc/PID/stat, after the name in parentheses; 0 when it cannot be read.
int ParentOf(const std::string& procRoot, int pid, std::string& buffer)
{
    const int fd = open((procRoot + "/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    buffer.resize(512);
    const ssize_t length = read(fd, buffer.data(), buffer.size());
    close(fd);
    const std::string_view text(buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
    const std::size_t name = text.rfind(") ");
    if (name == std::string_view::npos || name + 4 >= text.size())
        return 0;
    int parent = 0;
    const char* first = text.data() + name + 4; // past ") S "
    return std::from_chars(first, text.data() + text.size(), parent).ec == std::errc() ? parent : 0;
}

// Whether the process ignores SIGCHLD, so that the kernel reaps its children without adding
// their counts to its own.
bool IgnoresChildren(const std::string& procRoot, int pid, std::string& buffer)
{
    const int fd = open((procRoot + "/" + std::to_string(pid) + "/status").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    buffer.resize(4096);
    const ssize_t length = read(fd, buffer.data(), buffer.size());
    close(fd);
    const std::string_view text(buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
    const std::size_t at = text.find("\nSigIgn:");
    if (at == std::string_view::npos)
        return true;
    const char* first = text.data() + at + 9;
    while (first < text.data() + text.size() && *first == '\t')
        ++first;
    std::uint64_t ignored = 0;
    std::from_chars(first, text.data() + text.size(), ignored, 16);
    return (ignored & (std::uint64_t{ 1 } << (SIGCHLD - 1))) != 0;
}

} // namespace

IoCallTally::IoCallTally(std::string procRoot, int quietReadsPerUpdate)
    : m_procRoot(std::move(procRoot)), m_quietReadsPerUpdate(std::max(1, quietReadsPerUpdate))
{
    RaiseDescriptorLimit();
}

IoCallTally::~IoCallTally()
{
    for (Tracked& tracked : m_tracked) {
        if (tracked.file >= 0)
            close(tracked.file);
    }
}

bool IoCallTally::Read(Tracked& tracked)
{
    if (tracked.file < 0)
        return true; // cannot be read (no descriptor to spare): counts nothing
    ++m_readings;
    m_buffer.resize(512);
    const ssize_t length = pread(tracked.file, m_buffer.data(), m_buffer.size(), 0);
    if (length <= 0)
        return false; // ESRCH: it ended
    const std::string_view text(m_buffer.data(), static_cast<std::size_t>(length));
    std::uint64_t reads = 0, writes = 0;
    if (!Field(text, "syscr:", reads) || !Field(text, "syscw:", writes))
        return true;
    // The kernel's counts of a live process only grow.
    reads = std::max(reads, tracked.reads);
    writes = std::max(writes, tracked.writes);
    tracked.busy = reads != tracked.reads || writes != tracked.writes;
    tracked.grown.reads += reads - tracked.reads;
    tracked.grown.writes += writes - tracked.writes;
    tracked.reads = reads;
    tracked.writes = writes;
    tracked.readAt = m_update;
    return true;
}

void IoCallTally::End(Tracked& tracked)
{
    m_ended.reads += tracked.reads;
    m_ended.writes += tracked.writes;
    m_endedNow.push_back(Ended{ tracked.pid, tracked.parent, { tracked.reads, tracked.writes } });
    if (tracked.file >= 0)
        close(tracked.file);
    tracked.file = -1;
    tracked.ended = true;
}

bool IoCallTally::Track(int pid, Tracked& fresh)
{
    fresh = Tracked{};
    fresh.pid = pid;
    fresh.file = openat(AT_FDCWD, (m_procRoot + "/" + std::to_string(pid) + "/io").c_str(), O_RDONLY | O_CLOEXEC);
    if (fresh.file < 0 && errno != EMFILE && errno != ENFILE)
        return false; // ended already, or not procfs
    fresh.parent = ParentOf(m_procRoot, pid, m_buffer);
    if (fresh.file >= 0 && !Read(fresh)) {
        close(fresh.file);
        return false;
    }
    // What it called before this first reading is its own, and its children's that it reaped.
    fresh.grown = Totals{};
    fresh.busy = true; // a new process is read again at the next update
    return true;
}

void IoCallTally::SettleReaps()
{
    // Each process's children: (parent, place in the list) by parent.
    m_children.clear();
    for (std::size_t at = 0; at < m_tracked.size(); ++at)
        m_children.emplace_back(m_tracked[at].parent, at);
    std::sort(m_children.begin(), m_children.end());
    const auto childrenOf = [&](int pid) {
        const auto first = std::lower_bound(m_children.begin(), m_children.end(), std::pair{ pid, std::size_t{ 0 } });
        auto last = first;
        while (last != m_children.end() && last->first == pid)
            ++last;
        return std::pair{ first, last };
    };
    // A parent that grew may have reaped a child that was quiet: its children are read now.
    bool gone = false;
    for (const Tracked& parent : m_tracked) {
        if (parent.grown.reads == 0 && parent.grown.writes == 0)
            continue;
        for (auto [child, end] = childrenOf(parent.pid); child != end; ++child) {
            Tracked& tracked = m_tracked[child->second];
            if (tracked.file >= 0 && tracked.readAt != m_update && !Read(tracked)) {
                End(tracked);
                gone = true;
            }
        }
    }
    for (const Ended& ended : m_endedNow) {
        // Its children are another process's now.
        for (auto [child, end] = childrenOf(ended.pid); child != end; ++child) {
            Tracked& tracked = m_tracked[child->second];
            if (!tracked.ended)
                tracked.parent = ParentOf(m_procRoot, tracked.pid, m_buffer);
        }
    }
    if (gone)
        std::erase_if(m_tracked, [](const Tracked& t) { return t.ended; });
    for (const Ended& ended : m_endedNow) {
        const auto parent = std::lower_bound(m_tracked.begin(), m_tracked.end(), ended.parent,
                                             [](const Tracked& t, int pid) { return t.pid < pid; });
        if (parent == m_tracked.end() || parent->pid != ended.parent || parent->file < 0 ||
            IgnoresChildren(m_procRoot, parent->pid, m_buffer))
            continue;
        parent->reaped.reads += ended.counts.reads;
        parent->reaped.writes += ended.counts.writes;
        parent->reapedBy = m_update + 1; // this update's growth, or the next one's
        parent->busy = true;
    }
    m_endedNow.clear();
    for (Tracked& tracked : m_tracked) {
        if (tracked.reapedBy < m_update) {
            tracked.reaped = Totals{};
            continue;
        }
        const std::uint64_t reads = std::min(tracked.grown.reads, tracked.reaped.reads);
        const std::uint64_t writes = std::min(tracked.grown.writes, tracked.reaped.writes);
        m_reaped.reads += reads;
        m_reaped.writes += writes;
        tracked.reaped.reads -= reads;
        tracked.reaped.writes -= writes;
    }
}

IoCallTally::Totals IoCallTally::Update(const std::vector<ProcessTable::Process>& processes)
{
    m_readings = 0;
    ++m_update;
    for (Tracked& tracked : m_tracked)
        tracked.grown = Totals{};
    // The quiet processes read this time: the next ones by PID from where the last update
    // stopped, around.
    const auto quietFrom = std::lower_bound(m_tracked.begin(), m_tracked.end(), m_nextQuiet,
                                            [](const Tracked& t, int pid) { return t.pid < pid; });
    const std::size_t quietStart = static_cast<std::size_t>(quietFrom - m_tracked.begin());
    const auto isQuietTurn = [&](std::size_t at) {
        const std::size_t n = m_tracked.size();
        const std::size_t offset = (at + n - quietStart) % n;
        return offset < static_cast<std::size_t>(m_quietReadsPerUpdate);
    };
    std::size_t quietRead = 0;
    int lastQuietPid = m_nextQuiet;

    // Both lists by ascending PID: a process only tracked has left the table (ended), one only
    // in the table is new.
    m_next.clear();
    std::size_t at = 0;
    Tracked fresh;
    for (const ProcessTable::Process& process : processes) {
        while (at < m_tracked.size() && m_tracked[at].pid < process.pid) {
            Tracked& gone = m_tracked[at];
            if (Read(gone))
                m_next.push_back(gone); // still there: the table will find it again
            else
                End(gone);
            ++at;
        }
        if (at < m_tracked.size() && m_tracked[at].pid == process.pid) {
            Tracked& tracked = m_tracked[at];
            bool alive = true;
            if (tracked.busy || isQuietTurn(at)) {
                if (!tracked.busy) {
                    ++quietRead;
                    lastQuietPid = tracked.pid;
                }
                alive = Read(tracked);
            }
            if (alive) {
                m_next.push_back(tracked);
            } else {
                End(tracked);
                // A new process of that PID: read from its start.
                if (Track(process.pid, fresh))
                    m_next.push_back(fresh);
            }
            ++at;
            continue;
        }
        if (Track(process.pid, fresh))
            m_next.push_back(fresh);
    }
    for (; at < m_tracked.size(); ++at) {
        Tracked& gone = m_tracked[at];
        if (Read(gone))
            m_next.push_back(gone);
        else
            End(gone);
    }
    m_tracked.swap(m_next);
    m_nextQuiet = quietRead > 0 ? lastQuietPid + 1 : m_nextQuiet;
    if (!m_tracked.empty() && m_nextQuiet > m_tracked.back().pid)
        m_nextQuiet = 0;
    SettleReaps();

    Totals totals{ m_ended.reads - m_reaped.reads, m_ended.writes - m_reaped.writes };
    for (const Tracked& tracked : m_tracked) {
        totals.reads += tracked.reads;
        totals.writes += tracked.writes;
    }
    return totals;
}
