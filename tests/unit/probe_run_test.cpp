// The probe over scripted services: the engine's calls in the window's order, the window's
// texts for failures with distinct exit codes, unavailable counters, the sampling schedule, the
// password's sources and discovery. (The same figures as the window: tests/linux/probe_live_test
// on this machine, and the Wine cases.)
#include <gtest/gtest.h>

#include <regex>

#include "app/counter_set.h"
#include "perf/pdh_status.h"
#include "probe/probe_main.h"
#include "tests/fakes/fake_probe_environment.h"
#include "tests/fakes/fake_services.h"

namespace {

// The connector notes how many queries were open when each connection was cancelled.
class OrderedNetworkConnector : public FakeNetworkConnector {
public:
    explicit OrderedNetworkConnector(FakeCounterSource& counters) : m_counters(counters) {}
    std::uint32_t CancelConnection(const CString& remoteName, bool force) override
    {
        openQueriesAtCancel.push_back(m_counters.openQueries);
        return FakeNetworkConnector::CancelConnection(remoteName, force);
    }
    std::vector<int> openQueriesAtCancel;

private:
    FakeCounterSource& m_counters;
};

class ProbeRunTest : public ::testing::Test {
protected:
    ProbeRunTest()
    {
        for (std::size_t i = 0; i < kCounterSetPaths.size(); ++i)
            counters.SetValue(kCounterSetPaths[i], static_cast<std::int32_t>(10 * i + 3));
    }

    int Run(const std::vector<std::string>& args)
    {
        std::vector<CString> list;
        list.reserve(args.size());
        for (const std::string& arg : args)
            list.push_back(CString::FromUtf8(arg));
        return ProbeMain(services, env, u"/usr/bin/zeltor-probe", list);
    }

    FakeDirectoryService directory;
    FakeCounterSource counters;
    OrderedNetworkConnector network{ counters };
    ProbeServices services{ directory, network, counters };
    FakeProbeEnvironment env;
};

const std::string kPageFaults = "\\Memory\\Page Faults/sec";

} // namespace

TEST_F(ProbeRunTest, ConnectsAsTheWindowDoesAndCancelsBeforeTheQueryCloses)
{
    env.terminalPassword = u"S3cret";
    ASSERT_EQ(Run({ "-u", "CORP\\admin", "-f", "csv", "DC1" }), probe_exit::kOk);
    EXPECT_EQ(env.prompts, (std::vector<CString>{ u"Password for CORP\\admin on \\\\DC1: " }));
    ASSERT_EQ(network.attempts.size(), 1u);
    EXPECT_EQ(network.attempts[0].remoteName, u"\\\\DC1");
    EXPECT_EQ(network.attempts[0].userName, u"CORP\\admin");
    EXPECT_EQ(network.attempts[0].password, u"S3cret");
    EXPECT_EQ(counters.connectedMachines, (std::vector<CString>{ u"DC1" }));
    EXPECT_EQ(counters.addedPaths.size(), 13u);
    EXPECT_EQ(counters.addedPaths[0], u"\\\\DC1\\Processor(_Total)\\% Processor Time");
    // Cancelled while the query was still open, as when the window ends; then the query closed.
    EXPECT_EQ(network.cancelled, (std::vector<CString>{ u"\\\\DC1" }));
    EXPECT_EQ(network.openQueriesAtCancel, (std::vector<int>{ 1 }));
    EXPECT_EQ(counters.openQueries, 0);
    EXPECT_EQ(network.outstandingMessages, 0);
    EXPECT_EQ(env.err, "");
}

TEST_F(ProbeRunTest, AConnectionThatTimedOutSaysWhichStepDidNotAnswer)
{
    // The connector's step on a line after the system's text, the Win32 code kept.
    network.addResults = { 121 };
    network.failureStep = u"The look-up of the name DC1 did not answer.";
    env.inputPassword = u"pw";
    EXPECT_EQ(Run({ "-u", "bob", "--password-stdin", "DC1" }), probe_exit::kConnectionFailed);
    EXPECT_EQ(env.err,
              "zeltor-probe: Error:121\nThe semaphore timeout period has expired.\nThe look-up of the name DC1 did "
              "not answer.\n");
    EXPECT_EQ(counters.connectCalls, 0);
}

TEST_F(ProbeRunTest, FailuresSayTheWindowsTextsWithTheirOwnExitCodes)
{
    // The connection: "Error:53" and the system's text; no query is set up.
    network.addResults = { 53 };
    env.inputPassword = u"pw";
    EXPECT_EQ(Run({ "-u", "bob", "--password-stdin", "DC1" }), probe_exit::kConnectionFailed);
    EXPECT_EQ(env.err, "zeltor-probe: Error:53\nThe network path was not found.\n");
    EXPECT_EQ(env.out, "");
    EXPECT_EQ(counters.connectCalls, 0);
    EXPECT_EQ(network.outstandingMessages, 0);

    // The counters: the query's "Could not initialize." text; the open connection is cancelled.
    env = {};
    env.inputPassword = u"pw";
    counters.connectResults = { PDH_CSTATUS_NO_MACHINE };
    EXPECT_EQ(Run({ "-u", "bob", "--password-stdin", "DC1" }), probe_exit::kInitializeFailed);
    EXPECT_EQ(
        env.err,
        "zeltor-probe: Could not initialize.\nUnable to connect to the specified computer, or the computer is offline.\n");
    EXPECT_EQ(network.cancelled, (std::vector<CString>{ u"\\\\DC1" }));

    // The plugin gets the same text on its one line, as UNKNOWN.
    env = {};
    EXPECT_EQ(Run({ "-f", "nagios", "DC1" }), 3);
    EXPECT_EQ(
        env.out,
        "ZELTOR UNKNOWN - Could not initialize. Unable to connect to the specified computer, or the computer is offline.\n");

    // No password: nothing is connected.
    env = {};
    counters.connectResults.clear();
    EXPECT_EQ(Run({ "-u", "bob", "DC1" }), probe_exit::kNoPassword);
    EXPECT_NE(env.err.find("no password here; give the password on standard input with --password-stdin"),
              std::string::npos);
    EXPECT_EQ(network.attempts.size(), 2u);

    // The command line: the usage hint; a plugin's UNKNOWN.
    env = {};
    EXPECT_EQ(Run({ "--password", "x", "DC1" }), probe_exit::kUsage);
    EXPECT_NE(env.err.find("Try 'zeltor-probe --help'"), std::string::npos);
    EXPECT_EQ(Run({ "-f", "nagios", "--password=x", "DC1" }), 3);
    EXPECT_TRUE(env.out.starts_with("ZELTOR UNKNOWN - the password is not taken from the command line"));
}

TEST_F(ProbeRunTest, ACollectionThatFailsIsReportedAndItsSampleIsUnavailable)
{
    // The first collection (before the interval) works; the sample's fails.
    counters.collectResults = { 0, PDH_NO_DATA };
    EXPECT_EQ(Run({ "-f", "json", "-n", "2", "DC1", kPageFaults }), probe_exit::kCollectFailed);
    EXPECT_EQ(env.err, "zeltor-probe: No data to return.\n");
    const auto lines = env.OutLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"value\":null"), std::string::npos);
    EXPECT_NE(lines[1].find("\"value\":83"), std::string::npos) << lines[1];

    env = {};
    counters.collectResults = { 0, PDH_NO_DATA };
    EXPECT_EQ(Run({ "-f", "nagios", "DC1" }), 3);
    EXPECT_EQ(env.out, "ZELTOR UNKNOWN - No data to return.\n");
}

TEST_F(ProbeRunTest, CountersThatCannotBeAddedOrReadAreUnavailableNotZero)
{
    counters.unpublishedPaths = { u"\\\\DC1\\Process(ntfrs)\\Handle Count" };
    counters.invalidPaths = { u"\\Memory\\Pages Input/sec" };
    counters.SetValue(u"\\Process(lsass)\\Handle Count", 0);
    ASSERT_EQ(Run({ "-f", "csv", "DC1" }), probe_exit::kOk);
    const auto lines = env.OutLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("\"(PDH-CSV 4.0) (CEST)(-120)\",\"\\\\DC1\\Processor(_Total)\\% Processor Time\",", 0), 0u)
        << lines[0];
    EXPECT_EQ(
        lines[1],
        "\"05/04/2026 12:00:01.000\",\"3\",\"13\",\"23\",\"33\",\"43\",\"53\",\"0\",\" \",\"83\",\" \",\"103\",\"113\",\"123\"");

    env = {};
    counters.rawTypes = { { u"\\Memory\\Page Faults/sec", 0x10410400 }, { u"\\Memory\\Pages Input/sec", 0x10410400 } };
    ASSERT_EQ(Run({ "-f", "prometheus", "DC1" }), probe_exit::kOk);
    EXPECT_NE(env.out.find("zeltor_process_handles{instance=\"DC1\",pdh_instance=\"lsass\"} 0\n"), std::string::npos)
        << env.out;
    EXPECT_NE(
        env.out.find(
            "# TYPE zeltor_memory_page_faults_total counter\nzeltor_memory_page_faults_total{instance=\"DC1\"} 83\n"),
        std::string::npos)
        << env.out;
    EXPECT_EQ(env.out.find("pdh_instance=\"ntfrs\""), std::string::npos);
    EXPECT_EQ(env.out.find("zeltor_memory_pages_input_total{"), std::string::npos);
    EXPECT_NE(env.out.find(
                  "zeltor_probe_path_available{instance=\"DC1\",path=\"\\\\Process(ntfrs)\\\\Handle Count\"} 0\n"),
              std::string::npos);
    EXPECT_NE(env.out.find("zeltor_probe_success{instance=\"DC1\"} 1\n"), std::string::npos);
}

// The window shows a LONG; the probe's outputs carry a count beyond it whole.
TEST_F(ProbeRunTest, ACountBeyondTheLargestLongIsWrittenWhole)
{
    counters.SetValue(u"\\Process(lsass)\\Handle Count", 5'000'000'000);
    ASSERT_EQ(Run({ "-f", "json", "DC1", "\\Process(lsass)\\Handle Count" }), probe_exit::kOk);
    EXPECT_NE(env.out.find("\"value\":5000000000}"), std::string::npos) << env.out;
    env = {};
    counters.SetValue(u"\\Memory\\Page Faults/sec", 2'147'483'648);
    ASSERT_EQ(Run({ "-f", "csv", "DC1" }), probe_exit::kOk);
    EXPECT_NE(env.out.find(",\"2147483648\","), std::string::npos) << env.out;
}

TEST_F(ProbeRunTest, SamplesComeOneIntervalApartAfterAFirstCollection)
{
    ASSERT_EQ(Run({ "-f", "json", "-i", "2.5", "-n", "3", "DC1", kPageFaults }), probe_exit::kOk);
    EXPECT_EQ(counters.collects, 4);
    EXPECT_EQ(env.waits, (std::vector<std::uint32_t>{ 2500, 2500, 2500 }));
    const auto lines = env.OutLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with("{\"time\":\"2026-05-04T12:00:02.500+02:00\",\"machine\":\"DC1\"")) << lines[0];
    EXPECT_TRUE(lines[2].starts_with("{\"time\":\"2026-05-04T12:00:07.500+02:00\"")) << lines[2];

    // Collections slower than the interval: each next sample still waits its interval.
    struct SlowSource : FakeCounterSource {
        explicit SlowSource(FakeProbeEnvironment& e) : env(e) {}
        PDH_STATUS CollectQueryData(PdhQuery* query) override
        {
            env.clockMs += 2500;
            return FakeCounterSource::CollectQueryData(query);
        }
        FakeProbeEnvironment& env;
    } slow(env);
    env = {};
    ProbeServices slowServices{ directory, network, slow };
    ASSERT_EQ(ProbeMain(slowServices, env, u"zeltor-probe", { u"-f", u"csv", u"-n", u"3", u"DC1" }), probe_exit::kOk);
    EXPECT_EQ(env.waits, (std::vector<std::uint32_t>{ 1000, 1000, 1000 }));

    // Until interrupted: the samples so far, a clean end, the connection cancelled.
    env = {};
    env.inputPassword = u"pw";
    env.interruptAtWait = 2;
    ASSERT_EQ(Run({ "-f", "csv", "-n", "0", "-u", "bob", "--password-stdin", "DC1" }), probe_exit::kOk);
    EXPECT_EQ(env.OutLines().size(), 3u); // the header and two samples
    EXPECT_EQ(network.cancelled.size(), 1u);
    env = {};
    env.interruptAtWait = 1;
    EXPECT_EQ(Run({ "-n", "5", "DC1" }), probe_exit::kInterrupted);

    // Output that cannot be written ends the run.
    env = {};
    env.writesBeforeFailure = 1;
    EXPECT_EQ(Run({ "-f", "csv", "-n", "3", "DC1" }), probe_exit::kOutputFailed);
    EXPECT_EQ(env.err, "zeltor-probe: cannot write the output\n");
    EXPECT_EQ(counters.openQueries, 0);
}

TEST_F(ProbeRunTest, PluginStatesFollowTheThresholds)
{
    // Values: processor 3, committed 13, free space 23, ...; lsass handles 63.
    const std::regex line(
        R"(ZELTOR (OK|WARNING|CRITICAL|UNKNOWN) - [^|]+ \| ('[^'=]+'=(-?\d+%?|U)(;[^; ]*){0,4} ?)+\n)");
    const std::pair<std::vector<std::string>, int> cases[] = {
        { {}, 0 },
        { { "-w", "1=2" }, 1 },
        { { "-w", "1=2", "-c", "1=2" }, 2 },
        { { "-c", "3=25:" }, 2 },
        { { "-w", "3=@20:30" }, 1 },
        { { "-w", "\\process(LSASS)\\handle count=60" }, 1 },
        { { "-w", "1=2", "-c", "7=100" }, 1 },
        { { "-w", "8=100" }, 0 },
    };
    for (const auto& [thresholds, state] : cases) {
        env = {};
        std::vector<std::string> args = { "-f", "nagios" };
        args.insert(args.end(), thresholds.begin(), thresholds.end());
        args.emplace_back("DC1");
        EXPECT_EQ(Run(args), state) << args[2];
        EXPECT_TRUE(std::regex_match(env.out, line)) << env.out;
    }
    // A threshold on a counter without a value is UNKNOWN, but a critical value outweighs it.
    counters.invalidPaths = { u"\\Memory\\Page Faults/sec" };
    env = {};
    EXPECT_EQ(Run({ "-f", "nagios", "-w", "1=2", "-w", "9=1", "DC1" }), 3);
    EXPECT_NE(env.out.find("\\Memory\\Page Faults/sec unavailable"), std::string::npos);
    EXPECT_NE(env.out.find("'\\Memory\\Page Faults/sec'=U;1"), std::string::npos);
    EXPECT_EQ(Run({ "-f", "nagios", "-c", "1=2", "-w", "9=1", "DC1" }), 2);
    // A counter the list does not have.
    EXPECT_EQ(Run({ "-f", "nagios", "-w", "14=1", "DC1" }), 3);
    EXPECT_NE(env.err.find("'14' is not one of the counters read"), std::string::npos);
}

TEST_F(ProbeRunTest, ListsTheJoinedDomainsControllersThroughTheWindowsDiscovery)
{
    directory.joinStatus = NetSetupDomainName;
    directory.joinName = u"corp.example";
    // By their DNS host names, as the exporter's discovery names them (DC2's is not known: its
    // NetBIOS name stands in).
    directory.controllers.emplace_back().NetbiosName = u"DC1";
    directory.controllers.back().DnsHostName = u"dc1.corp.example";
    directory.controllers.emplace_back().NetbiosName = u"DC2";
    ASSERT_EQ(Run({ "--list-dcs" }), probe_exit::kOk);
    EXPECT_EQ(env.out, "corp.example\ndc1.corp.example\nDC2\n");
    EXPECT_EQ(directory.lastBindDomain, u"corp.example");
    EXPECT_EQ(directory.outstandingBindings + directory.outstandingInfos + directory.outstandingJoinBuffers, 0);

    env = {};
    env.filePassword = u"pw";
    ASSERT_EQ(Run({ "--list-dcs", "-u", "CORP\\bob", "--password-file", "/home/bob/.pw", "-f", "json" }),
              probe_exit::kOk);
    EXPECT_EQ(env.out, "{\"domain\":\"corp.example\",\"controllers\":[\"dc1.corp.example\",\"DC2\"]}\n");
    EXPECT_EQ(directory.lastCredUser, u"CORP\\bob");
    EXPECT_EQ(directory.lastCredPassword, u"pw");
    EXPECT_EQ(env.passwordFiles, (std::vector<CString>{ u"/home/bob/.pw" }));

    env = {};
    directory.infoResult = 1355;
    EXPECT_EQ(Run({ "--list-dcs" }), probe_exit::kNotFound);
    EXPECT_EQ(env.err, "zeltor-probe: no domain controller of corp.example could be listed: Error:1355 The specified "
                       "domain either does not exist or could not be contacted.\n");
    directory.infoResult = 0;

    // A refused logon says so, with the system's text, and is no "not found"; a domain that does
    // not answer is still one whose controllers could not be listed.
    env = {};
    env.inputPassword = u"wrong";
    directory.bindResult = 1326;
    EXPECT_EQ(Run({ "--list-dcs", "-u", "CORP\\bob", "--password-stdin" }), probe_exit::kConnectionFailed);
    EXPECT_EQ(env.err, "zeltor-probe: the logon to corp.example as CORP\\bob was refused: Error:1326 The user name or "
                       "password is incorrect.\n");
    env = {};
    env.inputPassword = u"pw";
    directory.bindResult = 1311;
    EXPECT_EQ(Run({ "--list-dcs", "-u", "CORP\\bob", "--password-stdin", "-f", "json" }), probe_exit::kNotFound);
    EXPECT_TRUE(
        env.err.starts_with("zeltor-probe: no domain controller of corp.example could be listed: Error:1311 We "))
        << env.err;
    EXPECT_EQ(env.out, "");
    directory.bindResult = 0;
    EXPECT_EQ(directory.outstandingBindings + directory.outstandingCredentials + directory.outstandingInfos, 0);
    env = {};
    directory.joinStatus = NetSetupWorkgroupName;
    EXPECT_EQ(Run({ "--list-dcs", "-f", "csv" }), probe_exit::kNotFound);
    EXPECT_EQ(env.err, "zeltor-probe: this computer (WORKSTATION1) has joined no domain\n");
    EXPECT_EQ(env.out, "");
}
