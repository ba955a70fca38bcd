#include "platform/win32/win32_include.h"

#include <ntdsapi.h>

#include <algorithm>
#include <cstdio>

#include "platform/win32/win32_replication.h"
#include "platform/win32/win32_system_text.h"

#include "directory/win32_error_text.h"

namespace {

void Fail(ReplicationStatus* status, DWORD code, const std::string& what)
{
    status->read = false;
    status->error = code;
    status->errorText = what + ": " + SystemText(code);
    status->refusedLogon = IsRefusedLogon(code);
}

std::string Utf8(const wchar_t* text)
{
    return text != nullptr ? FromWStr(text).ToUtf8() : std::string();
}

// Lower case with dashes.
std::string GuidText(const UUID& guid)
{
    char text[37];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::uint64_t FileTimeTicks(const FILETIME& time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// One answer of DsReplicaGetInfoW, for every naming context and partner, freed when it goes.
class ReplicaInfo {
public:
    ReplicaInfo(HANDLE binding, DS_REPL_INFO_TYPE type) : m_type(type)
    {
        m_result = DsReplicaGetInfoW(binding, type, nullptr, nullptr, &m_info);
    }
    ~ReplicaInfo()
    {
        if (m_info != nullptr)
            DsReplicaFreeInfo(m_type, m_info);
    }
    ReplicaInfo(const ReplicaInfo&) = delete;
    ReplicaInfo& operator=(const ReplicaInfo&) = delete;

    DWORD Result() const { return m_result != ERROR_SUCCESS || m_info != nullptr ? m_result : ERROR_INVALID_DATA; }
    template <typename T>
    const T& As() const
    {
        return *static_cast<const T*>(m_info);
    }

private:
    DS_REPL_INFO_TYPE m_type;
    void* m_info = nullptr;
    DWORD m_result = ERROR_SUCCESS;
};

ReplicationNeighbor NeighborOf(const DS_REPL_NEIGHBORW& raw)
{
    ReplicationNeighbor neighbor;
    neighbor.namingContext = Utf8(raw.pszNamingContext);
    neighbor.partnerDsaDn = Utf8(raw.pszSourceDsaDN);
    neighbor.partnerAddress = Utf8(raw.pszSourceDsaAddress);
    neighbor.partnerGuid = GuidText(raw.uuidSourceDsaObjGuid);
    neighbor.lastSuccess = UnixSecondsOfFileTime(FileTimeTicks(raw.ftimeLastSyncSuccess));
    neighbor.lastAttempt = UnixSecondsOfFileTime(FileTimeTicks(raw.ftimeLastSyncAttempt));
    neighbor.consecutiveFailures = raw.cNumConsecutiveSyncFailures;
    neighbor.lastResult = raw.dwLastSyncResult;
    return neighbor;
}

} // namespace

Win32ReplicationService::~Win32ReplicationService()
{
    Drop();
}

void Win32ReplicationService::Drop()
{
    if (m_binding != nullptr) {
        HANDLE binding = m_binding;
        DsUnBindW(&binding);
    }
    // The binding used the credentials until it was released.
    if (m_credential != nullptr)
        DsFreePasswordCredentials(m_credential);
    m_binding = nullptr;
    m_credential = nullptr;
}

bool Win32ReplicationService::Bind(const ReplicationTarget& target, int timeoutMs, ReplicationStatus* status)
{
    RPC_AUTH_IDENTITY_HANDLE credential = nullptr;
    if (!target.user.IsEmpty()) {
        // The user name goes to the directory as typed, domain part and all.
        const DWORD made = DsMakePasswordCredentialsW(WStr(target.user), nullptr, WStr(target.password), &credential);
        if (made != ERROR_SUCCESS) {
            Fail(status, made, "the credentials of " + target.user.ToUtf8());
            return false;
        }
    }
    const CString controller = CString::FromUtf8(target.controller);
    HANDLE binding = nullptr;
    const DWORD bound = DsBindWithCredW(WStr(controller), nullptr, credential, &binding);
    if (bound != ERROR_SUCCESS) {
        if (credential != nullptr)
            DsFreePasswordCredentials(credential);
        Fail(status, bound, "the replication interface of " + target.controller);
        return false;
    }
    m_binding = binding;
    m_credential = credential;
    // A call on the binding waits no longer than a read may take.
    DsBindingSetTimeout(binding, static_cast<ULONG>(std::max(1, timeoutMs / 1000)));
    return true;
}

ReplicationStatus Win32ReplicationService::Read(const ReplicationTarget& target, int timeoutMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string key = target.controller + "\n" + target.user.ToUtf8();
    if (key != m_key) {
        Drop();
        m_key = key;
        m_tombstone.reset();
    }
    ReplicationStatus status;
    if (m_binding == nullptr && !Bind(target, timeoutMs, &status))
        return status;
    DWORD result = ERROR_SUCCESS;
    {
        const ReplicaInfo neighbors(m_binding, DS_REPL_INFO_NEIGHBORS);
        result = neighbors.Result();
        if (result == ERROR_SUCCESS) {
            const auto& all = neighbors.As<DS_REPL_NEIGHBORSW>();
            for (DWORD i = 0; i < all.cNumNeighbors; ++i)
                status.neighbors.push_back(NeighborOf(all.rgNeighbor[i]));
        }
    }
    if (result == ERROR_SUCCESS) {
        const ReplicaInfo pending(m_binding, DS_REPL_INFO_PENDING_OPS);
        result = pending.Result();
        if (result == ERROR_SUCCESS)
            status.pendingOperations = pending.As<DS_REPL_PENDING_OPSW>().cNumPendingOps;
    }
    if (result != ERROR_SUCCESS) {
        Fail(&status, result, "the replication information of " + target.controller);
        status.neighbors.clear();
        status.pendingOperations.reset();
        // The next read binds again.
        Drop();
        return status;
    }
    status.read = true;
    // Read once a binding: it changes only by an administrator's hand.
    if (!m_tombstone)
        m_tombstone = ReadTombstoneLifetime(target, timeoutMs, &status.tombstoneError);
    status.tombstoneLifetime = m_tombstone;
    return status;
}
