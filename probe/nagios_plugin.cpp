#include "perf/counter_path.h"
#include "probe/sample_writer.h"

namespace {

constexpr std::string_view kServiceName = "ZELTOR";

const char* StateName(PluginState state)
{
    switch (state) {
    case PluginState::Ok:
        return "OK";
    case PluginState::Warning:
        return "WARNING";
    case PluginState::Critical:
        return "CRITICAL";
    case PluginState::Unknown:
        break;
    }
    return "UNKNOWN";
}

// How bad a state is when the counters' states are combined: a critical value outweighs a value
// the probe could not check, which outweighs a warning.
int Severity(PluginState state)
{
    switch (state) {
    case PluginState::Ok:
        return 0;
    case PluginState::Warning:
        return 1;
    case PluginState::Unknown:
        return 2;
    case PluginState::Critical:
        return 3;
    }
    return 2;
}

bool IsPercentage(const CString& path)
{
    const auto parsed = ParseCounterPath("\\\\m" + path.ToUtf8());
    return parsed && parsed->counter.starts_with('%');
}

// The plugin's answer is one line: a line end (or any other control character) in a path or a
// machine's name would start the long output, where the next '|' begins performance data again.
bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

// A performance-data label may hold anything but '=' and the single quote that encloses it; a
// '|' is kept out too, as some consumers split the whole line at every one.
std::string PerfLabel(const CString& path)
{
    std::string label = path.ToUtf8();
    for (char& c : label) {
        if (c == '=' || c == '\'' || c == '|' || IsControl(c))
            c = '_';
    }
    return "'" + label + "'";
}

// The plugin output ends where the performance data begin, at the first '|', and with the line.
std::string OutputText(std::string text)
{
    for (char& c : text) {
        if (c == '|')
            c = '/';
        else if (IsControl(c))
            c = ' ';
    }
    return text;
}

} // namespace

NagiosPlugin::NagiosPlugin(CString machine, std::vector<ProbeCounter> counters,
                           std::vector<CounterThresholds> thresholds)
    : m_machine(std::move(machine)), m_counters(std::move(counters)), m_thresholds(std::move(thresholds))
{
}

std::string NagiosPlugin::Sample(const LocalTime&, std::span<const CounterValue> values, const SampleReadings&)
{
    m_state = PluginState::Ok;
    std::string problems;
    std::string perfData;
    int unavailable = 0;
    for (std::size_t i = 0; i < m_counters.size(); ++i) {
        const CounterThresholds& limits = m_thresholds[i];
        const std::string path = m_counters[i].path.ToUtf8();
        PluginState state = PluginState::Ok;
        std::string problem;
        if (!values[i]) {
            ++unavailable;
            if (limits.warning || limits.critical) {
                state = PluginState::Unknown;
                problem = path + " unavailable";
            }
        } else if (limits.critical && Alerts(*limits.critical, static_cast<double>(*values[i]))) {
            state = PluginState::Critical;
            problem = path + " = " + std::to_string(*values[i]) + " (critical " + limits.critical->text + ")";
        } else if (limits.warning && Alerts(*limits.warning, static_cast<double>(*values[i]))) {
            state = PluginState::Warning;
            problem = path + " = " + std::to_string(*values[i]) + " (warning " + limits.warning->text + ")";
        }
        if (Severity(state) > Severity(m_state))
            m_state = state;
        if (!problem.empty())
            problems += (problems.empty() ? "" : ", ") + problem;

        // 'label'=value[UOM];[warn];[crit];[min];[max], with U for a value the plugin has not.
        const bool percent = IsPercentage(m_counters[i].path);
        std::string datum = PerfLabel(m_counters[i].path) + "=" + (values[i] ? std::to_string(*values[i]) : "U") +
                            (percent && values[i] ? "%" : "") + ";" + (limits.warning ? limits.warning->text : "") +
                            ";" + (limits.critical ? limits.critical->text : "") + ";" + (percent ? "0;100" : ";");
        while (datum.ends_with(';'))
            datum.pop_back();
        perfData += (perfData.empty() ? "" : " ") + datum;
    }

    std::string summary = problems;
    if (summary.empty()) {
        summary = std::to_string(m_counters.size() - unavailable) + " of " + std::to_string(m_counters.size()) +
                  " counters of " + m_machine.ToUtf8() + " read";
    }
    return std::string(kServiceName) + " " + StateName(m_state) + " - " + OutputText(summary) + " | " + perfData + "\n";
}

std::string NagiosPlugin::UnknownLine(std::string_view text)
{
    std::string line;
    bool gap = false;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            gap = true;
            continue;
        }
        if (gap && !line.empty())
            line += ' ';
        gap = false;
        line += c;
    }
    return std::string(kServiceName) + " UNKNOWN - " + OutputText(line) + "\n";
}
