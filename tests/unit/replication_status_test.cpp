// What a controller's replication means once read: partners by name, times, how long a partner has
// been failing, the summary in words, and the probe's plugin states, series and options.
#include <gtest/gtest.h>

#include <thread>

#include "directory/replication_status.h"
#include "probe/probe_options.h"
#include "probe/replication_output.h"

namespace {

constexpr std::int64_t kNow = 1796894400; // 2026-12-10 09:20:00Z
constexpr std::int64_t kHour = 3600, kDay = 86400;

ReplicationNeighbor Neighbor(const std::string& server, const std::string& context, std::optional<std::int64_t> success,
                             std::uint32_t failures = 0, std::uint32_t result = 0)
{
    ReplicationNeighbor n;
    n.namingContext = context;
    n.partnerDsaDn = "CN=NTDS Settings,CN=" + server +
                     ",CN=Servers,CN=Default-First-Site-Name,CN=Sites,CN=Configuration,"
                     "DC=example,DC=com";
    n.partnerGuid = server == "DC2" ? "8bf9dd8c-2ec0-4ba6-908f-1197c658d88e" : "61bf670a-b4cb-4af0-8a41-50f6c91e5c74";
    n.lastSuccess = success;
    n.lastAttempt = kNow - 60;
    n.consecutiveFailures = failures;
    n.lastResult = result;
    return n;
}

ReplicationStatus Status(std::vector<ReplicationNeighbor> neighbors)
{
    ReplicationStatus status;
    status.read = true;
    status.neighbors = std::move(neighbors);
    status.pendingOperations = 0;
    status.tombstoneLifetime = TombstoneLifetime{ 180, true };
    return status;
}

ThresholdRange Range(const char* text)
{
    return *ParseThresholdRange(text);
}

// Refuses the password "wrong", and counts what it is sent.
class ScriptedReplication : public IReplicationService {
public:
    int reads = 0;
    ReplicationStatus Read(const ReplicationTarget& target, int) override
    {
        ++reads;
        if (target.password == CString(u"wrong")) {
            ReplicationStatus refused;
            refused.error = 1326;
            refused.errorText = "refused";
            refused.refusedLogon = true;
            return refused;
        }
        return Status({});
    }
};

ReplicationTarget Target(const char16_t* controller, const char16_t* user, const char16_t* password)
{
    ReplicationTarget target;
    target.controller = CString(controller).ToUtf8();
    target.user = user;
    target.password = password;
    return target;
}

} // namespace

TEST(ReplicationStatusTest, AReaderKeepsARefusedLogonUntilAskedOrTheBackoffEnds)
{
    auto service = std::make_shared<ScriptedReplication>();
    ReplicationReader reader(service, std::nullopt);
    EXPECT_TRUE(reader.Read(Target(u"dc1", u"EX\\mon", u"wrong"), 1000).refusedLogon);
    EXPECT_TRUE(reader.IsRefused());
    // Kept: the same credentials are not sent again, however often the reader reads.
    const ReplicationStatus kept = reader.Read(Target(u"dc1", u"EX\\mon", u"wrong"), 1000);
    EXPECT_TRUE(kept.refusedLogon);
    EXPECT_EQ(kept.errorText, "refused");
    EXPECT_EQ(service->reads, 1);
    // Another user, or another controller, is sent at once; then the user asks again.
    EXPECT_TRUE(reader.Read(Target(u"dc1", u"EX\\other", u"right"), 1000).read);
    EXPECT_EQ(service->reads, 2);
    EXPECT_TRUE(reader.Read(Target(u"dc1", u"EX\\mon", u"wrong"), 1000).refusedLogon);
    EXPECT_EQ(service->reads, 3);
    reader.AllowRetry();
    EXPECT_FALSE(reader.IsRefused());
    EXPECT_TRUE(reader.Read(Target(u"dc1", u"EX\\mon", u"right"), 1000).read);
    EXPECT_EQ(service->reads, 4);

    // With a backoff, the credentials go again once it has passed.
    ReplicationReader backingOff(service, std::chrono::milliseconds(50));
    backingOff.Read(Target(u"dc1", u"EX\\mon", u"wrong"), 1000);
    backingOff.Read(Target(u"dc1", u"EX\\mon", u"wrong"), 1000);
    EXPECT_EQ(service->reads, 5);
    for (int i = 0; i < 100 && backingOff.IsRefused(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(backingOff.IsRefused());
    backingOff.Read(Target(u"dc1", u"EX\\mon", u"wrong"), 1000);
    EXPECT_EQ(service->reads, 6);
}

TEST(ReplicationStatusTest, PartnersTimesAndFailingAreReadAsTheDirectoryMeansThem)
{
    ReplicationNeighbor n = Neighbor("DC2", "DC=example,DC=com", kNow - 7200, 3, 1722);
    EXPECT_EQ(n.PartnerName(), "Default-First-Site-Name\\DC2");
    // A server name with an escaped comma stays one component; a DN of another form is shown whole.
    n.partnerDsaDn = "CN=NTDS Settings,CN=DC\\,2,CN=Servers,CN=Site A,CN=Sites,CN=Configuration,DC=x";
    EXPECT_EQ(n.PartnerName(), "Site A\\DC\\,2");
    n.partnerDsaDn = "CN=DC2,OU=Elsewhere,DC=x";
    EXPECT_EQ(n.PartnerName(), "CN=DC2,OU=Elsewhere,DC=x");

    EXPECT_FALSE(UnixSecondsOfFileTime(0));
    EXPECT_EQ(UnixSecondsOfFileTime(116444736000000000ULL), 0);
    EXPECT_EQ(UnixSecondsOfFileTime(133000000000000000ULL), 1655526400); // what showrepl prints as Jun 18 04:26:40 2022

    // Failing since the last success; since the last attempt when there never was one; not at all
    // once the last attempt succeeded.
    EXPECT_EQ(FailingSeconds(n, kNow), 7200);
    n.lastSuccess.reset();
    EXPECT_EQ(FailingSeconds(n, kNow), 60);
    EXPECT_FALSE(FailingSeconds(Neighbor("DC2", "DC=example,DC=com", kNow - 7200), kNow));

    EXPECT_EQ(ResultText(0), "");
    EXPECT_EQ(ResultText(1722), "The RPC server is unavailable.");
    EXPECT_EQ(ResultText(4242), "error 4242");
    EXPECT_EQ(DurationWords(119), "119 s");
    EXPECT_EQ(DurationWords(3 * kHour + 5), "3 h");
    EXPECT_EQ(DurationWords(5 * kDay), "5 d");
    EXPECT_EQ(UtcTime(kNow), "2026-12-10 09:20:00Z");

    // The forest's lifetime: its value, the default where it has none, never a value that is
    // not a number of days.
    std::string error;
    EXPECT_EQ(TombstoneLifetimeOf(std::string("180"), &error)->days, 180u);
    EXPECT_TRUE(TombstoneLifetimeOf(std::string("180"), &error)->set);
    const std::optional<TombstoneLifetime> unset = TombstoneLifetimeOf(std::nullopt, &error);
    EXPECT_EQ(unset->days, kDefaultTombstoneLifetimeDays);
    EXPECT_FALSE(unset->set);
    EXPECT_EQ(error, "");
    for (const char* wrong : { "0", "-5", "60 days", "", "99999999999" }) {
        EXPECT_FALSE(TombstoneLifetimeOf(std::string(wrong), &error)) << wrong;
        EXPECT_EQ(error, std::string("tombstoneLifetime is not a number of days: ") + wrong);
    }
}

TEST(ReplicationStatusTest, TheSummaryCountsPartnersOnceAndNamesTheLongestFailing)
{
    EXPECT_EQ(ReplicationSummary(Status({ Neighbor("DC2", "DC=a", kNow - 10), Neighbor("DC2", "DC=b", kNow - 10),
                                          Neighbor("DC3", "DC=a", kNow - 10) }),
                                 kNow),
              "ok, 2 partners");
    EXPECT_EQ(ReplicationSummary(Status({ Neighbor("DC2", "DC=a", kNow - 10) }), kNow), "ok, 1 partner");
    EXPECT_EQ(ReplicationSummary(Status({ Neighbor("DC2", "DC=a", kNow - 600, 2, 1225),
                                          Neighbor("DC3", "DC=a", kNow - 3 * kHour, 9, 1722) }),
                                 kNow),
              "DC3 failing for 3 h: The RPC server is unavailable.");
    ReplicationStatus unread;
    unread.error = 8453;
    unread.errorText = "the replication interface of dc1: Replication access was denied.";
    EXPECT_EQ(ReplicationSummary(unread, kNow), unread.errorText);
}

TEST(ReplicationStatusTest, ThePluginWarnsAndAlertsByHowLongAPartnerHasFailedAndByTheTombstone)
{
    const ThresholdRange warning = Range(kReplicationWarningDefault), critical = Range(kReplicationCriticalDefault);
    ReplicationPluginLine line =
        ReplicationNagios("dc1", Status({ Neighbor("DC2", "DC=a", kNow - 600, 2, 1225) }), kNow, warning, critical);
    EXPECT_EQ(line.state, PluginState::Ok) << line.line;
    EXPECT_EQ(line.line,
              "ZELTOR OK - DC2 failing for 10 min: The remote computer refused the network connection. (dc1) "
              "| 'failing'=1 'longest_failing'=600s;3600;86400 'pending_operations'=0\n");

    line = ReplicationNagios("dc1", Status({ Neighbor("DC2", "DC=a", kNow - 7200, 4, 1722) }), kNow, warning, critical);
    EXPECT_EQ(line.state, PluginState::Warning);
    EXPECT_TRUE(line.line.starts_with("ZELTOR WARNING - Default-First-Site-Name\\DC2 DC=a failing for 2 h: The RPC "
                                      "server is unavailable. | "))
        << line.line;

    line = ReplicationNagios("dc1",
                             Status({ Neighbor("DC2", "DC=a", kNow - 7200, 4, 1722),
                                      Neighbor("DC3", "DC=a", kNow - 2 * kDay, 40, 1722) }),
                             kNow, warning, critical);
    EXPECT_EQ(line.state, PluginState::Critical);
    EXPECT_NE(line.line.find("DC2 DC=a failing for 2 h"), std::string::npos) << line.line;
    EXPECT_NE(line.line.find("'failing'=2 'longest_failing'=172800s"), std::string::npos) << line.line;

    // A last success older than the tombstone lifetime is critical even when the last attempt
    // succeeded; the default lifetime of a forest without one counts.
    ReplicationStatus stale = Status({ Neighbor("DC2", "DC=a", kNow - 61 * kDay) });
    stale.tombstoneLifetime = TombstoneLifetime{};
    line = ReplicationNagios("dc1", stale, kNow, warning, critical);
    EXPECT_EQ(line.state, PluginState::Critical);
    EXPECT_NE(line.line.find("past the tombstone lifetime"), std::string::npos) << line.line;

    ReplicationStatus unread;
    unread.errorText = "the replication interface of dc1: The RPC server is unavailable.";
    line = ReplicationNagios("dc1", unread, kNow, warning, critical);
    EXPECT_EQ(line.state, PluginState::Unknown);
    EXPECT_EQ(line.line, "ZELTOR UNKNOWN - the replication interface of dc1: The RPC server is unavailable.\n");
}

TEST(ReplicationStatusTest, SeriesLeaveOutWhatNeverHappenedAndSayTheDefaultLifetime)
{
    ReplicationStatus status = Status({ Neighbor("DC2", "DC=a\"b", std::nullopt, 1, 8524) });
    status.tombstoneLifetime = TombstoneLifetime{};
    const std::string out = ReplicationPrometheus("dc1", status);
    const std::string labels =
        "{instance=\"dc1\",naming_context=\"DC=a\\\"b\",partner=\"Default-First-Site-Name\\\\DC2\","
        "partner_guid=\"8bf9dd8c-2ec0-4ba6-908f-1197c658d88e\"}";
    EXPECT_EQ(out.find("zeltor_replication_last_success_timestamp_seconds{"), std::string::npos) << out;
    EXPECT_NE(out.find("zeltor_replication_last_attempt_timestamp_seconds" + labels + " " + std::to_string(kNow - 60)),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("zeltor_replication_last_result" + labels + " 8524\n"), std::string::npos) << out;
    EXPECT_NE(out.find("result=\"8524\",text=\"The DSA operation is unable to proceed because of a DNS lookup "
                       "failure.\"} 1\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("zeltor_directory_tombstone_lifetime_seconds{instance=\"dc1\"} 5184000\n"), std::string::npos);
    EXPECT_NE(out.find("zeltor_replication_pending_operations{instance=\"dc1\"} 0\n"), std::string::npos);

    ReplicationStatus unread;
    EXPECT_EQ(ReplicationPrometheus("", unread),
              "# HELP zeltor_replication_read_success Whether the controller's replication could be read.\n"
              "# TYPE zeltor_replication_read_success gauge\nzeltor_replication_read_success 0\n");
    EXPECT_NE(ReplicationJson("dc1", LocalTime{}, status, kNow).find("\"last_success\":null"), std::string::npos);
}

TEST(ReplicationStatusTest, TheOptionsTakeOneControllerAndRangesOfSecondsFailing)
{
    const auto parse = [](const std::vector<CString>& args) { return ParseProbeOptions(args); };
    ParsedOptions good = parse({ u"--replication", u"-f", u"nagios", u"-w", u"failing=600", u"-c", u"7200", u"dc1" });
    ASSERT_EQ(good.error, "");
    EXPECT_TRUE(good.options.replication);
    EXPECT_EQ(good.options.machine, CString(u"dc1"));
    EXPECT_EQ(good.options.warnings.at(0).range.text, "600");
    EXPECT_NE(parse({ u"--replication", u"dc1", u"\\Memory\\Page Faults/sec" }).error, "");
    EXPECT_NE(parse({ u"--replication", u"-f", u"csv", u"dc1" }).error, "");
    EXPECT_NE(parse({ u"--replication", u"-f", u"nagios", u"-w", u"clock=5", u"dc1" }).error, "");
    EXPECT_NE(parse({ u"--replication", u"--health", u"dc1" }).error, "");
}
