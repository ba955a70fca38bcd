// Reading procfs files and counting a process's open descriptors.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>

#include "platform/linux/counters/proc_files.h"
#include "tests/linux/child_process.h"
#include "tests/linux/fake_proc_root.h"

TEST(ProcFiles, ReadsWholeFilesOfAnySizeAndReportsMissingOnes)
{
    FakeProcRoot proc;
    const std::string large(10000, 'x');
    proc.Write("large", large);
    std::string buffer = "left over";
    ASSERT_TRUE(ReadWholeFile((proc.Path() + "/large").c_str(), buffer));
    EXPECT_EQ(buffer, large);
    EXPECT_FALSE(ReadWholeFile((proc.Path() + "/missing").c_str(), buffer));
    EXPECT_TRUE(buffer.empty());
    // procfs files report size 0 and are read to their end all the same.
    ASSERT_TRUE(ReadWholeFile("/proc/self/status", buffer));
    EXPECT_NE(buffer.find("Pid:"), std::string::npos);
}

TEST(ProcFiles, KernelReleasesCompareByMajorAndMinor)
{
    EXPECT_TRUE(KernelReleaseAtLeast("6.2.0-39-generic", 6, 2));
    EXPECT_TRUE(KernelReleaseAtLeast("6.18.44-fc-v1300", 6, 2));
    EXPECT_TRUE(KernelReleaseAtLeast("7.0", 6, 2));
    EXPECT_FALSE(KernelReleaseAtLeast("6.1.0-13-amd64", 6, 2));
    EXPECT_FALSE(KernelReleaseAtLeast("5.19.17", 6, 2));
    EXPECT_FALSE(KernelReleaseAtLeast("garbage", 6, 2));
    // Only procfs reports a count as the size of a directory.
    FakeProcRoot proc;
    EXPECT_FALSE(FdDirectorySizeIsCount(proc.Path()));
}

TEST(ProcFiles, DescriptorsOfARealChildCountAlikeBothWays)
{
    ChildProcess child("zd" + std::to_string(getpid()), 9);
    ASSERT_TRUE(child.Running());
    const std::string fdDirectory = "/proc/" + std::to_string(child.Pid()) + "/fd";
    int error = -1;
    EXPECT_EQ(CountOpenDescriptors(fdDirectory, false, &error), 9u);
    EXPECT_EQ(error, 0);
    if (FdDirectorySizeIsCount("/proc"))
        EXPECT_EQ(CountOpenDescriptors(fdDirectory, true, &error), 9u);
    else
        GTEST_LOG_(INFO) << "procfs reports no descriptor count as size before Linux 6.2";
    child.End();
    for (bool sizeIsCount : { false, true }) {
        EXPECT_FALSE(CountOpenDescriptors(fdDirectory, sizeIsCount, &error));
        EXPECT_EQ(error, ENOENT);
    }
}
