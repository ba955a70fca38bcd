// The readers of procfs files: /proc/stat, meminfo, vmstat, diskstats, mountinfo, loadavg and a
// process's stat, as any kernel may write them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/linux/counters/proc_parsers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto cpu = ParseCpuTimes(text); cpu && cpu->processors > text.size())
        std::abort(); // a processor is a line of its own
    (void)ParseCommitCharge(text);
    (void)ParseVmCounters(text);
    (void)ParseDiskOperations(text);
    for (const LocalDisk& disk : ParseLocalDisks(text)) {
        // Every disk has a mount point, and every mount point the reader gives back is an
        // absolute path it found in the text.
        if (disk.mountPoints.empty() || (!disk.pool && disk.mountPoints.size() != 1))
            std::abort();
        for (const std::string& mount : disk.mountPoints) {
            if (mount.empty() || mount[0] != '/')
                std::abort();
        }
    }
    if (auto pid = ParseLastPid(text); pid && *pid < 0)
        std::abort();
    (void)ParseStartTime(text);
    return 0;
}
