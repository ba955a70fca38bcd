#include "platform/linux/samba/smb_session.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <vector>

#include "directory/win32_error_text.h"
#include "framework/secret_text.h"
#include "platform/linux/names/host_lookup.h"
#include "platform/linux/samba/smb_logon.h"

SmbCredentials::SmbCredentials(std::string workgroup, std::string user, std::string_view password)
    : workgroup(std::move(workgroup)), user(std::move(user))
{
    PrepareSecretText(this->password, password.size());
    this->password.append(password);
}

SmbCredentials::SmbCredentials(std::string workgroup, std::string user, const CString& password)
    : workgroup(std::move(workgroup)), user(std::move(user))
{
    // Room for the longest UTF-8 form, so that the conversion never moves the text.
    PrepareSecretText(this->password, 3 * password.size());
    AppendUtf16AsUtf8(this->password, password);
}

SmbCredentials::SmbCredentials(const SmbCredentials& other)
    : workgroup(other.workgroup), user(other.user), ticketCache(other.ticketCache)
{
    PrepareSecretText(password, other.password.size());
    password.append(other.password);
}

SmbCredentials& SmbCredentials::operator=(const SmbCredentials& other)
{
    if (this != &other) {
        workgroup = other.workgroup;
        user = other.user;
        ticketCache = other.ticketCache;
        PrepareSecretText(password, other.password.size());
        password.append(other.password);
    }
    return *this;
}

SmbCredentials::~SmbCredentials()
{
    WipeText(password);
}

SmbSession::~SmbSession()
{
    smb_logon_close(m_logon);
}

std::uint32_t SmbSession::Open(const std::string& server, std::uint16_t port, const std::string& share,
                               const SmbCredentials& credentials, int timeoutMs, std::unique_ptr<SmbSession>* session)
{
    if (server.empty())
        return win32_error::kBadNetPath;
    // A workgroup given apart goes in front of a name that has no domain part of its own.
    const bool ownDomain = credentials.user.find_first_of("\\@") != std::string::npos;
    const std::string user =
        credentials.workgroup.empty() || ownDomain ? credentials.user : credentials.workgroup + "\\" + credentials.user;
    samba_connect_options options{};
    options.server = server.c_str();
    options.target_name = server.c_str();
    options.logon = SAMBA_LOGON_PASSWORD;
    options.user = user.c_str();
    options.password = credentials.password.c_str();
    options.port = port;
    options.connect_timeout_ms = static_cast<unsigned>(std::max(timeoutMs, 1));
    options.call_timeout_seconds = static_cast<unsigned>(std::max((timeoutMs + 999) / 1000, 1));
    smb_logon* logon = nullptr;
    if (std::uint32_t result = smb_logon_open(&options, share.empty() ? nullptr : share.c_str(), &logon); result != 0)
        return result;
    session->reset(new SmbSession(logon));
    return 0;
}

std::uint32_t SmbSession::AskForShare(const std::string& share, int timeoutMs)
{
    return smb_logon_ask_for_share(m_logon, share.c_str(),
                                   static_cast<unsigned>(std::max((timeoutMs + 999) / 1000, 1)));
}

bool SmbSession::Failed() const
{
    return smb_logon_failed(m_logon);
}

bool IsUnreachableError(std::uint32_t code)
{
    return code == win32_error::kBadNetPath || code == win32_error::kSemTimeout || code == win32_error::kNoNetwork;
}

std::uint32_t SmbServerFor(const DnsResolver& dns, const std::string& machine, int timeoutMs, std::string* server)
{
    in_addr address{};
    if (inet_pton(AF_INET, machine.c_str(), &address) == 1) {
        *server = machine;
        return 0;
    }
    if (!dns.HasServer()) {
        std::vector<HostAddress> found;
        if (const int result = LookUpHostWithin(machine, kSmbPort, timeoutMs, &found); result != 0)
            return result == EAI_AGAIN ? win32_error::kSemTimeout : win32_error::kBadNetPath;
        // The first IPv4 address, else the first IPv6 one.
        std::stable_partition(found.begin(), found.end(),
                              [](const HostAddress& a) { return a.address.ss_family == AF_INET; });
        for (const HostAddress& a : found) {
            char text[INET6_ADDRSTRLEN] = {};
            const void* raw =
                a.address.ss_family == AF_INET6
                    ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&a.address)->sin6_addr)
                    : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&a.address)->sin_addr);
            if (inet_ntop(a.address.ss_family, raw, text, sizeof text) != nullptr) {
                *server = text;
                return 0;
            }
        }
        return win32_error::kBadNetPath;
    }
    std::vector<std::string> addresses;
    if (dns.QueryIpv4(machine, &addresses) != DnsStatus::Ok || addresses.empty())
        return win32_error::kBadNetPath;
    *server = addresses.front();
    return 0;
}
