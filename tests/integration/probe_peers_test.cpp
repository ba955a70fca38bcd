// The probe on the Linux services against real peers on loopback: the Samba domain controller
// (run_samba_dc.sh) for discovery and the connection, and the standalone smbd (run_smbd.sh)
// whose Remote Registry serves this machine's counters.
#include <gtest/gtest.h>

#include "platform/linux/directory/linux_directory_service.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/exporter/domain_controllers.h"
#include "platform/linux/exporter/exporter_config_file.h"
#include "platform/linux/exporter/exporter_server.h"
#include "platform/linux/linux_counter_sources.h"
#include "platform/linux/samba/credential_registry.h"
#include "probe/probe_main.h"
#include "tests/fakes/fake_probe_environment.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/child_process.h"
#include "tests/linux/test_support.h"

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

// The Linux services as the probe's main makes them, aimed at the peers' ports and DNS.
struct Services {
    Services(std::optional<DnsServer> dns, std::uint16_t smbPort, const std::string& smbConf)
        : directory([&] {
              LinuxDirectoryService::Options options;
              options.smbConfPath = smbConf;
              options.sssdConfPath = "/nonexistent/sssd.conf";
              options.dnsServer = dns;
              options.smbPort = smbPort;
              return options;
          }()),
          network([&] {
              SmbNetworkConnector::Options options;
              options.dnsServer = dns;
              options.smbPort = smbPort;
              options.credentials = &credentials;
              return options;
          }()),
          counters(MakeLinuxCounterSource(credentials, { dns, smbPort }))
    {
    }

    int Run(FakeProbeEnvironment& env, const std::vector<std::string>& args)
    {
        std::vector<CString> list;
        list.reserve(args.size());
        for (const std::string& arg : args)
            list.push_back(CString::FromUtf8(arg));
        return ProbeMain(services, env, u"zeltor-probe", list);
    }

    CredentialRegistry credentials;
    LinuxDirectoryService directory;
    SmbNetworkConnector network;
    std::unique_ptr<ICounterSource> counters;
    ProbeServices services{ directory, network, *counters };
};

} // namespace

TEST(ProbeDomainControllerTest, ListsTheDomainAndConnectsAsTheGivenUser)
{
    auto dc = ReadPeerState("ZELTOR_SAMBA_DC_STATE");
    ASSERT_FALSE(dc["password"].empty()) << "no controller state";
    const DnsServer dns{ dc["address"], static_cast<std::uint16_t>(std::stoi(dc["dns_port"])), Lower(dc["realm"]) };
    Services services(dns, kSmbPort, dc["smb_conf"]);
    const std::string admin = dc["domain"] + "\\" + dc["user"];

    // Discovery: the join's domain and the controller DNS locates, bound without and with the
    // user (whose wrong password the directory refuses).
    // The controller by its DNS host name.
    const std::string host = "dc1." + Lower(dc["realm"]);
    FakeProbeEnvironment env;
    ASSERT_EQ(services.Run(env, { "--list-dcs" }), probe_exit::kOk) << env.err;
    EXPECT_EQ(env.out, Lower(dc["realm"]) + "\n" + host + "\n");
    env = {};
    env.inputPassword = CString::FromUtf8(dc["password"]);
    ASSERT_EQ(services.Run(env, { "--list-dcs", "-f", "json", "-u", admin, "--password-stdin" }), probe_exit::kOk)
        << env.err;
    EXPECT_EQ(env.out, "{\"domain\":\"" + Lower(dc["realm"]) + "\",\"controllers\":[\"" + host + "\"]}\n");

    // The exporter, through the same DNS, names it alike in /sd and lets an auth of the domain go
    // to it by that name.
    ExporterConfig config;
    ASSERT_FALSE(ParseExporterConfig("auths:\n  a: {user: u, password_file: /p, targets_from_domain: " +
                                         Lower(dc["realm"]) + "}\n",
                                     &config));
    DomainControllerCache controllers(DomainControllerCache::ThroughDns(DnsResolver(dns)), {},
                                      [](const std::string&) {});
    EXPECT_EQ(controllers.Controllers(Lower(dc["realm"])), std::vector<std::string>{ host });
    TargetSessions sessions(
        {}, {}, [](CredentialRegistry&) -> std::unique_ptr<IPerformanceRegistry> { return nullptr; },
        [](const std::string&) {});
    ExporterServer server(config, sessions, "test", &controllers);
    const ExporterServer::Response discovered = server.Handle("/sd", { { "auth", "a" } }, std::nullopt);
    EXPECT_EQ(discovered.body, "[{\"targets\":[\"" + host +
                                   "\"],\"labels\":{\"__meta_zeltor_auth\":\"a\",\"__meta_zeltor_domain\":\"" +
                                   Lower(dc["realm"]) + "\"}}]\n");
    EXPECT_EQ(CheckProbeRequest(config, { { "target", host }, { "module", "dc" }, { "auth", "a" } }, &controllers)
                  .httpStatus,
              200);
    EXPECT_EQ(CheckProbeRequest(config, { { "target", "DC1" }, { "module", "dc" }, { "auth", "a" } }, &controllers)
                  .httpStatus,
              403);
    env = {};
    env.inputPassword = u"wrong";
    EXPECT_EQ(services.Run(env, { "--list-dcs", "-u", admin, "--password-stdin" }), probe_exit::kConnectionFailed);
    EXPECT_EQ(env.err, "zeltor-probe: the logon to " + Lower(dc["realm"]) + " as " + admin +
                           " was refused: Error:1326 The user name or password is incorrect.\n");

    // The connection: the system's text for a refused logon; with the right password the
    // counters of this machine (127.0.0.1, served by procfs) and the connection cancelled.
    env = {};
    env.inputPassword = u"wrong";
    EXPECT_EQ(services.Run(env, { "-u", admin, "--password-stdin", "127.0.0.1" }), probe_exit::kConnectionFailed);
    EXPECT_EQ(env.err, "zeltor-probe: Error:1326\nThe user name or password is incorrect.\n");
    env = {};
    env.inputPassword = CString::FromUtf8(dc["password"]);
    EXPECT_EQ(services.Run(env, { "-u", admin, "--password-stdin", "-f", "csv", "127.0.0.1" }), probe_exit::kOk)
        << env.err;
    EXPECT_EQ(env.OutLines().size(), 2u);
    EXPECT_FALSE(services.credentials.Find("127.0.0.1"));
}

TEST(ProbeRemoteCountersTest, ReadsAnotherMachinesCountersAsTheConnectionsUser)
{
    auto peer = ReadPeerState("ZELTOR_SMBD_STATE");
    ASSERT_FALSE(peer["perfmon"].empty()) << "no smbd state";
    // A name for the peer that is not this machine's, so that it is read over its registry.
    DnsmasqServer dns({ "--host-record=peer.zeltor.test," + peer["address"] });
    ASSERT_TRUE(dns.running());
    Services services(dns.server(), static_cast<std::uint16_t>(std::stoi(peer["port"])), "/nonexistent/smb.conf");
    // The provider fills the peer's databases, with this child as lsass (a process named lsass
    // would be every other test's lsass too).
    ChildProcess lsass(StandInLsassName(), 7);
    ASSERT_TRUE(lsass.Running());
    CommittedPercentWatch commit;
    PerfdRunner perfd(peer["dir"] + "/state", StandInLsassName());
    ASSERT_TRUE(perfd.Running());

    FakeProbeEnvironment env;
    env.inputPassword = CString::FromUtf8(peer["password"]);
    ASSERT_EQ(services.Run(env, { "-u", peer["user"], "--password-stdin", "-f", "json", "peer.zeltor.test" }),
              probe_exit::kOk)
        << env.err;
    const std::string& out = env.out;
    EXPECT_NE(out.find("{\"path\":\"\\\\\\\\peer.zeltor.test\\\\Process(lsass)\\\\Handle Count\",\"value\":7}"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("{\"path\":\"\\\\\\\\peer.zeltor.test\\\\Process(ntfrs)\\\\Handle Count\",\"value\":null}"),
              std::string::npos)
        << out;
    const std::string committed = "Memory\\\\% Committed Bytes In Use\",\"value\":";
    ASSERT_NE(out.find(committed), std::string::npos) << out;
    const int committedPercent = std::stoi(out.substr(out.find(committed) + committed.size()));
    EXPECT_NEAR(committedPercent, commit.Nearest(committedPercent), 2);
    // The counters went with the connection's credentials, which left with it.
    EXPECT_FALSE(services.credentials.Find("peer.zeltor.test"));

    env = {};
    env.inputPassword = u"wrong";
    EXPECT_EQ(services.Run(env, { "-u", peer["user"], "--password-stdin", "-f", "nagios", "peer.zeltor.test" }), 3);
    EXPECT_EQ(env.out, "ZELTOR UNKNOWN - Error:1326 The user name or password is incorrect.\n");
}

TEST(ProbeRemoteCountersTest, APasswordChangedWhileSamplingCostsOneRefusedLogon)
{
    auto peer = ReadPeerState("ZELTOR_SMBD_STATE");
    ASSERT_FALSE(peer["perfmon"].empty()) << "no smbd state";
    const std::string state = std::getenv("ZELTOR_SMBD_STATE");
    DnsmasqServer dns({ "--host-record=peer.zeltor.test," + peer["address"] });
    ASSERT_TRUE(dns.running());
    Services services(dns.server(), static_cast<std::uint16_t>(std::stoi(peer["port"])), "/nonexistent/smb.conf");
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    const int refusedBefore = RefusedLogons(peer["dir"]);

    // zeltor-probe -n 0 -i 0.5: after the second sample the administrator changes the password
    // and the server drops the connection; the run samples on until interrupted.
    std::optional<ChangedPassword> changed;
    FakeProbeEnvironment env;
    env.inputPassword = CString::FromUtf8(peer["password"]);
    env.interruptAtWait = 20;
    env.onWait = [&](std::size_t wait) {
        if (wait == 2) {
            changed.emplace(state, "Changed-Pa55!", peer["password"]);
            RunScript(ZELTOR_RUN_SMBD, { "drop", state });
        }
    };
    EXPECT_EQ(services.Run(env, { "-u", peer["user"], "--password-stdin", "-n", "0", "-i", "0.5", "-f", "csv",
                                  "peer.zeltor.test", "\\Process(_Total)\\Handle Count" }),
              probe_exit::kCollectFailed)
        << env.err;
    ASSERT_TRUE(changed && changed->Changed());
    EXPECT_EQ(env.OutLines().size(), 1u + 20u);
    EXPECT_EQ(RefusedLogons(peer["dir"]), refusedBefore + 1);
}
