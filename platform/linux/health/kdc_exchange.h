// Kerberos exchanges with one controller's own KDC: the messages are made and read by MIT's
// library and sent by us over TCP to that controller alone, never to another KDC of the realm.
#pragma once

#include <krb5/krb5.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "directory/health_check.h"
#include "platform/linux/health/controller_link.h"

inline constexpr std::uint16_t kKdcPort = 88;

// The principal a check asks for: the user's ("DOMAIN\user" and "user" in realm, "user@domain"
// in that domain's realm), or without a user the controller's own computer account.
std::string HealthPrincipal(const HealthTarget& target);

// MIT Kerberos contexts kept for the next requests: making one reads the configuration and opens
// the library's plugins. Each is used by one request at a time; they go with the object.
class KerberosContexts {
public:
    KerberosContexts() = default;
    ~KerberosContexts();
    KerberosContexts(const KerberosContexts&) = delete;
    KerberosContexts& operator=(const KerberosContexts&) = delete;

    // An idle context, else a new one: 0, or MIT's error code.
    krb5_error_code Take(krb5_context* context);
    // A context taken, idle again.
    void Give(krb5_context context);

private:
    std::mutex m_mutex;
    std::vector<krb5_context> m_idle;
};

// An AS-REQ for principal without pre-authentication: a KDC that asks for it, or gives a ticket
// without, has answered; any other error it sends is the check's failure in its words. No key
// is ever sent, so the account's bad password count is not touched.
HealthProbe AskKdcFor(KerberosContexts& contexts, const std::string& address, std::uint16_t port,
                      const std::string& principal, HealthDeadline deadline);

// A ticket for service (e.g. ldap/dc1.example.com) got with password from that KDC alone, into
// the memory cache cacheName ("MEMORY:..."), which the caller destroys. Empty, or why not, with
// *refused set when the KDC refused the password or the account.
std::string GetServiceTicket(const std::string& address, std::uint16_t port, const std::string& principal,
                             const std::string& password, const std::string& service, const std::string& cacheName,
                             HealthDeadline deadline, bool* refused);

// Destroys a memory cache that GetServiceTicket made.
void DestroyTicketCache(const std::string& cacheName);
