#include "platform/linux/shell/process_spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kPollStepMs = 10;

void SleepMs(int ms)
{
    struct timespec ts {
        ms / 1000, static_cast<long>(ms % 1000) * 1000000L
    };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

long long NowMs()
{
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

ChildEnvironment ChildEnvironment::FromProcess()
{
    ChildEnvironment env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        env.variables.emplace_back(*e);
    return env;
}

std::string ChildEnvironment::Get(std::string_view name) const
{
    for (const std::string& v : variables) {
        if (v.size() > name.size() && v.compare(0, name.size(), name) == 0 && v[name.size()] == '=')
            return v.substr(name.size() + 1);
    }
    return {};
}

void ChildEnvironment::Set(std::string_view name, std::string_view value)
{
    std::string entry = std::string(name) + "=" + std::string(value);
    for (std::string& v : variables) {
        if (v.size() > name.size() && v.compare(0, name.size(), name) == 0 && v[name.size()] == '=') {
            v = std::move(entry);
            return;
        }
    }
    variables.push_back(std::move(entry));
}

int FindProgram(const std::string& name, const std::string& path, std::string* found)
{
    if (name.empty())
        return ENOENT;
    if (name.find('/') != std::string::npos) {
        *found = name;
        return 0;
    }
    int error = ENOENT;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        // An empty entry is the working directory, as for execvp.
        const std::string dir = end > start ? path.substr(start, end - start) : std::string(".");
        const std::string candidate = std::string(dir).append("/").append(name);
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            if (access(candidate.c_str(), X_OK) == 0) {
                *found = candidate;
                return 0;
            }
            error = EACCES;
        }
        if (end == path.size())
            break;
        start = end + 1;
    }
    return error;
}

int SpawnProgram(const std::vector<std::string>& argv, const ChildEnvironment& env, const SpawnOptions& options,
                 pid_t* pid, int* outputFd)
{
    if (argv.empty())
        return ENOENT;
    std::string program;
    if (const int error = FindProgram(argv[0], env.Get("PATH"), &program); error != 0)
        return error;

    int pipeFds[2] = { -1, -1 };
    if (options.captureOutput && pipe2(pipeFds, O_CLOEXEC) != 0)
        return errno;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (options.captureOutput)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (options.newSession)
        flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& v : env.variables)
        envp.push_back(const_cast<char*>(v.c_str()));
    envp.push_back(nullptr);

    // The program is already found along the given PATH, so posix_spawnp does not search again.
    const int error = posix_spawnp(pid, program.c_str(), &actions, &attr, args.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (options.captureOutput) {
        close(pipeFds[1]);
        if (error == 0 && outputFd != nullptr)
            *outputFd = pipeFds[0];
        else
            close(pipeFds[0]);
    }
    return error;
}

ChildState WaitForChild(pid_t pid, int boundMs, int* code)
{
    const int steps = boundMs / kPollStepMs + 1;
    for (int i = 0; i < steps; ++i) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) {
                *code = WEXITSTATUS(status);
                return ChildState::Exited;
            }
            *code = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            return ChildState::Signalled;
        }
        if (r < 0 && errno != EINTR)
            return ChildState::Lost;
        if (i + 1 < steps)
            SleepMs(kPollStepMs);
    }
    return ChildState::Running;
}

std::string ReadAll(int fd, size_t limit, int boundMs)
{
    std::string out;
    const long long deadline = NowMs() + boundMs;
    char buffer[512];
    while (out.size() < limit) {
        const long long left = deadline - NowMs();
        if (left <= 0)
            break;
        struct pollfd p {
            fd, POLLIN, 0
        };
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = read(fd, buffer, std::min(sizeof buffer, limit - out.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return out;
}

void ReapEnded(std::vector<pid_t>& pids)
{
    std::vector<pid_t> running;
    for (pid_t pid : pids) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == 0)
            running.push_back(pid);
    }
    pids = std::move(running);
}
