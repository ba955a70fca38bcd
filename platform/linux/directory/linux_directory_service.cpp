#include "platform/linux/directory/linux_directory_service.h"

#include <memory>
#include <vector>

#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"
#include "platform/linux/directory/dc_locator.h"
#include "platform/linux/directory/join_information.h"
#include "platform/linux/names/local_host_name.h"
#include "platform/linux/samba/smb_reach.h"
#include "platform/linux/samba/smb_session.h"

struct DsBinding {
    std::unique_ptr<SmbSession> session; // null for a bind without credentials
};

struct DsCredential {
    SmbCredentials smb;
};

namespace {

char16_t* CopyOut(const CString& text)
{
    auto* buffer = new char16_t[text.size() + 1];
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
    return buffer;
}

} // namespace

LinuxDirectoryService::LinuxDirectoryService(Options options)
    : m_options(std::move(options)), m_dns(m_options.dnsServer)
{
}

CString LinuxDirectoryService::GetComputerName(std::uint32_t bufferChars)
{
    const CString name = CString::FromUtf8(LocalHostName());
    return bufferChars == 0 ? CString() : CString(name.substr(0, bufferChars - 1));
}

std::uint32_t LinuxDirectoryService::NetGetJoinInformation(const CString& server, const char16_t** nameBuffer,
                                                           int* status)
{
    if (!server.IsEmpty() && !EqualsIgnoringCase(server.ToUtf8(), LocalHostName()))
        return win32_error::kBadNetPath;
    const JoinInformation join = ReadJoinInformation(m_options.smbConfPath, m_options.sssdConfPath);
    *status = join.status;
    if (join.result != 0)
        return join.result;
    *nameBuffer = CopyOut(CString::FromUtf8(join.name));
    return 0;
}

void LinuxDirectoryService::NetApiBufferFree(const char16_t* buffer)
{
    delete[] buffer;
}

std::uint32_t LinuxDirectoryService::DsBind(const CString& domain, DsBinding** binding)
{
    std::vector<DsControllerInfo1> controllers;
    if (std::uint32_t result = LocateDomainControllers(m_dns, domain.ToUtf8(), &controllers); result != 0)
        return result;
    *binding = new DsBinding;
    return 0;
}

std::uint32_t LinuxDirectoryService::DsMakePasswordCredentials(const CString& user, const CString& domain,
                                                               const CString& password, DsCredential** credential)
{
    if (credential == nullptr)
        return win32_error::kInvalidParameter;
    *credential = new DsCredential{ SmbCredentials(domain.ToUtf8(), user.ToUtf8(), password) };
    return 0;
}

void LinuxDirectoryService::DsFreePasswordCredentials(DsCredential* credential)
{
    delete credential;
}

std::uint32_t LinuxDirectoryService::DsBindWithCred(const CString& domain, DsCredential* credential,
                                                    DsBinding** binding)
{
    if (credential == nullptr)
        return DsBind(domain, binding);
    std::vector<DsControllerInfo1> controllers;
    if (std::uint32_t result = LocateDomainControllers(m_dns, domain.ToUtf8(), &controllers); result != 0)
        return result;
    for (const DsControllerInfo1& controller : controllers) {
        std::string server;
        std::unique_ptr<SmbSession> session;
        std::uint32_t result = SmbServerFor(m_dns, controller.DnsHostName.ToUtf8(), m_options.smbTimeoutMs, &server);
        std::string reached;
        if (result == 0)
            result = ReachSmbPort(m_dns, server, m_options.smbPort, m_options.smbTimeoutMs, &reached);
        if (result == 0)
            result = SmbSession::Open(server, m_options.smbPort, {}, credential->smb, m_options.smbTimeoutMs, &session);
        if (result == 0) {
            *binding = new DsBinding{ std::move(session) };
            return 0;
        }
        // Every controller checks the same accounts: a refusal from one is the domain's answer.
        if (!IsUnreachableError(result))
            return result;
    }
    return win32_error::kNoLogonServers;
}

std::uint32_t LinuxDirectoryService::DsGetDomainControllerInfo(DsBinding* binding, const CString& domain,
                                                               std::uint32_t level, std::uint32_t* count,
                                                               const DsControllerInfo1** infos)
{
    if (binding == nullptr)
        return win32_error::kInvalidHandle;
    if (level != 1)
        return win32_error::kInvalidLevel;
    std::vector<DsControllerInfo1> controllers;
    if (std::uint32_t result = LocateDomainControllers(m_dns, domain.ToUtf8(), &controllers); result != 0)
        return result;
    auto* out = new DsControllerInfo1[controllers.size()];
    std::move(controllers.begin(), controllers.end(), out);
    *count = static_cast<std::uint32_t>(controllers.size());
    *infos = out;
    return 0;
}

void LinuxDirectoryService::DsFreeDomainControllerInfo(std::uint32_t, std::uint32_t, const DsControllerInfo1* infos)
{
    delete[] infos;
}

std::uint32_t LinuxDirectoryService::DsUnBind(DsBinding** binding)
{
    if (binding == nullptr || *binding == nullptr)
        return win32_error::kInvalidHandle;
    delete *binding;
    *binding = nullptr;
    return 0;
}
