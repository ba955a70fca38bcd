// The probe's command line and the plugins' threshold ranges.
#include <gtest/gtest.h>

#include "probe/probe_options.h"

namespace {

ParsedOptions Parse(const std::vector<const char*>& args)
{
    std::vector<CString> list;
    list.reserve(args.size());
    for (const char* arg : args)
        list.push_back(CString::FromUtf8(arg));
    return ParseProbeOptions(list);
}

} // namespace

TEST(ProbeOptionsTest, APasswordOnTheCommandLineIsRefusedWithTheWaysToGiveIt)
{
    for (const auto& args :
         { Parse({ "-p", "Hunter2x", "DC1" }), Parse({ "-pHunter2x", "DC1" }), Parse({ "--password=Hunter2x", "DC1" }),
           Parse({ "DC1", "--password", "Hunter2x" }), Parse({ "--pass=Hunter2x", "DC1" }),
           Parse({ "--passwd", "DC1" }), Parse({ "--pwd=Hunter2x", "-u", "bob", "DC1" }) }) {
        SCOPED_TRACE(args.error);
        EXPECT_NE(args.error.find("not taken from the command line"), std::string::npos);
        EXPECT_NE(args.error.find("--password-stdin"), std::string::npos);
        EXPECT_NE(args.error.find("--password-file=FILE"), std::string::npos);
        EXPECT_EQ(args.error.find("Hunter2x"), std::string::npos);
    }
    // The options that name where the password is are not refused.
    EXPECT_EQ(Parse({ "-u", "bob", "--password-stdin", "DC1" }).error, "");
    EXPECT_EQ(Parse({ "-u", "bob", "--password-file", "pw.txt", "DC1" }).options.passwordFile, u"pw.txt");
}

TEST(ProbeOptionsTest, GoodCommandLines)
{
    const ProbeOptions defaults = Parse({ "DC1" }).options;
    EXPECT_EQ(defaults.machine, u"DC1");
    EXPECT_TRUE(defaults.paths.empty());
    EXPECT_EQ(defaults.intervalMs, 1000u);
    EXPECT_EQ(defaults.samples, 1u);
    EXPECT_FALSE(defaults.format.has_value());
    EXPECT_EQ(defaults.passwordSource, PasswordSource::Terminal);

    const ParsedOptions all = Parse({ "-i", "0.25", "--samples=0", "-fjson", "--user=CORP\\bob", "--password-stdin",
                                      "dc1.corp", "\\Memory\\Page Faults/sec", "\\Process(svchost#2)\\Handle Count" });
    ASSERT_EQ(all.error, "");
    EXPECT_EQ(all.options.intervalMs, 250u);
    EXPECT_EQ(all.options.samples, 0u);
    EXPECT_EQ(all.options.format, OutputFormat::Json);
    EXPECT_EQ(all.options.userName, u"CORP\\bob");
    EXPECT_EQ(all.options.passwordSource, PasswordSource::StandardInput);
    EXPECT_EQ(all.options.paths.size(), 2u);

    // "--" ends the options: a machine may start with '-'.
    EXPECT_EQ(Parse({ "-f", "csv", "--", "-odd-" }).options.machine, u"-odd-");
    const ParsedOptions plugin =
        Parse({ "-f", "nagios", "-w", "1=80", "--critical=\\Memory\\% Committed Bytes In Use=@90:", "DC1" });
    ASSERT_EQ(plugin.error, "");
    ASSERT_EQ(plugin.options.criticals.size(), 1u);
    EXPECT_EQ(plugin.options.criticals[0].counter, "\\Memory\\% Committed Bytes In Use");
    EXPECT_EQ(plugin.options.criticals[0].range.text, "@90:");
    EXPECT_TRUE(Parse({ "/?" }).options.help);
    EXPECT_TRUE(Parse({ "-V" }).options.version);
    EXPECT_TRUE(Parse({ "--list-dcs", "-f", "json" }).options.listDcs);
}

TEST(ProbeOptionsTest, BadCommandLinesSayWhatIsWrong)
{
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        { {}, "no machine given" },
        { { "--frobnicate", "DC1" }, "unknown option '--frobnicate'" },
        { { "DC1", "-i" }, "option '-i' needs a value" },
        { { "--help=yes" }, "option '--help' takes no value" },
        { { "-i", "0", "DC1" }, "'0' is not an interval" },
        { { "-i", "1e3", "DC1" }, "'1e3' is not an interval" },
        { { "-i", "86401", "DC1" }, "'86401' is not an interval" },
        { { "-n", "1.5", "DC1" }, "'1.5' is not a number of samples" },
        { { "-f", "xml", "DC1" }, "unknown format 'xml'" },
        { { "-u", "", "DC1" }, "the user name is empty" },
        { { "--password-stdin", "DC1" }, "a password is only used with --user" },
        { { "-u", "a", "--password-stdin", "--password-file=f", "DC1" }, "either on standard input or in a file" },
        { { "-w", "1=80", "DC1" }, "--warning and --critical are for --format=nagios" },
        { { "-f", "nagios", "-w", "80", "DC1" }, "--warning takes COUNTER=RANGE" },
        { { "-f", "nagios", "-c", "1=20:10", "DC1" }, "'20:10' is not a threshold range" },
        { { "-f", "prometheus", "-n", "2", "DC1" }, "--format=prometheus reports one sample" },
        { { "--list-dcs", "DC1" }, "--list-dcs takes no machine" },
        { { "--list-dcs", "-f", "nagios" }, "--list-dcs writes a table, csv or json" },
        { { "DC1", "Memory\\Page Faults/sec" }, "is not a counter path" },
        { { "DC1", "\\\\DC1\\Memory\\Page Faults/sec" }, "is not a counter path" },
    };
    for (const auto& [args, message] : cases) {
        const std::string error = Parse(args).error;
        EXPECT_NE(error.find(message), std::string::npos) << "got: " << error << "\nwanted: " << message;
    }
    // A bad command line still tells a plugin it is one.
    EXPECT_EQ(Parse({ "--bogus", "-f", "nagios", "DC1" }).options.format, OutputFormat::Nagios);
}

TEST(ThresholdRangeTest, RangesAlertAsMonitoringPluginsDo)
{
    struct Case {
        const char* range;
        double value;
        bool alerts;
    };
    const Case cases[] = {
        { "10", -1, true },      { "10", 0, false },      { "10", 10, false },     { "10", 10.5, true },
        { "10:", 9.9, true },    { "10:", 1e9, false },   { "~:10", -1e9, false }, { "~:10", 11, true },
        { "10:20", 9, true },    { "10:20", 15, false },  { "10:20", 21, true },   { "@10:20", 10, true },
        { "@10:20", 20, true },  { "@10:20", 21, false }, { "-5:-1", -3, false },  { ":5", -1, true },
        { "0.5:1.5", 1, false },
    };
    for (const Case& c : cases) {
        const auto range = ParseThresholdRange(c.range);
        ASSERT_TRUE(range.has_value()) << c.range;
        EXPECT_EQ(Alerts(*range, c.value), c.alerts) << c.range << " at " << c.value;
    }
    for (const char* bad : { "", "@", "abc", "10:5", "1:2:3", "+5", "~", "5:~", "1e2", "nan", "inf:" })
        EXPECT_FALSE(ParseThresholdRange(bad).has_value()) << bad;
}
