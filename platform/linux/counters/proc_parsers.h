// Parsers of the procfs files the counters come from. Each takes the file's text as read, with
// or without a trailing newline, and tolerates the fields that later kernels appended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The "cpu" line of /proc/stat, in USER_HZ ticks summed over all CPUs. Kernels before 2.6.11
// have no steal, before 2.6.0 no iowait, irq or softirq: those read 0. guest and guest_nice
// are already inside user and nice.
struct CpuTimes {
    std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    unsigned processors = 0; // the "cpuN" lines that follow: the processors online

    std::uint64_t Busy() const { return user + nice + system + irq + softirq + steal; }
    std::uint64_t Idle() const { return idle + iowait; }
    std::uint64_t Total() const { return Busy() + Idle(); }
};
std::optional<CpuTimes> ParseCpuTimes(std::string_view procStat);

// Committed_AS and CommitLimit of /proc/meminfo, in kB.
struct CommitCharge {
    std::uint64_t committedKb = 0;
    std::uint64_t limitKb = 0;
};
std::optional<CommitCharge> ParseCommitCharge(std::string_view meminfo);

// The /proc/vmstat figures the memory counters use; a name the kernel does not list (pswpin
// and pswpout without CONFIG_SWAP) stays empty.
struct VmCounters {
    std::optional<std::uint64_t> pgfault, pgmajfault, pswpin, pswpout;
    // Pages swap readahead read beside the page a fault asked for (swap_ra, Linux 4.14 on).
    std::optional<std::uint64_t> swapReadahead;
};
VmCounters ParseVmCounters(std::string_view vmstat);

// Reads and writes completed on whole disks of /proc/diskstats; partitions are left out since
// their disk counts the same requests. Empty when no line can be read.
struct DiskOperations {
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
};
std::optional<DiskOperations> ParseDiskOperations(std::string_view diskstats);

// Whether name is a partition of one of the disks named: the kernel names a partition after
// its disk, with "p" between when the disk's name ends in a digit (sda1, nvme0n1p1).
bool IsPartitionName(std::string_view name, const std::vector<std::string_view>& allNames);

// A local disk of /proc/self/mountinfo to measure free space on: a file system on a block
// device (source under /dev/), measured at one of its mount points, or a ZFS pool, whose
// datasets share the pool's free space and are each mounted at a place of their own.
struct LocalDisk {
    std::string name; // the device, or the pool's name
    bool pool = false;
    std::vector<std::string> mountPoints; // one for a device; each dataset's once for a pool
};

// The local disks in the order of their first mount: each block device once, without the
// read-only image formats that never have free space, and each ZFS pool once with its mounted
// datasets (snapshots aside). Network (nfs, cifs, ...) and memory (tmpfs, ...) file systems,
// overlays and other mounts without a device are not disks.
std::vector<LocalDisk> ParseLocalDisks(std::string_view mountinfo);

// When the process started, in clock ticks after boot: field 22 of /proc/PID/stat, counted
// after the ")" that ends the process's name (which may hold spaces and parentheses).
std::optional<std::uint64_t> ParseStartTime(std::string_view stat);

// The most recently created PID: the last field of /proc/loadavg.
std::optional<int> ParseLastPid(std::string_view loadavg);
