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
    const std::vector<ProcessTable::Process> all{ { "r", first.Pid(), {} }, { "r", second.Pid(), {} },
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
