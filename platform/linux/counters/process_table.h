// Every process of the machine with its instance name (platform/linux/counters/process_names.h) and its
// open descriptors, kept up to date cheaply enough to publish the whole Process object every
// second on a machine of thousands of processes.
//
// At each refresh:
// - Starts: when the last field of /proc/loadavg (the most recently created PID) moved, the
//   PIDs created since lie between its last value and this one, and are read from the /proc
//   directory, which the table keeps open: on procfs, a directory position stands for a PID,
//   so the reading starts at the first of them and costs only what is new. (A copy of procfs
//   in tests, and PIDs that wrapped around, are listed whole.) A new process joins the table at the next refresh,
//   named and counted then: a child between fork and exec still bears its parent's name, and a
//   process that ended by then costs nothing more.
// - Ends: a process's count (below) finds it gone. And the link count of /proc is a fixed
//   number plus the processes there are: when it no longer matches the table, /proc is listed
//   whole, at most every CountPeriod() refreshes, within which the counts find every ended
//   process anyway. A PID whose /proc entry changed its inode number then is a new process that
//   took an ended one's PID.
// - Counts: the descriptors of countsPerRefresh processes are counted, in turn by PID, so each
//   process's count is at most CountPeriod() = ceil(N / countsPerRefresh) refreshes old; the
//   oldest process of each name given to KeepCounted (the one that started first, by
//   /proc/PID/stat) is counted at every refresh. A count that
//   finds the process gone drops it. Each process's name is read again every
//   kNameCheckPeriod refreshes or so, along with its count, for a process that renamed itself
//   or ran another program.
// docs/perfd.md gives the figures.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ProcessTable {
public:
    // Processes whose descriptors a refresh counts, besides new and kept ones.
    static constexpr int kDefaultCountsPerRefresh = 100;
    // Refreshes between two readings of a process's name.
    static constexpr int kNameCheckPeriod = 120;

    struct Process {
        std::string name;
        int pid = 0;
        std::optional<std::uint64_t> descriptors; // empty when they cannot be counted
    };

    // procRoot: where procfs is mounted (a copy of its files in tests).
    explicit ProcessTable(std::string procRoot, int countsPerRefresh = kDefaultCountsPerRefresh);
    ~ProcessTable();
    ProcessTable(const ProcessTable&) = delete;
    ProcessTable& operator=(const ProcessTable&) = delete;

    // Whether a process of that PID may be the one kept (given the directory procfs is in).
    using Eligible = std::function<bool(int procDirectory, int pid)>;
    // Counts the oldest process of that instance name (ASCII case ignored) at every refresh;
    // with eligible, the oldest for which it holds.
    void KeepCounted(std::string name, Eligible eligible = {});
    // The PID of the oldest process of a name given to KeepCounted, or 0 while there is none.
    int Kept(std::string_view name) const;
    // Brings the table up to date: call once per sample.
    void Refresh();
    // By ascending PID.
    const std::vector<Process>& Processes() const { return m_processes; }
    // Refreshes within which every process's descriptors are counted again.
    int CountPeriod() const;
    // How many times /proc has been listed whole, how many times it was read on from the
    // highest PID only, and how many descriptor counts and name readings the last refresh made.
    int Listings() const { return m_listings; }
    int ReadingsOnward() const { return m_readingsOnward; }
    int CountsAtLastRefresh() const { return m_countsAtLastRefresh; }
    int NamesAtLastRefresh() const { return m_namesAtLastRefresh; }

private:
    // What the table keeps of a process besides what it shows, beside m_processes.
    struct Bookkeeping {
        std::uint64_t inode = 0; // of its /proc entry, which a new process of the PID does not share
        long namedAt = 0;        // the refresh that last read its name
        long countedAt = 0;      // and its descriptors
        bool ended = false;
    };
    // A process found and not yet in the table.
    struct Found {
        int pid;
        std::uint64_t inode;
    };

    // The place of the first process of that PID or above in the table; of that PID's process,
    // or the table's size when it has none.
    std::size_t LowerBound(int pid) const;
    std::size_t IndexOf(int pid) const;
    int ReadLastPid();
    std::optional<std::uint64_t> ProcLinks() const;
    void List();
    bool ReadNewProcesses(int after, int upTo);
    void AdmitFound();
    void Name(std::size_t at);
    void Count(std::size_t at);
    void DropEnded();

    std::string m_procRoot;
    int m_countsPerRefresh;
    bool m_fdDirectorySizeIsCount;
    bool m_procfs;
    DIR* m_proc = nullptr;
    long m_pidPosition = -1; // on procfs: a PID's position in /proc less the PID; -1 unknown
    struct KeptProcess {
        std::string name;
        Eligible eligible;
        int pid = 0;
    };
    void FindKept(KeptProcess& kept);
    std::vector<KeptProcess> m_kept;
    std::vector<Process> m_processes;
    std::vector<Bookkeeping> m_books;
    std::vector<Found> m_found; // by ascending PID
    std::uint64_t m_linksBesideProcesses = 0;
    long m_refreshes = 0;
    long m_listedAt = 0;
    int m_lastPid = -1;
    int m_nextToCount = 0; // the PID the rotation of counts goes on from
    int m_listings = 0;
    int m_readingsOnward = 0;
    int m_countsAtLastRefresh = 0;
    int m_namesAtLastRefresh = 0;
    std::string m_buffer;
};
