#include "probe/replication_output.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

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

std::string Padded(const std::string& text, std::size_t width)
{
    return text + std::string(text.size() < width ? width - text.size() : 1, ' ');
}

std::string OptionalTime(const std::optional<std::int64_t>& seconds)
{
    return seconds ? UtcTime(*seconds) : "never";
}

std::string OptionalNumber(const std::optional<std::int64_t>& seconds)
{
    return seconds ? std::to_string(*seconds) : "null";
}

std::int64_t TombstoneSeconds(const TombstoneLifetime& lifetime)
{
    return static_cast<std::int64_t>(lifetime.days) * 86400;
}

std::string TombstoneWords(const ReplicationStatus& status)
{
    if (!status.tombstoneLifetime)
        return "unknown (" + status.tombstoneError + ")";
    return std::to_string(status.tombstoneLifetime->days) + " days" +
           (status.tombstoneLifetime->set ? "" : " (not set in the forest: the default)");
}

} // namespace

std::string UtcTime(std::int64_t seconds)
{
    using namespace std::chrono;
    const sys_seconds time{ std::chrono::seconds(seconds) };
    const sys_days day = floor<days>(time);
    const year_month_day date{ day };
    const hh_mm_ss<std::chrono::seconds> clock{ time - day };
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(clock.hours().count()), static_cast<long>(clock.minutes().count()),
                  static_cast<long>(clock.seconds().count()));
    return text;
}

std::string ReplicationTable(const std::string& controller, const ReplicationStatus& status, std::int64_t now)
{
    std::string out = "Replication of " + controller + ": " + ReplicationSummary(status, now) + "\n";
    if (!status.read)
        return out;
    out += "tombstone lifetime " + TombstoneWords(status) + "; pending operations " +
           (status.pendingOperations ? std::to_string(*status.pendingOperations) : "unknown") + "\n";
    std::size_t contextWidth = 15, partnerWidth = 8;
    for (const ReplicationNeighbor& neighbor : status.neighbors) {
        contextWidth = std::max(contextWidth, neighbor.namingContext.size() + 2);
        partnerWidth = std::max(partnerWidth, neighbor.PartnerName().size() + 2);
    }
    out += Padded("NAMING CONTEXT", contextWidth) + Padded("PARTNER", partnerWidth) + Padded("LAST SUCCESS", 22) +
           "FAILURES  LAST RESULT\n";
    for (const ReplicationNeighbor& neighbor : status.neighbors)
        out += Padded(neighbor.namingContext, contextWidth) + Padded(neighbor.PartnerName(), partnerWidth) +
               Padded(OptionalTime(neighbor.lastSuccess), 22) +
               Padded(std::to_string(neighbor.consecutiveFailures), 10) +
               (neighbor.lastResult == 0
                    ? std::string("0 ok")
                    : std::to_string(neighbor.lastResult) + " " + OneLine(ResultText(neighbor.lastResult))) +
               "\n";
    return out;
}

std::string ReplicationJson(const std::string& controller, const LocalTime& time, const ReplicationStatus& status,
                            std::int64_t now)
{
    std::string out = "{\"time\":" + JsonString(IsoTime(time)) + ",\"machine\":" + JsonString(controller) +
                      ",\"read\":" + (status.read ? "true" : "false") +
                      ",\"summary\":" + JsonString(ReplicationSummary(status, now));
    if (!status.read)
        return out + ",\"error\":" + std::to_string(status.error) + ",\"error_text\":" + JsonString(status.errorText) +
               ",\"refused_logon\":" + (status.refusedLogon ? "true" : "false") + "}\n";
    out += ",\"pending_operations\":" +
           (status.pendingOperations ? std::to_string(*status.pendingOperations) : std::string("null"));
    if (status.tombstoneLifetime)
        out += ",\"tombstone_lifetime_days\":" + std::to_string(status.tombstoneLifetime->days) +
               ",\"tombstone_lifetime_set\":" + (status.tombstoneLifetime->set ? "true" : "false");
    else
        out += ",\"tombstone_lifetime_days\":null,\"tombstone_error\":" + JsonString(status.tombstoneError);
    out += ",\"neighbors\":[";
    for (std::size_t i = 0; i < status.neighbors.size(); ++i) {
        const ReplicationNeighbor& n = status.neighbors[i];
        out += std::string(i == 0 ? "" : ",") + "{\"naming_context\":" + JsonString(n.namingContext) +
               ",\"partner\":" + JsonString(n.PartnerName()) + ",\"partner_dsa_dn\":" + JsonString(n.partnerDsaDn) +
               ",\"partner_address\":" + JsonString(n.partnerAddress) +
               ",\"partner_guid\":" + JsonString(n.partnerGuid) + ",\"last_success\":" + OptionalNumber(n.lastSuccess) +
               ",\"last_attempt\":" + OptionalNumber(n.lastAttempt) +
               ",\"consecutive_failures\":" + std::to_string(n.consecutiveFailures) +
               ",\"last_result\":" + std::to_string(n.lastResult) +
               ",\"last_result_text\":" + JsonString(ResultText(n.lastResult)) + "}";
    }
    return out + "]}\n";
}

void AddReplicationSeries(PrometheusExposition& out, const ReplicationStatus& status, const std::string& labels)
{
    const auto with = [&](const std::string& more) {
        return labels.empty() ? more : more.empty() ? labels : labels + "," + more;
    };
    const auto partner = [&](const ReplicationNeighbor& n) {
        return with(PrometheusLabel("naming_context", n.namingContext) + "," +
                    PrometheusLabel("partner", n.PartnerName()) + "," + PrometheusLabel("partner_guid", n.partnerGuid));
    };
    out.Add("zeltor_replication_read_success", "gauge", "Whether the controller's replication could be read.", labels,
            status.read ? "1" : "0");
    if (!status.read)
        return;
    const auto time = [&](const char* name, const char* help, auto when) {
        for (const ReplicationNeighbor& n : status.neighbors) {
            if (const std::optional<std::int64_t> t = when(n))
                out.Add(name, "gauge", help, partner(n), std::to_string(*t));
        }
    };
    time("zeltor_replication_last_success_timestamp_seconds",
         "When the naming context last replicated from the partner, in seconds since 1970.",
         [](const ReplicationNeighbor& n) { return n.lastSuccess; });
    time("zeltor_replication_last_attempt_timestamp_seconds",
         "When the naming context last tried to replicate from the partner, in seconds since 1970.",
         [](const ReplicationNeighbor& n) { return n.lastAttempt; });
    for (const ReplicationNeighbor& n : status.neighbors)
        out.Add("zeltor_replication_consecutive_failures", "gauge",
                "The attempts to replicate from the partner that failed since its last success.", partner(n),
                std::to_string(n.consecutiveFailures));
    for (const ReplicationNeighbor& n : status.neighbors)
        out.Add("zeltor_replication_last_result", "gauge", "The Win32 code of the last attempt (0: it succeeded).",
                partner(n), std::to_string(n.lastResult));
    for (const ReplicationNeighbor& n : status.neighbors)
        out.Add("zeltor_replication_last_result_info", "gauge", "The last attempt's result in the system's words.",
                partner(n) + "," + PrometheusLabel("result", std::to_string(n.lastResult)) + "," +
                    PrometheusLabel("text", ResultText(n.lastResult)),
                "1");
    if (status.pendingOperations)
        out.Add("zeltor_replication_pending_operations", "gauge",
                "The replication operations queued on the controller.", labels,
                std::to_string(*status.pendingOperations));
    if (status.tombstoneLifetime)
        out.Add("zeltor_directory_tombstone_lifetime_seconds", "gauge",
                "The forest's tombstone lifetime (60 days when the forest does not set it).", labels,
                std::to_string(TombstoneSeconds(*status.tombstoneLifetime)));
}

std::string ReplicationPrometheus(const std::string& machine, const ReplicationStatus& status)
{
    PrometheusExposition out;
    AddReplicationSeries(out, status, machine.empty() ? "" : PrometheusLabel("instance", machine));
    return out.Text();
}

ReplicationPluginLine ReplicationNagios(const std::string& controller, const ReplicationStatus& status,
                                        std::int64_t now, const ThresholdRange& warning, const ThresholdRange& critical)
{
    const char* names[] = { "OK", "WARNING", "CRITICAL", "UNKNOWN" };
    if (!status.read)
        return { PluginState::Unknown,
                 std::string("ZELTOR UNKNOWN - ") + OneLine(ReplicationSummary(status, now)) + "\n" };
    PluginState state = PluginState::Ok;
    std::string problems;
    std::int64_t longest = 0;
    std::size_t failing = 0;
    for (const ReplicationNeighbor& n : status.neighbors) {
        const std::optional<std::int64_t> seconds = FailingSeconds(n, now);
        const bool pastTombstone = status.tombstoneLifetime && n.lastSuccess &&
                                   now - *n.lastSuccess > TombstoneSeconds(*status.tombstoneLifetime);
        if (!seconds && !pastTombstone)
            continue;
        const std::int64_t value = seconds.value_or(0);
        longest = std::max(longest, value);
        ++failing;
        PluginState level = PluginState::Ok;
        if (pastTombstone || Alerts(critical, static_cast<double>(value)))
            level = PluginState::Critical;
        else if (Alerts(warning, static_cast<double>(value)))
            level = PluginState::Warning;
        if (level == PluginState::Ok)
            continue;
        if (static_cast<int>(level) > static_cast<int>(state))
            state = level;
        problems += (problems.empty() ? "" : ", ") + n.PartnerName() + " " + n.namingContext +
                    (pastTombstone ? " past the tombstone lifetime" : " failing for " + DurationWords(value)) +
                    (n.lastResult != 0 ? ": " + ResultText(n.lastResult) : "");
    }
    const std::string summary = problems.empty() ? ReplicationSummary(status, now) + " (" + controller + ")" : problems;
    const std::string perf = "'failing'=" + std::to_string(failing) + " 'longest_failing'=" + std::to_string(longest) +
                             "s;" + warning.text + ";" + critical.text + " 'pending_operations'=" +
                             (status.pendingOperations ? std::to_string(*status.pendingOperations) : "U");
    return { state,
             std::string("ZELTOR ") + names[static_cast<int>(state)] + " - " + OneLine(summary) + " | " + perf + "\n" };
}
