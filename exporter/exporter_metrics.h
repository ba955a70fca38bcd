// The exporter's answers in Prometheus' text format (version 0.0.4): a probe's series, named and
// typed as probe/prometheus_series.h says (zeltor-probe's --format=prometheus writes the same), and
// the exporter's own figures.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "directory/health_check.h"
#include "directory/replication_status.h"
#include "probe/prometheus_series.h"

struct ProbeOutcome {
    bool success = false;
    std::uint32_t status = 0; // the failure's PDH status when not a success
    std::string statusText;   // its text, as the window shows it
    double durationSeconds = 0;
    std::vector<CounterReading> counters; // when a success
    // The health module's checks instead of counters: success is that they were made (each
    // check's own outcome is in its series), and statusText says which failed when some did.
    std::optional<HealthReport> health;
    // The replication module's status instead of counters: success is that it was read.
    std::optional<ReplicationStatus> replication;
};

std::string RenderProbe(const ProbeOutcome& outcome);

// What the window shows for a status: the counter library's text, or the system's for a Win32
// error passed on as a status (a refused logon).
std::string StatusText(std::uint32_t status);

// A request the exporter refused: its HTTP status, the refusal's kind (ProbeRequest::refusal, or
// unauthorized, rate_limited, not_found, method_not_allowed) and, when the request named them and
// the configuration has them, its auth and module.
struct RefusedRequest {
    std::string code, reason, auth, module;
    // clang-tidy 14 takes the defaulted comparison's generated zero for a null pointer constant.
    auto operator<=>(const RefusedRequest&) const = default; // NOLINT(modernize-use-nullptr): see above
};

// The process's own figures, as Prometheus' client libraries give them (process_*).
struct ProcessFigures {
    double cpuSeconds = 0;
    double residentBytes = 0;
    double virtualBytes = 0;
    double openDescriptors = 0;
    double maxDescriptors = 0;
    double startTimeSeconds = 0; // since the epoch
};

// The exporter's own figures for /metrics.
struct ExporterFigures {
    std::string version;
    // by module, then outcome ("success", "failure")
    std::map<std::string, std::map<std::string, std::uint64_t>> probes;
    std::map<std::string, double> probeSeconds; // by module: the sum of the probes' durations
    std::map<RefusedRequest, std::uint64_t> refusedRequests;
    std::uint64_t refusedLogons = 0;
    std::uint64_t sessions = 0;
    std::uint64_t collectionsInFlight = 0;
    // Whether the last reading of the configuration was taken, and when one last was (seconds
    // since the epoch).
    bool configReloadSuccessful = true;
    double configReloadSuccessSeconds = 0;
    std::optional<ProcessFigures> process; // none where they cannot be read
};

std::string RenderExporterFigures(const ExporterFigures& figures);
