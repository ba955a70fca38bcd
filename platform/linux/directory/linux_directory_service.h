// The directory services on Linux: membership from the Samba and SSSD configuration, the
// domain's controllers from DNS, and a bind that logs on to a controller over SMB.
#pragma once

#include <optional>
#include <string>

#include "directory/directory_service.h"
#include "platform/linux/names/dns_resolver.h"
#include "platform/linux/samba/smb_session.h"

class LinuxDirectoryService : public IDirectoryService {
public:
    struct Options {
        std::string smbConfPath = "/etc/samba/smb.conf";
        std::string sssdConfPath = "/etc/sssd/sssd.conf";
        // Controllers and their addresses are looked up here; without one, through the servers of
        // /etc/resolv.conf.
        std::optional<DnsServer> dnsServer;
        // Where a bind with credentials logs on, and how long each exchange may take.
        std::uint16_t smbPort = kSmbPort;
        int smbTimeoutMs = 15000;
    };

    LinuxDirectoryService() : LinuxDirectoryService(Options{}) {}
    explicit LinuxDirectoryService(Options options);

    // The host name, cut to bufferChars - 1 characters.
    CString GetComputerName(std::uint32_t bufferChars) override;
    // Answers for the local machine only: server must be empty or the local host name.
    std::uint32_t NetGetJoinInformation(const CString& server, const char16_t** nameBuffer, int* status) override;
    void NetApiBufferFree(const char16_t* buffer) override;
    // Succeeds when DNS locates at least one controller of domain.
    std::uint32_t DsBind(const CString& domain, DsBinding** binding) override;
    std::uint32_t DsMakePasswordCredentials(const CString& user, const CString& domain, const CString& password,
                                            DsCredential** credential) override;
    void DsFreePasswordCredentials(DsCredential* credential) override;
    // Locates the controllers and logs on to the first that answers, over SMB; the session is
    // kept until DsUnBind. A refused logon fails the bind (ERROR_LOGON_FAILURE); no controller
    // answering gives ERROR_NO_LOGON_SERVERS.
    std::uint32_t DsBindWithCred(const CString& domain, DsCredential* credential, DsBinding** binding) override;
    // Looks domain's controllers up in DNS again, in the order LocateDomainControllers gives.
    std::uint32_t DsGetDomainControllerInfo(DsBinding* binding, const CString& domain, std::uint32_t level,
                                            std::uint32_t* count, const DsControllerInfo1** infos) override;
    void DsFreeDomainControllerInfo(std::uint32_t level, std::uint32_t count, const DsControllerInfo1* infos) override;
    std::uint32_t DsUnBind(DsBinding** binding) override;

private:
    Options m_options;
    DnsResolver m_dns;
};
