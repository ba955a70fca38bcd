#include "exporter/exporter_metrics.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <set>

#include "framework/cstring.h"
#include "perf/counter_path.h"
#include "perf/pdh_status.h"
#include "perf/status_text.h"
#include "probe/sample_writer.h"

namespace {

constexpr double kHundredNsPerSecond = 1e7;

std::string WithoutSuffix(std::string name, std::string_view suffix)
{
    if (name.ends_with(suffix))
        name.erase(name.size() - suffix.size());
    return name;
}

struct Family {
    std::string name;
    std::string type;
    std::string help;
    std::vector<std::string> samples;
};

// Families in the order of their first sample; a series (name and labels) already there keeps
// its first value.
class Exposition {
public:
    void Add(const std::string& name, const std::string& type, const std::string& help, const std::string& labels,
             const std::string& value)
    {
        const std::string series = labels.empty() ? name : name + "{" + labels + "}";
        if (!m_series.insert(series).second)
            return;
        auto family = std::find_if(m_families.begin(), m_families.end(), [&](const Family& f) { return f.name == name; });
        if (family == m_families.end())
            family = m_families.insert(m_families.end(), Family{ name, type, help, {} });
        family->samples.push_back(series + " " + value);
    }

    std::string Text() const
    {
        std::string out;
        for (const Family& family : m_families) {
            out += "# HELP " + family.name + " " + PrometheusEscaped(family.help, false) + "\n";
            out += "# TYPE " + family.name + " " + family.type + "\n";
            for (const std::string& sample : family.samples)
                out += sample + "\n";
        }
        return out;
    }

private:
    std::vector<Family> m_families;
    std::set<std::string> m_series;
};

std::string Hex(std::uint32_t status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", status);
    return text;
}

} // namespace

std::string PrometheusNumber(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::vector<CounterSeries> SeriesOfCounter(std::string_view path, std::uint32_t counterType)
{
    const std::optional<CounterPath> parsed = ParseCounterPath("\\\\m" + std::string(path));
    if (!parsed || !IsKnownCounterType(counterType))
        return {};
    const std::string probeName = PrometheusMetricName(CString::FromUtf8(std::string(path)));
    const std::string pattern = "\\" + parsed->object + (parsed->hasInstance ? "(*)" : "") + "\\" + parsed->counter;
    const std::string about = "The performance counter " + pattern;
    switch (static_cast<CounterType>(counterType)) {
    case CounterType::PerSecond:
    case CounterType::BulkCount:
        // "DRA Inbound Bytes Total/sec" counts bytes: one _total, not two.
        return { { WithoutSuffix(WithoutSuffix(probeName, "_per_second"), "_total") + "_total", "counter",
                   about + ": the count it makes a rate of." } };
    case CounterType::Timer100ns:
        return { { WithoutSuffix(probeName, "_percent") + "_seconds_total", "counter", about + ": the time it counts." } };
    case CounterType::Timer100nsInverse:
        return { { WithoutSuffix(probeName, "_percent") + "_inverse_seconds_total", "counter",
                   about + ": the time it does not count (its percentage is 100 less this time's share)." } };
    case CounterType::RawFraction:
    case CounterType::LargeRawFraction: {
        const std::string base = WithoutSuffix(probeName, "_percent");
        return { { base + "_numerator", "gauge", about + ": the fraction's numerator." },
                 { base + "_denominator", "gauge", about + ": the fraction's denominator." } };
    }
    case CounterType::RawCount:
    case CounterType::LargeRawCount:
        return { { probeName, "gauge", about + "." } };
    }
    return {};
}

namespace {

// The series a reading gives: none when the counter could not be added or read.
std::vector<CounterSeries> SeriesOfReading(const CounterReading& reading)
{
    if (reading.addStatus != 0 || reading.sample.CStatus != PDH_CSTATUS_VALID_DATA)
        return {};
    return SeriesOfCounter(reading.path, reading.type);
}

} // namespace

bool CounterAvailable(const CounterReading& reading)
{
    return !SeriesOfReading(reading).empty();
}

std::string StatusText(std::uint32_t status)
{
    return PdhStatusMessage(status).ToUtf8();
}

std::string RenderProbe(const ProbeOutcome& outcome)
{
    Exposition out;
    out.Add("zeltor_probe_success", "gauge", "Whether the target's counters could be collected (1) or not (0).", "",
            outcome.success ? "1" : "0");
    out.Add("zeltor_probe_duration_seconds", "gauge", "How long the probe took.", "",
            PrometheusNumber(outcome.durationSeconds));
    if (!outcome.success) {
        out.Add("zeltor_probe_failure_info", "gauge", "Why the probe failed: the status and its text.",
                PrometheusLabel("status", Hex(outcome.status)) + "," + PrometheusLabel("text", outcome.statusText), "1");
        return out.Text();
    }
    std::vector<bool> available(outcome.counters.size());
    for (std::size_t i = 0; i < outcome.counters.size(); ++i) {
        const CounterReading& reading = outcome.counters[i];
        const std::vector<CounterSeries> series = SeriesOfReading(reading);
        available[i] = !series.empty();
        if (series.empty())
            continue;
        const std::optional<CounterPath> parsed = ParseCounterPath("\\\\m" + reading.path);
        const std::string labels = parsed && parsed->hasInstance ? PrometheusLabel("pdh_instance", PrometheusInstance(*parsed)) : "";
        const RawCounterSample& sample = reading.sample;
        switch (static_cast<CounterType>(reading.type)) {
        case CounterType::Timer100ns:
        case CounterType::Timer100nsInverse:
            out.Add(series[0].name, series[0].type, series[0].help, labels,
                    PrometheusNumber(static_cast<double>(sample.first) / kHundredNsPerSecond));
            break;
        case CounterType::RawFraction:
        case CounterType::LargeRawFraction:
            out.Add(series[0].name, series[0].type, series[0].help, labels, std::to_string(sample.first));
            out.Add(series[1].name, series[1].type, series[1].help, labels, std::to_string(sample.second));
            break;
        default:
            out.Add(series[0].name, series[0].type, series[0].help, labels, std::to_string(sample.first));
            break;
        }
    }
    // Whether each counter was there: one the target lacks is not reported as 0.
    for (std::size_t i = 0; i < outcome.counters.size(); ++i) {
        out.Add("zeltor_probe_path_available", "gauge", "Whether the counter could be added and read (1) or not (0).",
                PrometheusLabel("path", outcome.counters[i].path), available[i] ? "1" : "0");
    }
    return out.Text();
}

std::string RenderExporterFigures(const ExporterFigures& figures)
{
    Exposition out;
    out.Add("zeltor_exporter_build_info", "gauge", "The exporter's version.", PrometheusLabel("version", figures.version), "1");
    for (const auto& [module, outcomes] : figures.probes) {
        for (const auto& [outcome, count] : outcomes) {
            out.Add("zeltor_exporter_probes_total", "counter", "Probes answered, by module and outcome.",
                    PrometheusLabel("module", module) + "," + PrometheusLabel("outcome", outcome), std::to_string(count));
        }
    }
    for (const auto& [module, seconds] : figures.probeSeconds) {
        out.Add("zeltor_exporter_probe_seconds_total", "counter", "The time probes took, by module.",
                PrometheusLabel("module", module), PrometheusNumber(seconds));
    }
    for (const auto& [refused, count] : figures.refusedRequests) {
        std::string labels = PrometheusLabel("code", refused.code) + "," + PrometheusLabel("reason", refused.reason);
        if (!refused.auth.empty())
            labels += "," + PrometheusLabel("auth", refused.auth);
        if (!refused.module.empty())
            labels += "," + PrometheusLabel("module", refused.module);
        out.Add("zeltor_exporter_requests_refused_total", "counter",
                "Requests refused, by HTTP status and reason (400 malformed, 401 unauthenticated, 403 target not allowed, "
                "404, 405, 429 too many failed authentications), with the auth and module a probe named.",
                labels, std::to_string(count));
    }
    out.Add("zeltor_exporter_refused_logons_total", "counter", "Logons the targets refused.", "",
            std::to_string(figures.refusedLogons));
    out.Add("zeltor_exporter_sessions", "gauge", "Sessions (target and auth) the exporter keeps.", "",
            std::to_string(figures.sessions));
    out.Add("zeltor_exporter_collections_in_flight", "gauge", "Collections under way.", "",
            std::to_string(figures.collectionsInFlight));
    out.Add("zeltor_exporter_config_last_reload_successful", "gauge",
            "Whether the last reading of the configuration was taken (1) or refused (0).", "",
            figures.configReloadSuccessful ? "1" : "0");
    out.Add("zeltor_exporter_config_last_reload_success_timestamp_seconds", "gauge",
            "When the configuration was last read and taken, in seconds since the epoch.", "",
            PrometheusNumber(figures.configReloadSuccessSeconds));
    if (const std::optional<ProcessFigures>& process = figures.process) {
        out.Add("process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.", "",
                PrometheusNumber(process->cpuSeconds));
        out.Add("process_resident_memory_bytes", "gauge", "Resident memory size in bytes.", "",
                PrometheusNumber(process->residentBytes));
        out.Add("process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.", "",
                PrometheusNumber(process->virtualBytes));
        out.Add("process_open_fds", "gauge", "Number of open file descriptors.", "", PrometheusNumber(process->openDescriptors));
        out.Add("process_max_fds", "gauge", "Maximum number of open file descriptors.", "",
                PrometheusNumber(process->maxDescriptors));
        out.Add("process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.", "",
                PrometheusNumber(process->startTimeSeconds));
    }
    return out.Text();
}
