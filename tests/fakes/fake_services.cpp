#include "tests/fakes/fake_services.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "directory/win32_error_text.h"
#include "perf/pdh_status.h"

namespace {

// Distinct non-null handles for the opaque types.
template <typename T>
T* Token(std::uintptr_t n)
{
    return reinterpret_cast<T*>(n);
}

} // namespace

// -- FakeDirectoryService ------------------------------------------------------------------------

CString FakeDirectoryService::GetComputerName(std::uint32_t bufferChars)
{
    lastComputerNameChars = bufferChars;
    calls.emplace_back(u"GetComputerName");
    return computerName;
}

std::uint32_t FakeDirectoryService::NetGetJoinInformation(const CString& server, const char16_t** nameBuffer,
                                                          int* status)
{
    calls.emplace_back(u"NetGetJoinInformation");
    lastJoinServer = server;
    if (joinResult != 0)
        return joinResult;
    m_joinBuffer = joinName;
    *nameBuffer = m_joinBuffer.c_str();
    *status = joinStatus;
    ++outstandingJoinBuffers;
    return 0;
}

void FakeDirectoryService::NetApiBufferFree(const char16_t*)
{
    calls.emplace_back(u"NetApiBufferFree");
    --outstandingJoinBuffers;
}

std::uint32_t FakeDirectoryService::DsBind(const CString& domain, DsBinding** binding)
{
    calls.emplace_back(u"DsBind");
    lastBindDomain = domain;
    if (bindResult != 0)
        return bindResult;
    *binding = Token<DsBinding>(0xB1);
    ++outstandingBindings;
    return 0;
}

std::uint32_t FakeDirectoryService::DsMakePasswordCredentials(const CString& user, const CString& domain,
                                                              const CString& password, DsCredential** credential)
{
    calls.emplace_back(u"DsMakePasswordCredentials");
    lastCredUser = user;
    lastCredDomain = domain;
    lastCredPassword = password;
    if (credResult != 0)
        return credResult;
    *credential = Token<DsCredential>(0xC1);
    ++outstandingCredentials;
    return 0;
}

void FakeDirectoryService::DsFreePasswordCredentials(DsCredential*)
{
    calls.emplace_back(u"DsFreePasswordCredentials");
    --outstandingCredentials;
}

std::uint32_t FakeDirectoryService::DsBindWithCred(const CString& domain, DsCredential*, DsBinding** binding)
{
    calls.emplace_back(u"DsBindWithCred");
    lastBindDomain = domain;
    if (bindResult != 0)
        return bindResult;
    *binding = Token<DsBinding>(0xB2);
    ++outstandingBindings;
    return 0;
}

std::uint32_t FakeDirectoryService::DsGetDomainControllerInfo(DsBinding*, const CString& domain, std::uint32_t,
                                                              std::uint32_t* count, const DsControllerInfo1** infos)
{
    calls.emplace_back(u"DsGetDomainControllerInfo");
    lastInfoDomain = domain;
    if (infoResult != 0)
        return infoResult;
    *count = static_cast<std::uint32_t>(controllers.size());
    *infos = controllers.data();
    ++outstandingInfos;
    return 0;
}

void FakeDirectoryService::DsFreeDomainControllerInfo(std::uint32_t, std::uint32_t, const DsControllerInfo1*)
{
    calls.emplace_back(u"DsFreeDomainControllerInfo");
    --outstandingInfos;
}

std::uint32_t FakeDirectoryService::DsUnBind(DsBinding** binding)
{
    calls.emplace_back(u"DsUnBind");
    *binding = nullptr;
    --outstandingBindings;
    return 0;
}

// -- FakeNetworkConnector ------------------------------------------------------------------------

std::uint32_t FakeNetworkConnector::AddConnection(const CString& remoteName, const CString& password,
                                                  const CString& userName)
{
    attempts.push_back({ remoteName, password, userName });
    if (addResults.empty())
        return 0;
    const std::uint32_t r = addResults.front();
    addResults.pop_front();
    return r;
}

std::uint32_t FakeNetworkConnector::CancelConnection(const CString& remoteName, bool)
{
    cancelled.push_back(remoteName);
    return 2250; // ERROR_NOT_CONNECTED: the caller ignores the result
}

std::uint32_t FakeNetworkConnector::FormatMessage(std::uint32_t code, char16_t** buffer)
{
    const char16_t* known = Win32ErrorText(code);
    if (known == nullptr) {
        *buffer = nullptr;
        return 0;
    }
    const CString text = known;
    *buffer = new char16_t[text.size() + 1];
    std::copy(text.begin(), text.end(), *buffer);
    (*buffer)[text.size()] = u'\0';
    ++outstandingMessages;
    return static_cast<std::uint32_t>(text.size());
}

void FakeNetworkConnector::LocalFree(char16_t* buffer)
{
    delete[] buffer;
    --outstandingMessages;
}

// -- FakeCounterSource ---------------------------------------------------------------------------

PDH_STATUS FakeCounterSource::ConnectMachine(const CString& machine)
{
    ++connectCalls;
    connectedMachines.push_back(machine);
    if (connectResults.empty())
        return 0;
    const PDH_STATUS r = connectResults.front();
    // The last scripted result stays for every further attempt.
    if (connectResults.size() > 1)
        connectResults.pop_front();
    return r;
}

PDH_STATUS FakeCounterSource::OpenQuery(std::uintptr_t userData, PdhQuery** query)
{
    queryUserData.push_back(userData);
    if (openResult != 0)
        return openResult;
    *query = Token<PdhQuery>(m_nextQuery++);
    ++openQueries;
    return 0;
}

PDH_STATUS FakeCounterSource::AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t, PdhCounter** counter)
{
    addedPaths.push_back(fullPath);
    if (query == nullptr)
        return PDH_INVALID_HANDLE;
    if (std::find(unpublishedPaths.begin(), unpublishedPaths.end(), fullPath) != unpublishedPaths.end())
        return PDH_CSTATUS_NO_COUNTER;
    // "\\machine\object\counter": the path without the machine part starts at the third backslash.
    const size_t third = fullPath.find(u'\\', 2);
    auto c = std::make_unique<Counter>();
    c->query = query;
    c->path = third == CString::npos ? CString() : CString(fullPath.substr(third));
    *counter = reinterpret_cast<PdhCounter*>(c.get());
    m_counters.push_back(std::move(c));
    return 0;
}

PDH_STATUS FakeCounterSource::CollectQueryData(PdhQuery* query)
{
    ++collects;
    if (query == nullptr)
        return PDH_INVALID_HANDLE;
    if (collectResults.empty())
        return 0;
    const PDH_STATUS r = collectResults.front();
    collectResults.pop_front();
    return r;
}

PDH_STATUS FakeCounterSource::GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format,
                                                       PdhFormattedValue* value)
{
    const auto* c = reinterpret_cast<const Counter*>(counter);
    const bool known = std::any_of(m_counters.begin(), m_counters.end(), [&](const auto& p) { return p.get() == c; });
    if (!known)
        return PDH_INVALID_HANDLE;
    if (std::find(invalidPaths.begin(), invalidPaths.end(), c->path) != invalidPaths.end()) {
        value->CStatus = PDH_CSTATUS_INVALID_DATA;
        return PDH_INVALID_DATA;
    }
    std::int64_t found = 0;
    for (const auto& [path, v] : values) {
        if (path == c->path)
            found = v;
    }
    *value = PdhFormattedValue{};
    value->CStatus = PDH_CSTATUS_VALID_DATA;
    if (format == PDH_FMT_LARGE_FORMAT)
        value->largeValue = found;
    else if (format == PDH_FMT_DOUBLE_FORMAT)
        value->doubleValue = static_cast<double>(found);
    else
        value->longValue =
            static_cast<std::int32_t>(std::clamp<std::int64_t>(found, std::numeric_limits<std::int32_t>::min(),
                                                               std::numeric_limits<std::int32_t>::max()));
    return 0;
}

PDH_STATUS FakeCounterSource::GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample)
{
    const auto* c = reinterpret_cast<const Counter*>(counter);
    if (!std::any_of(m_counters.begin(), m_counters.end(), [&](const auto& p) { return p.get() == c; }))
        return PDH_INVALID_HANDLE;
    *type = 0x00010100; // PERF_COUNTER_LARGE_RAWCOUNT
    for (const auto& [path, t] : rawTypes) {
        if (path == c->path)
            *type = t;
    }
    *sample = RawCounterSample{};
    if (std::find(invalidPaths.begin(), invalidPaths.end(), c->path) != invalidPaths.end())
        return 0;
    sample->CStatus = PDH_CSTATUS_VALID_DATA;
    for (const auto& [path, v] : values) {
        if (path == c->path)
            sample->first = static_cast<std::uint64_t>(v);
    }
    return 0;
}

PDH_STATUS FakeCounterSource::CloseQuery(PdhQuery* query)
{
    --openQueries;
    m_counters.erase(std::remove_if(m_counters.begin(), m_counters.end(),
                                    [&](const auto& c) { return c->query == query; }),
                     m_counters.end());
    return 0;
}

void FakeCounterSource::Sleep(std::uint32_t milliseconds)
{
    ++sleeps;
    sleptMs += milliseconds;
}

void FakeCounterSource::SetValue(const CString& path, std::int64_t value)
{
    for (auto& [p, v] : values) {
        if (p == path) {
            v = value;
            return;
        }
    }
    values.emplace_back(path, value);
}
