#include "exporter/status_page.h"

#include <algorithm>
#include <cmath>

#include "framework/ascii_case.h"

namespace {

std::string Html(std::string_view text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + items[i];
    return out;
}

} // namespace

LastProbe LastProbeOf(const std::string& target, const std::string& module, const std::string& auth,
                      std::size_t moduleCounters, const ProbeOutcome& outcome, std::chrono::steady_clock::time_point at)
{
    LastProbe probe{ target, module,         auth, outcome.success,         outcome.statusText,
                     0,      moduleCounters, {},   outcome.durationSeconds, at };
    if (const std::optional<HealthReport>& health = outcome.health) {
        probe.checked = true;
        probe.success = health->AllPassed();
        probe.counters = health->checks.size();
        probe.available =
            static_cast<std::size_t>(std::count_if(health->checks.begin(), health->checks.end(),
                                                   [](const HealthCheckResult& check) { return check.success; }));
        return probe;
    }
    if (const std::optional<ReplicationStatus>& replication = outcome.replication) {
        probe.checked = replication->read;
        const std::int64_t now =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        probe.counters = replication->neighbors.size();
        probe.available = static_cast<std::size_t>(
            std::count_if(replication->neighbors.begin(), replication->neighbors.end(),
                          [&](const ReplicationNeighbor& n) { return !FailingSeconds(n, now); }));
        probe.success = replication->read && probe.available == probe.counters;
        probe.statusText = ReplicationSummary(*replication, now);
        return probe;
    }
    probe.available =
        static_cast<std::size_t>(std::count_if(outcome.counters.begin(), outcome.counters.end(), CounterAvailable));
    if (outcome.success && probe.available == 0) {
        for (const ObjectPublished& object : ObjectsOfReadings(outcome.counters)) {
            if (!object.published)
                probe.missingObjects.push_back(object.object);
        }
    }
    return probe;
}

void LastProbes::Note(LastProbe probe)
{
    auto key = std::make_tuple(AsciiLowercase(probe.target), probe.module, probe.auth);
    m_rows[std::move(key)] = std::move(probe);
}

std::string ProbeState(const LastProbe& probe)
{
    if (!probe.success)
        return probe.statusText;
    if (probe.available > 0 || probe.counters == 0)
        return "success";
    if (probe.missingObjects.empty())
        return "no counters: the target answers but has none of the module's counters";
    return "no counters: the target answers but publishes no " + Joined(probe.missingObjects) + " object";
}

std::string RenderStatusPage(const std::string& version, const ExporterConfig& config, const LastProbes& probes,
                             std::chrono::steady_clock::time_point now)
{
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>zeltor-exporter</title>\n"
                       "<style>body{font-family:sans-serif;margin:1.5em}table{border-collapse:collapse}"
                       "th,td{border:1px solid #bbb;padding:.25em .6em;text-align:left}th{background:#eee}"
                       "td.n{text-align:right}.failure{color:#a00}.none{color:#850}</style></head><body>\n"
                       "<h1>zeltor-exporter " +
                       Html(version) + "</h1>\n<p><a href=\"/metrics\">/metrics</a></p>\n<h2>Modules</h2>\n<ul>\n";
    for (const ExporterModule& module : config.modules)
        page += "<li>" + Html(module.name) + " (" +
                (module.health        ? std::string("the controller's health checks")
                 : module.replication ? std::string("the controller's replication with its partners")
                                      : std::to_string(module.paths.size()) + " counters") +
                ")</li>\n";
    page += "</ul>\n<h2>Auths</h2>\n<ul>\n";
    for (const ExporterAuth& auth : config.auths)
        page += "<li>" + Html(auth.name) + "</li>\n";
    page += "</ul>\n<h2>Last probes</h2>\n<table>\n<tr><th>target</th><th>module</th><th>auth</th><th>state</th>"
            "<th>counters read, checks passed or partners replicating</th><th>duration (s)</th><th>age (s)</th></tr>\n";
    for (const auto& [key, last] : probes.Rows()) {
        const double age = std::chrono::duration<double>(now - last.at).count();
        const std::string state = ProbeState(last);
        const char* style = !last.success ? " class=\"failure\"" : state != "success" ? " class=\"none\"" : "";
        page += "<tr><td>" + Html(last.target) + "</td><td>" + Html(last.module) + "</td><td>" + Html(last.auth) +
                "</td><td" + style + ">" + Html(state) + "</td><td class=\"n\">" +
                (last.success || last.checked ? std::to_string(last.available) + " of " + std::to_string(last.counters)
                                              : std::string()) +
                "</td><td class=\"n\">" + PrometheusNumber(std::round(last.seconds * 1000) / 1000) +
                "</td><td class=\"n\">" + std::to_string(static_cast<long long>(age)) + "</td></tr>\n";
    }
    page += "</table>\n<p>Probe: /probe?target=HOST&amp;module=NAME&amp;auth=NAME</p>\n</body></html>\n";
    return page;
}
