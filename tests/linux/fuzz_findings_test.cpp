// Inputs the fuzzers found that the readers mishandled, kept so the faults stay fixed.
#include <gtest/gtest.h>

#include <string>

#include "directory/directory_service.h"
#include "platform/linux/config/ini_file.h"
#include "platform/linux/counters/proc_parsers.h"
#include "platform/linux/directory/join_information.h"
#include "tests/linux/test_support.h"

TEST(FuzzFindings, ConfigurationLineStartingWithNulIsSkippedSafely)
{
    // fgets stops at the NUL, which left an empty line that the reader then looked behind.
    TempDir dir;
    const std::string smb = dir.Write("smb.conf", std::string("[global]\n\0hidden = x\n  workgroup = CORP\n", 40));
    std::vector<IniSection> sections;
    int error = -1;
    EXPECT_EQ(ReadIniFile(smb, &sections, &error), IniReadResult::Read);
    ASSERT_NE(FindIniValue(sections, "global", "workgroup"), nullptr);
    EXPECT_EQ(*FindIniValue(sections, "global", "workgroup"), "CORP");
    const JoinInformation info = ReadJoinInformation(smb, dir.path() + "/none.conf");
    EXPECT_EQ(info.status, NetSetupWorkgroupName);
    EXPECT_EQ(info.name, "CORP");
}

TEST(FuzzFindings, MountLineWithARelativeMountPointIsNotALocalDisk)
{
    // A line the kernel would never write, with a relative path where the mount point goes:
    // statvfs would have measured whatever the working directory holds.
    EXPECT_TRUE(ParseLocalDisks("pgpgout 330 / / rw,relatime shared:1 - ext4 /dev/vda rw\n").empty());
    EXPECT_TRUE(ParseLocalDisks("pgpgout 330 / / rw,relatime shared:1 - zfs rpool/ROOT rw\n").empty());
    const std::vector<LocalDisk> disks = ParseLocalDisks("29 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n");
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0].mountPoints, (std::vector<std::string>{ "/" }));
}

TEST(FuzzFindings, LoadAverageWithANegativeLastPidHasNone)
{
    EXPECT_FALSE(ParseLastPid("-5").has_value());
    EXPECT_FALSE(ParseLastPid("0.00 0.01 0.05 1/80 0\n").has_value());
    EXPECT_EQ(ParseLastPid("0.00 0.01 0.05 1/80 4242\n"), 4242);
}
