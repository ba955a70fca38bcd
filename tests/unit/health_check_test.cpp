// The health check's engine over a scripted service: checks side by side within the bounds,
// the clock's offset from currentTime, the summary in words, the shares' logons held back after
// a refused bind, and the plugin's states.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "directory/health_check.h"
#include "probe/health_output.h"

namespace {

using namespace std::chrono_literals;

// Each exchange answers after its delay with its outcome; the rootDSE's currentTime is the given
// offset from this machine's clock.
class ScriptedHealth : public IHealthService {
public:
    std::chrono::milliseconds delay{ 0 };
    std::chrono::milliseconds kdcDelay{ 0 };
    bool bindRefused = false;
    std::int64_t offsetSeconds = 0;
    std::atomic<int> shareCalls{ 0 };

    RootDseReading ReadRootDse(const HealthTarget&, std::uint16_t port, int) override
    {
        std::this_thread::sleep_for(delay);
        RootDseReading reading;
        reading.probe = { true, "port " + std::to_string(port) };
        reading.sentUnixMs = Now();
        const std::int64_t server = reading.sentUnixMs / 1000 + offsetSeconds;
        reading.receivedUnixMs = reading.sentUnixMs + 2;
        const std::time_t t = server;
        std::tm utc{};
        gmtime_r(&t, &utc);
        char text[32];
        std::strftime(text, sizeof text, "%Y%m%d%H%M%S.0Z", &utc);
        reading.currentTime = text;
        reading.isSynchronized = "TRUE";
        reading.isGlobalCatalogReady = port == 389 ? "FALSE" : "";
        reading.highestCommittedUSN = "12345";
        reading.dnsHostName = "dc1.example.test";
        if (port == 3268)
            reading.probe = { false, "connecting to 192.0.2.1:3268: Connection refused" };
        return reading;
    }
    HealthProbe BindAndReadDomain(const HealthTarget&, int) override
    {
        std::this_thread::sleep_for(delay);
        return bindRefused ? HealthProbe{ false, "Preauthentication failed", true } : HealthProbe{ true, "read" };
    }
    HealthProbe AskKdc(const HealthTarget&, int timeoutMs) override
    {
        std::this_thread::sleep_for(
            std::min<std::chrono::milliseconds>(kdcDelay, std::chrono::milliseconds(timeoutMs) + 3s));
        return { true, "answers" };
    }
    HealthProbe CheckDnsRecords(const HealthTarget&, int) override { return { true, "listed" }; }
    HealthProbe ReachShare(const HealthTarget&, const std::string&, int) override
    {
        ++shareCalls;
        return { true, "connected" };
    }

private:
    static std::int64_t Now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
};

HealthTarget Target()
{
    HealthTarget target;
    target.controller = "DC1.Example.Test";
    target.user = u"EXAMPLE\\monitor";
    target.password = u"secret";
    return target;
}

TEST(HealthCheckTest, ChecksRunSideBySideAndTheClockIsReadFromCurrentTime)
{
    auto service = std::make_shared<ScriptedHealth>();
    service->delay = 300ms;
    service->offsetSeconds = std::int64_t{ 7 } * 60;
    const auto start = std::chrono::steady_clock::now();
    const HealthReport report = RunHealthCheck(service, Target());
    // Seven exchanges of 300 ms each, at once (the shares after the bind): well under their sum.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_EQ(Target().Domain(), "example.test");

    // Not a global catalog, and its port refused: no global catalog check.
    EXPECT_EQ(report.Find(HealthCheckKind::GlobalCatalog), nullptr);
    ASSERT_EQ(report.checks.size(), kHealthCheckKinds - 1);
    ASSERT_TRUE(report.facts.clockOffsetSeconds);
    EXPECT_NEAR(*report.facts.clockOffsetSeconds, 420, 1.0);
    EXPECT_EQ(report.facts.highestCommittedUsn, 12345u);
    EXPECT_EQ(report.facts.synchronized, true);
    EXPECT_EQ(report.facts.globalCatalogReady, false);
    const HealthCheckResult* time = report.Find(HealthCheckKind::Time);
    ASSERT_NE(time, nullptr);
    EXPECT_FALSE(time->success);
    EXPECT_EQ(HealthSummary(report), "clock 7 min ahead");

    // The plugin: past Kerberos' skew is critical whatever -w says; within it, -w and -c decide.
    const auto warning = ParseThresholdRange("60"), critical = ParseThresholdRange("600");
    HealthPluginLine line = HealthNagios("dc1", report, warning, critical);
    EXPECT_EQ(line.state, PluginState::Critical) << line.line;
    service->offsetSeconds = -90;
    line = HealthNagios("dc1", RunHealthCheck(service, Target()), warning, critical);
    EXPECT_EQ(line.state, PluginState::Warning) << line.line;
    EXPECT_NE(line.line.find("clock 90 s behind (warning 60)"), std::string::npos) << line.line;
    EXPECT_NE(line.line.find("'clock_offset'=-"), std::string::npos) << line.line;
    EXPECT_TRUE(line.line.ends_with("s;60;600\n")) << line.line;
}

TEST(HealthCheckTest, ASilentExchangeIsCutAtTheWholeBoundAndNamed)
{
    auto service = std::make_shared<ScriptedHealth>();
    service->kdcDelay = 5s;
    HealthCheckOptions options;
    options.checkTimeoutMs = 500;
    options.totalTimeoutMs = 800;
    const auto start = std::chrono::steady_clock::now();
    const HealthReport report = RunHealthCheck(service, Target(), options);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    const HealthCheckResult* kerberos = report.Find(HealthCheckKind::Kerberos);
    ASSERT_NE(kerberos, nullptr);
    EXPECT_FALSE(kerberos->success);
    EXPECT_TRUE(kerberos->detail.starts_with("no answer within")) << kerberos->detail;
    EXPECT_TRUE(report.Find(HealthCheckKind::Ldap)->success);
    EXPECT_EQ(HealthSummary(report), "Kerberos failing");
    EXPECT_EQ(HealthNagios("dc1", report, {}, {}).state, PluginState::Critical);
}

TEST(HealthCheckTest, ARefusedBindKeepsTheSharesLogonsAndWithheldCredentialsSendNothing)
{
    auto service = std::make_shared<ScriptedHealth>();
    service->bindRefused = true;
    HealthReport report = RunHealthCheck(service, Target());
    EXPECT_TRUE(report.refusedLogon);
    EXPECT_EQ(service->shareCalls, 0);
    EXPECT_TRUE(report.Find(HealthCheckKind::Sysvol)->detail.starts_with("not tried"))
        << report.Find(HealthCheckKind::Sysvol)->detail;
    EXPECT_EQ(HealthSummary(report), "LDAP bind, SYSVOL, NETLOGON failing");
    // Only the bind and the shares fail: a warning.
    EXPECT_EQ(HealthNagios("dc1", report, {}, {}).state, PluginState::Warning);

    HealthTarget withheld = Target();
    withheld.credentialsWithheld = "the logon was refused 10 s ago";
    report = RunHealthCheck(service, withheld);
    EXPECT_EQ(service->shareCalls, 0);
    EXPECT_EQ(report.Find(HealthCheckKind::LdapBind)->detail, "not tried: the logon was refused 10 s ago");
}

TEST(HealthCheckTest, GeneralizedTimes)
{
    EXPECT_EQ(ParseGeneralizedTime("19700101000000.0Z"), 0);
    EXPECT_EQ(ParseGeneralizedTime("20260504120001.0Z"), 1777896001);
    EXPECT_EQ(ParseGeneralizedTime("20240229235960Z"), 1709251200); // a leap second's 60
    EXPECT_FALSE(ParseGeneralizedTime("20261304120001.0Z"));
    EXPECT_FALSE(ParseGeneralizedTime("20260504120001.0"));
    EXPECT_FALSE(ParseGeneralizedTime("2026050412000x.0Z"));
    EXPECT_FALSE(ParseGeneralizedTime("20260504120001.aZ"));
}

} // namespace
