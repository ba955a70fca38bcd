#include "platform/linux/health/ldap_checks.h"

#include <gssapi/gssapi_krb5.h>
#include <ldap.h>
#include <openldap.h>
#include <sasl/sasl.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace {

const char* const kRootDseAttributes[] = {
    "currentTime", "isSynchronized", "isGlobalCatalogReady", "highestCommittedUSN", "dnsHostName", nullptr,
};

std::int64_t UnixMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What is left before the deadline, as libldap's bounds take it.
timeval BoundBefore(HealthDeadline deadline)
{
    const int ms = MsBefore(deadline);
    return { ms / 1000, static_cast<suseconds_t>(ms % 1000) * 1000 };
}

// An LDAP session on a socket connected before deadline, every synchronous call bounded by it.
LDAP* Open(const std::string& host, const std::string& address, std::uint16_t port, HealthDeadline deadline,
           std::string* error)
{
    const int fd = ConnectBefore(address, port, deadline, error);
    if (fd < 0)
        return nullptr;
    LDAP* ld = nullptr;
    // The URL names the controller, which the SASL bind asks a ticket for; the socket is ours.
    const std::string url = "ldap://" + host + ":" + std::to_string(port);
    if (const int rc = ldap_init_fd(fd, LDAP_PROTO_TCP, url.c_str(), &ld); rc != LDAP_SUCCESS) {
        close(fd);
        *error = std::string("LDAP cannot start: ") + ldap_err2string(rc);
        return nullptr;
    }
    const int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(ld, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
    timeval bound = BoundBefore(deadline);
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &bound);
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &bound);
    return ld;
}

// The library's text for rc and the server's diagnostic message, if it sent one.
std::string Failure(LDAP* ld, int rc, const std::string& what)
{
    std::string text = what + ": " + ldap_err2string(rc);
    char* diagnostic = nullptr;
    if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS && diagnostic != nullptr) {
        if (*diagnostic != '\0')
            text += " (" + std::string(diagnostic) + ")";
        ldap_memfree(diagnostic);
    }
    return text;
}

std::string FirstValue(LDAP* ld, LDAPMessage* entry, const char* attribute)
{
    berval** values = ldap_get_values_len(ld, entry, attribute);
    std::string value;
    if (values != nullptr && values[0] != nullptr)
        value.assign(values[0]->bv_val, values[0]->bv_len);
    ldap_value_free_len(values);
    return value;
}

// A base search of dn for attributes; rc, and the entry in *result (freed by the caller).
int ReadEntry(LDAP* ld, const char* dn, const char* const* attributes, HealthDeadline deadline, LDAPMessage** result,
              LDAPMessage** entry)
{
    timeval bound = BoundBefore(deadline);
    const int rc = ldap_search_ext_s(ld, dn, LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(attributes), 0,
                                     nullptr, nullptr, &bound, 1, result);
    *entry = rc == LDAP_SUCCESS ? ldap_first_entry(ld, *result) : nullptr;
    return rc == LDAP_SUCCESS && *entry == nullptr ? LDAP_NO_SUCH_OBJECT : rc;
}

// GSSAPI asks nothing of the user: every prompt gets its default.
int Interact(LDAP*, unsigned, void*, void* prompts)
{
    for (auto* prompt = static_cast<sasl_interact_t*>(prompts); prompt->id != SASL_CB_LIST_END; ++prompt) {
        prompt->result = prompt->defresult != nullptr ? prompt->defresult : "";
        prompt->len = static_cast<unsigned>(std::char_traits<char>::length(static_cast<const char*>(prompt->result)));
    }
    return LDAP_SUCCESS;
}

// A GSSAPI bind with the tickets of cacheName (empty: the user's own cache).
int BindWithTickets(LDAP* ld, const std::string& cacheName)
{
    // The GSSAPI mechanism takes its tickets from this thread's cache name.
    OM_uint32 minor = 0;
    const char* previous = nullptr;
    std::string before;
    if (!cacheName.empty()) {
        gss_krb5_ccache_name(&minor, cacheName.c_str(), &previous);
        before = previous != nullptr ? previous : "";
    }
    const int rc =
        ldap_sasl_interactive_bind_s(ld, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET, Interact, nullptr);
    if (!cacheName.empty())
        gss_krb5_ccache_name(&minor, before.empty() ? nullptr : before.c_str(), nullptr);
    return rc;
}

} // namespace

std::unique_ptr<LdapConnection> LdapConnection::Open(const std::string& host, const std::string& address,
                                                     std::uint16_t port, HealthDeadline deadline, HealthProbe* failure)
{
    LDAP* ld = ::Open(host, address, port, deadline, &failure->detail);
    if (ld == nullptr)
        return nullptr;
    return std::unique_ptr<LdapConnection>(new LdapConnection(ld, address + ":" + std::to_string(port)));
}

std::unique_ptr<LdapConnection> LdapConnection::OpenBound(const std::string& host, const std::string& address,
                                                          std::uint16_t port, const std::string& cacheName,
                                                          HealthDeadline deadline, HealthProbe* failure)
{
    std::unique_ptr<LdapConnection> connection = Open(host, address, port, deadline, failure);
    if (connection == nullptr)
        return nullptr;
    if (const int rc = BindWithTickets(connection->m_ld, cacheName); rc != LDAP_SUCCESS) {
        failure->detail = Failure(connection->m_ld, rc, "the GSSAPI bind to " + host);
        return nullptr;
    }
    return connection;
}

RootDseReading LdapConnection::ReadRootDse(HealthDeadline deadline)
{
    RootDseReading reading;
    LDAPMessage* result = nullptr;
    LDAPMessage* entry = nullptr;
    reading.sentUnixMs = UnixMs();
    const int rc = ReadEntry(m_ld, "", kRootDseAttributes, deadline, &result, &entry);
    reading.receivedUnixMs = UnixMs();
    if (rc != LDAP_SUCCESS) {
        m_failed = true;
        reading.probe.detail = Failure(m_ld, rc, "the rootDSE at " + m_place);
    } else {
        reading.currentTime = FirstValue(m_ld, entry, "currentTime");
        reading.isSynchronized = FirstValue(m_ld, entry, "isSynchronized");
        reading.isGlobalCatalogReady = FirstValue(m_ld, entry, "isGlobalCatalogReady");
        reading.highestCommittedUSN = FirstValue(m_ld, entry, "highestCommittedUSN");
        reading.dnsHostName = FirstValue(m_ld, entry, "dnsHostName");
        reading.probe = { true, reading.dnsHostName + " at " + m_place + ", highest committed USN " +
                                    reading.highestCommittedUSN };
    }
    ldap_msgfree(result);
    return reading;
}

LdapConnection::~LdapConnection()
{
    ldap_unbind_ext_s(m_ld, nullptr, nullptr);
}

int LdapConnection::ReadNamingContext(const char* attribute, HealthDeadline deadline, std::string* dn)
{
    LDAPMessage* result = nullptr;
    LDAPMessage* entry = nullptr;
    const char* const wanted[] = { attribute, nullptr };
    const int rc = ReadEntry(m_ld, "", wanted, deadline, &result, &entry);
    if (rc == LDAP_SUCCESS)
        *dn = FirstValue(m_ld, entry, attribute);
    ldap_msgfree(result);
    return rc;
}

HealthProbe LdapConnection::ReadDomain(HealthDeadline deadline)
{
    std::string dn;
    int rc = ReadNamingContext("defaultNamingContext", deadline, &dn);
    if (rc != LDAP_SUCCESS) {
        m_failed = true;
        return { false, Failure(m_ld, rc, "the rootDSE after the bind") };
    }
    LDAPMessage* result = nullptr;
    LDAPMessage* entry = nullptr;
    const char* const domain[] = { "objectSid", "name", nullptr };
    HealthProbe probe;
    if ((rc = ReadEntry(m_ld, dn.c_str(), domain, deadline, &result, &entry)) != LDAP_SUCCESS) {
        m_failed = rc != LDAP_NO_SUCH_OBJECT;
        probe.detail = Failure(m_ld, rc, "the domain object " + dn);
    } else if (FirstValue(m_ld, entry, "objectSid").empty()) {
        probe.detail = "the domain object " + dn + " was read without its objectSid: the bind gave no access";
    } else {
        char* who = nullptr;
        ldap_get_option(m_ld, LDAP_OPT_X_SASL_USERNAME, &who);
        probe = { true, "read " + dn + " as " + (who != nullptr ? who : "?") };
        ldap_memfree(who);
    }
    ldap_msgfree(result);
    return probe;
}

HealthProbe LdapConnection::ReadConfigurationValue(const std::string& relativeDn, const std::string& attribute,
                                                   HealthDeadline deadline, std::optional<std::string>* value)
{
    value->reset();
    std::string configuration;
    int rc = ReadNamingContext("configurationNamingContext", deadline, &configuration);
    if (rc != LDAP_SUCCESS) {
        m_failed = true;
        return { false, Failure(m_ld, rc, "the rootDSE after the bind") };
    }
    const std::string dn = relativeDn + "," + configuration;
    LDAPMessage* result = nullptr;
    LDAPMessage* entry = nullptr;
    const char* const wanted[] = { attribute.c_str(), nullptr };
    HealthProbe probe;
    if ((rc = ReadEntry(m_ld, dn.c_str(), wanted, deadline, &result, &entry)) != LDAP_SUCCESS) {
        m_failed = rc != LDAP_NO_SUCH_OBJECT;
        probe.detail = Failure(m_ld, rc, dn);
    } else {
        berval** values = ldap_get_values_len(m_ld, entry, attribute.c_str());
        if (values != nullptr && values[0] != nullptr)
            *value = std::string(values[0]->bv_val, values[0]->bv_len);
        ldap_value_free_len(values);
        probe = { true, "read " + attribute + " of " + dn };
    }
    ldap_msgfree(result);
    return probe;
}
