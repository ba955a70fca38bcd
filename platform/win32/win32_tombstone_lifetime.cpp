// The forest's tombstone lifetime over LDAP (wldap32): the rootDSE's configuration naming
// context, then the Directory Service object under it.
#include "platform/win32/win32_include.h"

#include <winldap.h>

#include <algorithm>

#include "platform/win32/win32_ldap_bind.h"
#include "platform/win32/win32_replication.h"

namespace {

constexpr const wchar_t* kDirectoryService = L"CN=Directory Service,CN=Windows NT,CN=Services,";

std::string LdapWords(ULONG code)
{
    const wchar_t* text = ldap_err2stringW(code);
    return text != nullptr ? FromWStr(text).ToUtf8() : "LDAP error " + std::to_string(code);
}

// The first value of attribute of the entry at dn, none when the entry has none.
ULONG ReadValue(LDAP* ld, const std::wstring& dn, const wchar_t* attribute, l_timeval* timeout,
                std::optional<std::wstring>* value)
{
    wchar_t* attributes[] = { const_cast<wchar_t*>(attribute), nullptr };
    wchar_t filter[] = L"(objectClass=*)";
    LDAPMessage* answer = nullptr;
    const ULONG result = ldap_search_ext_sW(ld, const_cast<wchar_t*>(dn.c_str()), LDAP_SCOPE_BASE, filter, attributes,
                                            0, nullptr, nullptr, timeout, 1, &answer);
    LDAPMessage* entry = result == LDAP_SUCCESS ? ldap_first_entry(ld, answer) : nullptr;
    if (wchar_t** values = entry != nullptr ? ldap_get_valuesW(ld, entry, attributes[0]) : nullptr) {
        if (values[0] != nullptr)
            *value = values[0];
        ldap_value_freeW(values);
    }
    if (answer != nullptr)
        ldap_msgfree(answer);
    return result;
}

} // namespace

std::optional<TombstoneLifetime> ReadTombstoneLifetime(const ReplicationTarget& target, int timeoutMs,
                                                       std::string* error)
{
    const CString host = CString::FromUtf8(target.controller);
    LDAP* ld = ldap_initW(const_cast<wchar_t*>(WStr(host)), LDAP_PORT);
    if (ld == nullptr) {
        *error = "LDAP to " + target.controller + ": " + LdapWords(LdapGetLastError());
        return std::nullopt;
    }
    ULONG version = LDAP_VERSION3;
    ldap_set_optionW(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_optionW(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_optionW(ld, LDAP_OPT_SIGN, LDAP_OPT_ON);
    ldap_set_optionW(ld, LDAP_OPT_ENCRYPT, LDAP_OPT_ON);
    l_timeval timeout{ std::max(1, timeoutMs / 1000), 0 };

    std::string where = "the LDAP connection to " + target.controller;
    ULONG result = ldap_connect(ld, &timeout);
    if (result == LDAP_SUCCESS) {
        where = "the LDAP bind to " + target.controller;
        result = NegotiateBind(ld, target.user, target.password);
    }
    std::optional<std::wstring> naming;
    if (result == LDAP_SUCCESS) {
        where = "the rootDSE of " + target.controller;
        result = ReadValue(ld, L"", L"configurationNamingContext", &timeout, &naming);
    }
    std::optional<std::wstring> days;
    if (result == LDAP_SUCCESS && naming) {
        const std::wstring dn = kDirectoryService + *naming;
        where = FromWStr(dn.c_str()).ToUtf8();
        result = ReadValue(ld, dn, L"tombstoneLifetime", &timeout, &days);
    }
    ldap_unbind(ld);
    if (result != LDAP_SUCCESS) {
        *error = where + ": " + LdapWords(result);
        return std::nullopt;
    }
    if (!naming) {
        *error = "the rootDSE of " + target.controller + " names no configuration naming context";
        return std::nullopt;
    }
    return TombstoneLifetimeOf(days ? std::optional<std::string>(FromWStr(days->c_str()).ToUtf8()) : std::nullopt,
                               error);
}
