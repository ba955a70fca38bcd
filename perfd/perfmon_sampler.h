// One sample of this machine for Samba's performance databases: the kernel's figures and every
// process, read with the same code as the local counter source (platform/linux).
#pragma once

#include <string>

#include "perfd/instance_slots.h"
#include "perfd/io_call_tally.h"
#include "perfd/perfmon_records.h"
#include "platform/linux/counters/process_table.h"

// Whether the process of that PID (in the procfs directory given) runs program, with every
// user ID of its (real, effective, saved, file system) root's. A program that was replaced
// since it started ("PATH (deleted)", as after a package upgrade) is still that program.
bool RunsAsRoot(int procDirectory, int pid, const std::string& program);

class PerfmonSampler {
public:
    // procRoot: where procfs is mounted. lsassStandIn: the process name that also answers as
    // lsass (empty: none); only a process that root runs from lsassProgram may.
    // ghostUpdates: how long an ended process's place waits for a new one at least
    // (perfd/instance_slots.h).
    PerfmonSampler(std::string procRoot, std::string lsassStandIn, std::string lsassProgram, long ghostUpdates);

    // Publishes only the processes of these instance names (ASCII case ignored), besides the
    // stand-in for lsass (none: the stand-in alone); Process(_Total) still sums every process.
    // Without a call, every process is published.
    void PublishOnly(std::vector<std::string> names)
    {
        m_only = std::move(names);
        m_all = false;
    }

    // Takes a sample; the result stays valid until the next call.
    const PerfmonSample& Sample();

private:
    std::string m_procRoot;
    std::string m_lsassStandIn;
    std::vector<std::string> m_only;
    bool m_all = true;
    ProcessTable m_processes;
    IoCallTally m_io;
    InstanceSlots m_slots;
    std::vector<PublishedProcess> m_found;
    std::vector<PublishedProcess> m_last; // the last sample's, for its ghosts
    std::vector<std::uint64_t> m_keys;
    std::vector<std::uint64_t> m_names;
    PerfmonSample m_sample;
    std::string m_buffer;
};
