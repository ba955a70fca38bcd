// One sample of the kernel's figures behind the counters of platform/linux/counters/counter_catalogue.h,
// and each counter's raw reading from it: the path that both the local counter source and the
// Samba provider take from procfs to a raw counter value.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "perf/counter_calculator.h"
#include "platform/linux/counters/counter_catalogue.h"
#include "platform/linux/counters/proc_parsers.h"

// The procfs files a figure needs; each is read once per sample.
enum KernelFile : unsigned {
    kProcStat = 1u << 0,
    kMeminfo = 1u << 1,
    kVmstat = 1u << 2,
    kDiskstats = 1u << 3,
    kMountinfo = 1u << 4,
    kProcessFiles = 1u << 5, // /proc/PID/comm and /proc/PID/fd of the processes shown
};

unsigned KernelFilesFor(Figure figure);

struct SpaceTotals {
    std::uint64_t freeBytes = 0;
    std::uint64_t sizeBytes = 0;
};

// The free and total bytes of the file system mounted at a mount point: statvfs's f_bfree and
// f_blocks in f_frsize units (blocks reserved for root count as free, as Windows has no such
// reserve). Empty when it cannot be measured or has no size.
std::optional<SpaceTotals> StatvfsSpace(const std::string& mountPoint);
using SpaceMeter = std::function<std::optional<SpaceTotals>(const std::string& mountPoint)>;

// The local disks' free and total bytes together. A ZFS pool counts once: its datasets share
// the pool's free space (the most any of them reports: a quota lowers a dataset's share), and
// each adds the space it uses itself (f_blocks less f_bfree) to the pool's size. Empty when no
// disk could be measured.
std::optional<SpaceTotals> MeasureSpace(const std::vector<LocalDisk>& disks, const SpaceMeter& measure = StatvfsSpace);

// The kernel's figures of one sample; a figure whose file could not be read or parsed stays
// empty.
struct KernelFigures {
    std::optional<CpuTimes> cpu;
    std::optional<CommitCharge> commit;
    VmCounters vm;
    std::optional<DiskOperations> disk;
    std::optional<SpaceTotals> space;
};

// Reads the files named by the KernelFile bits under procRoot; buffer is reused between reads.
KernelFigures ReadKernelFigures(const std::string& procRoot, unsigned files, std::string& buffer);

// The raw reading of a machine-wide figure (not HandleCount or ProcessId): for the processor
// timers first is the part of the processors' time and second all of it, in USER_HZ ticks
// summed over the processors; for a raw fraction the numerator and the denominator; else first
// alone. A figure the kernel did not give reads PDH_CSTATUS_INVALID_DATA.
RawCounterSample KernelSample(Figure figure, const KernelFigures& k);

// The raw reading of a process's figure, given its PID and its open descriptors (empty when
// they could not be counted).
RawCounterSample ProcessSample(Figure figure, int pid, std::optional<std::uint64_t> descriptors);
