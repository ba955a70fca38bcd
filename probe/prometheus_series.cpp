#include "probe/prometheus_series.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "framework/ascii_case.h"
#include "perf/counter_calculator.h"
#include "perf/counter_path.h"
#include "perf/pdh_status.h"
#include "probe/sample_writer.h"

namespace {

constexpr double kHundredNsPerSecond = 1e7;

std::string WithoutSuffix(std::string name, std::string_view suffix)
{
    if (name.ends_with(suffix))
        name.erase(name.size() - suffix.size());
    return name;
}

// Whether the counter's name has this word (between anything but letters), in any case.
bool HasWord(std::string_view counter, std::string_view word)
{
    const std::string lower = AsciiLowercase(counter);
    const auto letter = [&](std::size_t i) { return i < lower.size() && lower[i] >= 'a' && lower[i] <= 'z'; };
    for (std::size_t at = 0; (at = lower.find(word, at)) != std::string::npos; ++at) {
        if ((at == 0 || !letter(at - 1)) && !letter(at + word.size()))
            return true;
    }
    return false;
}

// The unit of a count as the counter's name gives it: bytes are a base unit; kilobytes and
// megabytes are the counter's raw unit and said so; anything else is a number of things.
std::string UnitOfCount(std::string_view counter)
{
    if (HasWord(counter, "mbytes"))
        return ", in megabytes (the counter's raw unit, not bytes)";
    if (HasWord(counter, "kbytes"))
        return ", in kilobytes (the counter's raw unit, not bytes)";
    if (HasWord(counter, "bytes"))
        return ", in bytes";
    return " (a count, no unit)";
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
                   about + ": the total it makes a rate per second of" + UnitOfCount(parsed->counter) + "." } };
    case CounterType::Timer100ns:
        return { { WithoutSuffix(probeName, "_percent") + "_seconds_total", "counter",
                   about + ": the time it counts, in seconds (its percentage is 100 times this time's rate)." } };
    case CounterType::Timer100nsInverse:
        return { { WithoutSuffix(probeName, "_percent") + "_inverse_seconds_total", "counter",
                   about + ": the time it does not count, in seconds (its percentage is 100 less 100 times this "
                           "time's rate)." } };
    case CounterType::RawFraction:
    case CounterType::LargeRawFraction: {
        // The two are in whatever unit the provider counts in (zeltor-perfd's commit in
        // kilobytes, its free space in bytes halved to fit 32 bits): only their ratio means
        // anything.
        const std::string base = WithoutSuffix(probeName, "_percent");
        const std::string raw = ", in the counter's raw unit, which providers choose: only the ratio of numerator to "
                                "denominator is meaningful (100 times it is the percentage).";
        return { { base + "_numerator", "gauge", about + ": the fraction's numerator" + raw },
                 { base + "_denominator", "gauge", about + ": the fraction's denominator" + raw } };
    }
    case CounterType::RawCount:
    case CounterType::LargeRawCount:
        return { { probeName, "gauge", about + ": its value" + UnitOfCount(parsed->counter) + "." } };
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

std::vector<ObjectPublished> ObjectsOfReadings(std::span<const CounterReading> readings)
{
    std::vector<ObjectPublished> objects;
    for (const CounterReading& reading : readings) {
        const std::optional<CounterPath> parsed = ParseCounterPath("\\\\m" + reading.path);
        if (!parsed)
            continue;
        const bool lacked = reading.addStatus == PDH_CSTATUS_NO_OBJECT ||
                            (reading.addStatus == 0 && reading.sample.CStatus == PDH_CSTATUS_NO_OBJECT);
        auto found = std::find_if(objects.begin(), objects.end(), [&](const ObjectPublished& o) {
            return EqualsIgnoringCase(o.object, parsed->object);
        });
        if (found == objects.end())
            found = objects.insert(objects.end(), { parsed->object, false });
        found->published = found->published || !lacked;
    }
    return objects;
}

void PrometheusExposition::Add(const std::string& name, const std::string& type, const std::string& help,
                               const std::string& labels, const std::string& value)
{
    const std::string series = labels.empty() ? name : name + "{" + labels + "}";
    if (!m_series.insert(series).second)
        return;
    auto family = std::find_if(m_families.begin(), m_families.end(), [&](const Family& f) { return f.name == name; });
    if (family == m_families.end())
        family = m_families.insert(m_families.end(), Family{ name, type, help, {} });
    family->samples.push_back(series + " " + value);
}

std::string PrometheusExposition::Text() const
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

void AddProbeOutcome(PrometheusExposition& out, bool success, double seconds, const std::string& labels)
{
    out.Add("zeltor_probe_success", "gauge",
            "Whether the target was probed (1) or not (0): its counters collected, or its health checks made.", labels,
            success ? "1" : "0");
    out.Add("zeltor_probe_duration_seconds", "gauge", "How long the probe took, in seconds.", labels,
            PrometheusNumber(seconds));
}

void AddCounterSeries(PrometheusExposition& out, std::span<const CounterReading> readings, const std::string& labels)
{
    const auto with = [&](const std::string& more) {
        return labels.empty() ? more : more.empty() ? labels : labels + "," + more;
    };
    for (const CounterReading& reading : readings) {
        const std::vector<CounterSeries> series = SeriesOfReading(reading);
        if (series.empty())
            continue;
        const std::optional<CounterPath> parsed = ParseCounterPath("\\\\m" + reading.path);
        const std::string instance =
            parsed && parsed->hasInstance ? PrometheusLabel("pdh_instance", PrometheusInstance(*parsed)) : "";
        const RawCounterSample& sample = reading.sample;
        switch (static_cast<CounterType>(reading.type)) {
        case CounterType::Timer100ns:
        case CounterType::Timer100nsInverse:
            out.Add(series[0].name, series[0].type, series[0].help, with(instance),
                    PrometheusNumber(static_cast<double>(sample.first) / kHundredNsPerSecond));
            break;
        case CounterType::RawFraction:
        case CounterType::LargeRawFraction:
            out.Add(series[0].name, series[0].type, series[0].help, with(instance), std::to_string(sample.first));
            out.Add(series[1].name, series[1].type, series[1].help, with(instance), std::to_string(sample.second));
            break;
        default:
            out.Add(series[0].name, series[0].type, series[0].help, with(instance), std::to_string(sample.first));
            break;
        }
    }
    // Whether each counter was there: one the target lacks is not reported as 0.
    for (const CounterReading& reading : readings) {
        out.Add("zeltor_probe_path_available", "gauge", "Whether the counter could be added and read (1) or not (0).",
                with(PrometheusLabel("path", reading.path)), CounterAvailable(reading) ? "1" : "0");
    }
    // And why a whole object's counters are missing: the target publishes no such object.
    for (const ObjectPublished& object : ObjectsOfReadings(readings)) {
        out.Add("zeltor_probe_object_available", "gauge",
                "Whether the target publishes the performance object (1) or not (0): a controller without the "
                "directory's counters (a Samba DC) publishes no NTDS object.",
                with(PrometheusLabel("object", object.object)), object.published ? "1" : "0");
    }
}
