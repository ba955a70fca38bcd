#include "probe/sample_writer.h"

JsonWriter::JsonWriter(CString machine, std::vector<ProbeCounter> counters)
    : m_machine(std::move(machine)), m_counters(std::move(counters))
{
}

std::string JsonWriter::Sample(const LocalTime& time, std::span<const CounterValue> values)
{
    // An array keeps the counters' order, and a path asked for twice, as asked.
    std::string out = "{\"time\":" + JsonString(IsoTime(time)) + ",\"machine\":" + JsonString(m_machine.ToUtf8()) +
                      ",\"counters\":[";
    for (std::size_t i = 0; i < m_counters.size(); ++i) {
        if (i != 0)
            out += ",";
        out += "{\"path\":" + JsonString(m_counters[i].fullPath.ToUtf8()) + ",\"value\":";
        out += values[i] ? std::to_string(*values[i]) : "null";
        out += "}";
    }
    return out + "]}\n";
}
