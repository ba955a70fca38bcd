// A controller's health check in the probe's formats: a table for a person, a JSON object,
// Prometheus' text format (which the exporter's module health serves too) and a monitoring
// plugin's line.
#pragma once

#include <optional>
#include <string>

#include "directory/health_check.h"
#include "probe/probe_environment.h"
#include "probe/prometheus_series.h"
#include "probe/sample_writer.h"
#include "probe/threshold_range.h"

// A line per check: its name, ok or failed, how long it took, and what it saw or why it failed;
// then the facts the rootDSE gave.
std::string HealthTable(const std::string& controller, const HealthReport& report);
// {"time":...,"machine":...,"healthy":true,"checks":[{"check":"ldap","success":true,
// "duration_seconds":0.004,"detail":"..."},...],"clock_offset_seconds":0.3,...}: a fact not read is null.
std::string HealthJson(const std::string& controller, const LocalTime& time, const HealthReport& report);
// zeltor_health_check_success{check}, _failure_info{check,text} of a check that failed (its
// detail) and _duration_seconds{check}, and the directory's facts:
// zeltor_directory_clock_offset_seconds, _clock_round_trip_seconds, _synchronized,
// _global_catalog_ready, _highest_committed_usn (a counter). A fact not read has no sample.
// labels ("name=\"value\"" pairs, may be empty) come first on each series, as AddCounterSeries'.
void AddHealthSeries(PrometheusExposition& out, const HealthReport& report, const std::string& labels);
// The series alone, labelled instance=machine as the probe's counters are (none when empty: the
// exporter's target is Prometheus' own instance).
std::string HealthPrometheus(const std::string& machine, const HealthReport& report);

// The plugin's line: CRITICAL when LDAP, Kerberos or DNS fails, or the clock is past Kerberos'
// skew (the time check fails) or past the critical range; WARNING when another check fails or
// the clock is past the warning range; UNKNOWN when a range is given and the offset could not
// be read. The ranges are of the offset's size in seconds.
struct HealthPluginLine {
    PluginState state = PluginState::Unknown;
    std::string line;
};
HealthPluginLine HealthNagios(const std::string& controller, const HealthReport& report,
                              const std::optional<ThresholdRange>& warning,
                              const std::optional<ThresholdRange>& critical);
