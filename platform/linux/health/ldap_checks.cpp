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

RootDseReading ReadRootDseAt(const std::string& host, const std::string& address, std::uint16_t port,
                             HealthDeadline deadline)
{
    RootDseReading reading;
    LDAP* ld = Open(host, address, port, deadline, &reading.probe.detail);
    if (ld == nullptr)
        return reading;
    LDAPMessage* result = nullptr;
    LDAPMessage* entry = nullptr;
    reading.sentUnixMs = UnixMs();
    const int rc = ReadEntry(ld, "", kRootDseAttributes, deadline, &result, &entry);
    reading.receivedUnixMs = UnixMs();
    if (rc != LDAP_SUCCESS) {
        reading.probe.detail = Failure(ld, rc, "the rootDSE at " + address + ":" + std::to_string(port));
    } else {
        reading.currentTime = FirstValue(ld, entry, "currentTime");
        reading.isSynchronized = FirstValue(ld, entry, "isSynchronized");
        reading.isGlobalCatalogReady = FirstValue(ld, entry, "isGlobalCatalogReady");
        reading.highestCommittedUSN = FirstValue(ld, entry, "highestCommittedUSN");
        reading.dnsHostName = FirstValue(ld, entry, "dnsHostName");
        reading.probe = { true, reading.dnsHostName + " at " + address + ":" + std::to_string(port) +
                                    ", highest committed USN " + reading.highestCommittedUSN };
    }
    ldap_msgfree(result);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return reading;
}

HealthProbe BindAndReadDomainAt(const std::string& host, const std::string& address, std::uint16_t port,
                                const std::string& cacheName, HealthDeadline deadline)
{
    HealthProbe probe;
    LDAP* ld = Open(host, address, port, deadline, &probe.detail);
    if (ld == nullptr)
        return probe;
    int rc = BindWithTickets(ld, cacheName);
    LDAPMessage* result = nullptr;
    LDAPMessage* entry = nullptr;
    const char* const naming[] = { "defaultNamingContext", nullptr };
    const char* const domain[] = { "objectSid", "name", nullptr };
    if (rc != LDAP_SUCCESS) {
        probe.detail = Failure(ld, rc, "the GSSAPI bind to " + host);
    } else if ((rc = ReadEntry(ld, "", naming, deadline, &result, &entry)) != LDAP_SUCCESS) {
        probe.detail = Failure(ld, rc, "the rootDSE after the bind");
    } else {
        const std::string dn = FirstValue(ld, entry, "defaultNamingContext");
        ldap_msgfree(result);
        result = nullptr;
        if ((rc = ReadEntry(ld, dn.c_str(), domain, deadline, &result, &entry)) != LDAP_SUCCESS) {
            probe.detail = Failure(ld, rc, "the domain object " + dn);
        } else if (FirstValue(ld, entry, "objectSid").empty()) {
            probe.detail = "the domain object " + dn + " was read without its objectSid: the bind gave no access";
        } else {
            char* who = nullptr;
            ldap_get_option(ld, LDAP_OPT_X_SASL_USERNAME, &who);
            probe = { true, "read " + dn + " as " + (who != nullptr ? who : "?") };
            ldap_memfree(who);
        }
    }
    ldap_msgfree(result);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return probe;
}

HealthProbe ReadConfigurationValueAt(const std::string& host, const std::string& address, std::uint16_t port,
                                     const std::string& cacheName, const std::string& relativeDn,
                                     const std::string& attribute, HealthDeadline deadline,
                                     std::optional<std::string>* value)
{
    HealthProbe probe;
    value->reset();
    LDAP* ld = Open(host, address, port, deadline, &probe.detail);
    if (ld == nullptr)
        return probe;
    int rc = BindWithTickets(ld, cacheName);
    LDAPMessage* result = nullptr;
    LDAPMessage* entry = nullptr;
    const char* const naming[] = { "configurationNamingContext", nullptr };
    const char* const wanted[] = { attribute.c_str(), nullptr };
    if (rc != LDAP_SUCCESS) {
        probe.detail = Failure(ld, rc, "the GSSAPI bind to " + host);
    } else if ((rc = ReadEntry(ld, "", naming, deadline, &result, &entry)) != LDAP_SUCCESS) {
        probe.detail = Failure(ld, rc, "the rootDSE after the bind");
    } else {
        const std::string dn = relativeDn + "," + FirstValue(ld, entry, "configurationNamingContext");
        ldap_msgfree(result);
        result = nullptr;
        if ((rc = ReadEntry(ld, dn.c_str(), wanted, deadline, &result, &entry)) != LDAP_SUCCESS) {
            probe.detail = Failure(ld, rc, dn);
        } else {
            berval** values = ldap_get_values_len(ld, entry, attribute.c_str());
            if (values != nullptr && values[0] != nullptr)
                *value = std::string(values[0]->bv_val, values[0]->bv_len);
            ldap_value_free_len(values);
            probe = { true, "read " + attribute + " of " + dn };
        }
    }
    ldap_msgfree(result);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return probe;
}
