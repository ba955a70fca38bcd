#include "tests/linux/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr std::size_t kNameMessage = 16; // TASK_COMM_LEN: a name and its terminating zero
constexpr int kAnswerTimeoutMs = 5000;

// The child's life, after fork: only async-signal-safe calls.
[[noreturn]] void RunChild(const char* name, int descriptors, int commands, int answers)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    prctl(PR_SET_NAME, name);
    dup2(commands, 0);
    dup2(answers, 1);
    close_range(2, ~0u, 0);
    for (int fd = 2; fd < descriptors; ++fd) {
        if (open("/dev/null", O_RDONLY) < 0)
            _exit(1);
    }
    char message[kNameMessage];
    for (;;) {
        if (write(1, "k", 1) != 1)
            _exit(1);
        std::size_t got = 0;
        while (got < kNameMessage) {
            const ssize_t n = read(0, message + got, kNameMessage - got);
            if (n <= 0)
                _exit(0);
            got += static_cast<std::size_t>(n);
        }
        message[kNameMessage - 1] = '\0';
        prctl(PR_SET_NAME, message);
    }
}

} // namespace

ChildProcess::ChildProcess(const std::string& name, int descriptors)
{
    int commands[2], answers[2];
    if (descriptors < 2 || name.size() >= kNameMessage || pipe2(commands, O_CLOEXEC) != 0)
        return;
    if (pipe2(answers, O_CLOEXEC) != 0) {
        close(commands[0]);
        close(commands[1]);
        return;
    }
    const pid_t pid = fork();
    if (pid == 0)
        RunChild(name.c_str(), descriptors, commands[0], answers[1]);
    close(commands[0]);
    close(answers[1]);
    m_commands = commands[1];
    m_answers = answers[0];
    m_pid = pid;
    if (pid < 0 || !AwaitAnswer())
        End();
}

ChildProcess::~ChildProcess()
{
    End();
}

bool ChildProcess::AwaitAnswer()
{
    pollfd waiting{ m_answers, POLLIN, 0 };
    char answer = 0;
    return poll(&waiting, 1, kAnswerTimeoutMs) == 1 && read(m_answers, &answer, 1) == 1 && answer == 'k';
}

bool ChildProcess::Rename(const std::string& name)
{
    char message[kNameMessage] = {};
    std::strncpy(message, name.c_str(), kNameMessage - 1);
    return m_pid > 0 && write(m_commands, message, kNameMessage) == static_cast<ssize_t>(kNameMessage) && AwaitAnswer();
}

void ChildProcess::End()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
    for (int* fd : { &m_commands, &m_answers }) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}
