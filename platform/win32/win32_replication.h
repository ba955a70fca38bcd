// A domain controller's replication read with the system's libraries (IReplicationService): its
// neighbours and pending operations through ntdsapi (DsBindWithCredW, DsReplicaGetInfoW), the
// forest's tombstone lifetime over LDAP (wldap32, a Negotiate bind with the same credentials). A
// refused logon is kept by the reader above it (ReplicationReader), not here. The controller is
// reached by its name, which the system resolves (a Kerberos logon needs it): the target's
// address is not used.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "directory/replication_status.h"

class Win32ReplicationService : public IReplicationService {
public:
    Win32ReplicationService() = default;
    ~Win32ReplicationService() override;
    Win32ReplicationService(const Win32ReplicationService&) = delete;
    Win32ReplicationService& operator=(const Win32ReplicationService&) = delete;

    // Keeps the binding for the next read of the same target and credentials; the tombstone
    // lifetime is read once for it.
    ReplicationStatus Read(const ReplicationTarget& target, int timeoutMs) override;

private:
    void Drop();
    bool Bind(const ReplicationTarget& target, int timeoutMs, ReplicationStatus* status);

    std::mutex m_mutex;
    void* m_binding = nullptr;    // the system's handle to the bound controller
    void* m_credential = nullptr; // the credentials it was bound with; none: the user's own logon
    std::string m_key;            // whose binding it is: controller and user
    std::optional<TombstoneLifetime> m_tombstone;
};

// The tombstoneLifetime of the forest's Directory Service object, read from the controller over
// LDAP with the target's credentials (the user's own logon without a user): the lifetime (the
// default when the forest has none), or none and *error says why.
std::optional<TombstoneLifetime> ReadTombstoneLifetime(const ReplicationTarget& target, int timeoutMs,
                                                       std::string* error);
