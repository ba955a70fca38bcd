// The health checks of a domain controller with Linux's libraries (IHealthService).
#pragma once

#include <cstdint>
#include <optional>

#include "directory/health_check.h"
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

private:
    Options m_options;
};
