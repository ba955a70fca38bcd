// Every process of the machine with its instance name (platform/linux/process_names.h) and its
// open descriptors, kept up to date cheaply enough to publish the whole Process object every
// second on a machine of thousands of processes.
//
// At each refresh:
// - /proc is listed when a PID was created since the last refresh (the last field of
//   /proc/loadavg moved), and at least every CountPeriod() refreshes for processes that ended
//   meanwhile. A new process is named and counted at once, and named again at the next refresh,
//   since a child between fork and exec still bears its parent's name. A PID whose /proc entry
//   changed its inode number is a new process that took an ended one's PID.
// - the descriptors of countsPerRefresh processes are counted, in turn by PID, so each process's
//   count is at most CountPeriod() = ceil(N / countsPerRefresh) refreshes old; the processes of
//   the names given to KeepCounted are counted at every refresh. A count that finds the process
//   gone drops it. Each process's name is read again every kNameCheckPeriod refreshes or so,
//   along with its count, for a process that renamed itself or ran another program.
// docs/perfd.md gives the figures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ProcessTable {
public:
    // Processes whose descriptors a refresh counts, besides new and kept ones.
    static constexpr int kDefaultCountsPerRefresh = 200;
    // Refreshes between two readings of a process's name.
    static constexpr int kNameCheckPeriod = 60;

    struct Process {
        int pid = 0;
        std::string name;
        std::optional<std::uint64_t> descriptors; // empty when they cannot be counted
    };

    // procRoot: where procfs is mounted (a copy of its files in tests).
    explicit ProcessTable(std::string procRoot, int countsPerRefresh = kDefaultCountsPerRefresh);

    // Counts the first process (lowest PID) of that instance name at every refresh.
    void KeepCounted(std::string name);
    // Brings the table up to date: call once per sample.
    void Refresh();
    // By ascending PID.
    const std::vector<Process>& Processes() const { return m_processes; }
    // Refreshes within which every process's descriptors are counted again.
    int CountPeriod() const;
    // How many times /proc has been listed, and how many descriptor counts and name readings
    // the last refresh made.
    int Listings() const { return m_listings; }
    int CountsAtLastRefresh() const { return m_countsAtLastRefresh; }
    int NamesAtLastRefresh() const { return m_namesAtLastRefresh; }

private:
    // What the table keeps of a process besides what it shows, beside m_processes.
    struct Bookkeeping {
        std::uint64_t inode = 0; // of its /proc entry, which a new process of the PID does not share
        long namedAt = 0;        // the refresh that last read its name
        long countedAt = 0;      // and its descriptors
        bool young = false;      // found at a listing: to be named once more
        bool ended = false;
    };

    int ReadLastPid();
    void List();
    void Name(std::size_t at, int procDirectory);
    void Count(std::size_t at);

    std::string m_procRoot;
    int m_countsPerRefresh;
    bool m_fdDirectorySizeIsCount;
    std::vector<std::string> m_keptNames;
    std::vector<Process> m_processes;
    std::vector<Bookkeeping> m_books;
    long m_refreshes = 0;
    long m_listedAt = 0;
    bool m_everListed = false;
    int m_lastPid = -1;
    int m_nextToCount = 0; // the PID the rotation of counts goes on from
    int m_listings = 0;
    int m_countsAtLastRefresh = 0;
    int m_namesAtLastRefresh = 0;
    std::string m_buffer;
};
