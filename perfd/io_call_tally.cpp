#include "perfd/io_call_tally.h"

#include <fcntl.h>
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
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
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
    tracked.reads = reads;
    tracked.writes = writes;
    return true;
}

void IoCallTally::End(Tracked& tracked)
{
    m_ended.reads += tracked.reads;
    m_ended.writes += tracked.writes;
    if (tracked.file >= 0)
        close(tracked.file);
    tracked.file = -1;
}

IoCallTally::Totals IoCallTally::Update(const std::vector<ProcessTable::Process>& processes)
{
    m_readings = 0;
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
                Tracked fresh;
                fresh.pid = process.pid;
                fresh.file = openat(AT_FDCWD, (m_procRoot + "/" + std::to_string(process.pid) + "/io").c_str(),
                                    O_RDONLY | O_CLOEXEC);
                if (fresh.file >= 0 && Read(fresh)) {
                    fresh.busy = true;
                    m_next.push_back(fresh);
                }
                else if (fresh.file >= 0)
                    close(fresh.file);
            }
            ++at;
            continue;
        }
        Tracked fresh;
        fresh.pid = process.pid;
        fresh.file = openat(AT_FDCWD, (m_procRoot + "/" + std::to_string(process.pid) + "/io").c_str(),
                            O_RDONLY | O_CLOEXEC);
        if (fresh.file < 0 && errno != EMFILE && errno != ENFILE)
            continue; // ended already, or not procfs
        if (fresh.file < 0 || Read(fresh)) {
            fresh.busy = true; // a new process is read again at the next update
            m_next.push_back(fresh);
        } else
            close(fresh.file);
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

    Totals totals = m_ended;
    for (const Tracked& tracked : m_tracked) {
        totals.reads += tracked.reads;
        totals.writes += tracked.writes;
    }
    return totals;
}
