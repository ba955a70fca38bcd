#include "perfd/perfmon_sampler.h"

#include <unistd.h>

#include <chrono>

PerfmonSampler::PerfmonSampler(std::string procRoot, std::string lsassStandIn)
    : m_procRoot(std::move(procRoot)), m_lsassStandIn(std::move(lsassStandIn)), m_processes(m_procRoot)
{
    if (!m_lsassStandIn.empty())
        m_processes.KeepCounted(m_lsassStandIn);
    const long ticks = sysconf(_SC_CLK_TCK);
    m_sample.ticksPerSecond = ticks > 0 ? static_cast<std::uint32_t>(ticks) : 100;
}

const PerfmonSample& PerfmonSampler::Sample()
{
    m_sample.kernel = ReadKernelFigures(m_procRoot, kProcStat | kMeminfo | kVmstat | kDiskstats | kMountinfo, m_buffer);
    // The moment of the kernel's counts, which the rates are measured by.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    m_sample.perfTime = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) /
                        (1'000'000'000 / kPerfFrequency);
    m_processes.Refresh();
    m_sample.processes = m_processes.Processes();
    AddLsassStandIn(m_sample.processes, m_lsassStandIn.empty() ? 0 : m_processes.Kept(m_lsassStandIn));
    return m_sample;
}
