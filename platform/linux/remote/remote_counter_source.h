// The counters of other machines, read as the system's counter library reads a remote machine:
// through its Remote Registry's HKEY_PERFORMANCE_DATA. The name table ("Counter 009") is read
// once per connection; each collection is one query of the objects the counters need, and the
// values are formatted by the portable calculator with the data's own clock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "perf/counter_source.h"
#include "perf/perf_counter_lookup.h"
#include "platform/linux/remote/performance_registry.h"

class RemoteCounterSource : public ICounterSource {
public:
    using Sleeper = std::function<void(std::uint32_t milliseconds)>;

    explicit RemoteCounterSource(std::unique_ptr<IPerformanceRegistry> registry, Sleeper sleeper);
    ~RemoteCounterSource() override;

    PDH_STATUS ConnectMachine(const CString& machine) override;
    PDH_STATUS OpenQuery(std::uintptr_t userData, PdhQuery** query) override;
    PDH_STATUS AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t userData,
                          PdhCounter** counter) override;
    PDH_STATUS CollectQueryData(PdhQuery* query) override;
    PDH_STATUS GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format, PdhFormattedValue* value) override;
    // The sample's CStatus says why there is none.
    PDH_STATUS GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample) override;
    PDH_STATUS CloseQuery(PdhQuery* query) override;
    void Sleep(std::uint32_t milliseconds) override;

    // The answer buffer starts at this size and doubles while an answer does not fit, up to the
    // largest; the size that fitted is kept for the next query of the machine.
    static constexpr std::uint32_t kInitialBufferBytes = 64 * 1024;
    static constexpr std::uint32_t kLargestBufferBytes = 16 * 1024 * 1024;

private:
    struct Machine;
    struct Counter;
    struct MachineCounters;
    struct Query;

    Machine& MachineNamed(const std::string& name);
    PDH_STATUS Connect(Machine& machine);
    PDH_STATUS Fetch(Machine& machine, const std::string& valueName, std::span<const std::uint8_t>* data,
                     std::uint32_t* type);
    PDH_STATUS FetchBlock(Machine& machine, const std::string& objects, std::vector<std::uint8_t>* bytes,
                          PerfDataBlock* block);
    PDH_STATUS Collect(MachineCounters& counters);

    std::unique_ptr<IPerformanceRegistry> m_registry;
    Sleeper m_sleeper;
    std::map<std::string, std::unique_ptr<Machine>> m_machines; // by lower-case name
    std::unordered_map<PdhQuery*, std::unique_ptr<Query>> m_queries;
    std::unordered_set<PdhCounter*> m_counters;
};
