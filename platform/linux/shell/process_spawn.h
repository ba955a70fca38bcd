// Starting programs without a shell: an argument vector, the program found along PATH as
// execvp finds it, posix_spawnp, and bounded waits for the child.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

// The environment a child gets, and that the program's own look-ups read (PATH, the XDG
// directories, HOME): given, not taken from the process, so that each user of it can be handed
// its own.
struct ChildEnvironment {
    std::vector<std::string> variables; // "NAME=value"

    // The environment of this process, as it is now.
    static ChildEnvironment FromProcess();
    // The value of name; empty when it is unset.
    std::string Get(std::string_view name) const;
    void Set(std::string_view name, std::string_view value);
};

// Where name is found along the directories of path (a PATH value; empty means none), as execvp
// looks: a name with a slash is taken as it is. 0 with *found set, or ENOENT or EACCES.
int FindProgram(const std::string& name, const std::string& path, std::string* found);

struct SpawnOptions {
    bool captureOutput = false; // standard output on a pipe; *outputFd gets its reading end
    bool newSession = false;    // the child leads a session of its own (setsid)
};

// Starts argv[0], found along the environment's PATH, with argv and the environment; standard
// input, output and error are /dev/null unless the output is captured. 0 with *pid set, or the
// errno of finding or starting the program.
int SpawnProgram(const std::vector<std::string>& argv, const ChildEnvironment& env, const SpawnOptions& options,
                 pid_t* pid, int* outputFd = nullptr);

enum class ChildState { Exited, Signalled, Running, Lost };

// Waits at most boundMs for the child to end. Exited gives its exit status in *code, Signalled
// the signal; Running when the bound passed first; Lost when it cannot be waited for.
ChildState WaitForChild(pid_t pid, int boundMs, int* code);

// Reads fd until its end, limit bytes or boundMs, whichever comes first, and closes it.
std::string ReadAll(int fd, size_t limit, int boundMs);

// Collects the children of pids that have ended, without waiting; keeps the others.
void ReapEnded(std::vector<pid_t>& pids);
