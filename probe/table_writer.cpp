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

TableWriter::TableWriter(CString machine, std::vector<ProbeCounter> counters)
    : m_machine(std::move(machine)), m_counters(std::move(counters))
{
    for (const ProbeCounter& counter : m_counters)
        m_pathWidth = std::max(m_pathWidth, Width(counter.path.ToUtf8()));
}

std::string TableWriter::Sample(const LocalTime& t, std::span<const CounterValue> values)
{
    std::string out = m_first ? "" : "\n";
    m_first = false;
    char when[32];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    out += "\\\\" + m_machine.ToUtf8() + "  " + when + "\n";
    for (std::size_t i = 0; i < m_counters.size(); ++i) {
        const std::string path = m_counters[i].path.ToUtf8();
        const std::string value = values[i] ? std::to_string(*values[i]) : std::string(kUnavailable);
        out += path + std::string(m_pathWidth - Width(path) + 2, ' ');
        out += std::string(kValueWidth - std::min(kValueWidth, value.size()), ' ') + value + "\n";
    }
    return out;
}
