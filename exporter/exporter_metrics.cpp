#include "exporter/exporter_metrics.h"

#include <cstdio>

#include "perf/status_text.h"
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
    if (!outcome.success) {
        out.Add("zeltor_probe_failure_info", "gauge", "Why the probe failed: the status and its text.",
                PrometheusLabel("status", Hex(outcome.status)) + "," + PrometheusLabel("text", outcome.statusText), "1");
        return out.Text();
    }
    AddCounterSeries(out, outcome.counters, "");
    return out.Text();
}

std::string RenderExporterFigures(const ExporterFigures& figures)
{
    PrometheusExposition out;
    out.Add("zeltor_exporter_build_info", "gauge", "The exporter's version.", PrometheusLabel("version", figures.version), "1");
    for (const auto& [module, outcomes] : figures.probes) {
        for (const auto& [outcome, count] : outcomes) {
            out.Add("zeltor_exporter_probes_total", "counter", "Probes answered, by module and outcome.",
                    PrometheusLabel("module", module) + "," + PrometheusLabel("outcome", outcome), std::to_string(count));
        }
    }
    for (const auto& [module, seconds] : figures.probeSeconds) {
        out.Add("zeltor_exporter_probe_seconds_total", "counter", "The time probes took, by module, in seconds.",
                PrometheusLabel("module", module), PrometheusNumber(seconds));
    }
    for (const auto& [code, count] : figures.refusedRequests) {
        out.Add("zeltor_exporter_refused_requests_total", "counter",
                "Probe requests refused before any collection, by HTTP status (400 malformed, 403 target not allowed).",
                PrometheusLabel("code", code), std::to_string(count));
    }
    out.Add("zeltor_exporter_refused_logons_total", "counter", "Logons the targets refused.", "",
            std::to_string(figures.refusedLogons));
    out.Add("zeltor_exporter_sessions", "gauge", "Sessions (target and auth) the exporter keeps.", "",
            std::to_string(figures.sessions));
    out.Add("zeltor_exporter_collections_in_flight", "gauge", "Collections under way.", "",
            std::to_string(figures.collectionsInFlight));
    return out.Text();
}
