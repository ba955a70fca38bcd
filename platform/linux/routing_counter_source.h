// Serves each machine from the source that can: the names the local source answers to from it,
// every other machine from the remote one. A query may hold counters of both.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "perf/counter_source.h"

class RoutingCounterSource : public ICounterSource {
public:
    RoutingCounterSource(std::unique_ptr<ICounterSource> local, std::unique_ptr<ICounterSource> remote);
    ~RoutingCounterSource() override;

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
    struct Part {
        ICounterSource* source;
        PdhQuery* query = nullptr;
        std::vector<PdhCounter*> counters;
    };
    struct Query {
        Part local, remote;
    };

    bool IsLocal(const CString& machine);

    std::unique_ptr<ICounterSource> m_local, m_remote;
    std::unordered_map<PdhQuery*, std::unique_ptr<Query>> m_queries;
    std::unordered_map<PdhCounter*, ICounterSource*> m_counters;
};
