// A domain controller's replication read with Linux's libraries (IReplicationService): its
// neighbours and pending operations over DRSUAPI (drsuapi_client.c, through Samba's client
// libraries), the forest's tombstone lifetime over LDAP (the health room's bind). A refused logon
// is kept by the reader above it (ReplicationReader), not here.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "directory/replication_status.h"
#include "platform/linux/health/linux_health_service.h"
#include "platform/linux/names/dns_resolver.h"

struct drsuapi_client;

class LinuxReplicationService : public IReplicationService {
public:
    struct Options {
        // Where the controller's name is looked up; none: the system's resolver.
        std::optional<DnsServer> dnsServer;
        std::uint16_t kdcPort = 88;
    };

    LinuxReplicationService() : LinuxReplicationService(Options{}) {}
    explicit LinuxReplicationService(Options options);
    ~LinuxReplicationService() override;
    LinuxReplicationService(const LinuxReplicationService&) = delete;
    LinuxReplicationService& operator=(const LinuxReplicationService&) = delete;

    // Keeps the bound connection for the next read of the same target and credentials; the
    // tombstone lifetime is read once for it.
    ReplicationStatus Read(const ReplicationTarget& target, int timeoutMs) override;

private:
    void Drop();
    bool Connect(const ReplicationTarget& target, int timeoutMs, ReplicationStatus* status);

    Options m_options;
    LinuxHealthService m_ldap;
    std::mutex m_mutex;
    drsuapi_client* m_client = nullptr;
    std::string m_key; // whose connection m_client is: controller, address and user
    std::optional<TombstoneLifetime> m_tombstone;
};
