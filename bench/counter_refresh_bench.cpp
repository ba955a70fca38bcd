// One refresh of the program's thirteen counters on the Linux counter source, beside a floor
// that only reads the same kernel files, on the machine as it is and with 2,000 extra idle
// processes that this program starts and ends itself. docs/performance.md has the figures.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "perf/pdh_status.h"
#include "platform/linux/counters/linux_counter_source.h"
#include "platform/linux/counters/proc_files.h"
#include "platform/linux/counters/proc_parsers.h"

namespace {

const char16_t* const kThirteenPaths[] = {
    u"\\\\localhost\\Processor(_Total)\\% Processor Time",
    u"\\\\localhost\\Memory\\% Committed Bytes In Use",
    u"\\\\localhost\\LogicalDisk(_Total)\\% Free Space",
    u"\\\\localhost\\System\\File Read Operations/sec",
    u"\\\\localhost\\System\\File Write Operations/sec",
    u"\\\\localhost\\Processor(_Total)\\% Interrupt Time",
    u"\\\\localhost\\Process(lsass)\\Handle Count",
    u"\\\\localhost\\Process(ntfrs)\\Handle Count",
    u"\\\\localhost\\Memory\\Page Faults/sec",
    u"\\\\localhost\\Memory\\Pages Input/sec",
    u"\\\\localhost\\Memory\\Pages Output/sec",
    u"\\\\localhost\\Memory\\Page Reads/sec",
    u"\\\\localhost\\Memory\\Page Writes/sec",
};

constexpr std::size_t kExtraProcesses = 2000;

// Idle children that wait in pause, as many as asked for; ended and reaped when fewer are
// asked for and when the object goes. Each also dies with this program.
class IdleProcesses {
public:
    explicit IdleProcesses(const char* name = nullptr) : m_name(name) {}
    ~IdleProcesses() { Resize(0); }
    IdleProcesses(const IdleProcesses&) = delete;
    IdleProcesses& operator=(const IdleProcesses&) = delete;

    // False when not as many could be started.
    bool Resize(std::size_t count)
    {
        while (m_pids.size() < count) {
            const pid_t parent = getpid();
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (getppid() != parent) // the parent died before the request took
                    _exit(0);
                if (m_name != nullptr)
                    prctl(PR_SET_NAME, m_name);
                for (;;)
                    pause();
            }
            if (pid < 0) {
                std::perror("fork");
                return false;
            }
            m_pids.push_back(pid);
        }
        while (m_pids.size() > count) {
            kill(m_pids.back(), SIGKILL);
            waitpid(m_pids.back(), nullptr, 0);
            m_pids.pop_back();
        }
        return true;
    }

private:
    const char* m_name;
    std::vector<pid_t> m_pids;
};

int CountProcesses()
{
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return 0;
    int count = 0;
    while (const dirent* entry = readdir(proc))
        count += entry->d_name[0] >= '0' && entry->d_name[0] <= '9';
    closedir(proc);
    return count;
}

void Refresh(benchmark::State& state)
{
    LinuxCounterSource source;
    PdhQuery* query = nullptr;
    if (source.OpenQuery(0, &query) != 0) {
        state.SkipWithError("OpenQuery failed");
        return;
    }
    std::vector<PdhCounter*> counters;
    for (const char16_t* path : kThirteenPaths) {
        PdhCounter* counter = nullptr;
        if (source.AddCounter(query, path, 0, &counter) != 0) {
            state.SkipWithError("AddCounter failed");
            return;
        }
        counters.push_back(counter);
    }
    // Past the first scan and the first sample of the rates.
    source.CollectQueryData(query);
    source.CollectQueryData(query);
    int invalid = 0;
    for (auto _ : state) {
        if (source.CollectQueryData(query) != 0) {
            state.SkipWithError("CollectQueryData failed");
            return;
        }
        for (PdhCounter* counter : counters) {
            PdhFormattedValue value;
            invalid += source.GetFormattedCounterValue(counter, PDH_FMT_LONG_FORMAT, &value) != 0;
            benchmark::DoNotOptimize(value);
        }
    }
    state.counters["processes"] = CountProcesses();
    state.counters["invalid_reads"] = benchmark::Counter(invalid, benchmark::Counter::kAvgIterations);
}

// The kernel's share of a refresh: the same files read whole and the same file systems'
// statvfs, without parsing or calculation.
void KernelFilesFloor(benchmark::State& state)
{
    std::string buffer;
    ReadWholeFile("/proc/self/mountinfo", buffer);
    std::vector<std::string> mountPoints;
    for (const LocalDisk& disk : ParseLocalDisks(buffer))
        mountPoints.insert(mountPoints.end(), disk.mountPoints.begin(), disk.mountPoints.end());
    const char* const files[] = { "/proc/stat",      "/proc/meminfo",        "/proc/vmstat",
                                  "/proc/diskstats", "/proc/self/mountinfo", "/proc/loadavg" };
    for (auto _ : state) {
        for (const char* file : files) {
            ReadWholeFile(file, buffer);
            benchmark::DoNotOptimize(buffer.data());
        }
        for (const std::string& mountPoint : mountPoints) {
            struct statvfs fs {};
            statvfs(mountPoint.c_str(), &fs);
            benchmark::DoNotOptimize(fs);
        }
    }
    state.counters["processes"] = CountProcesses();
}

// A refresh where lsass and ntfrs are there (played by idle children), so that every instance
// is found and only checked.
void RefreshWatchedFound(benchmark::State& state)
{
    IdleProcesses lsass("lsass");
    IdleProcesses ntfrs("ntfrs");
    if (!lsass.Resize(1) || !ntfrs.Resize(1)) {
        state.SkipWithError("could not start lsass and ntfrs");
        return;
    }
    Refresh(state);
}

// Each benchmark with the given number of extra idle processes, started before it runs.
void RegisterAll(IdleProcesses& extra, std::size_t extraCount)
{
    const std::pair<const char*, void (*)(benchmark::State&)> benchmarks[] = {
        { "refresh", Refresh },
        { "kernel_files_floor", KernelFilesFloor },
        { "refresh_watched_found", RefreshWatchedFound },
    };
    for (const auto& [name, run] : benchmarks) {
        const std::string fullName = std::string(name) + "/extra_processes:" + std::to_string(extraCount);
        benchmark::RegisterBenchmark(fullName.c_str(), [&extra, extraCount, run = run](benchmark::State& state) {
            if (!extra.Resize(extraCount)) {
                state.SkipWithError("could not start the extra processes");
                return;
            }
            run(state);
        })->Unit(benchmark::kMicrosecond);
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Benchmarks run in the order registered: the machine as it is, then with the extras.
    IdleProcesses extra;
    RegisterAll(extra, 0);
    RegisterAll(extra, kExtraProcesses);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
