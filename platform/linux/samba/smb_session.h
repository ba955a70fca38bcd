// Authenticated SMB sessions with libsmbclient, reported in Win32 error codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "framework/cstring.h"
#include "platform/linux/names/dns_resolver.h"

typedef struct _SMBCCTX SMBCCTX;

// Who a session logs on as. The password lives in a heap buffer of its own (never in the string's
// inline buffer, which copies and moves would leave behind), written once and wiped whole when
// it changes or the credentials go.
struct SmbCredentials {
    std::string workgroup; // empty: the user name's own domain part, or libsmbclient's default
    std::string user;      // "user", "DOMAIN\user" or "user@dns.domain", as typed
    std::string password;  // UTF-8; read it, replace it only through the constructors and assignment
    // Instead of a password: the Kerberos ticket cache ("FILE:/path") to log on with, Kerberos only.
    std::string ticketCache;

    SmbCredentials() = default;
    SmbCredentials(std::string workgroup, std::string user, std::string_view password);
    // The password converted from the window's or the probe's text straight into its buffer.
    SmbCredentials(std::string workgroup, std::string user, const CString& password);
    SmbCredentials(const SmbCredentials& other);
    SmbCredentials& operator=(const SmbCredentials& other);
    ~SmbCredentials();
};

class SmbSession {
public:
    // Logs on to server (an address, or a name libsmbclient resolves through the system) at
    // port with credentials and lists its shares, which needs a logged-on session; then, when
    // share is not empty, connects that share. timeoutMs bounds each exchange with the server.
    // 0 and the open *session, or a Win32 error code.
    static std::uint32_t Open(const std::string& server, std::uint16_t port, const std::string& share,
                              const SmbCredentials& credentials, int timeoutMs, std::unique_ptr<SmbSession>* session);

    // Logs off and closes the connection.
    ~SmbSession();
    SmbSession(const SmbSession&) = delete;
    SmbSession& operator=(const SmbSession&) = delete;

private:
    explicit SmbSession(const SmbCredentials& credentials);
    static void SupplyCredentials(SMBCCTX* context, const char* server, const char* share, char* workgroup,
                                  int workgroupSize, char* user, int userSize, char* password, int passwordSize);

    SmbCredentials m_credentials;
    SMBCCTX* m_context = nullptr;
};

// Whether code says the server could not be reached at all, as opposed to a refusal from it.
bool IsUnreachableError(std::uint32_t code);

// Direct-hosted SMB (MS-SMB2 2.1); without a port libsmbclient would try NetBIOS on 139 first.
inline constexpr std::uint16_t kSmbPort = 445;

// What libsmbclient is to be given as the server for machine: an IPv4 address as it is; with a
// DNS server given, the first address that server has for the name (ERROR_BAD_NETPATH when it
// has none); otherwise the first IPv4 address the system resolver gives within timeoutMs
// (ERROR_SEM_TIMEOUT when it does not answer in time, ERROR_BAD_NETPATH when the name has no
// address), or the name itself when it has only IPv6 ones, for libsmbclient to look up.
std::uint32_t SmbServerFor(const DnsResolver& dns, const std::string& machine, int timeoutMs, std::string* server);
