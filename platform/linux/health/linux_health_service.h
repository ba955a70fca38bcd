// The health checks of a domain controller with Linux's libraries (IHealthService).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "directory/health_check.h"
#include "platform/linux/health/controller_link.h"
#include "platform/linux/names/dns_resolver.h"

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
    // Runs bound with the controller's host name and the ticket cache its GSSAPI bind uses:
    // the target's (or the user's own), or with a password one made from the controller's KDC.
    HealthProbe
    WithLdapTickets(const HealthTarget& target, const std::string& address, HealthDeadline deadline,
                    const std::function<HealthProbe(const std::string& host, const std::string& cache)>& bound);

    Options m_options;
};
