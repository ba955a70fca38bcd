// A health check of one domain controller: can clients find it in DNS, read its directory over
// LDAP (and the global catalog), bind to it, reach its KDC, trust its clock, and reach the
// shares every controller serves. Each check is one exchange of the platform's
// (IHealthService); RunHealthCheck runs them side by side, each within its own bound and the
// whole within the check's, and turns the rootDSE's answer into the directory's facts.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/cstring.h"

enum class HealthCheckKind { Ldap, GlobalCatalog, LdapBind, Kerberos, Dns, Time, Sysvol, Netlogon };
inline constexpr std::size_t kHealthCheckKinds = 8;

// The check's name in series and json ("ldap", "global_catalog", "ldap_bind", "kerberos", "dns",
// "time", "sysvol", "netlogon") and in words ("LDAP", "global catalog", ...).
std::string_view HealthCheckName(HealthCheckKind kind);
std::string_view HealthCheckWords(HealthCheckKind kind);

// The controller to check and who checks it. A password is wiped when the target goes.
struct HealthTarget {
    std::string controller; // its DNS name (or an IPv4 address, which leaves DNS unchecked)
    std::string domain;     // the domain's DNS name; empty: the controller's name after its first label
    std::string address;    // its address when known (discovery gave it): no look-up is made
    CString user;           // empty: the user's own Kerberos ticket, or anonymous where that is enough
    CString password;
    // Instead of a password: the Kerberos ticket cache ("FILE:/path") whose tickets the bind and
    // the shares use.
    std::string ticketCache;
    // When not empty, the credentials are not sent (a refused logon's backoff): the checks that
    // need them fail with this text instead.
    std::string credentialsWithheld;

    HealthTarget() = default;
    HealthTarget(const HealthTarget&) = default;
    HealthTarget& operator=(const HealthTarget&) = default;
    ~HealthTarget();

    // The domain as given, or as the controller's name implies (lower case).
    std::string Domain() const;
};

// What one exchange gave: whether it did what a client needs, and otherwise why not, in the
// words of the system that failed (the LDAP library's, the KDC's, the resolver's, SMB's).
struct HealthProbe {
    bool success = false;
    std::string detail;
    bool refusedLogon = false; // the controller refused the credentials themselves
};

// The rootDSE as the controller sent it, with this machine's clock (milliseconds since 1970,
// UTC) just before the search went out and just after its answer came.
struct RootDseReading {
    HealthProbe probe;
    std::int64_t sentUnixMs = 0;
    std::int64_t receivedUnixMs = 0;
    std::string currentTime;    // generalized time, e.g. 20260504120001.0Z
    std::string isSynchronized; // TRUE / FALSE
    std::string isGlobalCatalogReady;
    std::string highestCommittedUSN;
    std::string dnsHostName;
};

// The exchanges of a check, one a call; the platform implements them. Each returns within
// about timeoutMs, and holds nothing that another check waits for: they are called at once,
// each on a thread of its own.
class IHealthService {
public:
    virtual ~IHealthService() = default;

    // The rootDSE read anonymously at port (389, or 3268 for the global catalog).
    virtual RootDseReading ReadRootDse(const HealthTarget& target, std::uint16_t port, int timeoutMs) = 0;
    // An authenticated bind with the target's credentials, then a read of the domain object.
    virtual HealthProbe BindAndReadDomain(const HealthTarget& target, int timeoutMs) = 0;
    // The controller's own KDC answers a request for the target's principal. Sends no key: a
    // KDC that asks for pre-authentication has answered, and no logon is refused.
    virtual HealthProbe AskKdc(const HealthTarget& target, int timeoutMs) = 0;
    // The controller's DNS server answers for the domain and lists the controller in the records
    // it registers (its LDAP and Kerberos SRV records, its own address record).
    virtual HealthProbe CheckDnsRecords(const HealthTarget& target, int timeoutMs) = 0;
    // The share (SYSVOL, NETLOGON) connected with the target's credentials.
    virtual HealthProbe ReachShare(const HealthTarget& target, const std::string& share, int timeoutMs) = 0;
};

struct HealthCheckResult {
    HealthCheckKind kind = HealthCheckKind::Ldap;
    bool success = false;
    double durationSeconds = 0;
    std::string detail; // the failure's text, or on success what was seen
};

// What the rootDSE said, when it was read.
struct DirectoryFacts {
    std::optional<double> clockOffsetSeconds; // the controller's clock minus this machine's
    std::optional<double> roundTripSeconds;   // of the search that read currentTime
    std::optional<bool> synchronized;
    std::optional<bool> globalCatalogReady;
    std::optional<std::uint64_t> highestCommittedUsn;
    std::string dnsHostName;
};

struct HealthReport {
    std::vector<HealthCheckResult> checks; // in HealthCheckKind's order; the global catalog's
                                           // only where the controller is one
    DirectoryFacts facts;
    bool refusedLogon = false; // a check's logon was refused: the credentials are wrong

    const HealthCheckResult* Find(HealthCheckKind kind) const;
    bool AllPassed() const;
};

struct HealthCheckOptions {
    int checkTimeoutMs = 5000;  // each exchange's bound
    int totalTimeoutMs = 10000; // the whole check's
};

// A clock further off than this makes Kerberos refuse tickets (its default skew), and fails the
// time check.
inline constexpr double kMaxClockOffsetSeconds = 300;

// Runs the checks side by side and waits for them, at most the whole check's bound; a check
// still running then is reported as not answering (its thread ends on its own, keeping the
// service and the target alive until it does). With a password, the shares' logons wait for the
// bind's (within its bound) and are not tried when it was refused, so that wrong credentials
// cost the account one refused logon a check, not three.
HealthReport RunHealthCheck(const std::shared_ptr<IHealthService>& service, const HealthTarget& target,
                            const HealthCheckOptions& options = {});

// The facts of a rootDSE reading. currentTime has whole seconds: the controller's clock is taken
// to be half a second past the second it names, against the midpoint of the search on ours.
DirectoryFacts DirectoryFactsOf(const RootDseReading& reading);
// Seconds since 1970 (UTC) of a generalized time "YYYYMMDDHHMMSS[.f]Z"; none when it is not one.
std::optional<std::int64_t> ParseGeneralizedTime(std::string_view text);

// The report in a few words for a person: "ok", or what fails ("LDAP, Kerberos not answering",
// "clock 7 min ahead").
std::string HealthSummary(const HealthReport& report);
// An offset in words: "0.4 s ahead", "7 min behind".
std::string ClockOffsetWords(double seconds);
