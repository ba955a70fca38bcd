// The table of every process: names as counter paths hold them, the order, how soon starts,
// ends, renames and descriptor changes show, and how much a refresh reads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/linux/counters/process_names.h"
#include "platform/linux/counters/process_table.h"
#include "tests/linux/child_process.h"
#include "tests/linux/fake_proc_root.h"

namespace {

std::vector<std::string> Names(const ProcessTable& table)
{
    std::vector<std::string> names;
    for (const ProcessTable::Process& p : table.Processes())
        names.push_back(std::to_string(p.pid) + " " + p.name);
    return names;
}

const ProcessTable::Process* Find(const ProcessTable& table, int pid)
{
    const auto& all = table.Processes();
    const auto found = std::find_if(all.begin(), all.end(), [&](const auto& p) { return p.pid == pid; });
    return found != all.end() ? &*found : nullptr;
}

void SetDescriptors(FakeProcRoot& proc, int pid, int count)
{
    const std::filesystem::path fd = std::filesystem::path(proc.Path()) / std::to_string(pid) / "fd";
    std::filesystem::remove_all(fd);
    std::filesystem::create_directories(fd);
    for (int i = 0; i < count; ++i)
        proc.Write(std::to_string(pid) + "/fd/" + std::to_string(i), "");
}

} // namespace

TEST(ProcessNames, WhatACounterPathCannotHoldIsReplaced)
{
    EXPECT_EQ(InstanceNameOf("kdc(0)"), "kdc[0]");
    EXPECT_EQ(InstanceNameOf("a#1/b\\c"), "a_1_b_c");
    EXPECT_EQ(InstanceNameOf("tab\there\x7f"), "tab_here_");
    // UTF-8 stays; a byte that is not (a sequence cut by the kernel's 15, an overlong form, a
    // surrogate) becomes "?".
    EXPECT_EQ(InstanceNameOf("s\xc3\xa9rvice \xe2\x82\xac"), "s\xc3\xa9rvice \xe2\x82\xac");
    EXPECT_EQ(InstanceNameOf("abc\xe2\x82"), "abc??");
    EXPECT_EQ(InstanceNameOf("\xc0\xaf\xed\xa0\x80\xff"), "??????");
    EXPECT_EQ(BaseNameWithoutExtension("/usr/sbin/winbindd.bin"), "winbindd");
    EXPECT_EQ(BaseNameWithoutExtension(".hidden"), ".hidden");
}

TEST(ProcessTable, EveryProcessByPidWithItsNameAndDescriptors)
{
    FakeProcRoot proc;
    proc.AddProcess(300, "smbd", 7);
    proc.AddProcess(40, "samba", 12);
    proc.AddProcess(1200, "smbd", 3);
    proc.AddProcess(77, "kdc(0)", 5);
    proc.AddProcess(90, "systemd-journal", 4);
    proc.SetExecutable(90, "/usr/lib/systemd/systemd-journald");
    proc.AddProcess(91, "samba-dcerpcd-x");
    proc.SetExecutable(91, "/usr/sbin/unrelated");
    proc.Write("self/stat", "not a process");
    ProcessTable table(proc.Path());
    table.Refresh();
    EXPECT_EQ(Names(table), (std::vector<std::string>{ "40 samba", "77 kdc[0]", "90 systemd-journald",
                                                       "91 samba-dcerpcd-x", "300 smbd", "1200 smbd" }));
    EXPECT_EQ(Find(table, 40)->descriptors, 12u);
    EXPECT_EQ(Find(table, 1200)->descriptors, 3u);
}

TEST(ProcessTable, StartsEndsRenamesAndReusedPidsShow)
{
    FakeProcRoot proc;
    proc.AddProcess(100, "init", 1);
    proc.AddProcess(200, "bash", 2);
    ProcessTable table(proc.Path());
    table.Refresh();
    ASSERT_EQ(table.Processes().size(), 2u);

    // A new process joins at the refresh after the one that found it, named then: a child
    // between fork and exec still bears its parent's name.
    proc.AddProcess(201, "bash", 3);
    table.Refresh();
    EXPECT_EQ(Find(table, 201), nullptr);
    proc.Rename(201, "ldbsearch");
    table.Refresh();
    ASSERT_NE(Find(table, 201), nullptr);
    EXPECT_EQ(Find(table, 201)->name, "ldbsearch");
    EXPECT_EQ(Find(table, 201)->descriptors, 3u);
    // One that ended before it would have joined costs nothing more.
    proc.AddProcess(210, "true");
    table.Refresh();
    proc.RemoveProcess(210);
    table.Refresh();
    EXPECT_EQ(Find(table, 210), nullptr);

    // An end shows at the next refresh whether or not anything started.
    proc.RemoveProcess(200);
    table.Refresh();
    EXPECT_EQ(Find(table, 200), nullptr);

    // The PID of an ended process, taken by another before the table saw the end: a new /proc
    // entry (made beside the old one, so its inode number differs), found at the listing that
    // the start of a further process brings.
    proc.AddProcess(9201, "cron", 6);
    proc.RemoveProcess(201);
    std::filesystem::rename(proc.Path() + "/9201", proc.Path() + "/201");
    proc.AddProcess(202, "sleep");
    table.Refresh();
    table.Refresh();
    ASSERT_NE(Find(table, 201), nullptr);
    EXPECT_EQ(Find(table, 201)->name, "cron");
    EXPECT_EQ(Find(table, 201)->descriptors, 6u);

    // A long-lived process renamed without starting anything: seen within the name period.
    proc.Rename(100, "systemd");
    int refreshes = 0;
    while (Find(table, 100)->name != "systemd" && refreshes <= ProcessTable::kNameCheckPeriod) {
        table.Refresh();
        ++refreshes;
    }
    EXPECT_LE(refreshes, ProcessTable::kNameCheckPeriod);
}

TEST(ProcessTable, EachRefreshCountsItsShareAndTheKeptProcessAlways)
{
    FakeProcRoot proc;
    constexpr int kProcesses = 50;
    for (int pid = 1000; pid < 1000 + kProcesses; ++pid)
        proc.AddProcess(pid, pid == 1030 || pid == 1010 ? "samba" : "worker", 1);
    // Of the two of the kept name, 1030 started first (field 22 of stat): its children take
    // lower PIDs once PIDs wrap around.
    proc.Write("1030/stat", "1030 (samba) S 1 1030 1030 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 500 0 0\n");
    proc.Write("1010/stat", "1010 (samba) S 1030 1030 1030 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 9000 0 0\n");
    ProcessTable table(proc.Path(), 10);
    table.KeepCounted("samba");
    table.Refresh();
    EXPECT_EQ(table.Kept("SAMBA"), 1030);
    EXPECT_EQ(table.Listings(), 1);
    EXPECT_EQ(table.CountsAtLastRefresh(), kProcesses); // every new process at once
    EXPECT_EQ(table.NamesAtLastRefresh(), kProcesses);
    ASSERT_EQ(table.CountPeriod(), 5);

    // Nothing starts or ends: no listing, and ten counts a refresh besides the kept process's.
    SetDescriptors(proc, 1030, 9);
    for (int pid = 1000; pid < 1000 + kProcesses; ++pid) {
        if (pid != 1030)
            SetDescriptors(proc, pid, 4);
    }
    for (int refresh = 1; refresh <= 10; ++refresh) {
        table.Refresh();
        EXPECT_EQ(Find(table, 1030)->descriptors, 9u) << refresh;
        EXPECT_LE(table.CountsAtLastRefresh(), 11) << refresh;
        EXPECT_EQ(table.NamesAtLastRefresh(), 0) << refresh;
        if (refresh == 5) {
            // Within one period every process's new count shows.
            for (const auto& p : table.Processes())
                EXPECT_EQ(p.descriptors, p.pid == 1030 ? 9u : 4u) << p.pid;
        }
    }
    EXPECT_EQ(table.Listings(), 1);

    // A process found gone by its count leaves at once.
    proc.RemoveProcess(1031);
    for (int refresh = 0; refresh < table.CountPeriod() && Find(table, 1031) != nullptr; ++refresh)
        table.Refresh();
    EXPECT_EQ(Find(table, 1031), nullptr);
}

TEST(ProcessTable, RealChildWithItsDescriptors)
{
    ProcessTable table("/proc");
    table.Refresh();
    // On procfs a start is read on from the highest PID, not by listing /proc whole.
    const std::string name = "zt(" + std::to_string(getpid() % 100000) + ")";
    ChildProcess child(name, 9);
    ASSERT_TRUE(child.Running());
    const int onward = table.ReadingsOnward();
    table.Refresh();
    EXPECT_EQ(table.ReadingsOnward(), onward + 1);
    table.Refresh();
    const ProcessTable::Process* found = Find(table, child.Pid());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, InstanceNameOf(name));
    EXPECT_EQ(found->descriptors, 9u);
    EXPECT_NE(Find(table, getpid()), nullptr);
    // An end is seen within the period of counts.
    child.End();
    for (int refresh = 0; refresh < table.CountPeriod() && Find(table, child.Pid()) != nullptr; ++refresh)
        table.Refresh();
    EXPECT_EQ(Find(table, child.Pid()), nullptr);
}
