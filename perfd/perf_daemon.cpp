#include "perfd/perf_daemon.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include "perfd/perfmon_records.h"
#include "perfd/perfmon_sampler.h"
#include "perfd/perfmon_store.h"

namespace {

constexpr long kNsPerSecond = 1'000'000'000;
// How long the place of a process that ended waits, with its last name and figures, for a new
// process to take it before another process is moved there.
constexpr double kGhostSeconds = 5.0;
// The part of the interval that an update may wait for the answers under way to end
// (perfd/perfmon_store.h).
constexpr double kLongestWaitOfInterval = 0.25;

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    return signals;
}

timespec Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

long long Ns(const timespec& t)
{
    return static_cast<long long>(t.tv_sec) * kNsPerSecond + t.tv_nsec;
}

timespec FromNs(long long ns)
{
    return timespec{ static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond) };
}

const char* SignalName(int signal)
{
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    }
    return "a signal";
}

void Log(std::FILE* log, const std::string& text)
{
    std::fprintf(log, "zeltor-perfd: %s\n", text.c_str());
    std::fflush(log);
}

} // namespace

int RunPerfd(const PerfdOptions& options, const std::string& stateDirectory, std::FILE* log)
{
    // The stop signals are taken as they come in the wait between updates, never in a write.
    const sigset_t stops = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    PerfmonStore store(stateDirectory);
    store.ReadableBy(options.readersGroup);
    const long ghostUpdates = std::lround(std::ceil(kGhostSeconds / options.intervalSeconds));
    PerfmonSampler sampler(options.procRoot, options.lsassStandIn, LsassProgram(options), ghostUpdates);
    if (const auto names = PublishedProcessNames(options))
        sampler.PublishOnly(*names);
    PerfmonRecords records;
    std::string error;
    BuildPerfmonRecords(sampler.Sample(), sizeof(long), records);
    if (!store.Open(&error) || !store.Write(records, &error)) {
        Log(log, "cannot write the performance databases: " + error);
        return 1;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", options.intervalSeconds);
    Log(log, "writing this machine's counters to " + store.Directory() + " every " + seconds + " s");
    // Samba lets anonymous sessions read HKEY_PERFORMANCE_DATA unless it refuses them.
    const std::string config = FedConfigFile(options);
    if (const std::optional<int> restrict = config.empty() ? std::nullopt : RestrictAnonymous(config);
        restrict && * restrict < 2) {
        Log(log, "warning: " + config +
                     " lets anonymous sessions read these counters, the list of processes "
                     "included (restrict anonymous = " +
                     std::to_string(*restrict) + "); \"restrict anonymous = 2\" in its [global] section refuses them");
    }

    const long long interval = std::llround(options.intervalSeconds * kNsPerSecond);
    const std::chrono::nanoseconds longestWait(std::llround(static_cast<double>(interval) * kLongestWaitOfInterval));
    long long next = Ns(Now()) + interval;
    std::string lastError;
    long long publishedAt = Ns(Now()); // when the sample published last was taken
    int stoppedBy = 0;
    while (stoppedBy == 0) {
        const timespec wait = FromNs(std::max(0LL, next - Ns(Now())));
        siginfo_t info{};
        const int signal = sigtimedwait(&stops, &info, &wait);
        if (signal > 0) {
            stoppedBy = signal;
            break;
        }
        if (errno != EAGAIN)
            continue; // EINTR: wait on for the same update
        // An update that came late (the machine was suspended, a write took long) is not made up.
        const long long now = Ns(Now());
        next = std::max(next + interval, now + interval / 2);
        BuildPerfmonRecords(sampler.Sample(), sizeof(long), records);
        // A sample whose wait for the answers under way ran out is passed over, as long as the
        // figures published are not older than a second or two intervals, the longer.
        const long passedOver = store.Published().passedOver;
        const bool mayPassOver = now + interval - publishedAt <= std::max<long long>(2 * interval, kNsPerSecond);
        if (!store.Write(records, &error, longestWait, mayPassOver)) {
            if (error != lastError)
                Log(log, error + "; trying again at each update");
            lastError = error;
        } else if (!lastError.empty()) {
            Log(log, "writing to " + store.Directory() + " again");
            lastError.clear();
        }
        if (store.Published().passedOver == passedOver)
            publishedAt = now;
    }
    const PerfmonStore::Publishing& published = store.Published();
    Log(log, std::to_string(published.samples) + " samples published, " + std::to_string(published.waited) +
                 " waited for an answer to end (at most " +
                 std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(published.longestWait).count()) +
                 " µs), " + std::to_string(published.passedOver) + " passed over, " +
                 std::to_string(published.duringAnswer) + " published during one, " +
                 std::to_string(published.lateOpens) + " answers waited for that opened the names as they went out");
    if (!store.Clear(&error)) {
        Log(log, std::string("stopped by ") + SignalName(stoppedBy) + "; the databases could not be emptied: " + error);
        return 0;
    }
    Log(log, std::string("stopped by ") + SignalName(stoppedBy) + "; the databases are emptied");
    return 0;
}
