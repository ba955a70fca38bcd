#include <algorithm>
#include <cstdio>

#include "probe/sample_writer.h"

namespace {

constexpr std::string_view kUnavailable = "unavailable";
constexpr std::size_t kValueWidth = kUnavailable.size();

// Characters, not bytes, so that the columns line up for any script.
std::size_t Width(std::string_view utf8)
{
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

} // namespace

TableWriter::TableWriter(const CString& machine, const std::vector<ProbeCounter>& counters)
    : m_machine("\\\\" + machine.ToUtf8())
{
    std::size_t width = 0;
    for (const ProbeCounter& counter : counters)
        width = std::max(width, Width(counter.path.ToUtf8()));
    for (const ProbeCounter& counter : counters) {
        const std::string path = counter.path.ToUtf8();
        m_labels.push_back(path + std::string(width - Width(path) + 2, ' '));
    }
}

std::string TableWriter::Sample(const LocalTime& t, std::span<const CounterValue> values, const SampleReadings&)
{
    std::string out = m_first ? "" : "\n";
    m_first = false;
    char when[32];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    out += m_machine + "  " + when + "\n";
    for (std::size_t i = 0; i < m_labels.size(); ++i) {
        const std::string value = values[i] ? std::to_string(*values[i]) : std::string(kUnavailable);
        out += m_labels[i] + std::string(kValueWidth - std::min(kValueWidth, value.size()), ' ') + value + "\n";
    }
    return out;
}
