#include "platform/linux/replication/linux_replication_service.h"

#include <algorithm>

#include "directory/win32_error_text.h"
#include "framework/secret_text.h"
#include "platform/linux/health/controller_link.h"
#include "platform/linux/replication/drsuapi_client.h"

namespace {

// The forest's Directory Service object, under the configuration naming context.
constexpr const char* kDirectoryService = "CN=Directory Service,CN=Windows NT,CN=Services";

HealthTarget HealthTargetOf(const ReplicationTarget& target)
{
    HealthTarget health;
    health.controller = target.controller;
    health.address = target.address;
    health.user = target.user;
    health.password = target.password;
    return health;
}

void Fail(ReplicationStatus* status, std::uint32_t code, const std::string& what)
{
    status->read = false;
    status->error = code;
    status->errorText = what + ": " + ResultText(code);
    status->refusedLogon = IsRefusedLogon(code);
}

void AddNeighbor(void* context, const drsuapi_neighbor* raw)
{
    ReplicationNeighbor neighbor;
    neighbor.namingContext = raw->naming_context_dn;
    neighbor.partnerDsaDn = raw->source_dsa_dn;
    neighbor.partnerAddress = raw->source_dsa_address;
    neighbor.partnerGuid = raw->source_dsa_guid;
    neighbor.lastSuccess = UnixSecondsOfFileTime(raw->last_success);
    neighbor.lastAttempt = UnixSecondsOfFileTime(raw->last_attempt);
    neighbor.consecutiveFailures = raw->consecutive_failures;
    neighbor.lastResult = raw->result_last_attempt;
    static_cast<std::vector<ReplicationNeighbor>*>(context)->push_back(std::move(neighbor));
}

} // namespace

LinuxReplicationService::LinuxReplicationService(Options options)
    : m_options(std::move(options)), m_ldap(LinuxHealthService::Options{ m_options.dnsServer, 53, m_options.kdcPort })
{
}

LinuxReplicationService::~LinuxReplicationService()
{
    Drop();
}

void LinuxReplicationService::Drop()
{
    if (m_client != nullptr)
        drsuapi_client_close(m_client);
    m_client = nullptr;
}

bool LinuxReplicationService::Connect(const ReplicationTarget& target, int timeoutMs, ReplicationStatus* status)
{
    const HealthDeadline deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string error;
    const std::string address = ControllerAddress(m_options.dnsServer, HealthTargetOf(target), deadline, &error);
    if (address.empty()) {
        Fail(status, win32_error::kDnsLookupFailure, error);
        return false;
    }
    std::string user = target.user.ToUtf8();
    std::string password;
    PrepareSecretText(password, 0);
    password = target.password.ToUtf8();
    samba_connect_options options{};
    options.server = address.c_str();
    options.target_name = target.controller.c_str();
    options.logon = user.empty() ? SAMBA_LOGON_OWN_TICKET : SAMBA_LOGON_PASSWORD;
    options.user = user.c_str();
    options.password = password.c_str();
    options.connect_timeout_ms = static_cast<unsigned>(std::max(1, MsBefore(deadline)));
    options.call_timeout_seconds = static_cast<unsigned>(std::max(1, timeoutMs / 1000));
    std::uint32_t werror = 0;
    const std::uint32_t ntstatus = drsuapi_client_open(&options, &m_client, &werror);
    WipeText(password);
    const std::string where = "the replication interface of " + target.controller;
    if (ntstatus != 0) {
        Fail(status, samba_ntstatus_to_win32(ntstatus), where);
        return false;
    }
    if (werror != 0) {
        Fail(status, werror, where);
        return false;
    }
    return true;
}

ReplicationStatus LinuxReplicationService::Read(const ReplicationTarget& target, int timeoutMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string key = target.controller + "\n" + target.address + "\n" + target.user.ToUtf8();
    if (key != m_key) {
        Drop();
        m_key = key;
        m_tombstone.reset();
    }
    if (m_client != nullptr && drsuapi_client_failed(m_client))
        Drop();
    ReplicationStatus status;
    if (m_client == nullptr && !Connect(target, timeoutMs, &status))
        return status;
    std::uint32_t werror = 0;
    std::uint32_t ntstatus = drsuapi_client_neighbors(m_client, AddNeighbor, &status.neighbors, &werror);
    std::uint32_t pending = 0;
    if (ntstatus == 0 && werror == 0)
        ntstatus = drsuapi_client_pending_operations(m_client, &pending, &werror);
    if (ntstatus != 0 || werror != 0) {
        Fail(&status, ntstatus != 0 ? samba_ntstatus_to_win32(ntstatus) : werror,
             "the replication information of " + target.controller);
        status.neighbors.clear();
        if (ntstatus != 0)
            Drop();
        return status;
    }
    status.read = true;
    status.pendingOperations = pending;
    // Read once a connection: it changes only by an administrator's hand.
    if (!m_tombstone) {
        std::optional<std::string> value;
        const HealthProbe probe = m_ldap.ReadConfigurationValue(HealthTargetOf(target), kDirectoryService,
                                                                "tombstoneLifetime", timeoutMs, &value);
        if (!probe.success)
            status.tombstoneError = probe.detail;
        else
            m_tombstone = TombstoneLifetimeOf(value, &status.tombstoneError);
    }
    status.tombstoneLifetime = m_tombstone;
    return status;
}
