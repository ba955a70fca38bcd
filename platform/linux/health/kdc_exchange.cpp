#include "platform/linux/health/kdc_exchange.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// An answer bigger than this is not a KDC's.
constexpr std::uint32_t kMaxReply = 1 << 20;

// The first byte of a DER message of APPLICATION tag n (constructed).
constexpr unsigned char kAsRepTag = 0x6b;    // [APPLICATION 11]
constexpr unsigned char kKrbErrorTag = 0x7e; // [APPLICATION 30]

std::string Upper(std::string text)
{
    for (char& c : text)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return text;
}

bool WaitFor(int fd, short events, HealthDeadline deadline)
{
    pollfd waiting{ fd, events, 0 };
    return poll(&waiting, 1, MsBefore(deadline)) == 1 &&
           std::chrono::steady_clock::now() < deadline + std::chrono::milliseconds(1);
}

// Sends a Kerberos message with its length (RFC 4120 7.2.2) and reads the answer.
bool RoundTrip(const std::string& address, std::uint16_t port, const krb5_data& request, HealthDeadline deadline,
               std::string* reply, std::string* error)
{
    const int fd = ConnectBefore(address, port, deadline, error);
    if (fd < 0)
        return false;
    std::string out(4, '\0');
    const std::uint32_t length = request.length;
    for (int i = 0; i < 4; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<char>(length >> (24 - 8 * i));
    out.append(request.data, request.length);
    bool ok = true;
    for (std::size_t sent = 0; ok && sent < out.size();) {
        const ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        ok = n > 0;
        sent += ok ? static_cast<std::size_t>(n) : 0;
    }
    std::string in;
    std::size_t wanted = 4;
    while (ok && in.size() < wanted) {
        if (!WaitFor(fd, POLLIN, deadline)) {
            *error = "the KDC at " + address + " did not answer in time";
            close(fd);
            return false;
        }
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, std::min(sizeof buffer, wanted - in.size()), 0);
        ok = n > 0;
        if (ok)
            in.append(buffer, static_cast<std::size_t>(n));
        if (ok && in.size() == 4 && wanted == 4) {
            std::uint32_t size = 0;
            for (unsigned char c : in)
                size = size << 8 | c;
            ok = size > 0 && size < kMaxReply;
            wanted = 4 + size;
        }
    }
    close(fd);
    if (!ok) {
        *error = "the KDC at " + address + " closed the connection";
        return false;
    }
    *reply = in.substr(4);
    return true;
}

std::string Message(krb5_context context, krb5_error_code code)
{
    const char* text = krb5_get_error_message(context, code);
    std::string message = text != nullptr ? text : "Kerberos error " + std::to_string(code);
    krb5_free_error_message(context, text);
    return message;
}

krb5_data DataOf(std::string& text)
{
    krb5_data data{};
    data.data = text.data();
    data.length = static_cast<unsigned int>(text.size());
    return data;
}

} // namespace

std::string HealthPrincipal(const HealthTarget& target)
{
    const std::string realm = Upper(target.Domain());
    std::string user = target.user.ToUtf8();
    if (user.empty()) {
        const std::string host = target.controller.substr(0, target.controller.find('.'));
        return Upper(host) + "$@" + realm;
    }
    if (const std::size_t slash = user.find('\\'); slash != std::string::npos)
        return user.substr(slash + 1) + "@" + realm;
    if (const std::size_t at = user.rfind('@'); at != std::string::npos)
        return user.substr(0, at) + "@" + Upper(user.substr(at + 1));
    return user + "@" + realm;
}

KerberosContexts::~KerberosContexts()
{
    for (krb5_context context : m_idle)
        krb5_free_context(context);
}

krb5_error_code KerberosContexts::Take(krb5_context* context)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_idle.empty()) {
            *context = m_idle.back();
            m_idle.pop_back();
            return 0;
        }
    }
    return krb5_init_context(context);
}

void KerberosContexts::Give(krb5_context context)
{
    const std::lock_guard lock(m_mutex);
    m_idle.push_back(context);
}

HealthProbe AskKdcFor(KerberosContexts& contexts, const std::string& address, std::uint16_t port,
                      const std::string& principal, HealthDeadline deadline)
{
    krb5_context context = nullptr;
    if (krb5_error_code code = contexts.Take(&context); code != 0)
        return { false, "Kerberos cannot start: error " + std::to_string(code) };
    HealthProbe probe;
    krb5_principal client = nullptr;
    krb5_init_creds_context request = nullptr;
    krb5_data in{}, out{}, realm{};
    unsigned int flags = 0;
    std::string reply;
    krb5_error_code code = krb5_parse_name(context, principal.c_str(), &client);
    if (code == 0)
        code = krb5_init_creds_init(context, client, nullptr, nullptr, 0, nullptr, &request);
    if (code == 0)
        code = krb5_init_creds_step(context, request, &in, &out, &realm, &flags);
    if (code != 0) {
        probe.detail = "a request for " + principal + " cannot be made: " + Message(context, code);
    } else if (RoundTrip(address, port, out, deadline, &reply, &probe.detail)) {
        if (!reply.empty() && static_cast<unsigned char>(reply[0]) == kAsRepTag) {
            probe = { true,
                      "the KDC at " + address + " gave a ticket for " + principal + " without pre-authentication" };
        } else if (krb5_error* answer = nullptr; !reply.empty() &&
                                                 static_cast<unsigned char>(reply[0]) == kKrbErrorTag &&
                                                 (code = krb5_rd_error(context, &(in = DataOf(reply)), &answer)) == 0) {
            const auto said = static_cast<krb5_error_code>(answer->error + ERROR_TABLE_BASE_krb5);
            if (said == KRB5KDC_ERR_PREAUTH_REQUIRED)
                probe = { true,
                          "the KDC at " + address + " answers for " + principal + " (pre-authentication required)" };
            else
                probe.detail = "the KDC at " + address + " answered for " + principal + ": " + Message(context, said);
            krb5_free_error(context, answer);
        } else {
            probe.detail = "the KDC at " + address + " sent an answer that is not Kerberos";
        }
    }
    krb5_free_data_contents(context, &out);
    krb5_free_data_contents(context, &realm);
    if (request != nullptr)
        krb5_init_creds_free(context, request);
    if (client != nullptr)
        krb5_free_principal(context, client);
    contexts.Give(context);
    return probe;
}

std::string GetServiceTicket(const std::string& address, std::uint16_t port, const std::string& principal,
                             const std::string& password, const std::string& service, const std::string& cacheName,
                             HealthDeadline deadline, bool* refused)
{
    *refused = false;
    krb5_context context = nullptr;
    if (krb5_error_code code = krb5_init_context(&context); code != 0)
        return "Kerberos cannot start: error " + std::to_string(code);
    std::string error;
    krb5_principal client = nullptr, server = nullptr;
    krb5_init_creds_context initial = nullptr;
    krb5_tkt_creds_context tickets = nullptr;
    krb5_ccache cache = nullptr;
    krb5_creds tgt{}, wanted{};
    std::string reply;
    const auto step = [&](auto&& advance) {
        // Each request goes to this KDC until the library has what it asked for.
        krb5_data in{}, out{}, realm{};
        for (int exchanges = 0; exchanges < 8; ++exchanges) {
            unsigned int flags = 0;
            in = DataOf(reply);
            krb5_error_code code = advance(&in, &out, &realm, &flags);
            krb5_free_data_contents(context, &realm);
            // What the KDC says of the password or the account, as opposed to not answering.
            *refused = *refused || code == KRB5KDC_ERR_PREAUTH_FAILED || code == KRB5KRB_AP_ERR_BAD_INTEGRITY ||
                       code == KRB5KDC_ERR_CLIENT_REVOKED || code == KRB5KDC_ERR_KEY_EXP;
            if (code != 0) {
                krb5_free_data_contents(context, &out);
                return Message(context, code);
            }
            if (!(flags & 1)) // KRB5_INIT_CREDS_STEP_FLAG_CONTINUE, KRB5_TKT_CREDS_STEP_FLAG_CONTINUE
                return std::string();
            std::string sent;
            const bool ok = RoundTrip(address, port, out, deadline, &reply, &sent);
            krb5_free_data_contents(context, &out);
            if (!ok)
                return sent;
        }
        return std::string("the KDC at " + address + " asked for too many exchanges");
    };
    krb5_error_code code = krb5_parse_name(context, principal.c_str(), &client);
    if (code == 0)
        code = krb5_parse_name(context, (service + "@" + principal.substr(principal.rfind('@') + 1)).c_str(), &server);
    if (code == 0)
        code = krb5_cc_resolve(context, cacheName.c_str(), &cache);
    if (code == 0)
        code = krb5_cc_initialize(context, cache, client);
    if (code == 0)
        code = krb5_init_creds_init(context, client, nullptr, nullptr, 0, nullptr, &initial);
    if (code == 0)
        code = krb5_init_creds_set_password(context, initial, password.c_str());
    if (code != 0) {
        error = Message(context, code);
    } else if (error = step([&](krb5_data* in, krb5_data* out, krb5_data* realm, unsigned int* flags) {
                   return krb5_init_creds_step(context, initial, in, out, realm, flags);
               });
               error.empty()) {
        reply.clear();
        if ((code = krb5_init_creds_get_creds(context, initial, &tgt)) != 0 ||
            (code = krb5_cc_store_cred(context, cache, &tgt)) != 0) {
            error = Message(context, code);
        } else {
            wanted.client = client;
            wanted.server = server;
            if ((code = krb5_tkt_creds_init(context, cache, &wanted, 0, &tickets)) != 0)
                error = Message(context, code);
            else
                error = step([&](krb5_data* in, krb5_data* out, krb5_data* realm, unsigned int* flags) {
                    return krb5_tkt_creds_step(context, tickets, in, out, realm, flags);
                });
        }
        if (error.empty()) {
            krb5_creds got{};
            if ((code = krb5_tkt_creds_get_creds(context, tickets, &got)) != 0 ||
                (code = krb5_cc_store_cred(context, cache, &got)) != 0) {
                error = Message(context, code);
            } else {
                // GSSAPI asks for the host's service without a realm (the referral realm), as it
                // knows no mapping of the host to its realm: the same ticket is stored under that
                // name too, as the library stores what a referral got, so that it is found here
                // instead of asked for at whatever KDC the system's configuration names.
                krb5_principal any = got.server;
                if ((code = krb5_copy_principal(context, server, &got.server)) == 0 &&
                    (code = krb5_set_principal_realm(context, got.server, "")) == 0)
                    code = krb5_cc_store_cred(context, cache, &got);
                if (code != 0)
                    error = Message(context, code);
                std::swap(any, got.server);
                krb5_free_principal(context, any);
            }
            krb5_free_cred_contents(context, &got);
        }
    }
    if (!error.empty())
        error = "a ticket for " + service + " as " + principal + " from the KDC at " + address + ": " + error;
    krb5_free_cred_contents(context, &tgt);
    if (tickets != nullptr)
        krb5_tkt_creds_free(context, tickets);
    if (initial != nullptr)
        krb5_init_creds_free(context, initial);
    if (cache != nullptr)
        krb5_cc_close(context, cache);
    if (server != nullptr)
        krb5_free_principal(context, server);
    if (client != nullptr)
        krb5_free_principal(context, client);
    krb5_free_context(context);
    return error;
}

void DestroyTicketCache(const std::string& cacheName)
{
    krb5_context context = nullptr;
    if (krb5_init_context(&context) != 0)
        return;
    krb5_ccache cache = nullptr;
    if (krb5_cc_resolve(context, cacheName.c_str(), &cache) == 0)
        krb5_cc_destroy(context, cache);
    krb5_free_context(context);
}
