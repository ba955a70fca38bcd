// HKEY_PERFORMANCE_DATA of another machine over its Remote Registry (the winreg pipe over SMB),
// with Samba's client libraries, as the user of the network connection the program opened to
// that machine; without one, as the user's Kerberos ticket, else anonymously.
#pragma once

#include <optional>

#include "platform/linux/credential_registry.h"
#include "platform/linux/dns_resolver.h"
#include "platform/linux/performance_registry.h"

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

// The address of machine's SMB port once something answers there within timeoutMs, the name's
// look-up included: 0, or ERROR_BAD_NETPATH (no such name, nothing listens) or ERROR_SEM_TIMEOUT
// (no answer in time).
std::uint32_t ReachSmbPort(const DnsResolver& dns, const std::string& machine, std::uint16_t port, int timeoutMs,
                           std::string* address);
