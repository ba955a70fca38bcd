// Helpers of the tests against a Samba server's winreg: the state a fixture script wrote, and
// its perfmon databases filled (or emptied) by fill_perfmon.py.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "perf/counter_source.h"

// The key=value lines of a fixture's state file, or of the one the environment variable names.
std::map<std::string, std::string> ReadStateFile(const std::string& path);
std::map<std::string, std::string> ReadPeerState(const char* variable);

// Runs fill_perfmon.py on the perfmon directory with the extra arguments; true when it succeeded.
bool FillPerfmon(const std::string& perfmon, const std::vector<std::string>& arguments = {});
// Removes the perfmon databases: the server then has no performance data.
bool EmptyPerfmon(const std::string& perfmon);

// fill_perfmon.py refreshing the databases twice a second while the object lives.
class PerfmonFiller {
public:
    explicit PerfmonFiller(const std::string& perfmon, int seconds = 60);
    ~PerfmonFiller();
    PerfmonFiller(const PerfmonFiller&) = delete;
    PerfmonFiller& operator=(const PerfmonFiller&) = delete;

private:
    pid_t m_pid = -1;
};

// zeltor-perfd filling the databases of a Samba state directory twice a second while the object
// lives, with the process named lsass as Process(lsass).
class PerfdRunner {
public:
    PerfdRunner(const std::string& stateDirectory, const std::string& lsass);
    ~PerfdRunner();
    PerfdRunner(const PerfdRunner&) = delete;
    PerfdRunner& operator=(const PerfdRunner&) = delete;
    bool Running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

// Committed_AS over CommitLimit of this machine's /proc/meminfo, in whole percent.
int CommittedPercent();

// Runs a fixture script (run_smbd.sh) or a tool with its arguments, and input on its standard
// input; true when it succeeded.
bool RunScript(const std::string& script, const std::vector<std::string>& arguments, const std::string& input = {});

// The logons a server of run_smbd.sh (its directory) has refused so far, from its authentication
// audit.
int RefusedLogons(const std::string& peerDirectory);

// The account of a server of run_smbd.sh (its state file) with another password for the life of
// the object, as an administrator would change it.
class ChangedPassword {
public:
    ChangedPassword(const std::string& state, const std::string& password, std::string original);
    ~ChangedPassword();
    ChangedPassword(const ChangedPassword&) = delete;
    ChangedPassword& operator=(const ChangedPassword&) = delete;
    bool Changed() const { return m_changed; }

private:
    std::string m_state, m_original;
    bool m_changed = false;
};

// The counter's value as the window asks for it (PDH_FMT_LONG); CStatus 0xFFFFFFFF where the source
// gave none.
PdhFormattedValue LongValue(ICounterSource& source, PdhCounter* counter);
