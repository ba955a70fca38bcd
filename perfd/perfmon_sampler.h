// One sample of this machine for Samba's performance databases: the kernel's figures and every
// process, read with the same code as the local counter source (platform/linux).
#pragma once

#include <string>

#include "perfd/perfmon_records.h"
#include "platform/linux/process_table.h"

class PerfmonSampler {
public:
    // procRoot: where procfs is mounted. lsassStandIn: the process name that also answers as
    // lsass (empty: none).
    PerfmonSampler(std::string procRoot, std::string lsassStandIn);

    // Takes a sample; the result stays valid until the next call.
    const PerfmonSample& Sample();

private:
    std::string m_procRoot;
    std::string m_lsassStandIn;
    ProcessTable m_processes;
    PerfmonSample m_sample;
    std::string m_buffer;
};
