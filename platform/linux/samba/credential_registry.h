// The credentials of the network connections the program opened, shared inside the process with
// whatever else must reach the same machine as the same user (the counters, over the machine's
// Remote Registry). Nothing of it leaves the process; a password is wiped when its connection is
// cancelled. A logon the server refused is remembered with the credentials, so that nothing logs
// on with them again until the user gives them anew (a new connection): a domain locks an
// account after a few refused logons. Safe to use from several threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/samba/smb_session.h"

class CredentialRegistry {
public:
    using Id = std::uint64_t;

    // Records the credentials of a connection opened to machine; the id withdraws them.
    Id Add(const std::string& machine, const SmbCredentials& credentials);
    // Withdraws and wipes the credentials of a connection that was cancelled.
    void Remove(Id id);

    // Notes that the server refused a logon with the credentials of id (a Win32 error for which
    // IsRefusedLogon holds).
    void MarkRefused(Id id, std::uint32_t refusal);

    struct Entry {
        Id id = 0;
        SmbCredentials credentials;
        std::uint32_t refusal = 0; // the refusal of an earlier logon with them; 0 while none
    };
    // The credentials of the latest connection to machine (case ignored) still open.
    std::optional<Entry> Find(const std::string& machine) const;
    // Whether the credentials of id are still those of the latest connection to machine.
    bool IsCurrent(const std::string& machine, Id id) const;

private:
    struct Record {
        Id id;
        std::string machine;
        SmbCredentials credentials;
        std::uint32_t refusal = 0;
    };
    const Record* Latest(const std::string& machine) const;

    mutable std::mutex m_mutex;
    Id m_nextId = 1;
    std::vector<Record> m_records;
};
