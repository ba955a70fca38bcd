// The procfs parsers on files of several kernel versions (tests/linux/data/linux-VERSION).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/linux/counters/proc_parsers.h"

namespace {

std::string Fixture(const std::string& relative)
{
    std::ifstream in(std::string(ZELTOR_LINUX_TEST_DATA) + "/" + relative, std::ios::binary);
    EXPECT_TRUE(in.good()) << relative;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(CpuTimesParser, ReadsEveryKernelsColumnsAndZeroesThoseItLacks)
{
    const auto old = ParseCpuTimes(Fixture("linux-2.4/stat"));
    ASSERT_TRUE(old);
    EXPECT_EQ(old->Busy(), 1200u + 30 + 450);
    EXPECT_EQ(old->Idle(), 98320u);
    EXPECT_EQ(old->irq, 0u);

    const auto rhel5 = ParseCpuTimes(Fixture("linux-2.6.18/stat"));
    ASSERT_TRUE(rhel5);
    EXPECT_EQ(rhel5->irq, 127u);
    EXPECT_EQ(rhel5->Busy(), 2255u + 34 + 2290 + 127 + 456);
    EXPECT_EQ(rhel5->Idle(), 22625563u + 6290);

    // guest (175628) is inside user already and is not added again; no final newline.
    const auto ubuntu = ParseCpuTimes(Fixture("linux-4.15/stat"));
    ASSERT_TRUE(ubuntu);
    EXPECT_EQ(ubuntu->Busy(), 10132153u + 290696 + 3084719 + 25195);
    EXPECT_EQ(ubuntu->Total(), ubuntu->Busy() + 46828483u + 16683);

    const auto current = ParseCpuTimes(Fixture("linux-6.18/stat"));
    ASSERT_TRUE(current);
    EXPECT_EQ(current->steal, 188u);
    // The processors online: one "cpuN" line each.
    EXPECT_EQ(old->processors, 1u);
    EXPECT_EQ(rhel5->processors, 2u);
    EXPECT_EQ(current->processors, 2u);
    EXPECT_EQ(current->Total(), 48738u + 12410 + 358646 + 1875 + 143 + 188);
}

TEST(CpuTimesParser, RefusesOtherFirstLinesAndBrokenNumbers)
{
    EXPECT_FALSE(ParseCpuTimes(""));
    EXPECT_FALSE(ParseCpuTimes("cpu0 1 2 3 4\ncpu 1 2 3 4\n"));
    EXPECT_FALSE(ParseCpuTimes("cpu 1 2 3\n"));
    EXPECT_FALSE(ParseCpuTimes("cpu 1 2 x 4 5\n"));
    EXPECT_FALSE(ParseCpuTimes("cpu 1 2 -3 4\n"));
    ASSERT_TRUE(ParseCpuTimes("cpu\t1 2 3 4"));
}

TEST(CommitChargeParser, FindsBothFiguresWhereverTheyStand)
{
    const auto rhel5 = ParseCommitCharge(Fixture("linux-2.6.18/meminfo"));
    ASSERT_TRUE(rhel5);
    EXPECT_EQ(rhel5->committedKb, 1307593u);
    EXPECT_EQ(rhel5->limitKb, 5230372u);
    const auto ubuntu = ParseCommitCharge(Fixture("linux-4.15/meminfo")); // no final newline
    ASSERT_TRUE(ubuntu);
    EXPECT_EQ(ubuntu->committedKb, 14101052u);
    const auto current = ParseCommitCharge(Fixture("linux-6.18/meminfo"));
    ASSERT_TRUE(current);
    EXPECT_EQ(current->limitKb, 12341884u);
    // A file without Committed_AS, and names that only begin alike.
    EXPECT_FALSE(ParseCommitCharge(Fixture("linux-5.4/meminfo")));
    EXPECT_FALSE(ParseCommitCharge("CommitLimitX: 5 kB\nCommitted_AS: 3 kB\n"));
}

TEST(VmCountersParser, ReadsThePagingFiguresAndLeavesMissingOnesEmpty)
{
    const VmCounters rhel5 = ParseVmCounters(Fixture("linux-2.6.18/vmstat"));
    EXPECT_EQ(rhel5.pgfault, 81245112u);
    EXPECT_EQ(rhel5.pgmajfault, 4209u);
    EXPECT_EQ(rhel5.pswpin, 17u);
    EXPECT_EQ(rhel5.pswpout, 91u);
    const VmCounters ubuntu = ParseVmCounters(Fixture("linux-4.15/vmstat"));
    EXPECT_EQ(ubuntu.pgfault, 1301988412u);
    EXPECT_EQ(ubuntu.pswpout, 27811u);
    const VmCounters current = ParseVmCounters(Fixture("linux-6.18/vmstat"));
    EXPECT_EQ(current.pgmajfault, 5038u);
    EXPECT_EQ(current.pswpin, 0u);
    EXPECT_EQ(current.swapReadahead, 0u);
    EXPECT_FALSE(rhel5.swapReadahead); // before 4.14
    // Built without swap: no pswpin or pswpout lines.
    const VmCounters noSwap = ParseVmCounters(Fixture("linux-5.4/vmstat"));
    EXPECT_EQ(noSwap.pgfault, 919191u);
    EXPECT_FALSE(noSwap.pswpin);
    EXPECT_FALSE(noSwap.pswpout);
}

TEST(DiskOperationsParser, SumsWholeDisksOfEveryFieldLayout)
{
    // 11 numbers, with the short partition lines of 2.6.18.
    const auto rhel5 = ParseDiskOperations(Fixture("linux-2.6.18/diskstats"));
    ASSERT_TRUE(rhel5);
    EXPECT_EQ(rhel5->reads, 446216u + 1000 + 5);
    EXPECT_EQ(rhel5->writes, 424847u + 200 + 7);
    // 11 numbers on partitions too, nvme and mmc names, no final newline.
    const auto ubuntu = ParseDiskOperations(Fixture("linux-4.15/diskstats"));
    ASSERT_TRUE(ubuntu);
    EXPECT_EQ(ubuntu->reads, 50u + 48 + 120000 + 5000 + 300 + 4);
    EXPECT_EQ(ubuntu->writes, 80000u + 1000 + 30);
    // 15 numbers.
    const auto withDiscards = ParseDiskOperations(Fixture("linux-5.4/diskstats"));
    ASSERT_TRUE(withDiscards);
    EXPECT_EQ(withDiscards->reads, 70000u + 69800 + 9);
    EXPECT_EQ(withDiscards->writes, 40000u + 40150 + 3);
    // 17 numbers.
    const auto current = ParseDiskOperations(Fixture("linux-6.18/diskstats"));
    ASSERT_TRUE(current);
    EXPECT_EQ(current->reads, 141552u);
    EXPECT_EQ(current->writes, 34611u);

    EXPECT_FALSE(ParseDiskOperations(""));
    EXPECT_FALSE(ParseDiskOperations("   8 0 sda 1 2 3\n"));
}

TEST(DiskOperationsParser, TellsPartitionsFromDisksByTheKernelsNaming)
{
    const std::vector<std::string_view> names = { "sda",       "sda1",         "sda12", "sdp",    "sdp1",
                                                  "nvme0n1",   "nvme0n1p3",    "loop1", "loop10", "mmcblk0",
                                                  "mmcblk0p1", "mmcblk0boot0", "md127", "dm-0" };
    for (std::string_view partition : { "sda1", "sda12", "sdp1", "nvme0n1p3", "mmcblk0p1" })
        EXPECT_TRUE(IsPartitionName(partition, names)) << partition;
    for (std::string_view disk :
         { "sda", "sdp", "nvme0n1", "loop1", "loop10", "mmcblk0", "mmcblk0boot0", "md127", "dm-0" })
        EXPECT_FALSE(IsPartitionName(disk, names)) << disk;
    // A partition whose disk is not listed is counted as a disk.
    EXPECT_FALSE(IsPartitionName("sdb1", names));
}

namespace {

// The disks as "name: mount point, ...", pools marked.
std::vector<std::string> Describe(const std::vector<LocalDisk>& disks)
{
    std::vector<std::string> described;
    for (const LocalDisk& disk : disks) {
        std::string text = (disk.pool ? "pool " : "") + disk.name + ":";
        for (const std::string& mountPoint : disk.mountPoints)
            text += " " + mountPoint;
        described.push_back(text);
    }
    return described;
}

} // namespace

TEST(LocalDisksParser, OneMountPointPerBlockDevice)
{
    // Bind mounts and btrfs subvolumes once; no network, memory or read-only image file
    // systems; escaped spaces decoded; no final newline.
    EXPECT_EQ(Describe(ParseLocalDisks(Fixture("mounts/mountinfo"))),
              (std::vector<std::string>{ "/dev/nvme0n1p2: /", "/dev/nvme0n1p1: /boot/efi", "/dev/sda1: /home",
                                         "/dev/sdb1: /media/usb stick", "/dev/mapper/vg-var: /var" }));
    EXPECT_TRUE(ParseLocalDisks("").empty());
    // Lines cut short before the separator's fields.
    EXPECT_TRUE(ParseLocalDisks("29 1 8:1 / / rw - ext4\n29 1 8:1 / /\n").empty());
    EXPECT_EQ(Describe(ParseLocalDisks("29 1 8:1 / /a\\134b rw - ext4 /dev/sda1 rw\n")),
              (std::vector<std::string>{ "/dev/sda1: /a\\b" }));
}

TEST(LocalDisksParser, EachZfsPoolOnceWithItsDatasets)
{
    // A server whose disks are ZFS datasets, beside an EFI partition, network shares, memory
    // file systems, an overlay and a FUSE mount: pools by name in the order first mounted, each
    // dataset once (tank/share is also bind-mounted), no snapshot.
    EXPECT_EQ(Describe(ParseLocalDisks(Fixture("mounts/mountinfo-zfs"))),
              (std::vector<std::string>{ "pool rpool: / /home /root /var/lib/samba /var/log", "pool bpool: /boot",
                                         "/dev/nvme0n1p1: /boot/efi", "pool tank: /srv/tank /srv/tank/Public Share" }));
    // Sources that name no pool.
    EXPECT_TRUE(ParseLocalDisks("30 1 0:40 / /x rw - zfs /a rw\n31 1 0:41 / /y rw - zfs @s rw\n").empty());
}

TEST(StartTimeParser, CountsFieldsAfterTheNamesLastParenthesis)
{
    EXPECT_EQ(ParseStartTime(Fixture("process/stat")), 5171u);
    // A name with spaces and parentheses, as PR_SET_NAME allows.
    EXPECT_EQ(ParseStartTime("77 (a) b (c)) R 1 77 77 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 42 0 0"), 42u);
    EXPECT_FALSE(ParseStartTime("77 (cut short) R 1 77"));
    EXPECT_FALSE(ParseStartTime("no name here"));
    EXPECT_FALSE(ParseStartTime("77 (x) R 1 77 77 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 -5 0"));
}

TEST(LastPidParser, TakesTheLastFieldOfLoadavg)
{
    EXPECT_EQ(ParseLastPid(Fixture("linux-2.6.18/loadavg")), 2914);
    EXPECT_EQ(ParseLastPid("0.91 0.58 0.47 1/120 14238"), 14238);
    EXPECT_FALSE(ParseLastPid(""));
    EXPECT_FALSE(ParseLastPid("0.91 0.58 0.47 1/120 x"));
}
