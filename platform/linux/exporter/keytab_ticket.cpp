#include "platform/linux/exporter/keytab_ticket.h"

#include <krb5.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "directory/win32_error_text.h"

namespace {

// What the KDC's answer means for the logon: a refusal of the principal or its key, or no
// answer at all.
std::uint32_t Win32ErrorFor(krb5_error_code code)
{
    switch (code) {
    case KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN:
    case KRB5KDC_ERR_PREAUTH_FAILED:
    case KRB5_PREAUTH_FAILED:
    case KRB5KRB_AP_ERR_BAD_INTEGRITY:
    case KRB5KDC_ERR_ETYPE_NOSUPP:
        return win32_error::kLogonFailure;
    case KRB5KDC_ERR_CLIENT_REVOKED:
        return win32_error::kAccountDisabled;
    default:
        return win32_error::kNoLogonServers;
    }
}

} // namespace

KeytabTicket::KeytabTicket(std::string principal, std::string keytab, std::string cacheFile, int keytabDescriptor)
    : m_principal(std::move(principal)), m_keytab(std::move(keytab)), m_keytabDescriptor(keytabDescriptor),
      m_cacheFile(std::move(cacheFile))
{
}

KeytabTicket::~KeytabTicket()
{
    unlink(m_cacheFile.c_str());
    if (m_keytabDescriptor >= 0)
        close(m_keytabDescriptor);
}

std::string KeytabTicket::KeytabName() const
{
    // Kerberos reads a keytab by name: the descriptor's own name in procfs opens the very file
    // that descriptor holds, wherever its path points now.
    if (m_keytabDescriptor >= 0)
        return "FILE:/proc/self/fd/" + std::to_string(m_keytabDescriptor);
    return "FILE:" + m_keytab;
}

unsigned KeytabTicket::Requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

void KeytabTicket::Drop()
{
    const std::lock_guard lock(m_mutex);
    m_endTime = 0;
}

std::uint32_t KeytabTicket::Ensure(std::string* error)
{
    const std::lock_guard lock(m_mutex);
    const std::time_t now = std::time(nullptr);
    // Renewed with a fifth of its life left (at most five minutes), so that a connection made
    // now does not find it ended.
    const std::time_t margin = std::min<std::time_t>(300, m_lifetime / 5);
    if (m_endTime != 0 && now + margin < m_endTime)
        return 0;
    m_endTime = 0;
    ++m_requests;

    krb5_context context = nullptr;
    if (krb5_error_code code = krb5_init_context(&context); code != 0) {
        *error = "Kerberos could not start (" + std::to_string(code) + ")";
        return win32_error::kNoLogonServers;
    }
    krb5_principal principal = nullptr;
    krb5_keytab keytab = nullptr;
    krb5_get_init_creds_opt* options = nullptr;
    krb5_creds credentials{};
    bool haveCredentials = false;
    krb5_ccache cache = nullptr;
    const std::string aside = m_cacheFile + ".new";
    std::uint32_t result = 0;
    const auto failed = [&](krb5_error_code code, const std::string& what, std::uint32_t win32) {
        const char* message = krb5_get_error_message(context, code);
        *error = what + ": " + (message != nullptr ? message : std::to_string(code));
        krb5_free_error_message(context, message);
        result = win32;
    };
    krb5_error_code code = krb5_parse_name(context, m_principal.c_str(), &principal);
    if (code != 0) {
        failed(code, "principal " + m_principal, win32_error::kLogonFailure);
    } else if ((code = krb5_kt_resolve(context, KeytabName().c_str(), &keytab)) != 0) {
        failed(code, "keytab " + m_keytab, win32_error::kLogonFailure);
    } else if (krb5_keytab_entry entry{}; (code = krb5_kt_get_entry(context, keytab, principal, 0, 0, &entry)) != 0) {
        // A keytab without the principal's key (or none at all) is no answer of the KDC, but
        // nothing will come of asking again either: refused as a wrong password is.
        failed(code, "keytab " + m_keytab + " for " + m_principal, win32_error::kLogonFailure);
    } else if (krb5_free_keytab_entry_contents(context, &entry),
               (code = krb5_get_init_creds_opt_alloc(context, &options)) != 0) {
        failed(code, "Kerberos", win32_error::kNoLogonServers);
    } else if ((code = krb5_get_init_creds_keytab(context, &credentials, principal, keytab, 0, nullptr, options)) !=
               0) {
        failed(code, "the ticket of " + m_principal + " from keytab " + m_keytab, Win32ErrorFor(code));
    } else {
        haveCredentials = true;
        unlink(aside.c_str());
        if ((code = krb5_cc_resolve(context, ("FILE:" + aside).c_str(), &cache)) != 0 ||
            (code = krb5_cc_initialize(context, cache, principal)) != 0 ||
            (code = krb5_cc_store_cred(context, cache, &credentials)) != 0) {
            failed(code, "ticket cache " + m_cacheFile, win32_error::kNoLogonServers);
        } else if (std::rename(aside.c_str(), m_cacheFile.c_str()) != 0) {
            *error = "ticket cache " + m_cacheFile + ": cannot be replaced";
            result = win32_error::kNoLogonServers;
        } else {
            m_endTime = credentials.times.endtime;
            m_lifetime = credentials.times.endtime - credentials.times.starttime;
        }
    }
    if (cache != nullptr)
        krb5_cc_close(context, cache);
    if (result != 0)
        unlink(aside.c_str());
    if (haveCredentials)
        krb5_free_cred_contents(context, &credentials);
    if (options != nullptr)
        krb5_get_init_creds_opt_free(context, options);
    if (keytab != nullptr)
        krb5_kt_close(context, keytab);
    if (principal != nullptr)
        krb5_free_principal(context, principal);
    krb5_free_context(context);
    return result;
}

KeytabLogonRegistry::KeytabLogonRegistry(std::unique_ptr<IPerformanceRegistry> real, Tickets tickets,
                                         CredentialRegistry& credentials, Logger logger)
    : m_real(std::move(real)), m_tickets(std::move(tickets)), m_credentials(credentials), m_logger(std::move(logger))
{
}

std::uint32_t KeytabLogonRegistry::Open(const std::string& machine, std::unique_ptr<IPerformanceKey>* key)
{
    const std::optional<CredentialRegistry::Entry> entry = m_credentials.Find(machine);
    const auto found = entry ? m_tickets.find(entry->credentials.ticketCache) : m_tickets.end();
    if (found == m_tickets.end())
        return m_real->Open(machine, key);
    if (entry->refusal != 0)
        return entry->refusal;
    KeytabTicket& ticket = *found->second;
    std::string error;
    if (const std::uint32_t status = ticket.Ensure(&error); status != 0) {
        if (m_logger)
            m_logger(error);
        if (IsRefusedLogon(status))
            m_credentials.MarkRefused(entry->id, status);
        return status;
    }
    const std::uint32_t status = m_real->Open(machine, key);
    // A ticket the target would not take (ended early, its key changed) is not offered again.
    if (IsRefusedLogon(status))
        ticket.Drop();
    return status;
}
