// Stand-in for ntdsapi.dll: a directory that lists the scenario's controllers.
//   ds.bind.result   what DsBindW and DsBindWithCredW return (0)
//   ds.cred.result   what DsMakePasswordCredentialsW returns (0)
//   ds.info.result   what DsGetDomainControllerInfoW returns (0)
//   ds.dc            one controller's NetBIOS name, repeated in list order
// and its replication, as the controller bound to says it (DsReplicaGetInfoW):
//   ds.repl.neighbor "CONTROLLER PARTNER NAMING-CONTEXT AGE FAILURES RESULT": an inbound partner,
//                    its last success AGE seconds ago ("never": none), last tried now when it
//                    failed, else at its last success
//   ds.repl.pending  "CONTROLLER COUNT": its queue of operations
//   ds.repl.result   "CONTROLLER CODE": what DsReplicaGetInfoW returns there (0)
#include <list>
#include <map>
#include <set>
#include <sstream>

#include "stub_common.h"

namespace {

// DS_DOMAIN_CONTROLLER_INFO_1W.
struct ControllerInfo1 {
    LPWSTR NetbiosName;
    LPWSTR DnsHostName;
    LPWSTR SiteName;
    LPWSTR ComputerObjectName;
    LPWSTR ServerObjectName;
    BOOL fIsPdc;
    BOOL fDsEnabled;
};

struct Binding {
    std::wstring controller;
};
struct Credential {
    int unused;
};

std::set<Binding*> g_bindings;
std::set<Credential*> g_credentials;
std::map<ControllerInfo1*, DWORD> g_arrays; // handed out, with their record count

wchar_t* Copy(const std::wstring& s)
{
    auto* out = new wchar_t[s.size() + 1];
    s.copy(out, s.size());
    out[s.size()] = L'\0';
    return out;
}

DWORD Bind(LPCWSTR controller, HANDLE* handle)
{
    const auto result = static_cast<DWORD>(stub::Number(L"ds.bind.result", 0));
    if (result != 0)
        return result;
    auto* binding = new Binding{ controller != nullptr ? controller : L"" };
    g_bindings.insert(binding);
    *handle = binding;
    return 0;
}

} // namespace

extern "C" DWORD WINAPI DsBindW(LPCWSTR controller, LPCWSTR domain, HANDLE* handle)
{
    stub::Log(L"DsBindW|" + stub::Quote(controller) + L"|" + stub::Quote(domain));
    return Bind(controller, handle);
}

extern "C" DWORD WINAPI DsBindWithCredW(LPCWSTR controller, LPCWSTR domain, void* credential, HANDLE* handle)
{
    const bool known = g_credentials.contains(static_cast<Credential*>(credential));
    stub::Log(L"DsBindWithCredW|" + stub::Quote(controller) + L"|" + stub::Quote(domain) + L"|" +
              (known                   ? L"credential"
               : credential == nullptr ? L"own logon"
                                       : L"unknown"));
    return Bind(controller, handle);
}

extern "C" DWORD WINAPI DsMakePasswordCredentialsW(LPCWSTR user, LPCWSTR domain, LPCWSTR password, void** credential)
{
    stub::Log(L"DsMakePasswordCredentialsW|" + stub::Quote(user) + L"|" + stub::Quote(domain) + L"|" +
              stub::Quote(password));
    const auto result = static_cast<DWORD>(stub::Number(L"ds.cred.result", 0));
    if (result != 0)
        return result;
    auto* c = new Credential{};
    g_credentials.insert(c);
    *credential = c;
    return 0;
}

extern "C" void WINAPI DsFreePasswordCredentials(void* credential)
{
    const bool known = g_credentials.erase(static_cast<Credential*>(credential)) != 0;
    stub::Log(std::wstring(L"DsFreePasswordCredentials|") + (known ? L"released" : L"unknown"));
    if (known)
        delete static_cast<Credential*>(credential);
}

extern "C" DWORD WINAPI DsGetDomainControllerInfoW(HANDLE handle, LPCWSTR domain, DWORD level, DWORD* count,
                                                   void** info)
{
    const bool known = g_bindings.contains(static_cast<Binding*>(handle));
    stub::Log(L"DsGetDomainControllerInfoW|" + std::wstring(known ? L"bound" : L"unknown") + L"|" +
              stub::Quote(domain) + L"|" + stub::Num(level));
    const auto result = static_cast<DWORD>(stub::Number(L"ds.info.result", 0));
    if (result != 0)
        return result;
    if (!known)
        return ERROR_INVALID_HANDLE;
    if (level != 1)
        return ERROR_INVALID_LEVEL;
    const std::vector<std::wstring> names = stub::Values(L"ds.dc");
    auto* records = new ControllerInfo1[names.size() + 1]{};
    for (size_t i = 0; i < names.size(); ++i) {
        records[i].NetbiosName = Copy(names[i]);
        records[i].DnsHostName = Copy(names[i] + L".corp.example");
        records[i].SiteName = Copy(L"Default-First-Site-Name");
        records[i].ComputerObjectName = Copy(L"CN=" + names[i] + L",OU=Domain Controllers");
        records[i].ServerObjectName = Copy(L"CN=" + names[i] + L",CN=Servers");
        records[i].fIsPdc = i == 0;
        records[i].fDsEnabled = TRUE;
    }
    g_arrays[records] = static_cast<DWORD>(names.size());
    *count = static_cast<DWORD>(names.size());
    *info = records;
    return 0;
}

extern "C" void WINAPI DsFreeDomainControllerInfoW(DWORD level, DWORD count, void* info)
{
    auto* records = static_cast<ControllerInfo1*>(info);
    auto it = g_arrays.find(records);
    const bool known = it != g_arrays.end() && it->second == count;
    stub::Log(L"DsFreeDomainControllerInfoW|" + stub::Num(level) + L"|" + stub::Num(count) + L"|" +
              (known ? L"released" : L"unknown"));
    if (!known)
        return;
    for (DWORD i = 0; i < count; ++i) {
        delete[] records[i].NetbiosName;
        delete[] records[i].DnsHostName;
        delete[] records[i].SiteName;
        delete[] records[i].ComputerObjectName;
        delete[] records[i].ServerObjectName;
    }
    delete[] records;
    g_arrays.erase(it);
}

extern "C" DWORD WINAPI DsUnBindW(HANDLE* handle)
{
    auto* binding = handle != nullptr ? static_cast<Binding*>(*handle) : nullptr;
    const bool known = g_bindings.erase(binding) != 0;
    stub::Log(std::wstring(L"DsUnBindW|") + (known ? L"released" : L"unknown"));
    if (known)
        delete binding;
    return 0;
}

// -- Replication -------------------------------------------------------------------------------

namespace {

constexpr DWORD kInfoNeighbors = 0;  // DS_REPL_INFO_NEIGHBORS
constexpr DWORD kInfoPendingOps = 5; // DS_REPL_INFO_PENDING_OPS

// DS_REPL_NEIGHBORW and DS_REPL_NEIGHBORSW.
struct Neighbor {
    LPWSTR pszNamingContext;
    LPWSTR pszSourceDsaDN;
    LPWSTR pszSourceDsaAddress;
    LPWSTR pszAsyncIntersiteTransportDN;
    DWORD dwReplicaFlags;
    DWORD dwReserved;
    GUID uuidNamingContextObjGuid;
    GUID uuidSourceDsaObjGuid;
    GUID uuidSourceDsaInvocationID;
    GUID uuidAsyncIntersiteTransportObjGuid;
    LONGLONG usnLastObjChangeSynced;
    LONGLONG usnAttributeFilter;
    FILETIME ftimeLastSyncSuccess;
    FILETIME ftimeLastSyncAttempt;
    DWORD dwLastSyncResult;
    DWORD cNumConsecutiveSyncFailures;
};
struct Neighbors {
    DWORD cNumNeighbors;
    DWORD dwReserved;
    Neighbor rgNeighbor[1];
};
// DS_REPL_PENDING_OPSW, without its operations: the program reads their number.
struct PendingOps {
    FILETIME ftimeCurrentOpStarted;
    DWORD cNumPendingOps;
};

// An answer handed out: its block and the texts it points into.
struct Answer {
    DWORD type;
    std::vector<unsigned char> block;
    std::list<std::wstring> texts;
};
std::map<void*, Answer*> g_answers;

// The words of a scenario value whose first word is controller; none for another controller.
std::vector<std::vector<std::wstring>> Lines(const wchar_t* key, const std::wstring& controller)
{
    std::vector<std::vector<std::wstring>> out;
    for (const std::wstring& value : stub::Values(key)) {
        std::wistringstream in(value);
        std::vector<std::wstring> words;
        for (std::wstring word; in >> word;)
            words.push_back(word);
        if (!words.empty() && words[0] == controller)
            out.push_back(words);
    }
    return out;
}

FILETIME SecondsAgo(unsigned long long seconds)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG ticks =
        ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) - seconds * 10000000ULL;
    return FILETIME{ static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32) };
}

// A partner's NTDS Settings object GUID, the same for the same name.
GUID GuidOf(const std::wstring& name)
{
    DWORD hash = 2166136261u;
    for (const wchar_t c : name)
        hash = (hash ^ static_cast<DWORD>(c)) * 16777619u;
    return GUID{ hash, 0x1111, 0x2222, { 0x33, 0x33, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44 } };
}

wchar_t* Keep(Answer* answer, const std::wstring& text)
{
    answer->texts.push_back(text);
    return answer->texts.back().data();
}

void* NeighborsOf(const std::wstring& controller, Answer* answer)
{
    const auto lines = Lines(L"ds.repl.neighbor", controller);
    answer->block.assign(sizeof(Neighbors) + lines.size() * sizeof(Neighbor), 0);
    auto* all = reinterpret_cast<Neighbors*>(answer->block.data());
    all->cNumNeighbors = static_cast<DWORD>(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::wstring>& w = lines[i];
        if (w.size() < 6)
            continue;
        const std::wstring& partner = w[1];
        Neighbor& n = all->rgNeighbor[i];
        const GUID guid = GuidOf(partner);
        wchar_t guidText[40];
        swprintf(guidText, 40, L"%08lx-1111-2222-3333-444444444444", static_cast<unsigned long>(guid.Data1));
        n.pszNamingContext = Keep(answer, w[2]);
        n.pszSourceDsaDN = Keep(answer, L"CN=NTDS Settings,CN=" + partner +
                                            L",CN=Servers,CN=Default-First-Site-Name,CN=Sites,CN=Configuration,"
                                            L"DC=corp,DC=example");
        n.pszSourceDsaAddress = Keep(answer, std::wstring(guidText) + L"._msdcs.corp.example");
        n.uuidSourceDsaObjGuid = guid;
        n.cNumConsecutiveSyncFailures = static_cast<DWORD>(std::wcstoul(w[4].c_str(), nullptr, 0));
        n.dwLastSyncResult = static_cast<DWORD>(std::wcstoul(w[5].c_str(), nullptr, 0));
        if (w[3] != L"never")
            n.ftimeLastSyncSuccess = SecondsAgo(std::wcstoull(w[3].c_str(), nullptr, 0));
        n.ftimeLastSyncAttempt = n.dwLastSyncResult != 0 ? SecondsAgo(0) : n.ftimeLastSyncSuccess;
    }
    return answer->block.data();
}

} // namespace

extern "C" DWORD WINAPI DsBindingSetTimeout(HANDLE handle, ULONG seconds)
{
    const bool known = g_bindings.contains(static_cast<Binding*>(handle));
    stub::Log(L"DsBindingSetTimeout|" + std::wstring(known ? L"bound" : L"unknown") + L"|" + stub::Num(seconds));
    return known ? 0 : ERROR_INVALID_HANDLE;
}

extern "C" DWORD WINAPI DsReplicaGetInfoW(HANDLE handle, DWORD type, LPCWSTR object, GUID* source, void** info)
{
    auto* binding = static_cast<Binding*>(handle);
    const bool known = g_bindings.contains(binding);
    stub::Log(L"DsReplicaGetInfoW|" + std::wstring(known ? L"bound" : L"unknown") + L"|" + stub::Num(type) + L"|" +
              stub::Quote(object) + L"|" + (source != nullptr ? L"one source" : L"every source"));
    if (!known)
        return ERROR_INVALID_HANDLE;
    for (const auto& w : Lines(L"ds.repl.result", binding->controller)) {
        if (w.size() > 1)
            return static_cast<DWORD>(std::wcstoul(w[1].c_str(), nullptr, 0));
    }
    auto* answer = new Answer{ type, {}, {} };
    void* block = nullptr;
    if (type == kInfoNeighbors) {
        block = NeighborsOf(binding->controller, answer);
    } else if (type == kInfoPendingOps) {
        answer->block.assign(sizeof(PendingOps), 0);
        auto* pending = reinterpret_cast<PendingOps*>(answer->block.data());
        for (const auto& w : Lines(L"ds.repl.pending", binding->controller)) {
            if (w.size() > 1)
                pending->cNumPendingOps = static_cast<DWORD>(std::wcstoul(w[1].c_str(), nullptr, 0));
        }
        block = pending;
    } else {
        delete answer;
        return ERROR_INVALID_PARAMETER;
    }
    g_answers[block] = answer;
    *info = block;
    return 0;
}

extern "C" void WINAPI DsReplicaFreeInfo(DWORD type, void* info)
{
    auto it = g_answers.find(info);
    const bool known = it != g_answers.end() && it->second->type == type;
    stub::Log(L"DsReplicaFreeInfo|" + stub::Num(type) + L"|" + (known ? L"released" : L"unknown"));
    if (!known)
        return;
    delete it->second;
    g_answers.erase(it);
}
