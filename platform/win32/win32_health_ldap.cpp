// The directory's checks through the system's LDAP client (wldap32): the rootDSE read
// anonymously, and a Negotiate bind (Kerberos where a ticket can be had, else NTLM) with a read
// of the domain object.
#include "platform/win32/win32_include.h"

#include <winldap.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/win32/win32_health_parts.h"
#include "platform/win32/win32_ldap_bind.h"

namespace {

std::int64_t UnixMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

l_timeval Bound(int timeoutMs)
{
    return { timeoutMs / 1000, (timeoutMs % 1000) * 1000 };
}

// A connected session to host:port, LDAP version 3, no referrals followed, every exchange
// bounded; null and *error when the controller does not answer.
LDAP* Open(const std::string& host, std::uint16_t port, int timeoutMs, std::string* error)
{
    const CString wide = CString::FromUtf8(host);
    LDAP* ld = ldap_initW(const_cast<PWCHAR>(WStr(wide)), port);
    if (ld == nullptr) {
        *error = "LDAP cannot start for " + host + ": " + SystemText(LdapMapErrorToWin32(LdapGetLastError()));
        return nullptr;
    }
    ULONG version = LDAP_VERSION3;
    ULONG seconds = static_cast<ULONG>(std::max(1, timeoutMs / 1000));
    ldap_set_optionW(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_optionW(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    // The name is the controller's own, not a domain whose controllers are looked up.
    ldap_set_optionW(ld, LDAP_OPT_AREC_EXCLUSIVE, LDAP_OPT_ON);
    ldap_set_optionW(ld, LDAP_OPT_TIMELIMIT, &seconds);
    l_timeval bound = Bound(timeoutMs);
    ldap_set_optionW(ld, LDAP_OPT_SEND_TIMEOUT, &bound);
    if (const ULONG rc = ldap_connect(ld, &bound); rc != LDAP_SUCCESS) {
        *error = "connecting to " + host + ":" + std::to_string(port) + ": " + FromWStr(ldap_err2stringW(rc)).ToUtf8();
        ldap_unbind(ld);
        return nullptr;
    }
    return ld;
}

// The library's text for rc, and the server's own message when it sent one.
std::string Failure(LDAP* ld, ULONG rc, const std::string& what)
{
    std::string text = what + ": " + FromWStr(ldap_err2stringW(rc)).ToUtf8();
    PWCHAR server = nullptr;
    if (ldap_get_optionW(ld, LDAP_OPT_SERVER_ERROR, &server) == LDAP_SUCCESS && server != nullptr) {
        if (*server != L'\0')
            text += " (" + FromWStr(server).ToUtf8() + ")";
        ldap_memfreeW(server);
    }
    return text;
}

std::string FirstValue(LDAP* ld, LDAPMessage* entry, const wchar_t* attribute)
{
    PWCHAR* values = ldap_get_valuesW(ld, entry, const_cast<PWCHAR>(attribute));
    std::string value = values != nullptr && values[0] != nullptr ? FromWStr(values[0]).ToUtf8() : std::string();
    if (values != nullptr)
        ldap_value_freeW(values);
    return value;
}

bool HasBinaryValue(LDAP* ld, LDAPMessage* entry, const wchar_t* attribute)
{
    berval** values = ldap_get_values_lenW(ld, entry, const_cast<PWCHAR>(attribute));
    const bool has = values != nullptr && values[0] != nullptr && values[0]->bv_len != 0;
    if (values != nullptr)
        ldap_value_free_len(values);
    return has;
}

// A base search of dn; rc, and the entry in *result (freed by the caller).
ULONG ReadEntry(LDAP* ld, const std::string& dn, std::vector<const wchar_t*> attributes, int timeoutMs,
                LDAPMessage** result, LDAPMessage** entry)
{
    attributes.push_back(nullptr);
    const CString base = CString::FromUtf8(dn);
    l_timeval bound = Bound(timeoutMs);
    *result = nullptr;
    const ULONG rc =
        ldap_search_ext_sW(ld, const_cast<PWCHAR>(WStr(base)), LDAP_SCOPE_BASE, const_cast<PWCHAR>(L"(objectClass=*)"),
                           const_cast<PWCHAR*>(attributes.data()), 0, nullptr, nullptr, &bound, 1, result);
    *entry = rc == LDAP_SUCCESS ? ldap_first_entry(ld, *result) : nullptr;
    return rc == LDAP_SUCCESS && *entry == nullptr ? static_cast<ULONG>(LDAP_NO_SUCH_OBJECT) : rc;
}

void Free(LDAPMessage* result)
{
    if (result != nullptr)
        ldap_msgfree(result);
}

} // namespace

RootDseReading ReadRootDseAt(const std::string& host, std::uint16_t port, int timeoutMs)
{
    RootDseReading reading;
    LDAP* ld = Open(host, port, timeoutMs, &reading.probe.detail);
    if (ld == nullptr)
        return reading;
    LDAPMessage* result = nullptr;
    LDAPMessage* entry = nullptr;
    reading.sentUnixMs = UnixMs();
    const ULONG rc = ReadEntry(ld, "",
                               { L"currentTime", L"isSynchronized", L"isGlobalCatalogReady", L"highestCommittedUSN",
                                 L"dnsHostName" },
                               timeoutMs, &result, &entry);
    reading.receivedUnixMs = UnixMs();
    if (rc != LDAP_SUCCESS) {
        reading.probe.detail = Failure(ld, rc, "the rootDSE at " + host + ":" + std::to_string(port));
    } else {
        reading.currentTime = FirstValue(ld, entry, L"currentTime");
        reading.isSynchronized = FirstValue(ld, entry, L"isSynchronized");
        reading.isGlobalCatalogReady = FirstValue(ld, entry, L"isGlobalCatalogReady");
        reading.highestCommittedUSN = FirstValue(ld, entry, L"highestCommittedUSN");
        reading.dnsHostName = FirstValue(ld, entry, L"dnsHostName");
        reading.probe = { true, reading.dnsHostName + " at " + host + ":" + std::to_string(port) +
                                    ", highest committed USN " + reading.highestCommittedUSN };
    }
    Free(result);
    ldap_unbind(ld);
    return reading;
}

HealthProbe BindAndReadDomainAt(const HealthTarget& target, const std::string& host, int timeoutMs)
{
    HealthProbe probe;
    LDAP* ld = Open(host, 389, timeoutMs, &probe.detail);
    if (ld == nullptr)
        return probe;
    // The password is the target's own text, which is wiped with it.
    ULONG rc = NegotiateBind(ld, target.user, target.password);
    const std::string who = target.user.IsEmpty() ? "this logon" : target.user.ToUtf8();
    LDAPMessage* result = nullptr;
    LDAPMessage* entry = nullptr;
    if (rc != LDAP_SUCCESS) {
        probe.detail = Failure(ld, rc, "the Negotiate bind to " + host + " as " + who);
        probe.refusedLogon = rc == LDAP_INVALID_CREDENTIALS;
    } else if ((rc = ReadEntry(ld, "", { L"defaultNamingContext" }, timeoutMs, &result, &entry)) != LDAP_SUCCESS) {
        probe.detail = Failure(ld, rc, "the rootDSE after the bind");
    } else {
        const std::string dn = FirstValue(ld, entry, L"defaultNamingContext");
        Free(result);
        if ((rc = ReadEntry(ld, dn, { L"objectSid", L"name" }, timeoutMs, &result, &entry)) != LDAP_SUCCESS)
            probe.detail = Failure(ld, rc, "the domain object " + dn);
        else if (!HasBinaryValue(ld, entry, L"objectSid"))
            probe.detail = "the domain object " + dn + " was read without its objectSid: the bind gave no access";
        else
            probe = { true, "read " + dn + " as " + who };
    }
    Free(result);
    ldap_unbind(ld);
    return probe;
}
