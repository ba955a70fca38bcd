#include "platform/linux/routing_counter_source.h"

#include <algorithm>
#include <optional>

#include "perf/counter_path.h"
#include "perf/pdh_status.h"

RoutingCounterSource::RoutingCounterSource(std::unique_ptr<ICounterSource> local,
                                           std::unique_ptr<ICounterSource> remote)
    : m_local(std::move(local)), m_remote(std::move(remote))
{
}

RoutingCounterSource::~RoutingCounterSource()
{
    while (!m_queries.empty())
        CloseQuery(m_queries.begin()->first);
}

// The local source connects only to the names this machine answers to, and at no cost.
bool RoutingCounterSource::IsLocal(const CString& machine)
{
    return m_local->ConnectMachine(machine) == 0;
}

PDH_STATUS RoutingCounterSource::ConnectMachine(const CString& machine)
{
    return IsLocal(machine) ? 0 : m_remote->ConnectMachine(machine);
}

PDH_STATUS RoutingCounterSource::OpenQuery(std::uintptr_t userData, PdhQuery** query)
{
    if (query == nullptr)
        return PDH_INVALID_ARGUMENT;
    auto created = std::make_unique<Query>(Query{ { m_local.get(), nullptr, {} }, { m_remote.get(), nullptr, {} } });
    if (PDH_STATUS status = m_local->OpenQuery(userData, &created->local.query); status != 0)
        return status;
    if (PDH_STATUS status = m_remote->OpenQuery(userData, &created->remote.query); status != 0) {
        m_local->CloseQuery(created->local.query);
        return status;
    }
    *query = reinterpret_cast<PdhQuery*>(created.get());
    m_queries.emplace(*query, std::move(created));
    return 0;
}

PDH_STATUS RoutingCounterSource::AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t userData,
                                            PdhCounter** counter)
{
    const auto found = m_queries.find(query);
    if (found == m_queries.end())
        return PDH_INVALID_HANDLE;
    const std::optional<CounterPath> path = ParseCounterPath(fullPath.ToUtf8());
    // A path without a machine part the local source refuses as it should.
    Part& part = !path || IsLocal(CString::FromUtf8(path->machine)) ? found->second->local : found->second->remote;
    if (PDH_STATUS status = part.source->AddCounter(part.query, fullPath, userData, counter); status != 0)
        return status;
    part.counters.push_back(*counter);
    m_counters.emplace(*counter, part.source);
    return 0;
}

PDH_STATUS RoutingCounterSource::CollectQueryData(PdhQuery* query)
{
    const auto found = m_queries.find(query);
    if (found == m_queries.end())
        return PDH_INVALID_HANDLE;
    Query& q = *found->second;
    if (q.local.counters.empty() && q.remote.counters.empty())
        return PDH_NO_DATA;
    PDH_STATUS result = 0;
    for (Part* part : { &q.local, &q.remote }) {
        if (part->counters.empty())
            continue;
        if (PDH_STATUS status = part->source->CollectQueryData(part->query); status != 0 && result == 0)
            result = status;
    }
    return result;
}

PDH_STATUS RoutingCounterSource::GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format,
                                                          PdhFormattedValue* value)
{
    const auto found = m_counters.find(counter);
    if (found == m_counters.end())
        return PDH_INVALID_HANDLE;
    return found->second->GetFormattedCounterValue(counter, format, value);
}

PDH_STATUS RoutingCounterSource::GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample)
{
    const auto found = m_counters.find(counter);
    if (found == m_counters.end())
        return PDH_INVALID_HANDLE;
    return found->second->GetRawCounterValue(counter, type, sample);
}

PDH_STATUS RoutingCounterSource::CloseQuery(PdhQuery* query)
{
    const auto found = m_queries.find(query);
    if (found == m_queries.end())
        return PDH_INVALID_HANDLE;
    for (Part* part : { &found->second->local, &found->second->remote }) {
        for (PdhCounter* counter : part->counters)
            m_counters.erase(counter);
        part->source->CloseQuery(part->query);
    }
    m_queries.erase(found);
    return 0;
}

void RoutingCounterSource::Sleep(std::uint32_t milliseconds)
{
    m_local->Sleep(milliseconds);
}
