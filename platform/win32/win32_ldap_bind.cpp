#include "platform/win32/win32_ldap_bind.h"

#include <string>

ULONG NegotiateBind(LDAP* ld, const CString& user, const CString& password)
{
    if (user.IsEmpty())
        return ldap_bind_sW(ld, nullptr, nullptr, LDAP_AUTH_NEGOTIATE);
    const std::u16string& given = user;
    const std::size_t slash = given.find(u'\\');
    const std::u16string domain = slash == std::u16string::npos ? std::u16string() : given.substr(0, slash);
    const std::u16string name = slash == std::u16string::npos ? given : given.substr(slash + 1);
    SEC_WINNT_AUTH_IDENTITY_W identity{};
    identity.User = reinterpret_cast<unsigned short*>(const_cast<char16_t*>(name.c_str()));
    identity.UserLength = static_cast<unsigned long>(name.size());
    identity.Domain =
        domain.empty() ? nullptr : reinterpret_cast<unsigned short*>(const_cast<char16_t*>(domain.c_str()));
    identity.DomainLength = static_cast<unsigned long>(domain.size());
    identity.Password = reinterpret_cast<unsigned short*>(const_cast<char16_t*>(password.c_str()));
    identity.PasswordLength = static_cast<unsigned long>(password.size());
    identity.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
    return ldap_bind_sW(ld, nullptr, reinterpret_cast<PWCHAR>(&identity), LDAP_AUTH_NEGOTIATE);
}
