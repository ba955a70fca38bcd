// Domain membership (netapi32) and the directory's list of controllers (ntdsapi).
#include "platform/win32/win32_include.h"

#include <ntdsapi.h>

// ntdsapi.h's A/W macros have the names of the service's methods.
#undef DsBind
#undef DsBindWithCred
#undef DsMakePasswordCredentials
#undef DsGetDomainControllerInfo
#undef DsFreeDomainControllerInfo
#undef DsUnBind

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/win32/win32_netapi.h"
#include "platform/win32/win32_services.h"

namespace {

// The service's opaque handles are the system's handles.
HANDLE SystemHandle(DsBinding* binding)
{
    return reinterpret_cast<HANDLE>(binding);
}

CString Copy(const wchar_t* s)
{
    return FromWStr(s);
}

} // namespace

Win32DirectoryService::Win32DirectoryService() = default;

Win32DirectoryService::~Win32DirectoryService()
{
    for (auto& [records, copy] : m_infos)
        DsFreeDomainControllerInfoW(1, copy.count, copy.systemArray);
}

CString Win32DirectoryService::GetComputerName(std::uint32_t bufferChars)
{
    std::vector<wchar_t> buffer(std::max<std::uint32_t>(bufferChars, 1));
    auto length = static_cast<DWORD>(buffer.size());
    if (!GetComputerNameW(buffer.data(), &length))
        return CString();
    return FromWStr(buffer.data(), length);
}

std::uint32_t Win32DirectoryService::NetGetJoinInformation(const CString& server, const char16_t** nameBuffer,
                                                           int* status)
{
    wchar_t* name = nullptr;
    int joinStatus = NetSetupUnknownStatus;
    const std::uint32_t result = SystemNetGetJoinInformation(WStr(server), &name, &joinStatus);
    if (result != 0)
        return result;
    *nameBuffer = reinterpret_cast<const char16_t*>(name);
    *status = joinStatus;
    return result;
}

void Win32DirectoryService::NetApiBufferFree(const char16_t* buffer)
{
    if (buffer != nullptr)
        SystemNetApiBufferFree(const_cast<char16_t*>(buffer));
}

std::uint32_t Win32DirectoryService::DsBind(const CString& domain, DsBinding** binding)
{
    HANDLE handle = nullptr;
    const DWORD result = DsBindW(nullptr, WStr(domain), &handle);
    if (result == ERROR_SUCCESS)
        *binding = reinterpret_cast<DsBinding*>(handle);
    return result;
}

std::uint32_t Win32DirectoryService::DsMakePasswordCredentials(const CString& user, const CString& domain,
                                                               const CString& password, DsCredential** credential)
{
    RPC_AUTH_IDENTITY_HANDLE identity = nullptr;
    const DWORD result = DsMakePasswordCredentialsW(WStr(user), WStr(domain), WStr(password), &identity);
    if (result == ERROR_SUCCESS)
        *credential = reinterpret_cast<DsCredential*>(identity);
    return result;
}

void Win32DirectoryService::DsFreePasswordCredentials(DsCredential* credential)
{
    if (credential != nullptr)
        ::DsFreePasswordCredentials(reinterpret_cast<RPC_AUTH_IDENTITY_HANDLE>(credential));
}

std::uint32_t Win32DirectoryService::DsBindWithCred(const CString& domain, DsCredential* credential,
                                                    DsBinding** binding)
{
    HANDLE handle = nullptr;
    const DWORD result =
        DsBindWithCredW(nullptr, WStr(domain), reinterpret_cast<RPC_AUTH_IDENTITY_HANDLE>(credential), &handle);
    if (result == ERROR_SUCCESS)
        *binding = reinterpret_cast<DsBinding*>(handle);
    return result;
}

std::uint32_t Win32DirectoryService::DsGetDomainControllerInfo(DsBinding* binding, const CString& domain,
                                                               std::uint32_t level, std::uint32_t* count,
                                                               const DsControllerInfo1** infos)
{
    DWORD systemCount = 0;
    void* systemArray = nullptr;
    const DWORD result =
        DsGetDomainControllerInfoW(SystemHandle(binding), WStr(domain), level, &systemCount, &systemArray);
    if (result != ERROR_SUCCESS)
        return result;
    if (level != 1) {
        // Only level 1 has a form the service hands out.
        DsFreeDomainControllerInfoW(level, systemCount, systemArray);
        return ERROR_INVALID_LEVEL;
    }
    InfoCopy copy;
    copy.count = systemCount;
    copy.systemArray = systemArray;
    copy.records = std::make_unique<DsControllerInfo1[]>(std::max<DWORD>(systemCount, 1));
    const auto* records = static_cast<const DS_DOMAIN_CONTROLLER_INFO_1W*>(systemArray);
    for (DWORD i = 0; i < systemCount; ++i) {
        DsControllerInfo1& out = copy.records[i];
        out.NetbiosName = Copy(records[i].NetbiosName);
        out.DnsHostName = Copy(records[i].DnsHostName);
        out.SiteName = Copy(records[i].SiteName);
        out.ComputerObjectName = Copy(records[i].ComputerObjectName);
        out.ServerObjectName = Copy(records[i].ServerObjectName);
        out.fIsPdc = records[i].fIsPdc != FALSE;
        out.fDsEnabled = records[i].fDsEnabled != FALSE;
    }
    const DsControllerInfo1* handedOut = copy.records.get();
    m_infos[handedOut] = std::move(copy);
    *count = systemCount;
    *infos = handedOut;
    return ERROR_SUCCESS;
}

void Win32DirectoryService::DsFreeDomainControllerInfo(std::uint32_t level, std::uint32_t,
                                                       const DsControllerInfo1* infos)
{
    auto it = m_infos.find(infos);
    if (it == m_infos.end())
        return;
    DsFreeDomainControllerInfoW(level, it->second.count, it->second.systemArray);
    m_infos.erase(it);
}

std::uint32_t Win32DirectoryService::DsUnBind(DsBinding** binding)
{
    HANDLE handle = SystemHandle(*binding);
    const DWORD result = DsUnBindW(&handle);
    *binding = nullptr;
    return result;
}
