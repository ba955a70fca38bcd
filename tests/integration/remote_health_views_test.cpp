// The controller's health as the exporter's module health and the overview show it, against the
// Samba domain controller of run_samba_dc.sh, each reader with its own resolver as a client has
// one (dnsmasq here, naming the controller): its directory's processes stopped (smbd left
// running) fail LDAP, Kerberos and DNS within the bounds while the counters still read, and pass
// once resumed; its own SRV record removed fails the DNS check, which names the record. The
// tests stop the controller's processes and change its records, so they run alone.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "app/overview.h"
#include "app/overview_refresher.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/exporter/target_sessions.h"
#include "platform/linux/health/linux_health_service.h"
#include "platform/linux/linux_counter_sources.h"
#include "platform/linux/remote/remote_counter_source.h"
#include "platform/linux/remote/samba_performance_registry.h"
#include "platform/linux/samba/credential_registry.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Continues the controller's processes however the test ends.
struct Resume {
    pid_t group;
    ~Resume() { kill(-group, SIGCONT); }
};

class HealthViewsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dc = ReadPeerState("ZELTOR_SAMBA_DC_STATE");
        ASSERT_FALSE(dc["dir"].empty()) << "no controller state";
        ASSERT_TRUE(names.running());
        ASSERT_TRUE(FillPerfmon(dc["dir"] + "/state/perfmon"));
        domain = dc["host"].substr(dc["host"].find('.') + 1);
        // The name's reverse look-up would make GSSAPI ask for another host's ticket.
        config = scratch.Write("krb5.conf", "[libdefaults]\n rdns = false\n dns_lookup_kdc = false\n");
        krb5Config.emplace("KRB5_CONFIG", config);
        LinuxHealthService::Options options;
        options.dnsServer = names.server();
        health = std::make_shared<LinuxHealthService>(options);
        remote.dnsServer = names.server();
        remote.connectTimeoutMs = 6000;

        TargetSessions::Settings settings;
        settings.health = health;
        settings.connectionBound = 6s;
        std::map<std::string, SmbCredentials> credentials;
        credentials.emplace("admin", SmbCredentials(dc["domain"], dc["user"], std::string_view(dc["password"])));
        sessions = std::make_unique<TargetSessions>(
            settings, std::move(credentials),
            [this](CredentialRegistry& registry) {
                return std::make_unique<SambaPerformanceRegistry>(registry, remote);
            },
            [](const std::string& line) { std::fprintf(stderr, "exporter: %s\n", line.c_str()); });
        auth.name = "admin";
        auth.targets = { dc["host"] };
    }
    void TearDown() override
    {
        sessions.reset();
        krb5Config.reset();
    }

    ProbeOutcome Scrape(const ExporterModule& module)
    {
        return sessions->Probe(dc["host"], module, auth, Clock::now() + 9s);
    }
    // A health scrape until every check passes (a controller just resumed takes its queued work
    // first), at most five.
    ProbeOutcome HealthyScrape()
    {
        ProbeOutcome outcome;
        for (int i = 0; i < 5; ++i) {
            outcome = Scrape(HealthModule());
            if (outcome.health && outcome.health->AllPassed())
                break;
        }
        return outcome;
    }

    // The process group of samba's own services (not smbd, which has a session of its own).
    pid_t SambaGroup()
    {
        std::ifstream children("/proc/" + dc["pid"] + "/task/" + dc["pid"] + "/children");
        pid_t samba = 0;
        children >> samba;
        return samba > 0 ? getpgid(samba) : -1;
    }

    std::string SambaTool(const std::string& arguments)
    {
        return CommandOutput("samba-tool " + arguments + " -s " + dc["smb_conf"] + " --use-kerberos=off -U '" +
                             dc["user"] + "%" + dc["password"] + "'");
    }

    // A controller's connection as the program's main makes it, with the test's resolver.
    ControllerConnectionFactory OverviewConnection()
    {
        return [this] {
            ControllerConnection connection;
            auto own = std::make_shared<CredentialRegistry>();
            SmbNetworkConnector::Options network;
            network.dnsServer = names.server();
            network.timeoutMs = 6000;
            network.credentials = own.get();
            connection.keep = own;
            connection.network = std::make_unique<SmbNetworkConnector>(network);
            connection.counters = MakeLinuxCounterSource(*own, remote);
            return connection;
        };
    }

    // Takes the overview's results into model until done holds (or 30 s pass).
    static bool Watch(OverviewRefresher& refresher, OverviewModel& model, const std::function<bool()>& done)
    {
        const auto end = Clock::now() + 30s;
        while (Clock::now() < end) {
            for (const auto& [row, sample] : refresher.TakeResults())
                model.Apply(row, sample);
            for (const auto& [row, report] : refresher.TakeHealthResults())
                model.ApplyHealth(row, report);
            if (done())
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    std::map<std::string, std::string> dc;
    std::string domain;
    TempDir scratch;
    std::string config;
    std::optional<ScopedEnvironment> krb5Config;
    DnsmasqServer names{ { "--host-record=dc1.zeltor.test,127.0.0.1" } };
    std::shared_ptr<LinuxHealthService> health;
    RemoteCounterOptions remote;
    std::unique_ptr<TargetSessions> sessions;
    ExporterAuth auth;
};

} // namespace

TEST_F(HealthViewsTest, AStoppedDirectoryFailsItsChecksInTheExporterAndTheOverviewWhileTheCountersRead)
{
    ASSERT_EQ(dc["host"], "dc1.zeltor.test");
    const pid_t group = SambaGroup();
    ASSERT_GT(group, 1);
    // Both readers see the controller whole first, on their kept logons.
    ProbeOutcome outcome = HealthyScrape();
    ASSERT_TRUE(outcome.health);
    ASSERT_TRUE(outcome.health->AllPassed()) << outcome.statusText;
    ASSERT_TRUE(Scrape(DomainControllerModule()).success);
    const std::vector<CString> rows{ CString::FromUtf8(dc["host"]) };
    OverviewModel model(rows);
    OverviewRefresher::Settings settings;
    settings.connect = OverviewConnection();
    settings.userName = CString::FromUtf8(dc["domain"] + "\\" + dc["user"]);
    settings.password = CString::FromUtf8(dc["password"]);
    settings.intervalMs = 500;
    settings.health = health;
    settings.healthIntervalMs = 1000;
    OverviewRefresher refresher(rows, settings, [] {});
    ASSERT_TRUE(Watch(refresher, model, [&] {
        return model.Row(0).state == ControllerState::Answering && model.CellText(0, kOverviewHealth, 0) == u"ok";
    })) << model.RowDescription(0, OverviewRefresher::NowMs()).ToUtf8();

    {
        ASSERT_EQ(kill(-group, SIGSTOP), 0);
        const Resume resume{ group };
        // The exporter: LDAP, Kerberos and DNS fail within the connection's bound, and say why;
        // the dc module still reads through smbd.
        const auto start = Clock::now();
        outcome = Scrape(HealthModule());
        EXPECT_LT(Clock::now() - start, 7s);
        ASSERT_TRUE(outcome.health);
        const std::string text = RenderProbe(outcome);
        for (const char* check : { "ldap", "kerberos", "dns", "time" })
            EXPECT_TRUE(Has(text, "zeltor_health_check_success{check=\"" + std::string(check) + "\"} 0\n"))
                << check << "\n"
                << text;
        EXPECT_TRUE(Has(text, "zeltor_health_check_failure_info{check=\"kerberos\",text=\"")) << text;
        EXPECT_FALSE(Has(text, "zeltor_directory_clock_offset_seconds")); // no rootDSE, no offset
        EXPECT_TRUE(outcome.statusText.starts_with("LDAP, ")) << outcome.statusText;
        const ProbeOutcome counters = Scrape(DomainControllerModule());
        EXPECT_TRUE(counters.success) << counters.statusText;
        EXPECT_TRUE(CounterAvailable(counters.counters.at(0))) << counters.counters.at(0).path;

        // The overview: its Health cell says what fails, with why, while the counters answer.
        const std::int64_t before = model.Row(0).takenMs.value_or(0);
        EXPECT_TRUE(Watch(refresher, model, [&] {
            const std::string cell = model.CellText(0, kOverviewHealth, 0).ToUtf8();
            return cell.starts_with("LDAP, ") && Has(cell, "Kerberos") && Has(cell, "DNS") &&
                   model.Row(0).takenMs.value_or(0) > before;
        })) << model.RowDescription(0, OverviewRefresher::NowMs()).ToUtf8();
        EXPECT_EQ(model.Row(0).state, ControllerState::Answering);
        EXPECT_TRUE(Has(model.RowDescription(0, OverviewRefresher::NowMs()).ToUtf8(), "Health: LDAP, "));
    }

    // Resumed: the next checks pass in both.
    outcome = HealthyScrape();
    ASSERT_TRUE(outcome.health);
    EXPECT_TRUE(outcome.health->AllPassed()) << outcome.statusText;
    refresher.RefreshNow(0);
    EXPECT_TRUE(Watch(refresher, model, [&] { return model.CellText(0, kOverviewHealth, 0) == u"ok"; }))
        << model.CellText(0, kOverviewHealth, 0).ToUtf8();
    refresher.Stop();
}

TEST_F(HealthViewsTest, TheControllersOwnSrvRecordRemovedFailsTheDnsCheckNamingIt)
{
    const std::string server = dc["address"], zone = "_msdcs." + domain, name = "_ldap._tcp.dc";
    const std::string record = dc["host"] + " 389 0 100";
    ASSERT_TRUE(HealthyScrape().health->AllPassed());
    ASSERT_TRUE(Has(SambaTool("dns query " + server + " " + zone + " " + name + " SRV"), dc["host"]));
    ASSERT_TRUE(Has(SambaTool("dns delete " + server + " " + zone + " " + name + " SRV '" + record + "'"),
                    "Record deleted successfully"));

    const ProbeOutcome outcome = Scrape(HealthModule());
    SambaTool("dns add " + server + " " + zone + " " + name + " SRV '" + record + "'");
    ASSERT_TRUE(outcome.health);
    const HealthCheckResult* dns = outcome.health->Find(HealthCheckKind::Dns);
    ASSERT_NE(dns, nullptr);
    EXPECT_FALSE(dns->success);
    EXPECT_TRUE(Has(dns->detail, "_ldap._tcp.dc._msdcs." + domain)) << dns->detail;
    const std::string text = RenderProbe(outcome);
    EXPECT_TRUE(Has(text, "zeltor_health_check_success{check=\"dns\"} 0\n")) << text;
    EXPECT_TRUE(Has(text, "zeltor_health_check_failure_info{check=\"dns\",text=\"" + dns->detail + "\"} 1\n")) << text;
    EXPECT_EQ(outcome.statusText, "DNS failing");
    // The others do not depend on it, and pass.
    EXPECT_TRUE(outcome.health->Find(HealthCheckKind::Ldap)->success);
    EXPECT_TRUE(outcome.health->Find(HealthCheckKind::LdapBind)->success);

    // Restored: found again.
    EXPECT_TRUE(HealthyScrape().health->AllPassed());
}
