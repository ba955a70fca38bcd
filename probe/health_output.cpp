#include "probe/health_output.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string Number(double value, const char* format)
{
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The shortest text that reads back as the same double, as Prometheus and JSON read numbers.
std::string Exact(double value)
{
    for (int digits = 1; digits <= 17; ++digits) {
        char text[48];
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value)
            return text;
    }
    return Number(value, "%.17g");
}

std::string OneLine(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
        else if (c == '|')
            c = '/';
    }
    return text;
}

bool IsVital(HealthCheckKind kind)
{
    return kind == HealthCheckKind::Ldap || kind == HealthCheckKind::Kerberos || kind == HealthCheckKind::Dns ||
           kind == HealthCheckKind::Time;
}

} // namespace

std::string HealthTable(const std::string& controller, const HealthReport& report)
{
    std::string out = "Health of " + controller + ": " + HealthSummary(report) + "\n";
    for (const HealthCheckResult& check : report.checks) {
        const std::string name(HealthCheckName(check.kind));
        out += name + std::string(name.size() < 16 ? 16 - name.size() : 1, ' ') +
               (check.success ? "ok    " : "FAILED") + Number(check.durationSeconds, " %7.3f s  ") +
               OneLine(check.detail) + "\n";
    }
    const DirectoryFacts& facts = report.facts;
    if (facts.clockOffsetSeconds)
        out += "clock offset    " + Number(*facts.clockOffsetSeconds, "%+.3f s") + " (" +
               ClockOffsetWords(*facts.clockOffsetSeconds) + "), round trip " +
               Number(*facts.roundTripSeconds, "%.3f s") + "\n";
    if (facts.synchronized)
        out += std::string("synchronized    ") + (*facts.synchronized ? "yes" : "no") + "\n";
    if (facts.globalCatalogReady)
        out += std::string("global catalog  ") + (*facts.globalCatalogReady ? "ready" : "not ready") + "\n";
    if (facts.highestCommittedUsn)
        out += "highest USN     " + std::to_string(*facts.highestCommittedUsn) + "\n";
    if (!facts.dnsHostName.empty())
        out += "DNS host name   " + facts.dnsHostName + "\n";
    return out;
}

std::string HealthJson(const std::string& controller, const LocalTime& time, const HealthReport& report)
{
    const DirectoryFacts& facts = report.facts;
    std::string out = "{\"time\":" + JsonString(IsoTime(time)) + ",\"machine\":" + JsonString(controller) +
                      ",\"healthy\":" + (report.AllPassed() ? "true" : "false") +
                      ",\"summary\":" + JsonString(HealthSummary(report)) + ",\"checks\":[";
    for (std::size_t i = 0; i < report.checks.size(); ++i) {
        const HealthCheckResult& check = report.checks[i];
        out += std::string(i == 0 ? "" : ",") + "{\"check\":" + JsonString(HealthCheckName(check.kind)) +
               ",\"success\":" + (check.success ? "true" : "false") +
               ",\"duration_seconds\":" + Exact(check.durationSeconds) + ",\"detail\":" + JsonString(check.detail) +
               "}";
    }
    const auto optionalNumber = [](const std::optional<double>& value) { return value ? Exact(*value) : "null"; };
    const auto optionalBool = [](const std::optional<bool>& value) {
        return value ? (*value ? "true" : "false") : "null";
    };
    out += "],\"clock_offset_seconds\":" + optionalNumber(facts.clockOffsetSeconds) +
           ",\"round_trip_seconds\":" + optionalNumber(facts.roundTripSeconds) +
           ",\"synchronized\":" + optionalBool(facts.synchronized) +
           ",\"global_catalog_ready\":" + optionalBool(facts.globalCatalogReady) + ",\"highest_committed_usn\":" +
           (facts.highestCommittedUsn ? std::to_string(*facts.highestCommittedUsn) : std::string("null")) +
           ",\"dns_host_name\":" + (facts.dnsHostName.empty() ? "null" : JsonString(facts.dnsHostName)) + "}\n";
    return out;
}

void AddHealthSeries(PrometheusExposition& out, const HealthReport& report, const std::string& labels)
{
    const auto with = [&](const std::string& more) {
        return labels + (labels.empty() || more.empty() ? "" : ",") + more;
    };
    for (const HealthCheckResult& check : report.checks)
        out.Add("zeltor_health_check_success", "gauge", "Whether the check of the controller passed (1) or failed (0).",
                with(PrometheusLabel("check", HealthCheckName(check.kind))), check.success ? "1" : "0");
    for (const HealthCheckResult& check : report.checks) {
        if (!check.success)
            out.Add("zeltor_health_check_failure_info", "gauge",
                    "Why the check failed, in the words of the system that failed.",
                    with(PrometheusLabel("check", HealthCheckName(check.kind)) + "," +
                         PrometheusLabel("text", check.detail)),
                    "1");
    }
    for (const HealthCheckResult& check : report.checks)
        out.Add("zeltor_health_check_duration_seconds", "gauge", "How long the check took, in seconds.",
                with(PrometheusLabel("check", HealthCheckName(check.kind))), PrometheusNumber(check.durationSeconds));
    const DirectoryFacts& facts = report.facts;
    if (facts.clockOffsetSeconds) {
        out.Add("zeltor_directory_clock_offset_seconds", "gauge",
                "The controller's clock (its rootDSE's currentTime) minus this machine's, in seconds.", labels,
                PrometheusNumber(*facts.clockOffsetSeconds));
        out.Add("zeltor_directory_clock_round_trip_seconds", "gauge",
                "The round trip of the search that read currentTime, in seconds.", labels,
                PrometheusNumber(*facts.roundTripSeconds));
    }
    if (facts.synchronized)
        out.Add("zeltor_directory_synchronized", "gauge",
                "Whether the controller says it has synchronized (isSynchronized).", labels,
                *facts.synchronized ? "1" : "0");
    if (facts.globalCatalogReady)
        out.Add("zeltor_directory_global_catalog_ready", "gauge",
                "Whether the controller serves the global catalog (isGlobalCatalogReady).", labels,
                *facts.globalCatalogReady ? "1" : "0");
    if (facts.highestCommittedUsn)
        out.Add("zeltor_directory_highest_committed_usn", "counter",
                "The controller's highest committed update sequence number: it grows with every write.", labels,
                std::to_string(*facts.highestCommittedUsn));
}

std::string HealthPrometheus(const std::string& machine, const HealthReport& report)
{
    PrometheusExposition out;
    AddHealthSeries(out, report, machine.empty() ? "" : PrometheusLabel("instance", machine));
    return out.Text();
}

HealthPluginLine HealthNagios(const std::string& controller, const HealthReport& report,
                              const std::optional<ThresholdRange>& warning,
                              const std::optional<ThresholdRange>& critical)
{
    PluginState state = PluginState::Ok;
    std::string problems;
    const auto raise = [&](PluginState to, const std::string& problem) {
        const auto severity = [](PluginState s) {
            return s == PluginState::Critical ? 3 : s == PluginState::Unknown ? 2 : static_cast<int>(s);
        };
        if (severity(to) > severity(state))
            state = to;
        problems += (problems.empty() ? "" : ", ") + problem;
    };
    for (const HealthCheckResult& check : report.checks) {
        if (!check.success)
            raise(IsVital(check.kind) ? PluginState::Critical : PluginState::Warning,
                  std::string(HealthCheckWords(check.kind)) + ": " + check.detail);
    }
    const std::optional<double>& offset = report.facts.clockOffsetSeconds;
    if (offset) {
        const double size = std::fabs(*offset);
        if (critical && Alerts(*critical, size))
            raise(PluginState::Critical, "clock " + ClockOffsetWords(*offset) + " (critical " + critical->text + ")");
        else if (warning && Alerts(*warning, size))
            raise(PluginState::Warning, "clock " + ClockOffsetWords(*offset) + " (warning " + warning->text + ")");
    } else if (warning || critical) {
        raise(PluginState::Unknown, "clock offset unavailable");
    }
    const char* names[] = { "OK", "WARNING", "CRITICAL", "UNKNOWN" };
    std::size_t passed = 0;
    for (const HealthCheckResult& check : report.checks)
        passed += check.success ? 1 : 0;
    const std::string summary = problems.empty()
                                    ? std::to_string(passed) + " of " + std::to_string(report.checks.size()) +
                                          " checks of " + controller + " passed"
                                    : problems;
    // Performance data: each check's time, and the offset with its ranges.
    std::string perf;
    for (const HealthCheckResult& check : report.checks)
        perf += (perf.empty() ? "" : " ") + std::string("'") + std::string(HealthCheckName(check.kind)) +
                "'=" + Number(check.durationSeconds, "%.3f") + "s";
    std::string datum = " 'clock_offset'=" + (offset ? Number(*offset, "%.3f") + "s" : std::string("U")) + ";" +
                        (warning ? warning->text : "") + ";" + (critical ? critical->text : "");
    while (datum.ends_with(';'))
        datum.pop_back();
    perf += datum;
    return { state,
             std::string("ZELTOR ") + names[static_cast<int>(state)] + " - " + OneLine(summary) + " | " + perf + "\n" };
}
