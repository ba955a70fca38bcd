// The probe's Linux environment against real files, pipes and a pseudo-terminal: where the
// password may come from and how, and the user's interrupt.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "platform/linux/probe/linux_probe_environment.h"
#include "tests/linux/test_support.h"

namespace {

// Standard input from a pipe holding text, for the object's lifetime.
class InputFrom {
public:
    explicit InputFrom(const std::string& text)
    {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fds[1]);
        m_saved = dup(STDIN_FILENO);
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
    }
    ~InputFrom()
    {
        dup2(m_saved, STDIN_FILENO);
        close(m_saved);
    }

private:
    int m_saved = -1;
};

} // namespace

TEST(LinuxProbeEnvironmentTest, APasswordFileMustBeTheUsersAlone)
{
    TempDir dir;
    LinuxProbeEnvironment env;
    CString password;
    std::string error;
    const std::string file = dir.Write("pw", "S3cret wörd\r\nsecond line\n");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_TRUE(env.ReadPasswordFile(CString::FromUtf8(file), password, error)) << error;
    EXPECT_EQ(password, u"S3cret wörd");

    for (mode_t mode : { 0640, 0604, 0620, 0602, 0660, 0644, 0610 }) {
        ASSERT_EQ(chmod(file.c_str(), mode), 0);
        EXPECT_FALSE(env.ReadPasswordFile(CString::FromUtf8(file), password, error)) << std::oct << mode;
        EXPECT_NE(error.find("chmod 600"), std::string::npos) << error;
    }
    ASSERT_EQ(chmod(file.c_str(), 0400), 0);
    EXPECT_TRUE(env.ReadPasswordFile(CString::FromUtf8(file), password, error)) << error;

    // A file of another user, a directory, a pipe, no file: refused, each saying why.
    if (geteuid() == 0) {
        ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(env.ReadPasswordFile(CString::FromUtf8(file), password, error));
        EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
    }
    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [path, why] :
         { std::pair{ dir.path(), "is not a regular file" }, std::pair{ fifo, "is not a regular file" },
           std::pair{ dir.path() + "/none", "cannot open the password file" } }) {
        EXPECT_FALSE(env.ReadPasswordFile(CString::FromUtf8(path), password, error));
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
    // An empty file is an empty password.
    const std::string empty = dir.Write("empty", "");
    ASSERT_EQ(chmod(empty.c_str(), 0600), 0);
    password = u"x";
    EXPECT_TRUE(env.ReadPasswordFile(CString::FromUtf8(empty), password, error));
    EXPECT_EQ(password, u"");
}

TEST(LinuxProbeEnvironmentTest, APasswordReadFromAnySourceEndsCoreDumps)
{
    TempDir dir;
    const std::string file = dir.Write("pw", "S3cret\n");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    LinuxProbeEnvironment env("/nonexistent/tty");
    CString password;
    std::string error;
    const std::function<void()> sources[] = {
        [&] { EXPECT_TRUE(env.ReadPasswordFile(CString::FromUtf8(file), password, error)) << error; },
        [&] {
            InputFrom input("S3cret\n");
            EXPECT_TRUE(env.ReadPasswordFromInput(password, error)) << error;
        },
        // Even a prompt that finds no terminal: the password may come next from elsewhere.
        [&] { EXPECT_FALSE(env.PromptPassword(u"Password: ", password, error)); },
    };
    for (const auto& read : sources) {
        ASSERT_EQ(prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
        read();
        EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
    }
    // The other tests of this program as they were.
    prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
}

TEST(LinuxProbeEnvironmentTest, StandardInputGivesItsFirstLine)
{
    LinuxProbeEnvironment env;
    CString password;
    std::string error;
    {
        InputFrom input("line one\r\nline two\n");
        ASSERT_TRUE(env.ReadPasswordFromInput(password, error)) << error;
        EXPECT_EQ(password, u"line one");
    }
    {
        InputFrom input("\n");
        ASSERT_TRUE(env.ReadPasswordFromInput(password, error)) << error;
        EXPECT_EQ(password, u"");
    }
    {
        InputFrom input("");
        EXPECT_FALSE(env.ReadPasswordFromInput(password, error));
        EXPECT_EQ(error, "standard input holds no password");
    }
    {
        InputFrom input(std::string(5000, 'x'));
        EXPECT_FALSE(env.ReadPasswordFromInput(password, error));
        EXPECT_NE(error.find("longer than 4096 bytes"), std::string::npos) << error;
    }
}

TEST(LinuxProbeEnvironmentTest, ThePromptReadsWithoutEchoAndPutsTheTerminalBack)
{
    int master = -1;
    int slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_NE(before.c_lflag & ECHO, 0u);

    LinuxProbeEnvironment env(name);
    CString password;
    std::string error;
    bool ok = false;
    std::thread prompt([&] { ok = env.PromptPassword(u"Password for bob on \\\\DC1: ", password, error); });
    // Type once the prompt shows (the prompt discards what was typed before it).
    std::string seen;
    char buffer[256];
    while (seen.find("DC1: ") == std::string::npos) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    termios during{};
    ASSERT_EQ(tcgetattr(slave, &during), 0);
    EXPECT_EQ(during.c_lflag & ECHO, 0u);
    const std::string typed = "Pa55 wörd\n";
    ASSERT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    prompt.join();
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(password, u"Pa55 wörd");

    // What the terminal showed: the prompt and a line end, never the password.
    fcntl(master, F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
        seen.append(buffer, static_cast<std::size_t>(n));
    EXPECT_EQ(seen.find("Pa55"), std::string::npos) << seen;
    EXPECT_NE(seen.find("Password for bob on \\\\DC1: \r\n"), std::string::npos) << seen;
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_NE(after.c_lflag & ECHO, 0u);
    close(master);
    close(slave);
}

TEST(LinuxProbeEnvironmentTest, WithoutATerminalThePromptSaysSo)
{
    LinuxProbeEnvironment env("/nonexistent/tty");
    CString password;
    std::string error;
    EXPECT_FALSE(env.PromptPassword(u"Password: ", password, error));
    EXPECT_EQ(error, "there is no terminal to ask for the password on");
}

TEST(LinuxProbeEnvironmentTest, AnInterruptEndsTheWaitAndIsKept)
{
    LinuxProbeEnvironment env;
    EXPECT_FALSE(env.Interrupted());
    const pthread_t waiter = pthread_self();
    std::thread interrupter([waiter] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pthread_kill(waiter, SIGTERM); // NOLINT(bugprone-bad-signal-to-kill-thread): the stop signal a user sends,
                                       // which the wait must take
    });
    const std::int64_t start = env.MonotonicMs();
    constexpr std::uint32_t kLongWaitMs = 60000;
    env.Wait(kLongWaitMs);
    interrupter.join();
    EXPECT_TRUE(env.Interrupted());
    EXPECT_LT(env.MonotonicMs() - start, kLongWaitMs);
}
