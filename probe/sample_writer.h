// The probe's output formats. A writer turns the counters' values of each sample into the text
// of its format; the probe writes that text to standard output as each sample is taken.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/cstring.h"
#include "perf/counter_path.h"
#include "probe/probe_environment.h"
#include "probe/prometheus_series.h"
#include "probe/threshold_range.h"

struct ProbeCounter {
    CString path;     // without the machine, as asked for
    CString fullPath; // "\\" + machine + path: the path the counter query adds
};

// A counter's value in a sample, whole and 64 bits wide (the window shows a LONG); none when the
// counter could not be added or read.
using CounterValue = std::optional<std::int64_t>;

// What a sample read, raw, for a format that hands the raw figures on (Prometheus'): whether the
// collection succeeded, what it took, and each counter's reading in the counters' order.
struct SampleReadings {
    bool collected = false;
    double seconds = 0;
    std::vector<CounterReading> counters;
};

class ISampleWriter {
public:
    virtual ~ISampleWriter() = default;
    // What comes before the first sample (a header line); most formats have none.
    virtual std::string Begin(const LocalTime&) { return {}; }
    // One sample: a value for each counter, in the counters' order, and the same sample raw.
    virtual std::string Sample(const LocalTime& time, std::span<const CounterValue> values,
                               const SampleReadings& raw) = 0;
};

// Aligned text for a person at a terminal: a block per sample, a line per counter.
class TableWriter : public ISampleWriter {
public:
    TableWriter(const CString& machine, const std::vector<ProbeCounter>& counters);
    std::string Sample(const LocalTime& time, std::span<const CounterValue> values, const SampleReadings& raw) override;

private:
    std::string m_machine;             // "\\machine"
    std::vector<std::string> m_labels; // each path, padded to the longest one's width
    bool m_first = true;
};

// The CSV of the system's counter sampler (PDH CSV 4.0): a header whose first cell names the
// format and the time zone, then the machine-qualified paths; a row per sample, its time first.
// Every cell is quoted; lines end with CR LF (RFC 4180); an unavailable value is a single space.
class CsvWriter : public ISampleWriter {
public:
    explicit CsvWriter(std::vector<ProbeCounter> counters);
    std::string Begin(const LocalTime& start) override;
    std::string Sample(const LocalTime& time, std::span<const CounterValue> values, const SampleReadings& raw) override;

private:
    std::vector<ProbeCounter> m_counters;
};

// One JSON object per sample and line (JSON Lines):
// {"time":"2026-05-04T12:00:01.250+02:00","machine":"DC1","counters":[{"path":"\\\\DC1\\...","value":3},...]}
// An unavailable value is null.
class JsonWriter : public ISampleWriter {
public:
    JsonWriter(const CString& machine, const std::vector<ProbeCounter>& counters);
    std::string Sample(const LocalTime& time, std::span<const CounterValue> values, const SampleReadings& raw) override;

private:
    // As JSON strings, made once.
    std::string m_machine;
    std::vector<std::string> m_paths;
};

// The Prometheus text exposition format (version 0.0.4): the series zeltor-exporter's /probe
// gives (probe/prometheus_series.h: each counter's raw value, typed by its counter type, with
// zeltor_probe_success, zeltor_probe_duration_seconds, zeltor_probe_path_available and
// zeltor_probe_object_available), with the label instance naming the machine, so that a text file
// the node exporter serves (scraped with honor_labels) gives what the exporter's relabelled scrape
// gives, to the same rules and dashboard. No timestamps: the scrape's time holds.
class PrometheusWriter : public ISampleWriter {
public:
    explicit PrometheusWriter(CString machine);
    std::string Sample(const LocalTime& time, std::span<const CounterValue> values, const SampleReadings& raw) override;

private:
    CString m_machine;
};

// The name of a counter path (without machine) as a figure, the words the series' names are made
// of, e.g. \Memory\Page Faults/sec -> zeltor_memory_page_faults_per_second, \Process(lsass)\Handle
// Count -> zeltor_process_handles (Prometheus reserves _count).
std::string PrometheusMetricName(const CString& path);
// Prometheus' text format: a label value escaped (backslash, line feed and, with quotes, the
// double quote; a help text without), a label name="value", and a counter path's instance part
// as the path writes it (parent/instance#index), the pdh_instance label's value.
std::string PrometheusEscaped(std::string_view text, bool quotes);
std::string PrometheusLabel(std::string_view name, std::string_view value);
std::string PrometheusInstance(const CounterPath& path);

// Monitoring plugin states and their exit codes.
enum class PluginState { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

struct CounterThresholds {
    std::optional<ThresholdRange> warning;
    std::optional<ThresholdRange> critical;
};

// A Nagios/Icinga plugin: one line, "ZELTOR <STATE> - <summary> | <performance data>". The
// state is the worst of the counters' (CRITICAL, then UNKNOWN, then WARNING, then OK); a
// counter is UNKNOWN when it has a threshold and no value.
class NagiosPlugin : public ISampleWriter {
public:
    // thresholds: one entry per counter.
    NagiosPlugin(CString machine, std::vector<ProbeCounter> counters, std::vector<CounterThresholds> thresholds);
    std::string Sample(const LocalTime& time, std::span<const CounterValue> values, const SampleReadings& raw) override;
    PluginState State() const { return m_state; }

    // The line of a plugin that could not check: the text's lines joined with spaces.
    static std::string UnknownLine(std::string_view text);

private:
    CString m_machine;
    std::vector<ProbeCounter> m_counters;
    std::vector<CounterThresholds> m_thresholds;
    PluginState m_state = PluginState::Unknown;
};

// Text helpers the formats share.
std::string JsonString(std::string_view utf8);
std::string CsvCell(std::string_view utf8);
// "MM/DD/YYYY HH:MM:SS.mmm", as the sampler's CSV writes times.
std::string PdhCsvTime(const LocalTime& time);
// ISO 8601 with milliseconds and the offset: 2026-05-04T12:00:01.250+02:00.
std::string IsoTime(const LocalTime& time);
