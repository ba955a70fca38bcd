// The exporter's answers in Prometheus' text format (version 0.0.4): a probe's series, named and
// typed as probe/prometheus_series.h says (zeltor-probe's --format=prometheus writes the same), and
// the exporter's own figures.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "probe/prometheus_series.h"

struct ProbeOutcome {
    bool success = false;
    std::uint32_t status = 0;   // the failure's PDH status when not a success
    std::string statusText;     // its text, as the window shows it
    double durationSeconds = 0;
    std::vector<CounterReading> counters; // when a success
};

std::string RenderProbe(const ProbeOutcome& outcome);

// What the window shows for a status: the counter library's text, or the system's for a Win32
// error passed on as a status (a refused logon).
std::string StatusText(std::uint32_t status);

// The exporter's own figures for /metrics.
struct ExporterFigures {
    std::string version;
    // by module, then outcome ("success", "failure")
    std::map<std::string, std::map<std::string, std::uint64_t>> probes;
    std::map<std::string, double> probeSeconds; // by module: the sum of the probes' durations
    std::map<std::string, std::uint64_t> refusedRequests; // by HTTP status ("400", "403")
    std::uint64_t refusedLogons = 0;
    std::uint64_t sessions = 0;
    std::uint64_t collectionsInFlight = 0;
};

std::string RenderExporterFigures(const ExporterFigures& figures);
