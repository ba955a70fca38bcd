// An auth's Kerberos logon from a keytab: the ticket-granting ticket of its principal, asked of the
// KDC with the keytab's key and kept in a ticket cache file of the exporter's own (a directory only
// its user may enter), which the connections of that auth log on with. A new ticket is asked for
// when the one held is near its end or a logon with it was refused, and replaces the cache file at
// once (written aside, then renamed), so that a connection reading it never sees it half written.
// Nothing of the keytab is written anywhere else, nor logged. Safe to use from several threads.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/remote/performance_registry.h"
#include "platform/linux/samba/credential_registry.h"

class KeytabTicket {
public:
    // principal: "name@REALM"; keytab: the file's path; cacheFile: where the ticket is kept.
    // keytabDescriptor: the keytab as it was opened and checked (FindAuthKeytab), taken over and
    // read at every request instead of the path, which may name another file by then; -1: the
    // path is read.
    KeytabTicket(std::string principal, std::string keytab, std::string cacheFile, int keytabDescriptor = -1);
    // Removes the cache file.
    ~KeytabTicket();
    KeytabTicket(const KeytabTicket&) = delete;
    KeytabTicket& operator=(const KeytabTicket&) = delete;

    // 0 when the cache holds a ticket good for a while yet, asking the KDC for one when it does
    // not; else a Win32 error: the KDC's refusal as a refused logon (ERROR_LOGON_FAILURE,
    // ERROR_ACCOUNT_DISABLED...), ERROR_NO_LOGON_SERVERS when no KDC answered, and *error the
    // reason in words.
    std::uint32_t Ensure(std::string* error);
    // The ticket is not to be used again: the next Ensure asks the KDC.
    void Drop();

    // The cache as Kerberos names it: "FILE:" and the file.
    std::string CacheName() const { return "FILE:" + m_cacheFile; }
    // How many times the KDC was asked.
    unsigned Requests() const;

private:
    std::string KeytabName() const;

    std::string m_principal;
    std::string m_keytab;
    int m_keytabDescriptor;
    std::string m_cacheFile;
    mutable std::mutex m_mutex;
    std::time_t m_endTime = 0; // the ticket's end; 0 while none
    std::time_t m_lifetime = 0;
    unsigned m_requests = 0;
};

// A registry over another, for connections whose credentials log on with a keytab's ticket (their
// ticketCache is one of tickets'): the ticket is made fresh before each connection. A refusal of
// the KDC is marked on the connection's credentials as a refused logon is, so that nothing asks
// again until the credentials are given anew. Other credentials pass through untouched.
class KeytabLogonRegistry : public IPerformanceRegistry {
public:
    using Tickets = std::map<std::string, std::shared_ptr<KeytabTicket>>; // by CacheName()
    using Logger = std::function<void(const std::string& line)>;
    // logger: told why a ticket could not be had (the principal, the keytab's path and Kerberos'
    // reason; nothing of the keytab's contents).
    KeytabLogonRegistry(std::unique_ptr<IPerformanceRegistry> real, Tickets tickets, CredentialRegistry& credentials,
                        Logger logger = {});
    std::uint32_t Open(const std::string& machine, std::unique_ptr<IPerformanceKey>* key) override;

private:
    std::unique_ptr<IPerformanceRegistry> m_real;
    Tickets m_tickets;
    CredentialRegistry& m_credentials;
    Logger m_logger;
};
