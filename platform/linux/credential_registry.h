// The credentials of the network connections the program opened, shared inside the process with
// whatever else must reach the same machine as the same user (the counters, over the machine's
// Remote Registry). Nothing of it leaves the process; a password is wiped when its connection is
// cancelled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/smb_session.h"

class CredentialRegistry {
public:
    using Id = std::uint64_t;

    // Records the credentials of a connection opened to machine; the id withdraws them.
    Id Add(const std::string& machine, const SmbCredentials& credentials);
    // Withdraws and wipes the credentials of a connection that was cancelled.
    void Remove(Id id);

    struct Entry {
        Id id = 0;
        SmbCredentials credentials;
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
    };
    const Record* Latest(const std::string& machine) const;

    Id m_nextId = 1;
    std::vector<Record> m_records;
};
