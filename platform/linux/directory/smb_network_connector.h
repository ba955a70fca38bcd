// Network connections to a remote machine as authenticated SMB sessions (samba/smb_logon.c).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "directory/network_connector.h"
#include "platform/linux/names/dns_resolver.h"
#include "platform/linux/samba/credential_registry.h"
#include "platform/linux/samba/smb_session.h"

class SmbNetworkConnector : public INetworkConnector {
public:
    struct Options {
        // Machine names are looked up here; without one, through the system resolver.
        std::optional<DnsServer> dnsServer;
        std::uint16_t smbPort = kSmbPort;
        // Bounds each exchange with a server, so a silent one fails in bounded time.
        int timeoutMs = 10000;
        // Where the credentials of each open connection are shared with the rest of the
        // program (the counters of that machine); none when not given.
        CredentialRegistry* credentials = nullptr;
        // When above 0: the machine's SMB port must answer within this before the logon is
        // tried, so that a machine that is not there fails within it.
        int reachTimeoutMs = 0;
    };

    SmbNetworkConnector() : SmbNetworkConnector(Options{}) {}
    explicit SmbNetworkConnector(Options options);
    ~SmbNetworkConnector() override;

    // remoteName is "\\machine" or "\\machine\share". Every successful call holds its own
    // session until CancelConnection; while one is held, a connection to the same machine under
    // another user name fails with ERROR_SESSION_CREDENTIAL_CONFLICT.
    std::uint32_t AddConnection(const CString& remoteName, const CString& password, const CString& userName) override;
    // Ends the latest session opened under remoteName: 0, or ERROR_NOT_CONNECTED.
    std::uint32_t CancelConnection(const CString& remoteName, bool force) override;
    std::uint32_t FormatMessage(std::uint32_t code, char16_t** buffer) override;
    void LocalFree(char16_t* buffer) override;
    CString LastFailureStep() const override { return m_lastFailureStep; }

private:
    struct Connection {
        std::string remoteName; // lower case, as the connection is looked up
        std::string machine;    // lower case
        std::string user;       // lower case
        std::unique_ptr<SmbSession> session;
        CredentialRegistry::Id shared = 0; // in m_options.credentials
    };
    void Withdraw(const Connection& connection);

    // The name's look-up, the port, the logon: 0, or the failure with m_lastFailureStep set.
    std::uint32_t Connect(const std::string& machine, const std::string& share, const SmbCredentials& credentials,
                          std::unique_ptr<SmbSession>* session);

    Options m_options;
    DnsResolver m_dns;
    CString m_lastFailureStep;
    std::vector<Connection> m_connections;
};
