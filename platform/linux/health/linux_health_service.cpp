#include "platform/linux/health/linux_health_service.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "directory/win32_error_text.h"
#include "platform/linux/health/controller_link.h"
#include "platform/linux/health/kdc_exchange.h"
#include "platform/linux/health/ldap_checks.h"
#include "platform/linux/samba/smb_reach.h"
#include "platform/linux/samba/smb_session.h"

namespace {

constexpr std::uint16_t kLdapPort = 389;

HealthDeadline DeadlineIn(int timeoutMs)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

bool IsAddress(const std::string& name)
{
    return std::all_of(name.begin(), name.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

std::string DnsFailure(DnsStatus status, const std::string& name, const std::string& server)
{
    return status == DnsStatus::NotFound ? "the DNS server at " + server + " has no " + name
                                         : "the DNS server at " + server + " did not answer for " + name;
}

} // namespace

RootDseReading LinuxHealthService::ReadRootDse(const HealthTarget& target, std::uint16_t port, int timeoutMs)
{
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    RootDseReading reading;
    const std::string address = ControllerAddress(m_options.dnsServer, target, deadline, &reading.probe.detail);
    return address.empty() ? reading : ReadRootDseAt(target.controller, address, port, deadline);
}

HealthProbe LinuxHealthService::BindAndReadDomain(const HealthTarget& target, int timeoutMs)
{
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    HealthProbe probe;
    const std::string address = ControllerAddress(m_options.dnsServer, target, deadline, &probe.detail);
    if (address.empty())
        return probe;
    if (IsAddress(target.controller))
        return { false, "a Kerberos bind needs the controller's DNS name, not its address" };
    return WithLdapTickets(target, address, deadline, [&](const std::string& host, const std::string& cache) {
        return BindAndReadDomainAt(host, address, kLdapPort, cache, deadline);
    });
}

HealthProbe LinuxHealthService::ReadConfigurationValue(const HealthTarget& target, const std::string& relativeDn,
                                                       const std::string& attribute, int timeoutMs,
                                                       std::optional<std::string>* value)
{
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    HealthProbe probe;
    value->reset();
    const std::string address = ControllerAddress(m_options.dnsServer, target, deadline, &probe.detail);
    if (address.empty())
        return probe;
    if (IsAddress(target.controller))
        return { false, "a Kerberos bind needs the controller's DNS name, not its address" };
    return WithLdapTickets(target, address, deadline, [&](const std::string& host, const std::string& cache) {
        return ReadConfigurationValueAt(host, address, kLdapPort, cache, relativeDn, attribute, deadline, value);
    });
}

HealthProbe LinuxHealthService::WithLdapTickets(
    const HealthTarget& target, const std::string& address, HealthDeadline deadline,
    const std::function<HealthProbe(const std::string& host, const std::string& cache)>& bound)
{
    const std::string host = Lower(target.controller);
    if (target.user.IsEmpty() || !target.ticketCache.empty())
        return bound(host, target.ticketCache);
    // With a password: the tickets from this controller's KDC, in a cache of this bind's own.
    static std::atomic<unsigned> caches{ 0 };
    const std::string cache = "MEMORY:zeltor-health-" + std::to_string(++caches);
    std::string password = target.password.ToUtf8();
    bool refused = false;
    const std::string error = GetServiceTicket(address, m_options.kdcPort, HealthPrincipal(target), password,
                                               "ldap/" + host, cache, deadline, &refused);
    std::fill(password.begin(), password.end(), '\0');
    HealthProbe probe = error.empty() ? bound(host, cache) : HealthProbe{ false, error, refused };
    DestroyTicketCache(cache);
    return probe;
}

HealthProbe LinuxHealthService::AskKdc(const HealthTarget& target, int timeoutMs)
{
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    HealthProbe probe;
    const std::string address = ControllerAddress(m_options.dnsServer, target, deadline, &probe.detail);
    if (address.empty())
        return probe;
    if (target.Domain().empty())
        return { false, "no realm: give the controller's DNS name or the domain" };
    return AskKdcFor(address, m_options.kdcPort, HealthPrincipal(target), deadline);
}

HealthProbe LinuxHealthService::CheckDnsRecords(const HealthTarget& target, int timeoutMs)
{
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    HealthProbe probe;
    const std::string address = ControllerAddress(m_options.dnsServer, target, deadline, &probe.detail);
    if (address.empty())
        return probe;
    const std::string domain = target.Domain();
    if (IsAddress(target.controller) || domain.empty())
        return { false, "the records are checked for the controller's DNS name: give it instead of its address" };
    const std::string host = Lower(target.controller);
    // The controller's own server, asked for the names of the domain it registers.
    const DnsResolver dns(DnsServer{ address, m_options.dnsPort, {} });
    for (const std::string& name : { "_ldap._tcp.dc._msdcs." + domain, "_kerberos._tcp." + domain }) {
        if (std::chrono::steady_clock::now() >= deadline)
            return { false, "no answer within the bound for " + name };
        std::vector<SrvRecord> records;
        if (const DnsStatus status = dns.QuerySrv(name, &records); status != DnsStatus::Ok)
            return { false, DnsFailure(status, name, address) };
        const bool listed = std::any_of(records.begin(), records.end(),
                                        [&](const SrvRecord& record) { return Lower(record.target) == host; });
        if (!listed)
            return { false, std::string(name).append(" does not list ").append(host) };
    }
    std::vector<std::string> addresses;
    if (const DnsStatus status = dns.QueryIpv4(host + ".", &addresses); status != DnsStatus::Ok)
        return { false, DnsFailure(status, host + " A", address) };
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
        return { false, "the A records of " + host + " do not hold " + address };
    return { true, "_ldap._tcp.dc._msdcs." + domain + ", _kerberos._tcp." + domain + " and " + host + " A " + address };
}

HealthProbe LinuxHealthService::ReachShare(const HealthTarget& target, const std::string& share, int timeoutMs)
{
    // The port first, without Samba's libraries, so that a silent controller holds no one else.
    std::string address;
    const DnsResolver dns(m_options.dnsServer);
    if (std::uint32_t reached = ReachSmbPort(dns, target.address.empty() ? target.controller : target.address,
                                             m_options.smbPort, timeoutMs, &address);
        reached != 0) {
        const char16_t* text = Win32ErrorText(reached);
        return { false, "\\\\" + target.controller + ": " +
                            (text != nullptr ? CString(text).ToUtf8() : std::to_string(reached)) };
    }
    SmbCredentials credentials({}, target.user.ToUtf8(), target.password);
    credentials.ticketCache = target.ticketCache;
    std::unique_ptr<SmbSession> session;
    const std::uint32_t opened = SmbSession::Open(address, m_options.smbPort, share, credentials, timeoutMs, &session);
    const std::string path = "\\\\" + target.controller + "\\" + share;
    if (opened == 0)
        return { true, path + " connected" };
    const char16_t* text = Win32ErrorText(opened);
    std::string words = text != nullptr ? CString(text).ToUtf8() : "error " + std::to_string(opened);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r'))
        words.pop_back();
    return { false, path + ": " + words, IsRefusedLogon(opened) };
}
