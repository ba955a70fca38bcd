// Finding Process(NAME#N) instances: which process each is, how soon a change is seen, and how
// seldom /proc is scanned for it.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/linux/counters/process_finder.h"
#include "tests/linux/child_process.h"
#include "tests/linux/fake_proc_root.h"

namespace {

// Refreshes until the slot's PID is expected (or the bound runs out); how many it took.
int RefreshesUntil(ProcessFinder& finder, std::size_t slot, int expectedPid, int bound)
{
    for (int refreshes = 1; refreshes <= bound; ++refreshes) {
        finder.Refresh();
        if (finder.Pid(slot) == expectedPid)
            return refreshes;
    }
    return -1;
}

} // namespace

TEST(ProcessFinder, NumbersProcessesOfOneNameByAscendingPid)
{
    FakeProcRoot proc;
    proc.AddProcess(300, "slapd");
    proc.AddProcess(40, "SLAPD");
    proc.AddProcess(1200, "slapd");
    proc.AddProcess(77, "slapd-helper");
    ProcessFinder finder(proc.Path());
    const std::size_t first = finder.Watch("slapd", 0);
    const std::size_t second = finder.Watch("slapd", 1);
    const std::size_t third = finder.Watch("Slapd", 2);
    const std::size_t fourth = finder.Watch("slapd", 3);
    EXPECT_EQ(finder.Watch("SLAPD", 1), second);
    finder.Refresh();
    EXPECT_EQ(finder.Pid(first), 40);
    EXPECT_EQ(finder.Pid(second), 300);
    EXPECT_EQ(finder.Pid(third), 1200);
    EXPECT_EQ(finder.Pid(fourth), 0);
}

TEST(ProcessFinder, CutShortCommStandsForTheExecutablesLongerName)
{
    FakeProcRoot proc;
    proc.AddProcess(10, "systemd-journal"); // 15 characters: the kernel's limit
    proc.SetExecutable(10, "/usr/lib/systemd/systemd-journald");
    proc.AddProcess(11, "winbindd-childr");
    proc.SetExecutable(11, "/usr/sbin/winbindd-childrenpool.bin");
    proc.AddProcess(12, "samba-dcerpcd-x");
    proc.SetExecutable(12, "/usr/sbin/unrelated");
    proc.AddProcess(13, "kdc(0)"); // a counter path names it kdc[0]
    ProcessFinder finder(proc.Path());
    const std::size_t kdc = finder.Watch("KDC[0]", 0);
    const std::size_t journald = finder.Watch("systemd-journald", 0);
    const std::size_t pool = finder.Watch("winbindd-childrenpool", 0);
    const std::size_t dcerpcd = finder.Watch("samba-dcerpcd-xyz", 0);
    const std::size_t cut = finder.Watch("systemd-journal", 0);
    finder.Refresh();
    EXPECT_EQ(finder.Pid(journald), 10);
    EXPECT_EQ(finder.Pid(pool), 11); // extension dropped
    EXPECT_EQ(finder.Pid(dcerpcd), 0);
    EXPECT_EQ(finder.Pid(cut), 10);
    EXPECT_EQ(finder.Pid(kdc), 13);
}

TEST(ProcessFinder, FoundProcessesCostNoScanWhateverStarts)
{
    FakeProcRoot proc;
    proc.AddProcess(500, "lsass");
    ProcessFinder finder(proc.Path());
    const std::size_t slot = finder.Watch("lsass", 0);
    finder.Refresh();
    ASSERT_EQ(finder.Pid(slot), 500);
    for (int refresh = 0; refresh < 20; ++refresh) {
        proc.AddProcess(600 + refresh, "worker");
        finder.Refresh();
    }
    EXPECT_EQ(finder.ScanCount(), 1);
    EXPECT_EQ(finder.Pid(slot), 500);
}

TEST(ProcessFinder, InstanceThatNeverExistsIsLookedForOnlyEverySoManyRefreshes)
{
    FakeProcRoot proc;
    proc.AddProcess(500, "sshd");
    // A budget large enough that the intervals stay at their least while processes start.
    ProcessFinder finder(proc.Path(), 256);
    finder.Watch("ntfrs", 0);
    constexpr int kRefreshes = 40;
    ASSERT_EQ(finder.RenameScanInterval(), 4);
    // Nothing starts: only a rename could bring it, looked for every fourth refresh.
    for (int refresh = 0; refresh < kRefreshes; ++refresh)
        finder.Refresh();
    EXPECT_EQ(finder.ScanCount(), 1 + (kRefreshes - 1) / 4);
    // A process starts at every refresh: it is looked at alone, and no scan more is needed.
    int before = finder.ScanCount();
    for (int refresh = 0; refresh < kRefreshes; ++refresh) {
        proc.AddProcess(1000 + refresh, "cron");
        finder.Refresh();
    }
    EXPECT_EQ(finder.ScanCount() - before, kRefreshes / 4);
    // More start than are looked at one by one: a scan every second refresh.
    before = finder.ScanCount();
    for (int refresh = 0; refresh < kRefreshes; ++refresh) {
        proc.SetLastPid(2000 + (refresh + 1) * (ProcessFinder::kMaxProbedPids + 1));
        finder.Refresh();
    }
    EXPECT_EQ(finder.ScanCount() - before, kRefreshes / 2);
}

TEST(ProcessFinder, ScansGrowRarerWithTheNumberOfProcesses)
{
    FakeProcRoot proc;
    for (int pid = 100; pid < 140; ++pid)
        proc.AddProcess(pid, "worker");
    // A budget of 8 processes a refresh: 40 processes are a scan every 5 refreshes at most.
    ProcessFinder finder(proc.Path(), 8);
    finder.Watch("ntfrs", 0);
    finder.Refresh();
    EXPECT_EQ(finder.NewProcessScanInterval(), 5);
    EXPECT_EQ(finder.RenameScanInterval(), 10);
    for (int refresh = 0; refresh < 30; ++refresh)
        finder.Refresh();
    EXPECT_EQ(finder.ScanCount(), 1 + 30 / 10);
    // A started process is still seen at once.
    proc.AddProcess(200, "ntfrs");
    finder.Refresh();
    EXPECT_EQ(finder.Pid(0), 200);
}

TEST(ProcessFinder, StartedRenamedAndEndedProcessesAreSeenWithinTheBound)
{
    FakeProcRoot proc;
    proc.AddProcess(100, "init");
    ProcessFinder finder(proc.Path());
    const std::size_t slot = finder.Watch("ntfrs", 0);
    finder.Refresh();
    const int renameBound = finder.RenameScanInterval();
    const int crowdBound = finder.NewProcessScanInterval();
    int lastPid = 100;
    for (int phase = 0; phase < renameBound; ++phase) {
        // Whatever refresh since the last scan it happens at, a start is seen at the next.
        for (int refresh = 0; refresh < phase; ++refresh)
            finder.Refresh();
        const int pid = ++lastPid;
        proc.AddProcess(pid, "ntfrs");
        EXPECT_EQ(RefreshesUntil(finder, slot, pid, renameBound), 1) << phase;
        // An end is seen at the next refresh.
        proc.RemoveProcess(pid);
        EXPECT_EQ(RefreshesUntil(finder, slot, 0, 1), 1) << phase;

        // One started among more than are looked at one by one: within the crowd bound.
        for (int refresh = 0; refresh < phase; ++refresh)
            finder.Refresh();
        const int inCrowd = ++lastPid;
        lastPid += ProcessFinder::kMaxProbedPids;
        proc.AddProcess(inCrowd, "ntfrs");
        proc.SetLastPid(lastPid);
        const int seenInCrowd = RefreshesUntil(finder, slot, inCrowd, renameBound);
        EXPECT_GE(seenInCrowd, 1) << phase;
        EXPECT_LE(seenInCrowd, crowdBound) << phase;
        proc.RemoveProcess(inCrowd);
        EXPECT_EQ(RefreshesUntil(finder, slot, 0, 1), 1) << phase;
    }

    // A rename starts nothing (loadavg stays), and is seen within the rename bound.
    for (int phase = 0; phase < renameBound; ++phase) {
        for (int refresh = 0; refresh < phase; ++refresh)
            finder.Refresh();
        proc.Rename(100, "ntfrs");
        const int seenAfter = RefreshesUntil(finder, slot, 100, renameBound + 1);
        EXPECT_GE(seenAfter, 1) << phase;
        EXPECT_LE(seenAfter, renameBound) << phase;
        proc.Rename(100, "init");
        EXPECT_EQ(RefreshesUntil(finder, slot, 0, 1), 1) << phase;
    }
}

TEST(ProcessFinder, RealChildIsFoundRenamedAndLost)
{
    const std::string name = "zf" + std::to_string(getpid());
    ProcessFinder finder("/proc");
    const std::size_t slot = finder.Watch(name, 0);
    finder.Refresh();
    EXPECT_EQ(finder.Pid(slot), 0);

    ChildProcess child(name, 2);
    ASSERT_TRUE(child.Running());
    // Other processes of the machine may start meanwhile, in a crowd.
    EXPECT_GE(RefreshesUntil(finder, slot, child.Pid(), finder.NewProcessScanInterval()), 1);

    ASSERT_TRUE(child.Rename(name + "x"));
    EXPECT_EQ(RefreshesUntil(finder, slot, 0, 1), 1);
    ASSERT_TRUE(child.Rename(name));
    EXPECT_GE(RefreshesUntil(finder, slot, child.Pid(), finder.RenameScanInterval()), 1);

    child.End();
    EXPECT_EQ(RefreshesUntil(finder, slot, 0, 1), 1);
}
