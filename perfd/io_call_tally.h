// The read and write calls of every process of the machine since it started, for File Read
// and Write Operations/sec as Windows means them: the file-system requests of all processes,
// those the cache serves included. The kernel counts each process's calls (/proc/PID/io: syscr,
// syscw, the calls of its threads that ended included); reading that file needs root for
// another user's process.
//
// Reading it for every process at every update costs 4 to 10 µs a process (2,000 processes:
// 1 to 2 % of a core at one update a second), so a process is read at every update only while
// it is busy (its counts moved at its last reading); the others are read in turn, a few at each
// update, as the process table counts descriptors. A quiet process that starts calling is seen
// at its turn, and what it called meanwhile counts at once.
//
// Each process's /proc/PID/io is kept open: a reading through the kept descriptor fails once
// that process has ended (been reaped), even when a new process has taken its PID. The counts
// of a process that ended are carried on as they were last read, so the totals never run
// backwards; what they miss is what a process called between its last reading and its end,
// and the processes that started and ended between two updates of the process table.
//
// A parent that reaps a child with wait() gets the child's counts added to its own (Linux adds
// them to the reaper's /proc/PID/io): those are not carried twice. When a process ends, the
// counts carried for it are taken back from its parent's next growth, up to what it had (a
// parent that ignores SIGCHLD has its children reaped without that, and keeps nothing). So the
// child's calls count once, those since its last reading included. A parent whose counts grow
// has its quiet children read at once, so that a child it reaped is found ended in the same
// update; a child whose parent ended is its new parent's (the one /proc/PID/stat names then).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/counters/process_table.h"

class IoCallTally {
public:
    // Quiet processes read at each update besides the busy ones.
    static constexpr int kQuietReadsPerUpdate = 50;

    struct Totals {
        std::uint64_t reads = 0;
        std::uint64_t writes = 0;
    };

    // procRoot: where procfs is mounted.
    explicit IoCallTally(std::string procRoot, int quietReadsPerUpdate = kQuietReadsPerUpdate);
    ~IoCallTally();
    IoCallTally(const IoCallTally&) = delete;
    IoCallTally& operator=(const IoCallTally&) = delete;

    // Brings the counts up to date for these processes (by ascending PID, as the process table
    // lists them) and gives the totals: those of the processes that ended included.
    Totals Update(const std::vector<ProcessTable::Process>& processes);

    // How many /proc/PID/io files the last update read.
    int ReadingsAtLastUpdate() const { return m_readings; }

private:
    struct Tracked {
        int pid = 0;
        int parent = 0;
        int file = -1; // its /proc/PID/io, kept open; -1 when it could not be opened
        std::uint64_t reads = 0;
        std::uint64_t writes = 0;
        Totals grown;      // at this update's reading
        Totals reaped;     // the counts carried for children that ended, which its growth holds
        long reapedBy = 0; // the update until which its growth is looked at for them
        long readAt = 0;
        bool busy = true;
        bool ended = false;
    };
    struct Ended {
        int pid;
        int parent;
        Totals counts;
    };
    // Reads the process's counts again; false once it has ended.
    bool Read(Tracked& tracked);
    void End(Tracked& tracked);
    // Opens and reads a process that the tally does not know yet: false when it cannot.
    bool Track(int pid, Tracked& fresh);
    // Reads the quiet children of the processes that grew, gives the counts of those that ended
    // to their parents, and takes back what their parents' growth holds of them.
    void SettleReaps();

    std::string m_procRoot;
    int m_quietReadsPerUpdate;
    std::vector<Tracked> m_tracked; // by ascending PID
    std::vector<Tracked> m_next;
    Totals m_ended;                                      // of the processes that ended
    Totals m_reaped;                                     // of those, what their parents' counts hold
    std::vector<Ended> m_endedNow;                       // at this update
    std::vector<std::pair<int, std::size_t>> m_children; // (parent, place in m_tracked)
    long m_update = 0;
    int m_nextQuiet = 0; // the PID the quiet readings go on from
    int m_readings = 0;
    std::string m_buffer;
};
