// A child process for tests against the real /proc: it names itself (prctl PR_SET_NAME),
// holds a known number of open descriptors, renames itself when asked, and is killed and
// reaped when the object goes.
#pragma once

#include <sys/types.h>

#include <string>

class ChildProcess {
public:
    // name: at most 15 characters. descriptors: how many it holds open, at least 2 (its
    // command and answer pipes are two of them).
    ChildProcess(const std::string& name, int descriptors);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether the child started and answered.
    bool Running() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    // Renames the child and waits until it has; false when it did not answer in time.
    bool Rename(const std::string& name);
    void End();

private:
    bool AwaitAnswer();

    pid_t m_pid = -1;
    int m_commands = -1; // the write end of the child's command pipe
    int m_answers = -1;  // the read end of its answer pipe
};
