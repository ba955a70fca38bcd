// The recording rules against the window's own arithmetic: the dc module's counters, sampled
// every 15 s with steady growth, are written out as the exporter writes them (RenderProbe); those
// series go to promtool with the shipped rules, which must give for each of the thirteen what the
// window's calculator (FormatCounterValue) gives for the same samples. A rule that names a series
// the exporter does not write, scales a timer wrongly or inverts the idle time fails here.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <regex>

#include "directory/win32_error_text.h"
#include "exporter/exporter_config.h"
#include "exporter/exporter_metrics.h"
#include "perf/counter_calculator.h"
#include "perf/pdh_status.h"

namespace {

constexpr int kSamples = 6; // 0 s to 75 s: the last 1m window is full
constexpr std::uint64_t kStepSeconds = 15;
constexpr std::uint64_t kPerfFreq = 10'000'000;

struct Figure {
    const char* path;
    CounterType type;
    std::uint64_t first;    // at the first sample
    std::uint64_t growth;   // of first per sample (a timer: in 100 ns units)
    std::uint64_t second;   // a fraction's denominator
    const char* expression; // what gives the window's figure in Prometheus
    const char* labels;     // of its result
};

// Distinct rates, so that two rules swapped show.
const Figure kFigures[] = {
    { "\\Processor(_Total)\\% Processor Time", CounterType::Timer100nsInverse, 10'000'000'000, 112'500'000, 0,
      "zeltor:processor_time:percent", "{pdh_instance=\"_Total\"}" },
    { "\\Memory\\% Committed Bytes In Use", CounterType::RawFraction, 3'000'000'000, 0, 8'000'000'000,
      "zeltor:memory_committed_bytes_in_use:percent", "{}" },
    { "\\LogicalDisk(_Total)\\% Free Space", CounterType::RawFraction, 30'000, 0, 120'000,
      "zeltor:logicaldisk_free_space:percent", "{pdh_instance=\"_Total\"}" },
    { "\\System\\File Read Operations/sec", CounterType::PerSecond, 70'000, 18, 0,
      "zeltor:system_file_read_operations:rate1m", "{}" },
    { "\\System\\File Write Operations/sec", CounterType::PerSecond, 50'000, 45, 0,
      "zeltor:system_file_write_operations:rate1m", "{}" },
    { "\\Processor(_Total)\\% Interrupt Time", CounterType::Timer100ns, 4'000'000'000, 3'000'000, 0,
      "zeltor:processor_interrupt_time:percent", "{pdh_instance=\"_Total\"}" },
    { "\\Process(lsass)\\Handle Count", CounterType::RawCount, 2'345, 0, 0, "zeltor_process_handles",
      "{pdh_instance=\"lsass\"}" },
    { "\\Process(ntfrs)\\Handle Count", CounterType::RawCount, 678, 0, 0, "zeltor_process_handles",
      "{pdh_instance=\"ntfrs\"}" },
    { "\\Memory\\Page Faults/sec", CounterType::PerSecond, 4'000'000'000, 600, 0, "zeltor:memory_page_faults:rate1m",
      "{}" },
    { "\\Memory\\Pages Input/sec", CounterType::PerSecond, 900, 30, 0, "zeltor:memory_pages_input:rate1m", "{}" },
    { "\\Memory\\Pages Output/sec", CounterType::PerSecond, 800, 15, 0, "zeltor:memory_pages_output:rate1m", "{}" },
    { "\\Memory\\Page Reads/sec", CounterType::PerSecond, 700, 24, 0, "zeltor:memory_page_reads:rate1m", "{}" },
    { "\\Memory\\Page Writes/sec", CounterType::PerSecond, 600, 9, 0, "zeltor:memory_page_writes:rate1m", "{}" },
};

const Figure* FigureOf(const std::string& path)
{
    for (const Figure& figure : kFigures) {
        if (path == figure.path)
            return &figure;
    }
    return nullptr;
}

RawCounterSample SampleOf(const Figure& figure, int k)
{
    RawCounterSample sample;
    sample.CStatus = PDH_CSTATUS_VALID_DATA;
    sample.first = figure.first + figure.growth * static_cast<std::uint64_t>(k);
    const std::uint64_t perfTime = 1'000'000'000'000 + kPerfFreq * kStepSeconds * static_cast<std::uint64_t>(k);
    sample.perfTime = perfTime;
    sample.perfFreq = kPerfFreq;
    const bool timer = figure.type == CounterType::Timer100ns || figure.type == CounterType::Timer100nsInverse;
    sample.second = timer ? perfTime : figure.second;
    return sample;
}

// Rounded to 1/1024 as PromQL's round(v, 1/1024) does (a power of two: both sides exact), so
// that the last bit of two orders of the same arithmetic does not count.
double Rounded(double value)
{
    return std::floor(value * 1024 + 0.5) / 1024;
}

std::string Number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

} // namespace

TEST(WindowFiguresRules, TheRecordingRulesGiveTheWindowsThirteenFromTheExportersSeries)
{
    // The module's counters are the thirteen of this table.
    const ExporterModule module = DomainControllerModule();
    ASSERT_EQ(module.paths.size(), std::size(kFigures));
    for (const std::string& path : module.paths)
        ASSERT_NE(FigureOf(path), nullptr) << path;

    // Each series of each scrape, in order.
    std::map<std::string, std::vector<std::string>> series;
    for (int k = 0; k < kSamples; ++k) {
        ProbeOutcome outcome;
        outcome.success = true;
        for (const std::string& path : module.paths) {
            const Figure& figure = *FigureOf(path);
            outcome.counters.push_back({ path, 0, static_cast<std::uint32_t>(figure.type), SampleOf(figure, k) });
        }
        std::istringstream text(RenderProbe(outcome));
        for (std::string line; std::getline(text, line);) {
            if (line.empty() || line.starts_with('#') || line.starts_with("zeltor_probe_"))
                continue;
            const auto space = line.rfind(' ');
            series[line.substr(0, space)].push_back(line.substr(space + 1));
        }
    }

    std::ostringstream test;
    test << "rule_files: ['" << ZELTOR_RULES_DIR << "/zeltor-recording.rules.yml']\n"
         << "evaluation_interval: 15s\ntests:\n  - interval: 15s\n    input_series:\n";
    for (const auto& [name, values] : series) {
        ASSERT_EQ(values.size(), static_cast<std::size_t>(kSamples)) << name;
        test << "      - series: '" << name << "'\n        values: '";
        for (const std::string& value : values)
            test << value << " ";
        test << "'\n";
    }
    test << "    promql_expr_test:\n";
    for (const Figure& figure : kFigures) {
        // The window's figure from the last two samples, by its calculator.
        PdhFormattedValue shown{};
        ASSERT_EQ(FormatCounterValue(figure.type, SampleOf(figure, kSamples - 2), SampleOf(figure, kSamples - 1),
                                     PDH_FMT_DOUBLE_FORMAT, &shown),
                  0u)
            << figure.path;
        test << "      - expr: 'round(" << figure.expression << figure.labels << ", 1/1024)'\n"
             << "        eval_time: " << kStepSeconds * (kSamples - 1) << "s\n"
             << "        exp_samples:\n          - labels: '" << figure.labels << "'\n"
             << "            value: " << Number(Rounded(shown.doubleValue)) << "\n";
    }
    const std::string file = ::testing::TempDir() + "window_figures_rules_test.yml";
    std::ofstream(file) << test.str();
    const char* argv[] = { ZELTOR_PROMTOOL, "test", "rules", file.c_str(), nullptr };
    pid_t promtool = 0;
    ASSERT_EQ(posix_spawn(&promtool, ZELTOR_PROMTOOL, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(promtool, &status, 0), promtool);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << test.str();
}

// The alerts tell a refused logon from an unreachable controller by the failure's status: their
// list of statuses is the exporter's own (IsRefusedLogon, whose refusals it backs off from), as
// zeltor_probe_failure_info writes them. A Win32 error added to one and not the other fails here.
TEST(AlertingRules, TheRefusedLogonStatusesAreThoseTheExporterBacksOffFrom)
{
    std::ifstream file(std::string(ZELTOR_RULES_DIR) + "/zeltor-alerts.rules.yml");
    const std::string rules((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::regex selector(R"re(status=~"([^"]+)")re");
    std::vector<std::string> patterns;
    for (auto it = std::sregex_iterator(rules.begin(), rules.end(), selector); it != std::sregex_iterator(); ++it)
        patterns.push_back((*it)[1]);
    ASSERT_EQ(patterns.size(), 2u) << "ZeltorControllerUnreachable and ZeltorLogonRefused";
    EXPECT_EQ(patterns[0], patterns[1]);
    // Prometheus anchors a label's regular expression at both ends.
    const std::regex refused("^(?:" + patterns[0] + ")$");
    int matched = 0;
    for (std::uint32_t code = 0; code <= 0xFFFF; ++code) {
        char status[16];
        std::snprintf(status, sizeof status, "0x%08X", PdhStatusFromWin32(code));
        const bool match = std::regex_match(status, refused);
        EXPECT_EQ(match, IsRefusedLogon(code)) << status;
        matched += match;
    }
    EXPECT_GT(matched, 0);
}
