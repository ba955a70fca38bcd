// Stand-in for ntdsapi.dll: a directory that lists the scenario's controllers.
//   ds.bind.result   what DsBindW and DsBindWithCredW return (0)
//   ds.cred.result   what DsMakePasswordCredentialsW returns (0)
//   ds.info.result   what DsGetDomainControllerInfoW returns (0)
//   ds.dc            one controller's NetBIOS name, repeated in list order
#include <map>
#include <set>

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
    int unused;
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

DWORD Bind(HANDLE* handle)
{
    const auto result = static_cast<DWORD>(stub::Number(L"ds.bind.result", 0));
    if (result != 0)
        return result;
    auto* binding = new Binding{};
    g_bindings.insert(binding);
    *handle = binding;
    return 0;
}

} // namespace

extern "C" DWORD WINAPI DsBindW(LPCWSTR controller, LPCWSTR domain, HANDLE* handle)
{
    stub::Log(L"DsBindW|" + stub::Quote(controller) + L"|" + stub::Quote(domain));
    return Bind(handle);
}

extern "C" DWORD WINAPI DsBindWithCredW(LPCWSTR controller, LPCWSTR domain, void* credential, HANDLE* handle)
{
    const bool known = g_credentials.count(static_cast<Credential*>(credential)) != 0;
    stub::Log(L"DsBindWithCredW|" + stub::Quote(controller) + L"|" + stub::Quote(domain) + L"|" +
              (known ? L"credential" : L"unknown"));
    return Bind(handle);
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
    const bool known = g_bindings.count(static_cast<Binding*>(handle)) != 0;
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
