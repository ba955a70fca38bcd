// Authenticated SMB sessions (samba/smb_logon.c), reported in Win32 error codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "framework/cstring.h"
#include "platform/linux/names/dns_resolver.h"

typedef struct smb_logon smb_logon;

// Who a session logs on as. The password lives in a heap buffer of its own (never in the string's
// inline buffer, which copies and moves would leave behind), written once and wiped whole when
// it changes or the credentials go.
struct SmbCredentials {
    std::string workgroup; // empty: the user name's own domain part, or none
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
    // Logs on to server (an address) at port with credentials and opens its server service's
    // pipe, which needs a logged-on session; then, when share is not empty, asks the server for
    // that share. timeoutMs bounds the whole logon, and each exchange after it. Waits on the
    // network never hold another thread's calls into Samba's libraries (samba_calls.c). The
    // port must have answered first (ReachSmbPort): Samba's client reports a connection refused
    // there as a lack of memory (ERROR_NOT_ENOUGH_MEMORY).
    // 0 and the open *session, or a Win32 error code.
    static std::uint32_t Open(const std::string& server, std::uint16_t port, const std::string& share,
                              const SmbCredentials& credentials, int timeoutMs, std::unique_ptr<SmbSession>* session);

    // Asks the server for share over this logon, within timeoutMs (in whole seconds): 0, or a
    // Win32 error code (ERROR_BAD_NET_NAME: no such share).
    std::uint32_t AskForShare(const std::string& share, int timeoutMs);
    // Whether an exchange failed: the logon is not to be used again.
    bool Failed() const;

    // Logs off and closes the connection.
    ~SmbSession();
    SmbSession(const SmbSession&) = delete;
    SmbSession& operator=(const SmbSession&) = delete;

private:
    explicit SmbSession(smb_logon* logon) : m_logon(logon) {}

    smb_logon* m_logon;
};

// Whether code says the server could not be reached at all, as opposed to a refusal from it.
bool IsUnreachableError(std::uint32_t code);

// Direct-hosted SMB (MS-SMB2 2.1), never NetBIOS on 139.
inline constexpr std::uint16_t kSmbPort = 445;

// The address to log on to for machine: an IPv4 address as it is; with a DNS server given, the
// first address that server has for the name (ERROR_BAD_NETPATH when it has none or does not
// answer); otherwise the
// first address the system resolver gives within timeoutMs, IPv4 before IPv6 (ERROR_SEM_TIMEOUT
// when it does not answer in time, ERROR_BAD_NETPATH when the name has no address).
std::uint32_t SmbServerFor(const DnsResolver& dns, const std::string& machine, int timeoutMs, std::string* server);
