// A controller's replication in the probe's formats: the partners table for a person, a JSON
// object, Prometheus' text format (which the exporter's module replication serves too) and a
// monitoring plugin's line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "directory/replication_status.h"
#include "probe/probe_environment.h"
#include "probe/prometheus_series.h"
#include "probe/sample_writer.h"
#include "probe/threshold_range.h"

// The plugin's default ranges of how long a partner has been failing, in seconds: a warning past
// an hour, critical past a day.
inline constexpr const char* kReplicationWarningDefault = "3600";
inline constexpr const char* kReplicationCriticalDefault = "86400";

// "2026-12-10 09:01:02Z" of seconds since 1970 (UTC).
std::string UtcTime(std::int64_t seconds);

// The summary, the tombstone lifetime and the queue, then a line per naming context and partner:
// its last success, consecutive failures and last result (its code and text).
std::string ReplicationTable(const std::string& controller, const ReplicationStatus& status, std::int64_t now);
// {"time":...,"machine":...,"read":true,"summary":...,"pending_operations":0,
// "tombstone_lifetime_days":180,"tombstone_lifetime_set":true,"neighbors":[{"naming_context":...,
// "partner":"Site\\DC2","partner_dsa_dn":...,"partner_address":...,"partner_guid":...,
// "last_success":1765357262,"last_attempt":...,"consecutive_failures":0,"last_result":0,
// "last_result_text":""},...]}: a time that never was is null; a read that failed has "error"
// and "error_text" instead of the neighbours.
std::string ReplicationJson(const std::string& controller, const LocalTime& time, const ReplicationStatus& status,
                            std::int64_t now);
// zeltor_replication_read_success; per naming context and partner
// zeltor_replication_last_success_timestamp_seconds, _last_attempt_timestamp_seconds (none when it
// never was), _consecutive_failures, _last_result (the code) and _last_result_info (its text as a
// label); zeltor_replication_pending_operations; zeltor_directory_tombstone_lifetime_seconds.
// labels ("name=\"value\"" pairs, may be empty) come first on each series: the exporter's /probe
// gives none (Prometheus labels the target), the probe the machine.
void AddReplicationSeries(PrometheusExposition& out, const ReplicationStatus& status, const std::string& labels);
// The series above alone, labelled machine (none when empty).
std::string ReplicationPrometheus(const std::string& machine, const ReplicationStatus& status);

// The plugin's line: CRITICAL when a partner has been failing for longer than critical, or its
// last success is older than the tombstone lifetime; WARNING when longer than warning; UNKNOWN
// when the controller could not be read. The ranges are of seconds failing.
struct ReplicationPluginLine {
    PluginState state = PluginState::Unknown;
    std::string line;
};
ReplicationPluginLine ReplicationNagios(const std::string& controller, const ReplicationStatus& status,
                                        std::int64_t now, const ThresholdRange& warning,
                                        const ThresholdRange& critical);
