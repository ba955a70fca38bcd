// The counters of the local Linux machine, read from procfs and statvfs and served with the
// PDH functions' behaviour: the Windows counter paths the program asks for, PDH status codes,
// and values calculated by the Windows counter types. docs/counters.md lists each counter's
// source and formula.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "perf/counter_source.h"
#include "platform/linux/names/local_host_name.h"

class LinuxCounterSource : public ICounterSource {
public:
    // Nanoseconds of a clock that never goes back; the rates are measured against it.
    using MonotonicClock = std::function<std::int64_t()>;
    using Sleeper = std::function<void(std::uint32_t milliseconds)>;

    static std::int64_t SteadyClockNs();
    static void SleepMilliseconds(std::uint32_t milliseconds);

    // procRoot: where procfs is mounted (a copy of its files in tests). computerName: the
    // name this machine answers to besides "localhost", "127.0.0.1" and ".".
    explicit LinuxCounterSource(std::string procRoot = "/proc", std::string computerName = LocalHostName(),
                                MonotonicClock clock = SteadyClockNs, Sleeper sleeper = SleepMilliseconds);
    ~LinuxCounterSource() override;

    PDH_STATUS ConnectMachine(const CString& machine) override;
    PDH_STATUS OpenQuery(std::uintptr_t userData, PdhQuery** query) override;
    PDH_STATUS AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t userData,
                          PdhCounter** counter) override;
    PDH_STATUS CollectQueryData(PdhQuery* query) override;
    PDH_STATUS GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format, PdhFormattedValue* value) override;
    PDH_STATUS GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample) override;
    PDH_STATUS CloseQuery(PdhQuery* query) override;
    void Sleep(std::uint32_t milliseconds) override;

private:
    struct Counter;
    struct Query;

    bool IsThisMachine(std::string_view name) const;

    std::string m_procRoot;
    std::string m_computerName;
    MonotonicClock m_clock;
    Sleeper m_sleeper;
    bool m_fdDirectorySizeIsCount;
    std::unordered_map<PdhQuery*, std::unique_ptr<Query>> m_queries;
    std::unordered_set<PdhCounter*> m_counters;
};
