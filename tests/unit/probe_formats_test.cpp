// The output formats' rules for texts that need care: escaping, metric names, series that
// would repeat, and the plugin's separators. The real consumers check the grammar (tests/probe).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "probe/sample_writer.h"

namespace {

std::vector<ProbeCounter> Counters(const CString& machine, std::initializer_list<const char16_t*> paths)
{
    std::vector<ProbeCounter> counters;
    for (const char16_t* path : paths)
        counters.push_back({ path, u"\\\\" + machine + path });
    return counters;
}

} // namespace

TEST(ProbeFormatsTest, PrometheusNamesAndLabels)
{
    const std::pair<const char16_t*, const char*> names[] = {
        { u"\\Processor(_Total)\\% Processor Time", "zeltor_processor_processor_time_percent" },
        { u"\\Memory\\% Committed Bytes In Use", "zeltor_memory_committed_bytes_in_use_percent" },
        { u"\\System\\File Read Operations/sec", "zeltor_system_file_read_operations_per_second" },
        { u"\\Process(lsass)\\Handle Count", "zeltor_process_handles" },
        { u"\\Process(*)\\Thread Count", "zeltor_process_threads" },
        { u"\\Server\\Logon Count", "zeltor_server_logons" },
        { u"\\Job Object\\Process Count", "zeltor_job_object_processes" },
        { u"\\X\\Entry Count", "zeltor_x_entries" },
        { u"\\Cache\\Copy Read Hits Count", "zeltor_cache_copy_read_hits" },
        { u"\\X\\Count", "zeltor_x_count_value" },
        { u"\\X\\Bytes Total", "zeltor_x_bytes_total_value" },
        { u"\\PhysicalDisk(0 C:)\\Avg. Disk sec/Read", "zeltor_physicaldisk_avg_disk_seconds_read" },
        { u"\\Network Interface(*)\\Bytes Total/SEC", "zeltor_network_interface_bytes_total_per_second" },
        { u"\\Prozessor(_Total)\\Prozessorzeit (%)", "zeltor_prozessor_prozessorzeit" },
    };
    for (const auto& [path, name] : names)
        EXPECT_EQ(PrometheusMetricName(path), name);

    // The exporter's series, typed by counter type, each with the machine as instance: one family
    // per name with all its samples together; a series given twice is written once; label values
    // escaped; a counter that could not be added or read only in the availability family, and an
    // object the machine lacks said so.
    PrometheusWriter writer(u"dc\"1\\x");
    const auto reading = [](const char* path, std::uint32_t type, std::uint64_t first, std::uint64_t second = 0) {
        CounterReading r{ path, 0, type, {} };
        r.sample.CStatus = 0;
        r.sample.first = first;
        r.sample.second = second;
        return r;
    };
    SampleReadings raw{ true,
                        0.125,
                        { reading("\\Process(a\"b)\\Handle Count", 0x00010000, 5),
                          reading("\\Memory\\Page Faults/sec", 0x10410400, 7),
                          reading("\\Processor(_Total)\\% Processor Time", 0x21510500, 25'000'000),
                          reading("\\Memory\\% Committed Bytes In Use", 0x20020400, 3, 8),
                          reading("\\Process(svchost#2)\\Handle Count", 0x00010000, 9),
                          reading("\\memory\\page faults/sec", 0x10410400, 8),
                          { "\\NTDS\\LDAP Searches/sec", 0xC0000BB8, 0, {} } } };
    const std::string text = writer.Sample({}, {}, raw);
    const std::string instance = "instance=\"dc\\\"1\\\\x\"";
    const std::vector<std::string> parts = {
        "# TYPE zeltor_probe_success gauge\nzeltor_probe_success{" + instance + "} 1\n",
        "zeltor_probe_duration_seconds{" + instance + "} 0.125\n",
        "# TYPE zeltor_process_handles gauge\nzeltor_process_handles{" + instance +
            ",pdh_instance=\"a\\\"b\"} 5\n"
            "zeltor_process_handles{" +
            instance + ",pdh_instance=\"svchost#2\"} 9\n",
        "# TYPE zeltor_memory_page_faults_total counter\nzeltor_memory_page_faults_total{" + instance + "} 7\n# HELP",
        "# TYPE zeltor_processor_processor_time_inverse_seconds_total counter\n"
        "zeltor_processor_processor_time_inverse_seconds_total{" +
            instance + ",pdh_instance=\"_Total\"} 2.5\n",
        "zeltor_memory_committed_bytes_in_use_numerator{" + instance + "} 3\n",
        "zeltor_memory_committed_bytes_in_use_denominator{" + instance + "} 8\n",
        "zeltor_probe_path_available{" + instance + ",path=\"\\\\memory\\\\page faults/sec\"} 1\n",
        "zeltor_probe_path_available{" + instance + ",path=\"\\\\NTDS\\\\LDAP Searches/sec\"} 0\n",
        "zeltor_probe_object_available{" + instance + ",object=\"Memory\"} 1\n",
        "zeltor_probe_object_available{" + instance + ",object=\"NTDS\"} 0\n"
    };
    for (const std::string& part : parts)
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    EXPECT_EQ(text.find("ntds_ldap"), std::string::npos) << text;

    // A collection that failed: that, and nothing of the counters.
    EXPECT_EQ(
        writer.Sample({}, {}, SampleReadings{ false, 2, {} }),
        "# HELP zeltor_probe_success Whether the target was probed (1) or not (0): its counters collected, or its health checks made.\n"
        "# TYPE zeltor_probe_success gauge\nzeltor_probe_success{" +
            instance +
            "} 0\n"
            "# HELP zeltor_probe_duration_seconds How long the probe took, in seconds.\n"
            "# TYPE zeltor_probe_duration_seconds gauge\nzeltor_probe_duration_seconds{" +
            instance + "} 2\n");
}

TEST(ProbeFormatsTest, JsonAndCsvTextsAreEscaped)
{
    EXPECT_EQ(JsonString("a\"b\\c\n\r\t\x01\x1f\x7f é"), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u001f\x7f é\"");
    EXPECT_EQ(CsvCell("say \"hi\", twice\r\n"), "\"say \"\"hi\"\", twice\r\n\"");

    JsonWriter json(u"m\"1", Counters(u"m\"1", { u"\\Process(\"q\")\\Handle Count" }));
    EXPECT_EQ(json.Sample(LocalTime{ 2026, 1, 2, 3, 4, 5, 6, -330, "X" }, std::vector<CounterValue>{ -4 }, {}),
              "{\"time\":\"2026-01-02T03:04:05.006-05:30\",\"machine\":\"m\\\"1\",\"counters\":[{\"path\":"
              "\"\\\\\\\\m\\\"1\\\\Process(\\\"q\\\")\\\\Handle Count\",\"value\":-4}]}\n");
    CsvWriter csv(Counters(u"m", { u"\\Process(\"q\")\\Handle Count" }));
    EXPECT_EQ(csv.Begin(LocalTime{ 2026, 1, 2, 3, 4, 5, 6, -330, "Eastern \"Time\"" }),
              "\"(PDH-CSV 4.0) (Eastern \"\"Time\"\")(330)\",\"\\\\m\\Process(\"\"q\"\")\\Handle Count\"\r\n");
}

TEST(ProbeFormatsTest, PluginLabelsAndOutputKeepTheirSeparators)
{
    NagiosPlugin plugin(u"dc|1", Counters(u"dc|1", { u"\\Odd's=object(a|b)\\% Time", u"\\Memory\\Page Faults/sec" }),
                        { { ParseThresholdRange("50"), std::nullopt }, { std::nullopt, ParseThresholdRange("@0:") } });
    EXPECT_EQ(plugin.Sample({}, std::vector<CounterValue>{ 60, std::nullopt }, {}),
              "ZELTOR UNKNOWN - \\Odd's=object(a/b)\\% Time = 60 (warning 50), \\Memory\\Page Faults/sec unavailable | "
              "'\\Odd_s_object(a_b)\\% Time'=60%;50;;0;100 '\\Memory\\Page Faults/sec'=U;;@0:\n");
    EXPECT_EQ(plugin.State(), PluginState::Unknown);
    EXPECT_EQ(NagiosPlugin::UnknownLine("Error:53\r\nThe network path|name was not found.\r\n"),
              "ZELTOR UNKNOWN - Error:53 The network path/name was not found.\n");
}

TEST(ProbeFormatsTest, PluginAnswerStaysOneLineWhateverThePathsAndMachineHold)
{
    // Line ends, other control characters and '|' in the machine's name and in the paths (an
    // instance name may hold anything): one line, one separator, every counter in its data.
    const CString machine = u"dc\n1|x";
    NagiosPlugin plugin(machine,
                        Counters(machine, { u"\\Process(a\nb|c\r)\\Handle Count", u"\\Process(d\te\x1b)\\ID Process" }),
                        { { ParseThresholdRange("5"), std::nullopt }, { std::nullopt, std::nullopt } });
    const std::string alert = plugin.Sample({}, std::vector<CounterValue>{ 9, 1 }, {});
    EXPECT_EQ(alert, "ZELTOR WARNING - \\Process(a b/c )\\Handle Count = 9 (warning 5) | "
                     "'\\Process(a_b_c_)\\Handle Count'=9;5 '\\Process(d_e_)\\ID Process'=1\n");
    const std::string fine = plugin.Sample({}, std::vector<CounterValue>{ 1, 1 }, {});
    EXPECT_EQ(fine.substr(0, fine.find(" | ")), "ZELTOR OK - 2 of 2 counters of dc 1/x read");
    for (const std::string& line : { alert, fine,
                                     NagiosPlugin::UnknownLine("a\x01"
                                                               "b|\vc\n") }) {
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        EXPECT_EQ(line.back(), '\n');
        EXPECT_LE(std::count(line.begin(), line.end(), '|'), 1) << line;
        EXPECT_EQ(std::count_if(line.begin(), line.end(),
                                [](char c) { return c != '\n' && static_cast<unsigned char>(c) < 0x20; }),
                  0)
            << line;
    }
}
