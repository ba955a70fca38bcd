// The series of a probe in Prometheus' text format (version 0.0.4), one naming scheme for
// zeltor-exporter's /probe and zeltor-probe's --format=prometheus: a counter's raw value, typed by
// its Windows counter type, so that every reader computes the same figures from it with no state
// kept between scrapes:
//   cumulative counts (PERF_COUNTER_COUNTER, _BULK_COUNT)  counter  zeltor_<object>_<counter>_total
//   100 ns timers (PERF_100NSEC_TIMER)                      counter  zeltor_<object>_<counter>_seconds_total
//   inverse timers (PERF_100NSEC_TIMER_INV: the time the    counter  zeltor_<object>_<counter>_inverse_seconds_total
//     counter does not count, the idle time of % Processor Time)
//   raw fractions (PERF_RAW_FRACTION, _LARGE_)              gauges   zeltor_<object>_<counter>_numerator, _denominator
//   raw counts (PERF_COUNTER_RAWCOUNT, _LARGE_)             gauge    zeltor_<object>_<counter> (PrometheusMetricName)
// The <object>_<counter> words are those of PrometheusMetricName without its unit ("% ... Time",
// "/sec"); an instance goes into the label pdh_instance.
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "perf/counter_source.h"

struct CounterSeries {
    std::string name;
    const char* type = "gauge"; // "gauge" or "counter"
    std::string help;
};

// The series a counter of this path and type gives: one, or two for a fraction; none for a type
// the calculator does not know.
std::vector<CounterSeries> SeriesOfCounter(std::string_view path, std::uint32_t counterType);

// One counter of a probe: its path without the machine; addStatus is what adding it to the query
// gave (0, or why the target lacks it); else the sample's CStatus says whether it was read.
struct CounterReading {
    std::string path;
    std::uint32_t addStatus = 0;
    std::uint32_t type = 0;
    RawCounterSample sample;
};

// Whether a reading has a value to give: added, read, and of a type the series know.
bool CounterAvailable(const CounterReading& reading);

// The performance objects of the readings, in order, each once, and whether the target publishes
// it: not when each of its counters was refused for want of the object (a Samba controller has
// no NTDS object, for instance).
struct ObjectPublished {
    std::string object;
    bool published = false;
};
std::vector<ObjectPublished> ObjectsOfReadings(std::span<const CounterReading> readings);

// A text of families in the order of their first sample; a series (name and labels) already
// there keeps its first value.
class PrometheusExposition {
public:
    void Add(const std::string& name, const std::string& type, const std::string& help, const std::string& labels,
             const std::string& value);
    std::string Text() const;

private:
    struct Family {
        std::string name, type, help;
        std::vector<std::string> samples;
    };
    std::vector<Family> m_families;
    std::set<std::string> m_series;
};

// zeltor_probe_success and zeltor_probe_duration_seconds, which every probe's answer starts with.
void AddProbeOutcome(PrometheusExposition& out, bool success, double seconds, const std::string& labels);

// The series of a collection that succeeded: each available counter's, then
// zeltor_probe_path_available for every counter and zeltor_probe_object_available for every
// object. labels ("name=\"value\"" pairs, may be empty) come first on each series.
void AddCounterSeries(PrometheusExposition& out, std::span<const CounterReading> readings, const std::string& labels);

// A number as Prometheus reads it: the shortest text that reads back as the same double.
std::string PrometheusNumber(double value);
