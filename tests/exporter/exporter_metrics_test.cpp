// The probe's series: names and types by counter type, raw values in base units, a counter the
// target lacks reported as unavailable and never as 0, and a failure with its status text.
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "app/counter_set.h"
#include "exporter/exporter_config.h"
#include "exporter/exporter_metrics.h"
#include "exporter/status_page.h"
#include "framework/cstring.h"
#include "perf/pdh_status.h"
#include "platform/linux/exporter/exporter_config_file.h"

namespace {

constexpr std::uint32_t kTypes[] = {
    0x21510500, 0x20020500, 0x20020400, 0x10410400, 0x10410400, 0x20510500, 0x00010000,
    0x00010000, 0x10410400, 0x10410400, 0x10410400, 0x10410400, 0x10410400,
}; // the thirteen's types as Windows defines them

RawCounterSample Valid(std::uint64_t first, std::uint64_t second = 0)
{
    RawCounterSample sample;
    sample.CStatus = PDH_CSTATUS_VALID_DATA;
    sample.first = first;
    sample.second = second;
    return sample;
}

bool Has(const std::string& text, const std::string& line)
{
    return text.find(line) != std::string::npos;
}

} // namespace

TEST(ExporterMetricsTest, TheThirteenAreNamedAndTypedByTheirCounterType)
{
    const ExporterModule dc = DomainControllerModule();
    ASSERT_EQ(dc.paths.size(), std::size(kTypes));
    const std::vector<std::vector<std::pair<std::string, std::string>>> expected = {
        { { "zeltor_processor_processor_time_inverse_seconds_total", "counter" } },
        { { "zeltor_memory_committed_bytes_in_use_numerator", "gauge" },
          { "zeltor_memory_committed_bytes_in_use_denominator", "gauge" } },
        { { "zeltor_logicaldisk_free_space_numerator", "gauge" },
          { "zeltor_logicaldisk_free_space_denominator", "gauge" } },
        { { "zeltor_system_file_read_operations_total", "counter" } },
        { { "zeltor_system_file_write_operations_total", "counter" } },
        { { "zeltor_processor_interrupt_time_seconds_total", "counter" } },
        { { "zeltor_process_handles", "gauge" } },
        { { "zeltor_process_handles", "gauge" } },
        { { "zeltor_memory_page_faults_total", "counter" } },
        { { "zeltor_memory_pages_input_total", "counter" } },
        { { "zeltor_memory_pages_output_total", "counter" } },
        { { "zeltor_memory_page_reads_total", "counter" } },
        { { "zeltor_memory_page_writes_total", "counter" } },
    };
    for (std::size_t i = 0; i < dc.paths.size(); ++i) {
        const std::vector<CounterSeries> series = SeriesOfCounter(dc.paths[i], kTypes[i]);
        ASSERT_EQ(series.size(), expected[i].size()) << dc.paths[i];
        for (std::size_t j = 0; j < series.size(); ++j) {
            EXPECT_EQ(series[j].name, expected[i][j].first) << dc.paths[i];
            EXPECT_EQ(series[j].type, expected[i][j].second) << dc.paths[i];
        }
    }
    // A 64-bit count is the same family as its 32-bit kin; a type the calculator does not know
    // gives nothing rather than a guess.
    EXPECT_EQ(SeriesOfCounter("\\Memory\\Page Faults/sec", 0x10410500)[0].name, "zeltor_memory_page_faults_total");
    EXPECT_EQ(SeriesOfCounter("\\Memory\\Cache Bytes", 0x00010100)[0].name, "zeltor_memory_cache_bytes");
    EXPECT_TRUE(SeriesOfCounter("\\Memory\\Something", 0x40030403).empty());
    EXPECT_TRUE(SeriesOfCounter("no path", 0x00010000).empty());
    // Each HELP names the unit the value is in: seconds for the timers, bytes where the counter
    // counts bytes, the raw unit where it is a multiple of them, and a fraction's parts as raw.
    const auto help = [](const char* path, std::uint32_t type) { return SeriesOfCounter(path, type).back().help; };
    EXPECT_TRUE(help("\\Processor(_Total)\\% Processor Time", 0x21510500)
                    .ends_with("the time it does not count, in seconds "
                               "(its percentage is 100 less 100 times this time's rate)."));
    EXPECT_TRUE(help("\\Processor(_Total)\\% Interrupt Time", 0x20510500)
                    .ends_with(": the time it counts, in seconds (its "
                               "percentage is 100 times this time's rate)."));
    EXPECT_TRUE(
        help("\\Memory\\% Committed Bytes In Use", 0x20020400)
            .ends_with(
                ": the fraction's denominator, in the counter's raw unit, which providers choose: only the ratio of numerator to "
                "denominator is meaningful (100 times it is the percentage)."));
    EXPECT_TRUE(help("\\NTDS\\DRA Inbound Bytes Total/sec", 0x10410500).ends_with("a rate per second of, in bytes."));
    EXPECT_TRUE(help("\\Memory\\Available MBytes", 0x00010000)
                    .ends_with(", in megabytes (the counter's raw unit, not bytes)."));
    EXPECT_TRUE(help("\\Memory\\Available KBytes", 0x00010100)
                    .ends_with(", in kilobytes (the counter's raw unit, not bytes)."));
    EXPECT_TRUE(help("\\Process(lsass)\\Handle Count", 0x00010000).ends_with(": its value (a count, no unit)."));
    EXPECT_TRUE(help("\\Memory\\Page Faults/sec", 0x10410400).ends_with("a rate per second of (a count, no unit)."));
}

TEST(ExporterMetricsTest, AProbeGivesRawValuesInBaseUnitsAndLeavesOutWhatTheTargetLacks)
{
    ProbeOutcome outcome;
    outcome.success = true;
    outcome.durationSeconds = 0.25;
    const auto add = [&](const char* path, std::uint32_t type, RawCounterSample sample, std::uint32_t addStatus = 0) {
        outcome.counters.push_back({ path, addStatus, type, sample });
    };
    add("\\Processor(_Total)\\% Processor Time", 0x21510500, Valid(123456789012, 999));
    add("\\Memory\\% Committed Bytes In Use", 0x20020400, Valid(2048, 8192));
    add("\\Process(lsass)\\Handle Count", 0x00010000, Valid(1234));
    add("\\Process(ntfrs)\\Handle Count", 0x00010000, [] {
        RawCounterSample s;
        s.CStatus = PDH_CSTATUS_NO_INSTANCE;
        return s;
    }());
    add("\\Paging File(_Total)\\% Usage", 0, RawCounterSample{}, PDH_CSTATUS_NO_OBJECT);
    add("\\Memory\\Page Faults/sec", 0x10410400, Valid(0)); // a true zero is reported
    add("\\Process(a\"b\\c)\\Handle Count", 0x00010000, Valid(5));
    const std::string text = RenderProbe(outcome);

    EXPECT_TRUE(Has(text, "# TYPE zeltor_probe_success gauge\nzeltor_probe_success 1\n")) << text;
    EXPECT_TRUE(Has(text, "zeltor_probe_duration_seconds 0.25\n"));
    EXPECT_TRUE(Has(text,
                    "# TYPE zeltor_processor_processor_time_inverse_seconds_total counter\n"
                    "zeltor_processor_processor_time_inverse_seconds_total{pdh_instance=\"_Total\"} 12345.6789012\n"));
    EXPECT_TRUE(Has(text, "zeltor_memory_committed_bytes_in_use_numerator 2048\n"));
    EXPECT_TRUE(Has(text, "zeltor_memory_committed_bytes_in_use_denominator 8192\n"));
    // One family for both instances, its HELP and TYPE once; the label escaped.
    EXPECT_TRUE(Has(text, "# TYPE zeltor_process_handles gauge\nzeltor_process_handles{pdh_instance=\"lsass\"} 1234\n"
                          "zeltor_process_handles{pdh_instance=\"a\\\"b\\\\c\"} 5\n"));
    EXPECT_EQ(text.find("# TYPE zeltor_process_handles"), text.rfind("# TYPE zeltor_process_handles"));
    EXPECT_TRUE(Has(text, "zeltor_memory_page_faults_total 0\n"));
    // What the target lacks: no value at all, and said so.
    EXPECT_FALSE(Has(text, "ntfrs\"}"));
    EXPECT_FALSE(Has(text, "paging"));
    EXPECT_TRUE(Has(text, "zeltor_probe_path_available{path=\"\\\\Process(ntfrs)\\\\Handle Count\"} 0\n"));
    EXPECT_TRUE(Has(text, "zeltor_probe_path_available{path=\"\\\\Paging File(_Total)\\\\% Usage\"} 0\n"));
    EXPECT_TRUE(Has(text, "zeltor_probe_path_available{path=\"\\\\Process(lsass)\\\\Handle Count\"} 1\n"));
    EXPECT_FALSE(Has(text, "zeltor_probe_failure_info"));
}

TEST(ExporterMetricsTest, AFailedProbeSaysWhyInTheWindowsWords)
{
    ProbeOutcome outcome;
    outcome.status = PdhStatusFromWin32(1326);
    outcome.statusText = StatusText(outcome.status);
    outcome.durationSeconds = 1.5;
    EXPECT_EQ(outcome.statusText, "The user name or password is incorrect.");
    const std::string text = RenderProbe(outcome);
    EXPECT_TRUE(Has(text, "zeltor_probe_success 0\n")) << text;
    EXPECT_TRUE(Has(text, "zeltor_probe_duration_seconds 1.5\n"));
    EXPECT_TRUE(
        Has(text,
            "zeltor_probe_failure_info{status=\"0x8007052E\",text=\"The user name or password is incorrect.\"} 1\n"));
    EXPECT_FALSE(Has(text, "path_available")); // nothing was read: no counter is said to be missing either

    EXPECT_EQ(StatusText(PDH_CSTATUS_NO_MACHINE),
              "Unable to connect to the specified computer, or the computer is offline.");
    EXPECT_EQ(StatusText(0xDEADBEEF), "Unknown Error.");
}

TEST(ExporterMetricsTest, TheExportersOwnFigures)
{
    ExporterFigures figures;
    figures.version = "1.2.3";
    figures.probes["dc"]["success"] = 3;
    figures.probes["dc"]["failure"] = 1;
    figures.probeSeconds["dc"] = 0.75;
    figures.refusedRequests[{ "403", "target_not_allowed", "monitor", "dc" }] = 2;
    figures.refusedRequests[{ "400", "unknown_auth", "", "" }] = 1;
    figures.refusedLogons = 1;
    figures.sessions = 2;
    const std::string text = RenderExporterFigures(figures);
    EXPECT_TRUE(Has(text, "zeltor_exporter_build_info{version=\"1.2.3\"} 1\n")) << text;
    EXPECT_TRUE(Has(text, "# TYPE zeltor_exporter_probes_total counter\n"
                          "zeltor_exporter_probes_total{module=\"dc\",outcome=\"failure\"} 1\n"
                          "zeltor_exporter_probes_total{module=\"dc\",outcome=\"success\"} 3\n"));
    EXPECT_TRUE(Has(text, "zeltor_exporter_probe_seconds_total{module=\"dc\"} 0.75\n"));
    EXPECT_TRUE(Has(
        text,
        "zeltor_exporter_requests_refused_total{code=\"400\",reason=\"unknown_auth\"} 1\n"
        "zeltor_exporter_requests_refused_total{code=\"403\",reason=\"target_not_allowed\",auth=\"monitor\",module=\"dc\"} 2\n"))
        << text;
    EXPECT_TRUE(Has(text, "zeltor_exporter_refused_logons_total 1\n"));
    EXPECT_TRUE(Has(text, "zeltor_exporter_sessions 2\n"));
    EXPECT_TRUE(Has(text, "zeltor_exporter_collections_in_flight 0\n"));
    EXPECT_TRUE(Has(text, "zeltor_exporter_config_last_reload_successful 1\n"));
    EXPECT_FALSE(Has(text, "process_")); // none given: none written
    figures.process = ProcessFigures{ 1.5, 4096, 8192, 7, 1024, 1796817600 };
    EXPECT_TRUE(Has(RenderExporterFigures(figures),
                    "# TYPE process_cpu_seconds_total counter\nprocess_cpu_seconds_total 1.5\n"));
}

TEST(ExporterMetricsTest, TheDirectorysCountersAreNamedAsAdministratorsKnowThem)
{
    // Each path with its Windows type: the rates count, the others are levels.
    constexpr std::uint32_t kCount = 0x10410400, kBulk = 0x10410500, kRaw = 0x00010000;
    const std::vector<std::tuple<std::string, std::uint32_t, std::string>> expected = {
        { "\\NTDS\\LDAP Searches/sec", kCount, "zeltor_ntds_ldap_searches_total" },
        { "\\NTDS\\LDAP Writes/sec", kCount, "zeltor_ntds_ldap_writes_total" },
        { "\\NTDS\\LDAP Successful Binds/sec", kCount, "zeltor_ntds_ldap_successful_binds_total" },
        { "\\NTDS\\LDAP Client Sessions", kRaw, "zeltor_ntds_ldap_client_sessions" },
        { "\\NTDS\\LDAP Active Threads", kRaw, "zeltor_ntds_ldap_active_threads" },
        { "\\NTDS\\DRA Inbound Bytes Total/sec", kBulk, "zeltor_ntds_dra_inbound_bytes_total" },
        { "\\NTDS\\DRA Outbound Bytes Total/sec", kBulk, "zeltor_ntds_dra_outbound_bytes_total" },
        { "\\NTDS\\DRA Inbound Objects/sec", kCount, "zeltor_ntds_dra_inbound_objects_total" },
        { "\\NTDS\\DRA Outbound Objects/sec", kCount, "zeltor_ntds_dra_outbound_objects_total" },
        { "\\NTDS\\DRA Pending Replication Synchronizations", kRaw,
          "zeltor_ntds_dra_pending_replication_synchronizations" },
        { "\\NTDS\\DS Directory Reads/sec", kCount, "zeltor_ntds_ds_directory_reads_total" },
        { "\\NTDS\\DS Directory Writes/sec", kCount, "zeltor_ntds_ds_directory_writes_total" },
        { "\\NTDS\\DS Directory Searches/sec", kCount, "zeltor_ntds_ds_directory_searches_total" },
        { "\\NTDS\\DS Threads in Use", kRaw, "zeltor_ntds_ds_threads_in_use" },
        { "\\Security System-Wide Statistics\\Kerberos Authentications", kCount,
          "zeltor_security_system_wide_statistics_kerberos_authentications_total" },
        { "\\Security System-Wide Statistics\\NTLM Authentications", kCount,
          "zeltor_security_system_wide_statistics_ntlm_authentications_total" },
    };
    const ExporterModule ntds = DirectoryServiceModule();
    ASSERT_EQ(ntds.paths.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [path, type, name] = expected[i];
        EXPECT_EQ(ntds.paths[i], path);
        const auto series = SeriesOfCounter(path, type);
        ASSERT_EQ(series.size(), 1u) << path;
        EXPECT_EQ(series[0].name, name);
        EXPECT_STREQ(series[0].type, type == kRaw ? "gauge" : "counter");
    }

    // Both built-in modules are there unless the configuration defines them; an ntds given only a
    // timeout keeps its counters.
    ExporterConfig config;
    config.auths.push_back({ "a", "u", "", "/p", { "dc1" }, {}, {}, {}, {}, {} });
    ASSERT_FALSE(CompleteExporterConfig(config));
    ASSERT_NE(config.FindModule("ntds"), nullptr);
    EXPECT_EQ(config.FindModule("ntds")->paths, ntds.paths);
    EXPECT_EQ(BuiltInModule("ntds").paths, ntds.paths);
    EXPECT_TRUE(BuiltInModule("mine").paths.empty());
    ASSERT_FALSE(ParseExporterConfig("modules:\n  ntds: {timeout_seconds: 3}\n"
                                     "auths: {a: {user: u, password_file: /p, targets: [dc1]}}\n",
                                     &config));
    EXPECT_EQ(config.FindModule("ntds")->paths, ntds.paths);
    EXPECT_EQ(config.FindModule("ntds")->timeoutSeconds, 3);
}

TEST(ExporterMetricsTest, ThePageKeepsARowPerTargetModuleAndAuthAndSaysWhatATargetLacks)
{
    ExporterConfig config;
    config.modules = { DomainControllerModule(), DirectoryServiceModule() };
    config.auths.push_back({ "a<b", "u", "", "/p", { "dc1" }, {}, {}, {}, {}, {} });
    const auto at = std::chrono::steady_clock::time_point() + std::chrono::seconds(100);

    ProbeOutcome read;
    read.success = true;
    read.counters = { { "\\Memory\\Page Faults/sec", 0, 0x10410400, Valid(3) } };
    ProbeOutcome lacking;
    lacking.success = true;
    lacking.counters = { { "\\NTDS\\LDAP Searches/sec", PDH_CSTATUS_NO_OBJECT, 0, {} },
                         { "\\NTDS\\DS Threads in Use", PDH_CSTATUS_NO_OBJECT, 0, {} },
                         { "\\Security System-Wide Statistics\\NTLM Authentications", PDH_CSTATUS_NO_OBJECT, 0, {} } };
    ProbeOutcome refused;
    refused.statusText = "The user name or password is incorrect.";

    LastProbes probes;
    probes.Note(LastProbeOf("DC1", "dc", "a<b", 13, read, at));
    probes.Note(LastProbeOf("dc1", "ntds", "a<b", 16, lacking, at));
    probes.Note(LastProbeOf("dc1", "dc", "other", 13, refused, at));
    probes.Note(LastProbeOf("dc1", "dc", "a<b", 13, read, at + std::chrono::seconds(5))); // the same row, newer
    ASSERT_EQ(probes.Rows().size(), 3u);

    const std::string page = RenderStatusPage("1.0", config, probes, at + std::chrono::seconds(12));
    EXPECT_TRUE(Has(page, "<li>a&lt;b</li>")) << page;
    EXPECT_TRUE(Has(page, "<tr><td>dc1</td><td>dc</td><td>a&lt;b</td><td>success</td><td class=\"n\">1 of 13</td>"
                          "<td class=\"n\">0</td><td class=\"n\">7</td></tr>"))
        << page;
    EXPECT_TRUE(
        Has(page, "<tr><td>dc1</td><td>ntds</td><td>a&lt;b</td><td class=\"none\">no counters: the target answers but "
                  "publishes no NTDS or Security System-Wide Statistics object</td><td class=\"n\">0 of 16</td>"))
        << page;
    EXPECT_TRUE(Has(page, "<tr><td>dc1</td><td>dc</td><td>other</td><td class=\"failure\">The user name or password is "
                          "incorrect.</td><td class=\"n\"></td>"))
        << page;

    // The series say the same: the objects the target lacks, each once, beside one it has.
    lacking.counters.push_back({ "\\Memory\\Page Faults/sec", 0, 0x10410400, Valid(3) });
    const std::string text = RenderProbe(lacking);
    EXPECT_TRUE(Has(text, "# TYPE zeltor_probe_object_available gauge\n"
                          "zeltor_probe_object_available{object=\"NTDS\"} 0\n"
                          "zeltor_probe_object_available{object=\"Security System-Wide Statistics\"} 0\n"
                          "zeltor_probe_object_available{object=\"Memory\"} 1\n"))
        << text;
}
