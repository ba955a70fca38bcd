#include "platform/linux/health/linux_health_service.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <random>

#include "directory/win32_error_text.h"
#include "framework/secret_text.h"
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

bool Passed(HealthDeadline deadline)
{
    return std::chrono::steady_clock::now() >= deadline;
}

bool IsAddress(const std::string& name)
{
    return std::all_of(name.begin(), name.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// What tells one controller's logon with one set of credentials from another: the password only
// through a digest salted with this process's own random text.
std::string LogonKey(const HealthTarget& target, const std::string& address)
{
    static const std::string salt = [] {
        std::random_device random;
        return std::to_string(random()) + std::to_string(random());
    }();
    std::string salted;
    PrepareSecretText(salted, salt.size() + target.password.size() * 3);
    salted += salt;
    AppendUtf16AsUtf8(salted, target.password);
    const std::size_t digest = std::hash<std::string>{}(salted);
    WipeText(salted);
    return Lower(target.controller) + "|" + address + "|" + target.user.ToUtf8() + "|" + target.ticketCache + "|" +
           std::to_string(digest);
}

// The share check's answer: connected, or the system's words for the failure.
HealthProbe ShareProbe(const std::string& path, std::uint32_t result)
{
    if (result == 0)
        return { true, path + " connected" };
    const char16_t* text = Win32ErrorText(result);
    std::string words = text != nullptr ? CString(text).ToUtf8() : "error " + std::to_string(result);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r'))
        words.pop_back();
    return { false, path + ": " + words, IsRefusedLogon(result) };
}

std::string DnsFailure(DnsStatus status, const std::string& name, const std::string& server)
{
    return status == DnsStatus::NotFound ? "the DNS server at " + server + " has no " + name
                                         : "the DNS server at " + server + " did not answer for " + name;
}

} // namespace

std::string LinuxHealthService::AddressOf(const HealthTarget& target, HealthDeadline deadline, std::string* error)
{
    if (!target.address.empty())
        return target.address;
    const std::string name = Lower(target.controller);
    const auto now = std::chrono::steady_clock::now();
    {
        const std::lock_guard lock(m_addressesMutex);
        if (const auto found = m_addresses.find(name);
            found != m_addresses.end() && now - found->second.foundAt < kAddressLifetime)
            return found->second.address;
    }
    std::string address = ControllerAddress(m_options.dnsServer, target, deadline, error);
    if (!address.empty()) {
        const std::lock_guard lock(m_addressesMutex);
        m_addresses[name] = FoundAddress{ address, now };
    }
    return address;
}

RootDseReading LinuxHealthService::ReadRootDse(const HealthTarget& target, std::uint16_t port, int timeoutMs)
{
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    RootDseReading reading;
    const std::string address = AddressOf(target, deadline, &reading.probe.detail);
    if (address.empty())
        return reading;
    auto lease = m_anonymous.Take(Lower(target.controller) + "|" + address + ":" + std::to_string(port), deadline);
    if (!lease) {
        reading.probe.detail = "no answer within the bound: another check still reads the rootDSE at " + address;
        return reading;
    }
    if (LdapConnection* kept = lease->get()) {
        reading = kept->ReadRootDse(deadline);
        if (!kept->Failed())
            return reading;
        lease->Drop();
        if (Passed(deadline)) // silent, not closed: another connection would not be answered either
            return reading;
    }
    std::unique_ptr<LdapConnection> connection =
        LdapConnection::Open(target.controller, address, port, deadline, &reading.probe);
    if (connection == nullptr)
        return reading;
    reading = connection->ReadRootDse(deadline);
    if (!connection->Failed())
        lease->Keep(std::move(connection));
    return reading;
}

HealthProbe LinuxHealthService::BindAndReadDomain(const HealthTarget& target, int timeoutMs)
{
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    HealthProbe probe;
    const std::string address = AddressOf(target, deadline, &probe.detail);
    if (address.empty())
        return probe;
    if (IsAddress(target.controller))
        return { false, "a Kerberos bind needs the controller's DNS name, not its address" };
    return WithBinding(target, address, deadline, KeepBind::Yes,
                       [&](LdapConnection& binding) { return binding.ReadDomain(deadline); });
}

HealthProbe LinuxHealthService::ReadConfigurationValue(const HealthTarget& target, const std::string& relativeDn,
                                                       const std::string& attribute, int timeoutMs,
                                                       std::optional<std::string>* value)
{
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    HealthProbe probe;
    value->reset();
    const std::string address = AddressOf(target, deadline, &probe.detail);
    if (address.empty())
        return probe;
    if (IsAddress(target.controller))
        return { false, "a Kerberos bind needs the controller's DNS name, not its address" };
    // Read once a connection of its caller: a bind of its own is not kept for a next read.
    return WithBinding(target, address, deadline, KeepBind::No, [&](LdapConnection& binding) {
        return binding.ReadConfigurationValue(relativeDn, attribute, deadline, value);
    });
}

HealthProbe LinuxHealthService::WithBinding(const HealthTarget& target, const std::string& address,
                                            HealthDeadline deadline, KeepBind keep,
                                            const std::function<HealthProbe(LdapConnection& binding)>& read)
{
    auto lease = m_binds.Take(LogonKey(target, address), deadline);
    if (!lease)
        return { false, "no answer within the bound: another check of " + target.controller + " still holds its bind" };
    if (LdapConnection* kept = lease->get()) {
        HealthProbe probe = read(*kept);
        if (!kept->Failed())
            return probe;
        lease->Drop();
        if (Passed(deadline))
            return probe;
    }
    return WithLdapTickets(target, address, deadline, [&](const std::string& host, const std::string& cache) {
        HealthProbe failure;
        std::unique_ptr<LdapConnection> binding =
            LdapConnection::OpenBound(host, address, kLdapPort, cache, deadline, &failure);
        if (binding == nullptr)
            return failure;
        HealthProbe probe = read(*binding);
        if (keep == KeepBind::Yes && !binding->Failed())
            lease->Keep(std::move(binding));
        return probe;
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
    const std::string address = AddressOf(target, deadline, &probe.detail);
    if (address.empty())
        return probe;
    if (target.Domain().empty())
        return { false, "no realm: give the controller's DNS name or the domain" };
    return AskKdcFor(m_kerberos, address, m_options.kdcPort, HealthPrincipal(target), deadline);
}

HealthProbe LinuxHealthService::CheckDnsRecords(const HealthTarget& target, int timeoutMs)
{
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    HealthProbe probe;
    const std::string address = AddressOf(target, deadline, &probe.detail);
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
    const HealthDeadline deadline = DeadlineIn(timeoutMs);
    const std::string path = "\\\\" + target.controller + "\\" + share;
    const std::string machine = target.address.empty() ? target.controller : target.address;
    // SYSVOL and NETLOGON over one logon, the one the last check kept when it still answers.
    auto lease = m_shareLogons.Take(LogonKey(target, machine), deadline);
    if (!lease)
        return { false, path + ": no answer within the bound: another check of the shares still holds the logon" };
    std::uint32_t result = 0;
    if (SmbSession* kept = lease->get()) {
        result = kept->AskForShare(share, MsBefore(deadline));
        if (!kept->Failed())
            return ShareProbe(path, result);
        lease->Drop();
        if (Passed(deadline))
            return ShareProbe(path, result);
    }
    // The port first, without Samba's libraries, so that a silent controller holds no one else.
    std::string address;
    const DnsResolver dns(m_options.dnsServer);
    if (std::uint32_t reached = ReachSmbPort(dns, machine, m_options.smbPort, MsBefore(deadline), &address);
        reached != 0) {
        const char16_t* text = Win32ErrorText(reached);
        return { false, "\\\\" + target.controller + ": " +
                            (text != nullptr ? CString(text).ToUtf8() : std::to_string(reached)) };
    }
    SmbCredentials credentials({}, target.user.ToUtf8(), target.password);
    credentials.ticketCache = target.ticketCache;
    std::unique_ptr<SmbSession> session;
    result = SmbSession::Open(address, m_options.smbPort, {}, credentials, MsBefore(deadline), &session);
    if (result == 0) {
        result = session->AskForShare(share, MsBefore(deadline));
        if (!session->Failed())
            lease->Keep(std::move(session));
    }
    return ShareProbe(path, result);
}
