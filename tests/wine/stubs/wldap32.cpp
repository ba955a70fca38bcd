// Stand-in for wldap32.dll: controllers whose rootDSE, domain object and Directory Service
// object the scenario gives.
//   ldap.server       "HOST DNSHOSTNAME": HOST (as the program names it) answers at 389 and 3268,
//                     its rootDSE naming DNSHOSTNAME; repeated; other hosts are down
//   ldap.usn          its highestCommittedUSN (4711)
//   ldap.naming       its defaultNamingContext ("DC=corp,DC=example")
//   ldap.config       its configurationNamingContext ("CN=Configuration," and the naming context)
//   ldap.tombstone    the tombstoneLifetime of CN=Directory Service,CN=Windows NT,CN=Services under
//                     the configuration; without the key, the object has none
//   ldap.bind.result  what ldap_bind_sW returns (0)
// currentTime is this machine's clock; the domain object has an objectSid. A search answers only
// the attributes it asks for, as a server does; every search's answer, value read and free is
// logged, so that a reader's leaks show.
#include "stub_common.h"

#include <cwctype>
#include <map>
#include <sstream>
#include <vector>

namespace {

constexpr ULONG kSuccess = 0x00;
constexpr ULONG kNoSuchObject = 0x20;
constexpr ULONG kInvalidCredentials = 0x31;
constexpr ULONG kServerDown = 0x51;
constexpr ULONG kAuthNegotiate = 0x0486; // LDAP_AUTH_OTHERKIND | 0x0400

struct BerValue {
    ULONG bv_len;
    char* bv_val;
};

struct Session {
    std::wstring host;
    ULONG port = 0;
    std::wstring dnsHostName; // empty: the host is down
};

struct Result {
    std::wstring base;
    std::map<std::wstring, std::vector<std::wstring>> attributes;
};

// SEC_WINNT_AUTH_IDENTITY_W.
struct Identity {
    unsigned short* User;
    unsigned long UserLength;
    unsigned short* Domain;
    unsigned long DomainLength;
    unsigned short* Password;
    unsigned long PasswordLength;
    unsigned long Flags;
};

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring Counted(const unsigned short* text, unsigned long length)
{
    return text == nullptr ? L"(null)" : L"\"" + std::wstring(reinterpret_cast<const wchar_t*>(text), length) + L"\"";
}

std::wstring GeneralizedNow()
{
    SYSTEMTIME t;
    GetSystemTime(&t);
    wchar_t text[32];
    swprintf(text, 32, L"%04u%02u%02u%02u%02u%02u.0Z", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::wstring Name(Session* session)
{
    return stub::Quote(session->host.c_str()) + L":" + stub::Num(session->port);
}

} // namespace

extern "C" Session* __cdecl ldap_initW(const wchar_t* host, ULONG port)
{
    stub::Log(L"ldap_initW|" + stub::Quote(host) + L"|" + stub::Num(port));
    auto* session = new Session{ host != nullptr ? host : L"", port, {} };
    for (const std::wstring& line : stub::Values(L"ldap.server")) {
        std::wistringstream fields(line);
        std::wstring name, dnsHostName;
        fields >> name >> dnsHostName;
        if (Lower(name) == Lower(session->host))
            session->dnsHostName = dnsHostName;
    }
    return session;
}

extern "C" ULONG __cdecl ldap_set_optionW(Session*, int option, const void*)
{
    stub::Log(L"ldap_set_optionW|" + stub::Num(static_cast<unsigned long long>(option)));
    return kSuccess;
}

extern "C" ULONG __cdecl ldap_get_optionW(Session*, int, void* out)
{
    *static_cast<wchar_t**>(out) = nullptr;
    return kSuccess;
}

extern "C" ULONG __cdecl ldap_connect(Session* session, void*)
{
    stub::Log(L"ldap_connect|" + Name(session));
    return session->dnsHostName.empty() ? kServerDown : kSuccess;
}

extern "C" ULONG __cdecl ldap_bind_sW(Session* session, const wchar_t* dn, const wchar_t* credentials, ULONG method)
{
    const auto* identity = reinterpret_cast<const Identity*>(credentials);
    stub::Log(L"ldap_bind_sW|" + Name(session) + L"|" + stub::Quote(dn) + L"|method=" + stub::Num(method) +
              (identity == nullptr ? std::wstring(L"|this logon")
                                   : L"|user=" + Counted(identity->User, identity->UserLength) + L"|domain=" +
                                         Counted(identity->Domain, identity->DomainLength) + L"|password=" +
                                         Counted(identity->Password, identity->PasswordLength) + L"|flags=" +
                                         stub::Num(identity->Flags)));
    if (method != kAuthNegotiate)
        return 0x07; // LDAP_AUTH_METHOD_NOT_SUPPORTED
    return static_cast<ULONG>(stub::Number(L"ldap.bind.result", kSuccess));
}

extern "C" ULONG __cdecl ldap_search_ext_sW(Session* session, const wchar_t* base, ULONG scope, const wchar_t*,
                                            wchar_t** attributes, ULONG, void*, void*, void*, ULONG, Result** result)
{
    std::wstring asked;
    for (wchar_t** a = attributes; a != nullptr && *a != nullptr; ++a)
        asked += std::wstring(L"|") + *a;
    stub::Log(L"ldap_search_ext_sW|" + Name(session) + L"|" + stub::Quote(base) + L"|" + stub::Num(scope) + asked);
    *result = nullptr;
    const std::wstring naming = stub::Value(L"ldap.naming", L"DC=corp,DC=example");
    const std::wstring configuration = stub::Value(L"ldap.config", L"CN=Configuration," + naming);
    std::map<std::wstring, std::vector<std::wstring>> entry;
    if (base != nullptr && *base == L'\0') {
        entry = {
            { L"currentTime", { GeneralizedNow() } },
            { L"isSynchronized", { L"TRUE" } },
            { L"isGlobalCatalogReady", { L"TRUE" } },
            { L"highestCommittedUSN", { stub::Value(L"ldap.usn", L"4711") } },
            { L"dnsHostName", { session->dnsHostName } },
            { L"defaultNamingContext", { naming } },
            { L"configurationNamingContext", { configuration } },
        };
    } else if (base != nullptr && Lower(base) == Lower(naming)) {
        entry = { { L"objectSid", { L"S-1-5-21-1" } }, { L"name", { L"corp" } } };
    } else if (base != nullptr &&
               Lower(base) == Lower(L"CN=Directory Service,CN=Windows NT,CN=Services," + configuration)) {
        entry = { { L"cn", { L"Directory Service" } } };
        if (!stub::Values(L"ldap.tombstone").empty())
            entry[L"tombstoneLifetime"] = { stub::Value(L"ldap.tombstone", L"") };
    } else {
        return kNoSuchObject;
    }
    auto* found = new Result{ base, {} };
    for (wchar_t** a = attributes; a != nullptr && *a != nullptr; ++a) {
        if (const auto it = entry.find(*a); it != entry.end())
            found->attributes.insert(*it);
    }
    *result = found;
    return kSuccess;
}

extern "C" Result* __cdecl ldap_first_entry(Session*, Result* result)
{
    return result;
}

extern "C" wchar_t** __cdecl ldap_get_valuesW(Session*, Result* entry, const wchar_t* attribute)
{
    const auto it = entry->attributes.find(attribute);
    stub::Log(L"ldap_get_valuesW|" + stub::Quote(entry->base.c_str()) + L"|" + stub::Quote(attribute) + L"|" +
              (it == entry->attributes.end() ? std::wstring(L"none") : stub::Num(it->second.size())));
    if (it == entry->attributes.end())
        return nullptr;
    auto** values = new wchar_t*[it->second.size() + 1];
    for (std::size_t i = 0; i < it->second.size(); ++i) {
        values[i] = new wchar_t[it->second[i].size() + 1];
        it->second[i].copy(values[i], it->second[i].size());
        values[i][it->second[i].size()] = L'\0';
    }
    values[it->second.size()] = nullptr;
    return values;
}

extern "C" ULONG __cdecl ldap_value_freeW(wchar_t** values)
{
    stub::Log(L"ldap_value_freeW|" + stub::Quote(values != nullptr ? values[0] : nullptr));
    for (wchar_t** v = values; v != nullptr && *v != nullptr; ++v)
        delete[] * v;
    delete[] values;
    return kSuccess;
}

extern "C" BerValue** __cdecl ldap_get_values_lenW(Session*, Result* entry, const wchar_t* attribute)
{
    const auto it = entry->attributes.find(attribute);
    if (it == entry->attributes.end())
        return nullptr;
    auto** values = new BerValue*[it->second.size() + 1];
    for (std::size_t i = 0; i < it->second.size(); ++i) {
        const std::wstring& v = it->second[i];
        values[i] = new BerValue{ static_cast<ULONG>(v.size()), new char[v.size()] };
        for (std::size_t c = 0; c < v.size(); ++c)
            values[i]->bv_val[c] = static_cast<char>(v[c]);
    }
    values[it->second.size()] = nullptr;
    return values;
}

extern "C" ULONG __cdecl ldap_value_free_len(BerValue** values)
{
    for (BerValue** v = values; v != nullptr && *v != nullptr; ++v) {
        delete[](*v)->bv_val;
        delete *v;
    }
    delete[] values;
    return kSuccess;
}

extern "C" ULONG __cdecl ldap_msgfree(Result* result)
{
    stub::Log(L"ldap_msgfree|" + (result != nullptr ? stub::Quote(result->base.c_str()) : std::wstring(L"(null)")));
    delete result;
    return kSuccess;
}

extern "C" ULONG __cdecl ldap_unbind(Session* session)
{
    stub::Log(L"ldap_unbind|" + Name(session));
    delete session;
    return kSuccess;
}

extern "C" VOID __cdecl ldap_memfreeW(wchar_t*) {}

extern "C" wchar_t* __cdecl ldap_err2stringW(ULONG code)
{
    static wchar_t down[] = L"Server Down";
    static wchar_t refused[] = L"Invalid Credentials";
    static wchar_t missing[] = L"No Such Object";
    static wchar_t other[] = L"Other";
    if (code == kServerDown)
        return down;
    if (code == kInvalidCredentials)
        return refused;
    return code == kNoSuchObject ? missing : other;
}

extern "C" ULONG __cdecl LdapGetLastError()
{
    return kSuccess;
}

extern "C" ULONG __cdecl LdapMapErrorToWin32(ULONG code)
{
    return code;
}
