// The health checks of a domain controller with Linux's libraries (IHealthService).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "directory/health_check.h"
#include "directory/kept_connections.h"
#include "platform/linux/health/controller_link.h"
#include "platform/linux/health/kdc_exchange.h"
#include "platform/linux/health/ldap_checks.h"
#include "platform/linux/names/dns_resolver.h"
#include "platform/linux/samba/smb_session.h"

// The connections of a check are kept for the next checks of the same controller (KeptConnections):
// the anonymous LDAP connections, and with the same credentials the LDAP bind and the shares' SMB
// logon. A check in the steady state makes no connection and no logon; each is made again at
// least every kKeptLogonLifetime, and at once when the kept one fails.
class LinuxHealthService : public IHealthService {
public:
    struct Options {
        // Where the controller's name is looked up; none: the system's resolver.
        std::optional<DnsServer> dnsServer;
        // The controller's own services.
        std::uint16_t dnsPort = 53;
        std::uint16_t kdcPort = 88;
        std::uint16_t smbPort = 445;
    };

    LinuxHealthService() = default;
    explicit LinuxHealthService(Options options) : m_options(std::move(options)) {}

    RootDseReading ReadRootDse(const HealthTarget& target, std::uint16_t port, int timeoutMs) override;
    HealthProbe BindAndReadDomain(const HealthTarget& target, int timeoutMs) override;
    HealthProbe AskKdc(const HealthTarget& target, int timeoutMs) override;
    HealthProbe CheckDnsRecords(const HealthTarget& target, int timeoutMs) override;
    HealthProbe ReachShare(const HealthTarget& target, const std::string& share, int timeoutMs) override;

    // The first value of attribute of the object relativeDn under the configuration naming
    // context, read after the bind BindAndReadDomain makes; none when the object has no value.
    HealthProbe ReadConfigurationValue(const HealthTarget& target, const std::string& relativeDn,
                                       const std::string& attribute, int timeoutMs, std::optional<std::string>* value);

private:
    // How long a controller's address, once looked up, serves its checks: so that a check's
    // exchanges and the next checks do not each ask the resolver. Well within the 20 minutes
    // Active Directory gives its address records to live.
    static constexpr std::chrono::minutes kAddressLifetime{ 5 };
    struct FoundAddress {
        std::string address;
        std::chrono::steady_clock::time_point foundAt;
    };
    // The target's address, else the controller's as last looked up.
    std::string AddressOf(const HealthTarget& target, HealthDeadline deadline, std::string* error);

    enum class KeepBind { No, Yes };
    // The read over the bind kept for the target at address, else over a bind made now (and kept
    // when keep says so).
    HealthProbe WithBinding(const HealthTarget& target, const std::string& address, HealthDeadline deadline,
                            KeepBind keep, const std::function<HealthProbe(LdapConnection& binding)>& read);
    // Runs bound with the controller's host name and the ticket cache its GSSAPI bind uses:
    // the target's (or the user's own), or with a password one made from the controller's KDC.
    HealthProbe
    WithLdapTickets(const HealthTarget& target, const std::string& address, HealthDeadline deadline,
                    const std::function<HealthProbe(const std::string& host, const std::string& cache)>& bound);

    Options m_options;
    std::mutex m_addressesMutex;
    std::map<std::string, FoundAddress> m_addresses; // by the controller's name
    KerberosContexts m_kerberos;
    KeptConnections<SmbSession> m_shareLogons;
    KeptConnections<LdapConnection> m_anonymous;
    KeptConnections<LdapConnection> m_binds;
};
