#include "platform/linux/counters/kernel_figures.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <vector>

#include "perf/pdh_status.h"
#include "platform/linux/counters/proc_files.h"

namespace {

RawCounterSample Sample(std::optional<std::uint64_t> first, std::optional<std::uint64_t> second = 0)
{
    RawCounterSample sample;
    if (first && second) {
        sample.CStatus = PDH_CSTATUS_VALID_DATA;
        sample.first = *first;
        sample.second = *second;
    }
    return sample;
}

} // namespace

std::optional<SpaceTotals> StatvfsSpace(const std::string& mountPoint)
{
    struct statvfs fs {};
    if (statvfs(mountPoint.c_str(), &fs) != 0 || fs.f_blocks == 0)
        return std::nullopt;
    return SpaceTotals{ static_cast<std::uint64_t>(fs.f_bfree) * fs.f_frsize,
                        static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize };
}

std::optional<SpaceTotals> MeasureSpace(const std::vector<LocalDisk>& disks, const SpaceMeter& measure)
{
    SpaceTotals totals;
    bool any = false;
    for (const LocalDisk& disk : disks) {
        std::uint64_t free = 0, used = 0;
        bool measured = false;
        for (const std::string& mountPoint : disk.mountPoints) {
            const std::optional<SpaceTotals> space = measure(mountPoint);
            if (!space)
                continue;
            measured = true;
            if (!disk.pool) {
                free = space->freeBytes;
                used = space->sizeBytes - std::min(space->freeBytes, space->sizeBytes);
                break;
            }
            free = std::max(free, space->freeBytes);
            used += space->sizeBytes - std::min(space->freeBytes, space->sizeBytes);
        }
        if (!measured)
            continue;
        totals.freeBytes += free;
        totals.sizeBytes += free + used;
        any = true;
    }
    if (!any)
        return std::nullopt;
    return totals;
}

unsigned KernelFilesFor(Figure figure)
{
    switch (figure) {
    case Figure::ProcessorTime:
    case Figure::InterruptTime:
        return kProcStat;
    case Figure::CommittedBytes:
        return kMeminfo;
    case Figure::FreeSpace:
        return kMountinfo;
    case Figure::FileReads:
    case Figure::FileWrites:
        return kDiskstats;
    case Figure::PageFaults:
    case Figure::PagesInput:
    case Figure::PagesOutput:
    case Figure::PageReads:
    case Figure::PageWrites:
        return kVmstat;
    case Figure::HandleCount:
    case Figure::ProcessId:
        return kProcessFiles;
    }
    return 0;
}

KernelFigures ReadKernelFigures(const std::string& procRoot, unsigned files, std::string& buffer)
{
    KernelFigures figures;
    const auto read = [&](const char* name) { return ReadWholeFile((procRoot + name).c_str(), buffer); };
    if ((files & kProcStat) && read("/stat"))
        figures.cpu = ParseCpuTimes(buffer);
    if ((files & kMeminfo) && read("/meminfo"))
        figures.commit = ParseCommitCharge(buffer);
    if ((files & kVmstat) && read("/vmstat"))
        figures.vm = ParseVmCounters(buffer);
    if ((files & kDiskstats) && read("/diskstats"))
        figures.disk = ParseDiskOperations(buffer);
    if ((files & kMountinfo) && read("/self/mountinfo"))
        figures.space = MeasureSpace(ParseLocalDisks(buffer));
    return figures;
}

RawCounterSample KernelSample(Figure figure, const KernelFigures& k)
{
    const auto cpu = [&](auto field) { return k.cpu ? std::optional<std::uint64_t>(field(*k.cpu)) : std::nullopt; };
    const auto total = cpu([](const CpuTimes& t) { return t.Total(); });
    switch (figure) {
    case Figure::ProcessorTime:
        return Sample(cpu([](const CpuTimes& t) { return t.Idle(); }), total);
    case Figure::InterruptTime:
        return Sample(cpu([](const CpuTimes& t) { return t.irq; }), total);
    case Figure::CommittedBytes:
        return k.commit ? Sample(k.commit->committedKb, k.commit->limitKb) : Sample(std::nullopt);
    case Figure::FreeSpace:
        return k.space ? Sample(k.space->freeBytes, k.space->sizeBytes) : Sample(std::nullopt);
    case Figure::FileReads:
        return k.disk ? Sample(k.disk->reads) : Sample(std::nullopt);
    case Figure::FileWrites:
        return k.disk ? Sample(k.disk->writes) : Sample(std::nullopt);
    case Figure::PageFaults:
        return Sample(k.vm.pgfault);
    case Figure::PagesInput:
        // The pages read to resolve hard faults: each fault's own page, and those swap readahead
        // read with it (none on a kernel without swap). So never fewer than Page Reads.
        return k.vm.pgmajfault ? Sample(*k.vm.pgmajfault + k.vm.swapReadahead.value_or(0)) : Sample(std::nullopt);
    case Figure::PagesOutput:
    case Figure::PageWrites:
        return Sample(k.vm.pswpout);
    case Figure::PageReads:
        return Sample(k.vm.pgmajfault);
    case Figure::HandleCount:
    case Figure::ProcessId:
        break;
    }
    return Sample(std::nullopt);
}

RawCounterSample ProcessSample(Figure figure, int pid, std::optional<std::uint64_t> descriptors)
{
    if (figure == Figure::ProcessId)
        return Sample(static_cast<std::uint64_t>(pid));
    if (figure == Figure::HandleCount)
        return Sample(descriptors);
    return Sample(std::nullopt);
}
