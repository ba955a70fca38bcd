// Stand-in for pdh.dll: counters with the scenario's values.
//   pdh.connect.result  what every PdhConnectMachineW returns (0)
//   pdh.open.result     what PdhOpenQueryW returns (0)
//   pdh.collect.result  what PdhCollectQueryData returns (0)
//   pdh.value           "<number> <counter path without the machine>", one per counter (else 0)
//   pdh.missing         a counter path without the machine that PdhAddCounterW does not find
//   pdh.machine.connect "<machine> <number>": what PdhConnectMachineW returns for that machine
//   pdh.machine.value   "<machine> <number> <counter path without the machine>": that machine's
// The program may call from several threads at once (the overview's workers): one call at a time.
#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <map>
#include <mutex>
#include <vector>

#include "stub_common.h"

namespace {

// PDH_FMT_COUNTERVALUE.
struct FormattedValue {
    DWORD CStatus;
    union {
        LONG longValue;
        double doubleValue;
        LONGLONG largeValue;
        LPCWSTR WideStringValue;
    };
};

// PDH_RAW_COUNTER.
struct RawValue {
    DWORD CStatus;
    FILETIME TimeStamp;
    LONGLONG FirstValue;
    LONGLONG SecondValue;
    DWORD MultiCount;
};

struct Query {
    int unused;
};
struct Counter {
    Query* query;
    LONG value;
};

std::map<Query*, std::vector<Counter*>> g_queries;
std::mutex g_mutex;

// The machine of "\\machine\object\counter", in upper case.
std::wstring MachineOf(const std::wstring& path)
{
    if (path.rfind(L"\\\\", 0) != 0)
        return std::wstring();
    std::wstring machine = path.substr(2, path.find(L'\\', 2) - 2);
    for (wchar_t& c : machine)
        c = static_cast<wchar_t>(std::towupper(c));
    return machine;
}

// The value of "<machine> <rest>" entries of key for machine: rest, or none.
bool MachineEntry(const wchar_t* key, const std::wstring& machine, std::wstring* rest)
{
    const std::vector<std::wstring> entries = stub::Values(key);
    const auto found = std::ranges::find_if(entries, [&](const std::wstring& entry) {
        const size_t space = entry.find(L' ');
        return space != std::wstring::npos && entry.compare(0, space, machine) == 0;
    });
    if (found != entries.end()) {
        *rest = found->substr(found->find(L' ') + 1);
        return true;
    }
    return false;
}

// "\\machine\object\counter" without "\\machine".
std::wstring WithoutMachine(const std::wstring& path)
{
    if (path.rfind(L"\\\\", 0) != 0)
        return path;
    const size_t third = path.find(L'\\', 2);
    return third == std::wstring::npos ? std::wstring() : path.substr(third);
}

LONG ScriptedValue(const std::wstring& machine, const std::wstring& path)
{
    for (const std::wstring& entry : stub::Values(L"pdh.machine.value")) {
        const size_t space = entry.find(L' ');
        const size_t second = space != std::wstring::npos ? entry.find(L' ', space + 1) : std::wstring::npos;
        if (second != std::wstring::npos && entry.substr(0, space) == machine && entry.substr(second + 1) == path)
            return static_cast<LONG>(std::wcstol(entry.c_str() + space + 1, nullptr, 0));
    }
    for (const std::wstring& entry : stub::Values(L"pdh.value")) {
        const size_t space = entry.find(L' ');
        if (space != std::wstring::npos && entry.substr(space + 1) == path)
            return static_cast<LONG>(std::wcstol(entry.c_str(), nullptr, 0));
    }
    return 0;
}

bool Known(Query* query)
{
    return g_queries.contains(query);
}

} // namespace

extern "C" LONG WINAPI PdhConnectMachineW(LPCWSTR machine)
{
    const std::lock_guard lock(g_mutex);
    stub::Log(L"PdhConnectMachineW|" + stub::Quote(machine));
    std::wstring result;
    if (machine != nullptr && MachineEntry(L"pdh.machine.connect", MachineOf(L"\\\\" + std::wstring(machine)), &result))
        return static_cast<LONG>(std::wcstoul(result.c_str(), nullptr, 0));
    return static_cast<LONG>(stub::Number(L"pdh.connect.result", 0));
}

extern "C" LONG WINAPI PdhOpenQueryW(LPCWSTR source, DWORD_PTR userData, HANDLE* query)
{
    const std::lock_guard lock(g_mutex);
    stub::Log(L"PdhOpenQueryW|" + stub::Quote(source) + L"|" + stub::Num(userData));
    const auto result = static_cast<LONG>(stub::Number(L"pdh.open.result", 0));
    if (result != 0)
        return result;
    auto* q = new Query{};
    g_queries[q];
    *query = q;
    return 0;
}

extern "C" LONG WINAPI PdhAddCounterW(HANDLE query, LPCWSTR path, DWORD_PTR userData, HANDLE* counter)
{
    const std::lock_guard lock(g_mutex);
    auto* q = static_cast<Query*>(query);
    stub::Log(L"PdhAddCounterW|" + std::wstring(Known(q) ? L"open" : L"unknown") + L"|" + stub::Quote(path) + L"|" +
              (userData != 0 ? L"userdata" : L"0"));
    if (!Known(q) || path == nullptr)
        return static_cast<LONG>(0xC0000BBC); // PDH_INVALID_HANDLE
    for (const std::wstring& missing : stub::Values(L"pdh.missing")) {
        if (WithoutMachine(path) == missing)
            return static_cast<LONG>(0xC0000BB8); // PDH_CSTATUS_NO_OBJECT
    }
    auto* c = new Counter{ q, ScriptedValue(MachineOf(path), WithoutMachine(path)) };
    g_queries[q].push_back(c);
    *counter = c;
    return 0;
}

extern "C" LONG WINAPI PdhCollectQueryData(HANDLE query)
{
    const std::lock_guard lock(g_mutex);
    auto* q = static_cast<Query*>(query);
    stub::Log(L"PdhCollectQueryData|" + std::wstring(Known(q) ? L"open" : L"unknown"));
    if (!Known(q))
        return static_cast<LONG>(0xC0000BBC);
    return static_cast<LONG>(stub::Number(L"pdh.collect.result", 0));
}

extern "C" LONG WINAPI PdhGetFormattedCounterValue(HANDLE counter, DWORD format, DWORD* type, FormattedValue* value)
{
    // Thirteen calls a tick: not logged.
    const std::lock_guard lock(g_mutex);
    auto* c = static_cast<Counter*>(counter);
    bool known = false;
    for (const auto& [q, counters] : g_queries) {
        for (Counter* each : counters)
            known = known || each == c;
    }
    if (!known || value == nullptr)
        return static_cast<LONG>(0xC0000BBC);
    if (type != nullptr)
        *type = 0;
    value->CStatus = 0; // PDH_CSTATUS_VALID_DATA
    value->largeValue = 0;
    if ((format & 0x00000100) != 0) // PDH_FMT_LONG
        value->longValue = c->value;
    else if ((format & 0x00000400) != 0) // PDH_FMT_LARGE
        value->largeValue = c->value;
    else
        value->doubleValue = c->value;
    return 0;
}

// Every counter is a raw count (PERF_COUNTER_LARGE_RAWCOUNT) of its value: the window's figure
// and the raw value are one.
extern "C" LONG WINAPI PdhGetRawCounterValue(HANDLE counter, DWORD* type, RawValue* value)
{
    const std::lock_guard lock(g_mutex);
    auto* c = static_cast<Counter*>(counter);
    bool known = false;
    for (const auto& [q, counters] : g_queries) {
        for (Counter* each : counters)
            known = known || each == c;
    }
    if (!known || value == nullptr)
        return static_cast<LONG>(0xC0000BBC);
    if (type != nullptr)
        *type = 0x00010100;
    *value = RawValue{};
    value->FirstValue = c->value;
    return 0;
}

extern "C" LONG WINAPI PdhCloseQuery(HANDLE query)
{
    const std::lock_guard lock(g_mutex);
    auto* q = static_cast<Query*>(query);
    auto it = g_queries.find(q);
    stub::Log(std::wstring(L"PdhCloseQuery|") + (it != g_queries.end() ? L"released" : L"unknown"));
    if (it == g_queries.end())
        return static_cast<LONG>(0xC0000BBC);
    for (Counter* c : it->second)
        delete c;
    g_queries.erase(it);
    delete q;
    return 0;
}
