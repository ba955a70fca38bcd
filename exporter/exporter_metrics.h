// The exporter's answers in Prometheus' text format (version 0.0.4): a probe's series, typed by
// each counter's Windows type, and the exporter's own figures.
//
// A counter's raw value goes out as it is, so that every Prometheus server scraping the same
// target gets true values with no state kept between scrapes:
//   cumulative counts (PERF_COUNTER_COUNTER, _BULK_COUNT)  counter  zeltor_<object>_<counter>_total
//   100 ns timers (PERF_100NSEC_TIMER)                      counter  zeltor_<object>_<counter>_seconds_total
//   inverse timers (PERF_100NSEC_TIMER_INV: the time the    counter  zeltor_<object>_<counter>_inverse_seconds_total
//     counter does not count, the idle time of % Processor Time)
//   raw fractions (PERF_RAW_FRACTION, _LARGE_)              gauges   zeltor_<object>_<counter>_numerator, _denominator
//   raw counts (PERF_COUNTER_RAWCOUNT, _LARGE_)             gauge    zeltor_<object>_<counter> (as zeltor-probe names it)
// The <object>_<counter> words are those of zeltor-probe's names without its unit ("% ... Time",
// "/sec"); an instance goes into the label pdh_instance.
#pragma once

#include <cstdint>
#include <compare>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "perf/counter_calculator.h"

struct CounterSeries {
    std::string name;
    const char* type = "gauge"; // "gauge" or "counter"
    std::string help;
};

// The series a counter of this path and type gives: one, or two for a fraction; none for a type
// the calculator does not know.
std::vector<CounterSeries> SeriesOfCounter(std::string_view path, std::uint32_t counterType);

// One counter of a probe: its path as the module lists it; addStatus is what adding it to the
// query gave (0, or why the target lacks it); else the sample's CStatus says whether it was read.
struct CounterReading {
    std::string path;
    std::uint32_t addStatus = 0;
    std::uint32_t type = 0;
    RawCounterSample sample;
};

struct ProbeOutcome {
    bool success = false;
    std::uint32_t status = 0;   // the failure's PDH status when not a success
    std::string statusText;     // its text, as the window shows it
    double durationSeconds = 0;
    std::vector<CounterReading> counters; // when a success
};

// Whether a reading has a value to give: added, read, and of a type the exporter writes.
bool CounterAvailable(const CounterReading& reading);

std::string RenderProbe(const ProbeOutcome& outcome);

// What the window shows for a status: the counter library's text, or the system's for a Win32
// error passed on as a status (a refused logon).
std::string StatusText(std::uint32_t status);

// A request the exporter refused: its HTTP status, the refusal's kind (ProbeRequest::refusal, or
// unauthorized, rate_limited, not_found, method_not_allowed) and, when the request named them and
// the configuration has them, its auth and module.
struct RefusedRequest {
    std::string code, reason, auth, module;
    auto operator<=>(const RefusedRequest&) const = default;
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

// A number as Prometheus reads it: the shortest text that reads back as the same double.
std::string PrometheusNumber(double value);
