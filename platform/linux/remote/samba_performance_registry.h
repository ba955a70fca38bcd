// HKEY_PERFORMANCE_DATA of another machine over its Remote Registry (the winreg pipe over SMB),
// with Samba's client libraries, as the user of the network connection the program opened to
// that machine; without one, as the user's Kerberos ticket, else anonymously.
#pragma once

#include <optional>

#include "platform/linux/names/dns_resolver.h"
#include "platform/linux/remote/performance_registry.h"
#include "platform/linux/samba/credential_registry.h"

struct RemoteCounterOptions {
    // Machine names are looked up here; without one, through the system resolver.
    std::optional<DnsServer> dnsServer;
    std::uint16_t smbPort = kSmbPort;
    // Bounds the whole connection: the name's look-up, the SMB port's answer, the logon, the pipe
    // and the key.
    int connectTimeoutMs = 10000;
    // Bounds the look-up and the wait for the machine's SMB port to answer, within the above, so
    // a machine that is not there fails quickly.
    int reachTimeoutMs = 3000;
    // Bounds each call once connected, in whole seconds.
    unsigned callTimeoutSeconds = 5;
};

class SambaPerformanceRegistry : public IPerformanceRegistry {
public:
    SambaPerformanceRegistry(CredentialRegistry& credentials, RemoteCounterOptions options);

    std::uint32_t Open(const std::string& machine, std::unique_ptr<IPerformanceKey>* key) override;

private:
    CredentialRegistry& m_credentials;
    RemoteCounterOptions m_options;
    DnsResolver m_dns;
};
