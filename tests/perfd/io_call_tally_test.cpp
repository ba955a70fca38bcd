// The read and write calls of every process, with real processes in the real /proc: what a
// process calls counts, reads served from the cache included, and a process that ends leaves
// its calls in the totals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "perfd/io_call_tally.h"
#include "tests/linux/test_support.h"

namespace {

// A child that makes preads of a cached file when told to (a byte on its pipe: the number of
// thousands), says when it is done, and ends when its pipe closes.
class Reader {
public:
    explicit Reader(const std::string& file)
    {
        EXPECT_EQ(pipe(m_orders), 0);
        EXPECT_EQ(pipe(m_done), 0);
        m_pid = fork();
        if (m_pid == 0) {
            // Only its own pipes: another reader's ends copied here would keep it from ending.
            for (int fd = 3; fd < 1024; ++fd) {
                if (fd != m_orders[0] && fd != m_done[1])
                    close(fd);
            }
            const int fd = open(file.c_str(), O_RDONLY);
            char thousands = 0, byte = 0;
            while (read(m_orders[0], &thousands, 1) == 1) {
                for (int k = 0; k < thousands * 1000; ++k)
                    (void)!pread(fd, &byte, 1, 0);
                (void)!write(m_done[1], &byte, 1);
            }
            _exit(0);
        }
        close(m_orders[0]);
        close(m_done[1]);
    }
    ~Reader() { End(); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    void Read(char thousands)
    {
        char byte = 0;
        EXPECT_EQ(write(m_orders[1], &thousands, 1), 1);
        EXPECT_EQ(read(m_done[0], &byte, 1), 1);
    }
    void End()
    {
        if (m_pid <= 0)
            return;
        close(m_orders[1]);
        close(m_done[0]);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    int Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_orders[2] = { -1, -1 };
    int m_done[2] = { -1, -1 };
};

} // namespace

TEST(IoCallTally, CountsEveryCallAndKeepsTheCallsOfProcessesThatEnded)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, as the provider runs: /proc/PID/io is its owner's and root's";
    TempDir dir;
    const std::string file = dir.Write("data", "cached");
    IoCallTally tally("/proc", 1);
    Reader first(file), second(file), quiet(file);
    const std::vector<ProcessTable::Process> all{ { "r", first.Pid(), {} },
                                                  { "r", second.Pid(), {} },
                                                  { "r", quiet.Pid(), {} } };
    const IoCallTally::Totals start = tally.Update(all);
    EXPECT_EQ(tally.ReadingsAtLastUpdate(), 3);

    // Cached preads count, each one (the disks see none of them).
    first.Read(5);
    second.Read(2);
    const IoCallTally::Totals busy = tally.Update(all);
    EXPECT_GE(busy.reads, start.reads + 7000);
    EXPECT_LT(busy.reads, start.reads + 7100);
    // Processes that were quiet at their last reading are read in turn (one at each update
    // here), and their calls since then count at that turn.
    tally.Update(all);
    tally.Update(all);
    EXPECT_EQ(tally.ReadingsAtLastUpdate(), 1);
    quiet.Read(3);
    IoCallTally::Totals later{};
    for (int update = 0; update < 3; ++update)
        later = tally.Update(all);
    EXPECT_GE(later.reads, busy.reads + 3000);

    // A process that ended, whether the process table still lists it or not, leaves what it
    // called in the totals.
    first.Read(4);
    IoCallTally::Totals before{};
    for (int update = 0; update < 3; ++update)
        before = tally.Update(all);
    EXPECT_GE(before.reads, later.reads + 4000);
    first.End();
    const IoCallTally::Totals listed = tally.Update(all);
    EXPECT_GE(listed.reads, before.reads);
    const IoCallTally::Totals gone = tally.Update({ all[1], all[2] });
    EXPECT_GE(gone.reads, before.reads);
    EXPECT_GE(gone.writes, before.writes);
}

namespace {

// A process that, on orders, starts a child which makes 20,000 preads of a cached file, tells
// its PID, and on its own order makes 10,000 more and ends; reaps it with wait(); or ignores
// SIGCHLD, so that the kernel reaps its children without adding their counts to its own.
class Parent {
public:
    explicit Parent(const std::string& file)
    {
        EXPECT_EQ(pipe(m_orders), 0);
        EXPECT_EQ(pipe(m_told), 0);
        EXPECT_EQ(pipe(m_childGoes), 0);
        m_pid = fork();
        if (m_pid != 0) {
            close(m_orders[0]);
            close(m_told[1]);
            close(m_childGoes[0]);
            return;
        }
        // Only its own pipes' ends: one kept here would keep a pipe from closing.
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != m_orders[0] && fd != m_told[1] && fd != m_childGoes[0])
                close(fd);
        }
        char order = 0;
        while (read(m_orders[0], &order, 1) == 1) {
            if (order == 'c' && fork() == 0) {
                const int fd = open(file.c_str(), O_RDONLY);
                char byte = 0;
                for (int k = 0; k < 20000; ++k)
                    (void)!pread(fd, &byte, 1, 0);
                const int pid = getpid();
                (void)!write(m_told[1], &pid, sizeof pid);
                (void)!read(m_childGoes[0], &byte, 1);
                for (int k = 0; k < 10000; ++k)
                    (void)!pread(fd, &byte, 1, 0);
                _exit(0);
            }
            if (order == 'w')
                wait(nullptr);
            if (order == 'i')
                signal(SIGCHLD, SIG_IGN);
            if (order != 'c')
                (void)!write(m_told[1], &order, 1);
        }
        _exit(0);
    }
    ~Parent()
    {
        close(m_orders[1]);
        waitpid(m_pid, nullptr, 0);
    }
    Parent(const Parent&) = delete;
    Parent& operator=(const Parent&) = delete;

    int Pid() const { return m_pid; }
    int StartChild()
    {
        int pid = 0;
        EXPECT_EQ(write(m_orders[1], "c", 1), 1);
        EXPECT_EQ(read(m_told[0], &pid, sizeof pid), static_cast<ssize_t>(sizeof pid));
        return pid;
    }
    void Order(char order)
    {
        char told = 0;
        EXPECT_EQ(write(m_orders[1], &order, 1), 1);
        EXPECT_EQ(read(m_told[0], &told, 1), 1);
    }
    void EndChild(int pid)
    {
        EXPECT_EQ(write(m_childGoes[1], "g", 1), 1);
        // Ended, and reaped by the parent or by the kernel.
        for (int tries = 0; tries < 1000 && kill(pid, 0) == 0; ++tries) {
            if (tries == 0)
                Order('w');
            usleep(2000);
        }
    }

private:
    pid_t m_pid = -1;
    int m_orders[2] = { -1, -1 };
    int m_told[2] = { -1, -1 };
    int m_childGoes[2] = { -1, -1 };
};

} // namespace

TEST(IoCallTally, AReapedChildsCallsCountOnce)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, as the provider runs: /proc/PID/io is its owner's and root's";
    TempDir dir;
    const std::string file = dir.Write("data", "cached");
    // One quiet process read at each update: the parent is read at its turn or when its
    // child's end makes it busy.
    IoCallTally tally("/proc", 1);
    Reader other(file);
    Parent parent(file);
    const auto sample = [&](const std::vector<int>& pids) {
        std::vector<ProcessTable::Process> processes{ { "r", other.Pid(), {} }, { "p", parent.Pid(), {} } };
        for (int pid : pids)
            processes.push_back({ "c", pid, {} });
        std::sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
        IoCallTally::Totals totals{};
        for (int update = 0; update < 4; ++update)
            totals = tally.Update(processes);
        return totals;
    };
    const IoCallTally::Totals start = sample({});

    // Its 20,000 calls read while it lives, 10,000 after its last reading; Linux adds all of
    // them to its parent's counts when the parent reaps it.
    const int child = parent.StartChild();
    const IoCallTally::Totals living = sample({ child });
    EXPECT_GE(living.reads, start.reads + 20000);
    parent.EndChild(child);
    const IoCallTally::Totals reaped = sample({ child });
    const IoCallTally::Totals after = sample({});
    EXPECT_GE(reaped.reads, start.reads + 30000);
    EXPECT_LT(after.reads, start.reads + 31000) << "counted twice";
    EXPECT_GE(after.reads, reaped.reads);

    // A parent that ignores SIGCHLD keeps nothing of its children: the 20,000 read count.
    parent.Order('i');
    const int ignored = parent.StartChild();
    const IoCallTally::Totals second = sample({ ignored });
    parent.EndChild(ignored);
    const IoCallTally::Totals gone = sample({});
    EXPECT_GE(second.reads, after.reads + 20000);
    EXPECT_GE(gone.reads, second.reads);
    EXPECT_LT(gone.reads, after.reads + 31000);
}
