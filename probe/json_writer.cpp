#include "probe/sample_writer.h"

JsonWriter::JsonWriter(const CString& machine, const std::vector<ProbeCounter>& counters)
    : m_machine(JsonString(machine.ToUtf8()))
{
    for (const ProbeCounter& counter : counters)
        m_paths.push_back(JsonString(counter.fullPath.ToUtf8()));
}

std::string JsonWriter::Sample(const LocalTime& time, std::span<const CounterValue> values, const SampleReadings&)
{
    // An array keeps the counters' order, and a path asked for twice, as asked.
    std::string out = "{\"time\":" + JsonString(IsoTime(time)) + ",\"machine\":" + m_machine + ",\"counters\":[";
    for (std::size_t i = 0; i < m_paths.size(); ++i) {
        if (i != 0)
            out += ",";
        out += "{\"path\":" + m_paths[i] + ",\"value\":";
        out += values[i] ? std::to_string(*values[i]) : "null";
        out += "}";
    }
    return out + "]}\n";
}
