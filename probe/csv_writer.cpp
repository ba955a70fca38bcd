#include "probe/sample_writer.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";
// The sampler's cell for a value it does not have.
constexpr std::string_view kUnavailableCell = "\" \"";

} // namespace

CsvWriter::CsvWriter(std::vector<ProbeCounter> counters) : m_counters(std::move(counters)) {}

std::string CsvWriter::Begin(const LocalTime& start)
{
    // "(PDH-CSV 4.0) (<time zone>)(<bias>)": the bias is UTC minus local time, in minutes, as
    // Windows' TIME_ZONE_INFORMATION gives it.
    std::string out =
        CsvCell("(PDH-CSV 4.0) (" + start.zoneName + ")(" + std::to_string(-start.utcOffsetMinutes) + ")");
    for (const ProbeCounter& counter : m_counters)
        out += "," + CsvCell(counter.fullPath.ToUtf8());
    return out += kLineEnd;
}

std::string CsvWriter::Sample(const LocalTime& time, std::span<const CounterValue> values, const SampleReadings&)
{
    std::string out = CsvCell(PdhCsvTime(time));
    for (const CounterValue& value : values) {
        out += ",";
        out += value ? CsvCell(std::to_string(*value)) : std::string(kUnavailableCell);
    }
    return out += kLineEnd;
}
