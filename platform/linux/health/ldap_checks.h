// The LDAP checks with OpenLDAP's libldap over a connection of our own making: the rootDSE read
// anonymously, and a bind with Kerberos (Cyrus SASL's GSSAPI) followed by a read of the domain
// object.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "directory/health_check.h"
#include "platform/linux/health/controller_link.h"

struct ldap;

// A connection to a controller's LDAP server, anonymous or bound with GSSAPI (Kerberos), which
// later checks can use again.
class LdapConnection {
public:
    // Connects to the controller (named host, at address) at port, before deadline: the
    // connection, anonymous, or none and why in *failure.
    static std::unique_ptr<LdapConnection> Open(const std::string& host, const std::string& address, std::uint16_t port,
                                                HealthDeadline deadline, HealthProbe* failure);
    // The same, then bound with GSSAPI as the tickets of cacheName (empty: the user's own cache)
    // hold, for the service ldap/host.
    static std::unique_ptr<LdapConnection> OpenBound(const std::string& host, const std::string& address,
                                                     std::uint16_t port, const std::string& cacheName,
                                                     HealthDeadline deadline, HealthProbe* failure);

    // The rootDSE, as anyone may read it.
    RootDseReading ReadRootDse(HealthDeadline deadline);
    // Reads the domain object: a client can really use the bind.
    HealthProbe ReadDomain(HealthDeadline deadline);
    // Reads attribute of the object relativeDn under the configuration naming context: its first
    // value in *value, none when the object has no value.
    HealthProbe ReadConfigurationValue(const std::string& relativeDn, const std::string& attribute,
                                       HealthDeadline deadline, std::optional<std::string>* value);
    // Whether the connection failed (not a read alone): it is not to be used again.
    bool Failed() const { return m_failed; }

    ~LdapConnection();
    LdapConnection(const LdapConnection&) = delete;
    LdapConnection& operator=(const LdapConnection&) = delete;

private:
    LdapConnection(ldap* ld, std::string place) : m_ld(ld), m_place(std::move(place)) {}
    // The value of one attribute of the rootDSE.
    int ReadNamingContext(const char* attribute, HealthDeadline deadline, std::string* dn);

    ldap* m_ld;
    std::string m_place; // address:port
    bool m_failed = false;
};
