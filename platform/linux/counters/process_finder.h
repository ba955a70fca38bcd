// Finds the processes behind Process(NAME) and Process(NAME#N) instances in procfs, cheaply
// enough to run at every refresh.
//
// A process's instance name follows platform/linux/counters/process_names.h: its comm, or the name
// comm was cut from. Names are compared without regard to ASCII case. Processes of one name are NAME, NAME#1, NAME#2,
// ... by ascending PID as of the last scan of /proc.
//
// At each refresh a found process is checked by reading its comm; if it has ended or been
// renamed, /proc is scanned at once. While an instance is missing, the processes created since
// the last refresh (the PIDs up to the last field of /proc/loadavg) have their comm read, and
// one with a watched name brings a scan. Renames are caught by a scan every
// RenameScanInterval() refreshes, and when too many processes start to look at each, a scan
// takes their place every NewProcessScanInterval() refreshes. Both intervals grow with the
// number of processes so that scans cost at most about scanBudget comm reads a refresh.
// docs/counters.md gives the bounds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class ProcessFinder {
public:
    // Processes whose comm a refresh may read for scans, on average.
    static constexpr int kDefaultScanBudget = 12;
    // New PIDs looked at one by one in a refresh; beyond that a scan takes their place.
    static constexpr int kMaxProbedPids = 64;
    // The intervals on a machine of at most 2 × kDefaultScanBudget processes.
    static constexpr int kMinNewProcessScanInterval = 2;

    explicit ProcessFinder(std::string procRoot, int scanBudget = kDefaultScanBudget);

    // Watches the instance (name as in the counter path, without "#index"); the slot it has.
    // Watching the same instance again gives the same slot.
    std::size_t Watch(std::string_view name, int index);
    // Brings the watched instances up to date: call once per collection.
    void Refresh();
    // The process behind the slot's instance, or 0 while there is none.
    int Pid(std::size_t slot) const { return m_watched[slot].pid; }
    // How many times /proc has been scanned.
    int ScanCount() const { return m_scans; }
    // Refreshes between scans for processes that start in crowds, and for renames.
    int NewProcessScanInterval() const;
    int RenameScanInterval() const { return 2 * NewProcessScanInterval(); }

private:
    struct Watched {
        std::string name;
        int index = 0;
        int pid = 0;
        std::string comm; // as read when found
    };

    // A PID no process has: the last PID when loadavg cannot be read.
    static constexpr int kUnknownPid = -1;

    bool AnyFoundProcessChanged();
    bool NewProcessMayHaveAWatchedName(int lastPid);
    bool HasAWatchedName(std::string_view comm, int procDirectory, const char* pid);
    int ReadLastPid();
    void Scan(int lastPid);

    std::string m_procRoot;
    int m_scanBudget;
    std::vector<Watched> m_watched;
    bool m_everScanned = false;
    int m_refreshesSinceScan = 0;
    int m_lastPidLookedAt = kUnknownPid;
    int m_processesAtScan = 0;
    int m_scans = 0;
    std::string m_buffer;
};
