// Helpers of the tests against a Samba server's winreg: the state a fixture script wrote, and
// its perfmon databases filled (or emptied) by fill_perfmon.py.
#pragma once

#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
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

// A name for the child that stands in for lsass, this test process's own ("lsass-<pid>").
std::string StandInLsassName();

// zeltor-perfd filling the databases of a Samba state directory twice a second while the object
// lives, with the process named lsass as Process(lsass).
//
// With lsass given, the provider reads a view of procfs (--proc) that holds this machine's
// figures and, of its processes, only this test's children. The process table is the whole
// machine's (a network namespace of its own does not change that): the provider publishes a
// process named lsass, when one runs, instead of the stand-in, and the oldest of the stand-in's
// name, and other tests' children of those names (of this run, or of another run on the
// machine) come and go at any time.
class PerfdRunner {
public:
    PerfdRunner(const std::string& stateDirectory, const std::string& lsass);
    ~PerfdRunner();
    PerfdRunner(const PerfdRunner&) = delete;
    PerfdRunner& operator=(const PerfdRunner&) = delete;
    bool Running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
    std::string m_procView; // empty: the provider reads /proc
};

// Committed_AS over CommitLimit of this machine's /proc/meminfo, in whole percent.
int CommittedPercent();

// The commit charge is the whole machine's: every process moves it, the tests and fixtures run
// beside a test and whatever else the machine runs (a build moves it by several points within
// seconds). A figure a peer published at some moment can only be compared with the figures of
// the same stretch of time: this samples CommittedPercent every few milliseconds, from its
// construction (make it before the provider starts) until Nearest is asked.
class CommittedPercentWatch {
public:
    CommittedPercentWatch();
    ~CommittedPercentWatch();
    CommittedPercentWatch(const CommittedPercentWatch&) = delete;
    CommittedPercentWatch& operator=(const CommittedPercentWatch&) = delete;

    // Of the figures seen so far (a last one is taken now), the one nearest to value.
    int Nearest(int value);

private:
    void Sample();

    std::mutex m_mutex;
    int m_lowest = 0;
    int m_highest = 0;
    bool m_stop = false;
    std::thread m_sampler;
};

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
