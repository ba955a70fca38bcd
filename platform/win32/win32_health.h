// The health checks of a domain controller with the system's own libraries (IHealthService):
// the directory through wldap32 (a Negotiate bind: Kerberos, or NTLM where no ticket can be
// had), the controller's DNS server through dnsapi, its KDC through the Kerberos package, and
// its shares through the network connections the program makes anyway.
#pragma once

#include "directory/health_check.h"

class Win32HealthService : public IHealthService {
public:
    RootDseReading ReadRootDse(const HealthTarget& target, std::uint16_t port, int timeoutMs) override;
    HealthProbe BindAndReadDomain(const HealthTarget& target, int timeoutMs) override;
    HealthProbe AskKdc(const HealthTarget& target, int timeoutMs) override;
    HealthProbe CheckDnsRecords(const HealthTarget& target, int timeoutMs) override;
    HealthProbe ReachShare(const HealthTarget& target, const std::string& share, int timeoutMs) override;
};
