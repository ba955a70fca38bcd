// A domain controller's replication as it sees it: for each naming context it holds, each
// inbound partner it pulls from, when the last pull succeeded and was tried, how many in a row
// failed and why the last one did; the queue of operations it has yet to run; and the forest's
// tombstone lifetime, past which a controller that has not replicated must not come back. The
// platform reads it (IReplicationService); what it means is decided here, once.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory/kept_refusal.h"
#include "framework/cstring.h"

// One inbound partner of one naming context.
struct ReplicationNeighbor {
    std::string namingContext;  // the context's DN, as the controller gives it
    std::string partnerDsaDn;   // the partner's NTDS Settings object
    std::string partnerAddress; // the DNS name the controller reaches it at (<GUID>._msdcs.<forest>)
    std::string partnerGuid;    // the NTDS Settings object's GUID, lower case with dashes
    // Seconds since 1970 (UTC); none when it never happened.
    std::optional<std::int64_t> lastSuccess;
    std::optional<std::int64_t> lastAttempt;
    std::uint32_t consecutiveFailures = 0;
    std::uint32_t lastResult = 0; // the last attempt's Win32 code; 0 when it succeeded

    // "Site\Server" from the partner's NTDS Settings DN ("CN=NTDS Settings,CN=DC2,CN=Servers,
    // CN=Site,CN=Sites,..."); the DN itself when it is not of that form.
    std::string PartnerName() const;
};

// The forest's tombstone lifetime. A forest whose Directory Service object has no
// tombstoneLifetime is one made before the attribute was set at creation: its controllers use
// 60 days, the shorter and so the safer of the two defaults (forests made since set 180).
inline constexpr std::uint32_t kDefaultTombstoneLifetimeDays = 60;
struct TombstoneLifetime {
    std::uint32_t days = kDefaultTombstoneLifetimeDays;
    bool set = false; // the attribute was read; false: the default above
};
// The lifetime the Directory Service object's tombstoneLifetime gives (none: the object has no
// such value, so the default); none, with *error saying why, when it is not a number of days.
std::optional<TombstoneLifetime> TombstoneLifetimeOf(const std::optional<std::string>& value, std::string* error);

// What one read gave. A read that failed has the Win32 code and the system's text of why.
struct ReplicationStatus {
    bool read = false;
    std::uint32_t error = 0;
    std::string errorText;
    bool refusedLogon = false; // the controller refused the credentials themselves
    std::vector<ReplicationNeighbor> neighbors;
    std::optional<std::uint32_t> pendingOperations;
    // None when the configuration could not be read (tombstoneError says why).
    std::optional<TombstoneLifetime> tombstoneLifetime;
    std::string tombstoneError;
};

// The controller to read and who reads it. A password is wiped when the target goes.
struct ReplicationTarget {
    std::string controller; // its DNS name (a Kerberos bind needs it) or address
    std::string address;    // its address when known: no look-up is made
    CString user;           // empty: the user's own Kerberos ticket
    CString password;

    ReplicationTarget() = default;
    ReplicationTarget(const ReplicationTarget&) = default;
    ReplicationTarget& operator=(const ReplicationTarget&) = default;
    ~ReplicationTarget();
};

// The platform's reader. It keeps its connection to the controller between reads of the same
// target (and drops it when a call on it fails); each read returns within about timeoutMs.
class IReplicationService {
public:
    virtual ~IReplicationService() = default;
    virtual ReplicationStatus Read(const ReplicationTarget& target, int timeoutMs) = 0;
};

// A controller's replication as a reader that stays reads it (the probe's run, an exporter's or
// the overview's session), the way every reader of a controller keeps a refused logon
// (ControllerSession): after a refusal nothing is sent with the same credentials until AllowRetry
// or the end of the backoff, and each read meanwhile gives the kept refusal. Other credentials,
// or another controller, are new ones and go at once. Used by one thread at a time.
class ReplicationReader {
public:
    using Clock = std::chrono::steady_clock;
    // Without a backoff a refusal is kept until AllowRetry.
    ReplicationReader(std::shared_ptr<IReplicationService> service, std::optional<Clock::duration> refusalBackoff);

    ReplicationStatus Read(const ReplicationTarget& target, int timeoutMs);
    bool IsRefused() const;
    void AllowRetry();

private:
    std::shared_ptr<IReplicationService> m_service;
    std::string m_refusedKey; // the controller and user name the kept refusal was given for
    KeptRefusal<ReplicationStatus> m_refusal;
};

// Seconds since 1970 of a Windows time (100 ns since 1601, UTC); none for 0 (never).
std::optional<std::int64_t> UnixSecondsOfFileTime(std::uint64_t fileTime);
// The system's text of a Win32 code without its line end ("The RPC server is unavailable."), or
// "error N" for one the table does not know; "" for 0.
std::string ResultText(std::uint32_t code);

// How long a neighbour has been failing at now: since its last success (since its first
// attempt's time when it never succeeded, as far as is known: its last attempt); none when its
// last attempt succeeded.
std::optional<std::int64_t> FailingSeconds(const ReplicationNeighbor& neighbor, std::int64_t now);

// The status in a few words for a person: "ok, 2 partners", "DC2 failing for 3 h: <text>", or
// the read's own failure.
std::string ReplicationSummary(const ReplicationStatus& status, std::int64_t now);
// A duration in words: "45 s", "12 min", "3 h", "2 d".
std::string DurationWords(std::int64_t seconds);
