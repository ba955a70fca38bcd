#include "directory/health_check.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "framework/secret_text.h"
#include "framework/worker_threads.h"

namespace {

constexpr std::array<std::string_view, kHealthCheckKinds> kNames = {
    "ldap", "global_catalog", "ldap_bind", "kerberos", "dns", "time", "sysvol", "netlogon",
};
constexpr std::array<std::string_view, kHealthCheckKinds> kWords = {
    "LDAP", "global catalog", "LDAP bind", "Kerberos", "DNS", "clock", "SYSVOL", "NETLOGON",
};

constexpr std::uint16_t kLdapPort = 389;
constexpr std::uint16_t kGlobalCatalogPort = 3268;

using Clock = std::chrono::steady_clock;

// The exchanges that run on threads of their own; the time check is read from the LDAP one.
constexpr HealthCheckKind kExchanges[] = {
    HealthCheckKind::Ldap, HealthCheckKind::GlobalCatalog, HealthCheckKind::LdapBind, HealthCheckKind::Kerberos,
    HealthCheckKind::Dns,  HealthCheckKind::Sysvol,        HealthCheckKind::Netlogon,
};

std::size_t Index(HealthCheckKind kind)
{
    return static_cast<std::size_t>(kind);
}

// What the threads share with the waiting caller, kept alive by whichever of them ends last.
struct Run {
    std::mutex mutex;
    std::condition_variable done;
    std::array<std::optional<HealthCheckResult>, kHealthCheckKinds> results;
    std::array<RootDseReading, 2> rootDse; // 389, 3268
    std::size_t finished = 0;
    // The bind's outcome, for the shares' logons that wait for it.
    bool bindDone = false;
    bool bindRefused = false;
    bool refusedLogon = false;
};

std::optional<bool> Boolean(const std::string& text)
{
    if (text == "TRUE")
        return true;
    if (text == "FALSE")
        return false;
    return std::nullopt;
}

std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, std::fabs(seconds) < 10 ? "%.3f s" : "%.1f s", seconds);
    return text;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

} // namespace

std::string_view HealthCheckName(HealthCheckKind kind)
{
    return kNames[Index(kind)];
}
std::string_view HealthCheckWords(HealthCheckKind kind)
{
    return kWords[Index(kind)];
}

HealthTarget::~HealthTarget()
{
    WipeText(password);
}

std::string HealthTarget::Domain() const
{
    std::string domain = this->domain;
    if (domain.empty()) {
        const std::size_t dot = controller.find('.');
        const bool address = std::all_of(controller.begin(), controller.end(),
                                         [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
        if (dot != std::string::npos && !address)
            domain = controller.substr(dot + 1);
    }
    while (!domain.empty() && domain.back() == '.')
        domain.pop_back();
    std::transform(domain.begin(), domain.end(), domain.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return domain;
}

const HealthCheckResult* HealthReport::Find(HealthCheckKind kind) const
{
    for (const HealthCheckResult& check : checks) {
        if (check.kind == kind)
            return &check;
    }
    return nullptr;
}

bool HealthReport::AllPassed() const
{
    return std::all_of(checks.begin(), checks.end(), [](const HealthCheckResult& c) { return c.success; });
}

std::optional<std::int64_t> ParseGeneralizedTime(std::string_view text)
{
    if (text.size() < 15 || text.back() != 'Z')
        return std::nullopt;
    for (std::size_t i = 0; i < 14; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t digits) {
        int value = 0;
        for (std::size_t i = at; i < at + digits; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    const int year = number(0, 4), month = number(4, 2), day = number(6, 2);
    const int hour = number(8, 2), minute = number(10, 2), second = number(12, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    // What may follow the seconds: a fraction, then the Z.
    const std::string_view rest = text.substr(14, text.size() - 15);
    if (!rest.empty() && ((rest[0] != '.' && rest[0] != ',') ||
                          !std::all_of(rest.begin() + 1, rest.end(), [](char c) { return c >= '0' && c <= '9'; })))
        return std::nullopt;
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           std::int64_t{ hour } * 3600 + std::int64_t{ minute } * 60 + second;
}

DirectoryFacts DirectoryFactsOf(const RootDseReading& reading)
{
    DirectoryFacts facts;
    if (!reading.probe.success)
        return facts;
    if (const auto server = ParseGeneralizedTime(reading.currentTime)) {
        const double midpoint =
            (static_cast<double>(reading.sentUnixMs) + static_cast<double>(reading.receivedUnixMs)) / 2000.0;
        facts.clockOffsetSeconds = static_cast<double>(*server) + 0.5 - midpoint;
        facts.roundTripSeconds = static_cast<double>(reading.receivedUnixMs - reading.sentUnixMs) / 1000.0;
    }
    facts.synchronized = Boolean(reading.isSynchronized);
    facts.globalCatalogReady = Boolean(reading.isGlobalCatalogReady);
    const std::string& usn = reading.highestCommittedUSN;
    if (!usn.empty() && usn.size() <= 19 &&
        std::all_of(usn.begin(), usn.end(), [](char c) { return c >= '0' && c <= '9'; }))
        facts.highestCommittedUsn = std::stoull(usn);
    facts.dnsHostName = reading.dnsHostName;
    return facts;
}

std::string ClockOffsetWords(double seconds)
{
    const double size = std::fabs(seconds);
    const char* way = seconds >= 0 ? "ahead" : "behind";
    char text[48];
    if (size >= 120)
        std::snprintf(text, sizeof text, "%.0f min %s", size / 60, way);
    else if (size >= 10)
        std::snprintf(text, sizeof text, "%.0f s %s", size, way);
    else
        std::snprintf(text, sizeof text, "%.1f s %s", size, way);
    return text;
}

std::string HealthSummary(const HealthReport& report)
{
    std::string failing;
    bool clock = false;
    for (const HealthCheckResult& check : report.checks) {
        if (check.success)
            continue;
        if (check.kind == HealthCheckKind::Time && report.facts.clockOffsetSeconds) {
            clock = true;
            continue;
        }
        failing += (failing.empty() ? "" : ", ") + std::string(HealthCheckWords(check.kind));
    }
    std::string summary = failing.empty() ? std::string() : failing + " failing";
    if (clock)
        summary += (summary.empty() ? "clock " : "; clock ") + ClockOffsetWords(*report.facts.clockOffsetSeconds);
    return summary.empty() ? "ok" : summary;
}

HealthReport RunHealthCheck(const std::shared_ptr<IHealthService>& service, const HealthTarget& target,
                            const HealthCheckOptions& options)
{
    const auto run = std::make_shared<Run>();
    const auto shared = std::make_shared<const HealthTarget>(target);
    const int total = std::max(1, options.totalTimeoutMs);
    const int bound = std::max(1, std::min(options.checkTimeoutMs, total));
    const Clock::time_point start = Clock::now();
    const bool password = !target.password.IsEmpty() && target.credentialsWithheld.empty();

    for (const HealthCheckKind kind : kExchanges) {
        RunOnWorkerThread([run, service, shared, kind, bound, start, password] {
            const bool share = kind == HealthCheckKind::Sysvol || kind == HealthCheckKind::Netlogon;
            const bool credentialed = share || kind == HealthCheckKind::LdapBind;
            bool refused = false;
            if (share && password) {
                std::unique_lock lock(run->mutex);
                run->done.wait_until(lock, start + std::chrono::milliseconds(bound), [&] { return run->bindDone; });
                refused = run->bindRefused;
            }
            HealthProbe probe;
            RootDseReading reading;
            if (credentialed && !shared->credentialsWithheld.empty()) {
                probe.detail = "not tried: " + shared->credentialsWithheld;
            } else if (refused) {
                probe.detail = "not tried: the bind's logon with the same credentials was refused";
            } else {
                switch (kind) {
                case HealthCheckKind::Ldap:
                case HealthCheckKind::GlobalCatalog:
                    reading =
                        service->ReadRootDse(*shared, kind == HealthCheckKind::Ldap ? kLdapPort : kGlobalCatalogPort,
                                             bound);
                    probe = reading.probe;
                    break;
                case HealthCheckKind::LdapBind:
                    probe = service->BindAndReadDomain(*shared, bound);
                    break;
                case HealthCheckKind::Kerberos:
                    probe = service->AskKdc(*shared, bound);
                    break;
                case HealthCheckKind::Dns:
                    probe = service->CheckDnsRecords(*shared, bound);
                    break;
                case HealthCheckKind::Sysvol:
                    probe = service->ReachShare(*shared, "SYSVOL", bound);
                    break;
                case HealthCheckKind::Netlogon:
                    probe = service->ReachShare(*shared, "NETLOGON", bound);
                    break;
                case HealthCheckKind::Time:
                    break;
                }
            }
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            std::lock_guard lock(run->mutex);
            run->results[Index(kind)] = HealthCheckResult{ kind, probe.success, seconds, std::move(probe.detail) };
            if (kind == HealthCheckKind::Ldap || kind == HealthCheckKind::GlobalCatalog)
                run->rootDse[kind == HealthCheckKind::Ldap ? 0 : 1] = std::move(reading);
            if (kind == HealthCheckKind::LdapBind) {
                run->bindDone = true;
                run->bindRefused = probe.refusedLogon;
            }
            run->refusedLogon = run->refusedLogon || probe.refusedLogon;
            ++run->finished;
            run->done.notify_all();
        });
    }

    std::unique_lock lock(run->mutex);
    run->done.wait_until(lock, start + std::chrono::milliseconds(total) + std::chrono::milliseconds(250),
                         [&] { return run->finished == std::size(kExchanges); });

    HealthReport report;
    report.refusedLogon = run->refusedLogon;
    const double waited = std::chrono::duration<double>(Clock::now() - start).count();
    for (const HealthCheckKind kind : kExchanges) {
        if (run->results[Index(kind)])
            continue;
        run->results[Index(kind)] = HealthCheckResult{ kind, false, waited, "no answer within " + Seconds(waited) };
    }
    // The rootDSE read at 389, else at the global catalog's port.
    const RootDseReading& ldap = run->rootDse[0].probe.success ? run->rootDse[0] : run->rootDse[1];
    report.facts = DirectoryFactsOf(ldap);

    HealthCheckResult time{ HealthCheckKind::Time, false, 0, {} };
    if (report.facts.clockOffsetSeconds) {
        const double offset = *report.facts.clockOffsetSeconds;
        time.durationSeconds = *report.facts.roundTripSeconds;
        time.success = std::fabs(offset) <= kMaxClockOffsetSeconds;
        time.detail = "offset " + Seconds(offset) + ", round trip " + Seconds(*report.facts.roundTripSeconds);
        if (!time.success)
            time.detail = "the clock is " + ClockOffsetWords(offset) + ", past Kerberos' 5 min: " + time.detail;
    } else {
        time.detail = ldap.probe.success ? "the rootDSE has no currentTime: '" + ldap.currentTime + "'"
                                         : "no currentTime: the rootDSE could not be read";
    }
    run->results[Index(HealthCheckKind::Time)] = std::move(time);

    // The global catalog is checked only where the controller says it is one, or it answers.
    const HealthCheckResult& gc = *run->results[Index(HealthCheckKind::GlobalCatalog)];
    const bool notACatalog = !gc.success && report.facts.globalCatalogReady == false;
    for (std::size_t i = 0; i < kHealthCheckKinds; ++i) {
        if (i == Index(HealthCheckKind::GlobalCatalog) && notACatalog)
            continue;
        report.checks.push_back(*run->results[i]);
    }
    return report;
}
