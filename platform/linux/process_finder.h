// Finds the processes behind Process(NAME) and Process(NAME#N) instances in procfs, cheaply
// enough to run at every refresh.
//
// A process's instance name is its comm; when comm is cut at the kernel's 15 characters, the
// base name of its executable without extension, if that goes on from comm. Names are
// compared without regard to ASCII case. Processes of one name are NAME, NAME#1, NAME#2, ...
// by ascending PID as of the last scan of /proc.
//
// At each refresh a found process is checked by reading its comm; if it has ended or been
// renamed, /proc is scanned at once. /proc is otherwise scanned only for instances not found:
// two refreshes after the last scan when a process has been created since (the last field of
// /proc/loadavg changed), else four, which also bounds the cost of a name that never appears.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class ProcessFinder {
public:
    // Scans of /proc for instances not found, at most one every so many refreshes.
    static constexpr int kNewProcessScanInterval = 2;
    static constexpr int kRenameScanInterval = 4;

    explicit ProcessFinder(std::string procRoot);

    // Watches the instance (name as in the counter path, without "#index"); the slot it has.
    // Watching the same instance again gives the same slot.
    std::size_t Watch(std::string_view name, int index);
    // Brings the watched instances up to date: call once per collection.
    void Refresh();
    // The process behind the slot's instance, or 0 while there is none.
    int Pid(std::size_t slot) const { return m_watched[slot].pid; }
    // How many times /proc has been scanned.
    int ScanCount() const { return m_scans; }

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
    int ReadLastPid();
    void Scan(int lastPid);
    bool MatchesName(const std::string& name, std::string_view comm, int procDirectory, const char* pid);

    std::string m_procRoot;
    std::vector<Watched> m_watched;
    bool m_everScanned = false;
    int m_refreshesSinceScan = 0;
    int m_lastPidAtScan = kUnknownPid;
    int m_scans = 0;
    std::string m_buffer;
};
