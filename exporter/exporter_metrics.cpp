#include "exporter/exporter_metrics.h"

#include <cstdio>

#include "perf/status_text.h"
#include "probe/health_output.h"
#include "probe/replication_output.h"
#include "probe/sample_writer.h"

namespace {

std::string Hex(std::uint32_t status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", status);
    return text;
}

} // namespace

std::string StatusText(std::uint32_t status)
{
    return PdhStatusMessage(status).ToUtf8();
}

std::string RenderProbe(const ProbeOutcome& outcome)
{
    PrometheusExposition out;
    AddProbeOutcome(out, outcome.success, outcome.durationSeconds, "");
    if (outcome.health) {
        AddHealthSeries(out, *outcome.health, "");
        return out.Text();
    }
    if (outcome.replication) {
        AddReplicationSeries(out, *outcome.replication, "");
        if (!outcome.replication->read)
            out.Add("zeltor_probe_failure_info", "gauge", "Why the probe failed: the status and its text.",
                    PrometheusLabel("status", Hex(outcome.status)) + "," + PrometheusLabel("text", outcome.statusText),
                    "1");
        return out.Text();
    }
    if (!outcome.success) {
        out.Add("zeltor_probe_failure_info", "gauge", "Why the probe failed: the status and its text.",
                PrometheusLabel("status", Hex(outcome.status)) + "," + PrometheusLabel("text", outcome.statusText),
                "1");
        return out.Text();
    }
    AddCounterSeries(out, outcome.counters, "");
    return out.Text();
}

std::string RenderExporterFigures(const ExporterFigures& figures)
{
    PrometheusExposition out;
    out.Add("zeltor_exporter_build_info", "gauge", "The exporter's version.",
            PrometheusLabel("version", figures.version), "1");
    for (const auto& [module, outcomes] : figures.probes) {
        for (const auto& [outcome, count] : outcomes) {
            out.Add("zeltor_exporter_probes_total", "counter", "Probes answered, by module and outcome.",
                    PrometheusLabel("module", module) + "," + PrometheusLabel("outcome", outcome),
                    std::to_string(count));
        }
    }
    for (const auto& [module, seconds] : figures.probeSeconds) {
        out.Add("zeltor_exporter_probe_seconds_total", "counter", "The time probes took, by module, in seconds.",
                PrometheusLabel("module", module), PrometheusNumber(seconds));
    }
    for (const auto& [refused, count] : figures.refusedRequests) {
        std::string labels = PrometheusLabel("code", refused.code) + "," + PrometheusLabel("reason", refused.reason);
        if (!refused.auth.empty())
            labels += "," + PrometheusLabel("auth", refused.auth);
        if (!refused.module.empty())
            labels += "," + PrometheusLabel("module", refused.module);
        out.Add(
            "zeltor_exporter_requests_refused_total", "counter",
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
        out.Add("process_open_fds", "gauge", "Number of open file descriptors.", "",
                PrometheusNumber(process->openDescriptors));
        out.Add("process_max_fds", "gauge", "Maximum number of open file descriptors.", "",
                PrometheusNumber(process->maxDescriptors));
        out.Add("process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.", "",
                PrometheusNumber(process->startTimeSeconds));
    }
    return out.Text();
}
