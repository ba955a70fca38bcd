// The health checks against the Samba domain controller of run_samba_dc.sh: every check passes
// and says what other clients (ldapsearch, dig, kinit, samba-tool) say of the same controller;
// with the directory's processes stopped (smbd left running) LDAP, Kerberos and DNS fail within
// their bounds and pass again once they run; no check costs the account a refused logon. The
// tests stop the controller's processes, so they run alone.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "directory/health_check.h"
#include "platform/linux/health/linux_health_service.h"
#include "probe/probe_main.h"
#include "tests/fakes/fake_probe_environment.h"
#include "tests/fakes/fake_services.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/test_support.h"

namespace {

// The value of "name: value" in an LDIF or samba-tool's output.
std::string Attribute(const std::string& text, const std::string& name)
{
    const std::size_t at = text.find("\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + name.size() + 3;
    return text.substr(start, text.find('\n', start) - start);
}

class HealthCheckTest : public ::testing::Test {
protected:
    // A user of the tests' own, as the controller counts no wrong password of its Administrator,
    // and a lockout threshold that no test reaches, under which it counts them (badPwdCount).
    static constexpr const char* kUser = "zeltor-health";
    static constexpr const char* kPassword = "Health-Ch3ck-Passw0rd";
    static void SetUpTestSuite()
    {
        SambaToolOf("domain passwordsettings set --account-lockout-threshold=1000");
        SambaToolOf(std::string("user create ") + kUser + " " + kPassword);
        // A controller just started answers its first SMB logons slowly (smbd starts its helpers
        // on demand): the shares are visited until they answer, at most three checks, so that
        // the tests see it as it runs.
        HealthCheckTest warm;
        warm.SetUp();
        for (int i = 0; i < 3 && !RunHealthCheck(warm.service, warm.target).Find(HealthCheckKind::Sysvol)->success;
             ++i) {}
        warm.TearDown();
    }
    void TestBody() override {}
    static void TearDownTestSuite()
    {
        SambaToolOf(std::string("user delete ") + kUser);
        SambaToolOf("domain passwordsettings set --account-lockout-threshold=0");
    }
    static std::string SambaToolOf(const std::string& arguments)
    {
        const auto state = ReadPeerState("ZELTOR_SAMBA_DC_STATE");
        return CommandOutput("samba-tool " + arguments + " -s " + state.at("smb_conf"));
    }

    void SetUp() override
    {
        dc = ReadPeerState("ZELTOR_SAMBA_DC_STATE");
        ASSERT_FALSE(dc["dir"].empty()) << "no controller state";
        domain = dc["host"].substr(dc["host"].find('.') + 1);
        options.dnsServer = DnsServer{ dc["address"], static_cast<std::uint16_t>(std::stoi(dc["dns_port"])), domain };
        service = std::make_shared<LinuxHealthService>(options);
        target.controller = dc["host"];
        target.user = CString::FromUtf8(dc["domain"] + "\\" + kUser);
        target.password = CString::FromUtf8(kPassword);
        // The name's reverse look-up would make GSSAPI ask for another host's ticket.
        config = scratch.Write("krb5.conf", "[libdefaults]\n rdns = false\n dns_lookup_kdc = false\n");
        krb5Config.emplace("KRB5_CONFIG", config);
    }
    void TearDown() override { krb5Config.reset(); }

    // An attribute of the tests' user that the controller counts in.
    static int UserCount(const std::string& attribute)
    {
        return std::stoi(
            "0" +
            Attribute("\n" + SambaToolOf(std::string("user show ") + kUser + " --attributes=" + attribute), attribute));
    }
    static int BadPasswordCount() { return UserCount("badPwdCount"); }

    // The process group of samba's own services (not smbd, which has a session of its own).
    pid_t SambaGroup()
    {
        std::ifstream children("/proc/" + dc["pid"] + "/task/" + dc["pid"] + "/children");
        pid_t samba = 0;
        children >> samba;
        return samba > 0 ? getpgid(samba) : -1;
    }

    std::map<std::string, std::string> dc;
    std::string domain;
    LinuxHealthService::Options options;
    std::shared_ptr<LinuxHealthService> service;
    HealthTarget target;
    TempDir scratch;
    std::string config;
    std::optional<ScopedEnvironment> krb5Config;
};

TEST_F(HealthCheckTest, EveryCheckPassesAndSaysWhatOtherClientsSee)
{
    const int badBefore = BadPasswordCount();
    const HealthReport report = RunHealthCheck(service, target);
    ASSERT_EQ(report.checks.size(), kHealthCheckKinds); // the controller is a global catalog
    for (const HealthCheckResult& check : report.checks) {
        EXPECT_TRUE(check.success) << HealthCheckName(check.kind) << ": " << check.detail;
    }
    EXPECT_EQ(HealthSummary(report), "ok");
    EXPECT_FALSE(report.refusedLogon);

    // The rootDSE as ldapsearch reads it just after.
    const std::string rootDse = "\n" + CommandOutput("ldapsearch -LLL -x -H ldap://" + dc["address"] +
                                                     " -b '' -s base currentTime isSynchronized isGlobalCatalogReady "
                                                     "highestCommittedUSN dnsHostName");
    const auto now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_EQ(report.facts.dnsHostName, Attribute(rootDse, "dnsHostName"));
    EXPECT_EQ(report.facts.synchronized, Attribute(rootDse, "isSynchronized") == "TRUE");
    EXPECT_EQ(report.facts.globalCatalogReady, Attribute(rootDse, "isGlobalCatalogReady") == "TRUE");
    ASSERT_TRUE(report.facts.highestCommittedUsn);
    const std::uint64_t usn = std::stoull("0" + Attribute(rootDse, "highestCommittedUSN"));
    EXPECT_LE(*report.facts.highestCommittedUsn, usn);
    EXPECT_GT(*report.facts.highestCommittedUsn + 50, usn);
    // The same clock: ldapsearch's currentTime against this machine's, within its whole second.
    ASSERT_TRUE(report.facts.clockOffsetSeconds);
    const auto theirs = ParseGeneralizedTime(Attribute(rootDse, "currentTime"));
    ASSERT_TRUE(theirs);
    EXPECT_NEAR(*report.facts.clockOffsetSeconds, static_cast<double>(*theirs) + 0.5 - now, 1.5);
    EXPECT_NEAR(*report.facts.clockOffsetSeconds, 0, 1.0); // the controller runs on this machine's clock
    EXPECT_GT(*report.facts.roundTripSeconds, 0);

    // The records as dig has them from the controller's DNS server.
    const std::string dig = "dig +short -p " + dc["dns_port"] + " @" + dc["address"] + " ";
    EXPECT_NE(CommandOutput(dig + "SRV _ldap._tcp.dc._msdcs." + domain).find(dc["host"] + "."), std::string::npos);
    EXPECT_NE(CommandOutput(dig + "SRV _kerberos._tcp." + domain).find(dc["host"] + "."), std::string::npos);
    EXPECT_EQ(CommandOutput(dig + "A " + dc["host"]), dc["address"] + "\n");
    EXPECT_NE(report.Find(HealthCheckKind::Dns)->detail.find(dc["host"] + " A " + dc["address"]), std::string::npos);

    // kinit logs on with the same credentials at the same KDC.
    const std::string kdc = scratch.Write("kdc.conf", "[libdefaults]\n dns_lookup_kdc = false\n[realms]\n " +
                                                          dc["realm"] + " = {\n  kdc = " + dc["address"] + "\n }\n");
    const std::string principal = std::string(kUser) + "@" + dc["realm"];
    EXPECT_TRUE(RunScript("/usr/bin/env", { "KRB5_CONFIG=" + kdc, "KRB5CCNAME=MEMORY:", "kinit", principal },
                          std::string(kPassword) + "\n"));
    EXPECT_NE(report.Find(HealthCheckKind::LdapBind)->detail.find(principal), std::string::npos)
        << report.Find(HealthCheckKind::LdapBind)->detail;
    EXPECT_NE(report.Find(HealthCheckKind::Kerberos)->detail.find("pre-authentication required"), std::string::npos);

    // The probe's formats of the same check: a table, a plugin's line, Prometheus' text.
    // The health checks need none of the probe's other services.
    FakeDirectoryService directory;
    FakeNetworkConnector network;
    FakeCounterSource counters;
    ProbeServices probe{ directory, network, counters, service };
    const auto run = [&](const std::vector<std::string>& args, FakeProbeEnvironment& env) {
        env.inputPassword = target.password;
        std::vector<CString> list;
        list.reserve(args.size() + 1);
        for (const std::string& arg : args)
            list.push_back(CString::FromUtf8(arg));
        list.push_back(CString::FromUtf8(dc["host"]));
        return ProbeMain(probe, env, u"zeltor-probe", list);
    };
    const std::string user = "--user=" + target.user.ToUtf8();
    FakeProbeEnvironment table, nagios, prometheus;
    EXPECT_EQ(run({ "--health", user, "--password-stdin", "-f", "table" }, table), probe_exit::kOk) << table.err;
    EXPECT_NE(table.out.find("Health of " + dc["host"] + ": ok"), std::string::npos) << table.out;
    EXPECT_EQ(run({ "--health", user, "--password-stdin", "-f", "nagios", "-w", "60", "-c", "240" }, nagios), 0)
        << nagios.out;
    EXPECT_TRUE(nagios.out.starts_with("ZELTOR OK - 8 of 8 checks of " + dc["host"] + " passed | 'ldap'="))
        << nagios.out;
    EXPECT_EQ(run({ "--health", user, "--password-stdin", "-f", "prometheus" }, prometheus), probe_exit::kOk);
    const std::string metrics = scratch.Write("health.prom", prometheus.out);
    EXPECT_TRUE(RunScript("/bin/sh", { "-c", "promtool check metrics < " + metrics +
                                                 " 2>&1 | grep -v _usn | grep -q . && exit 1; exit 0" }))
        << prometheus.out;
    EXPECT_NE(prometheus.out.find("zeltor_health_check_success{instance=\"" + dc["host"] + "\",check=\"kerberos\"} 1"),
              std::string::npos);

    // Four checks with the password, no refused logon: the Kerberos check sent no key.
    EXPECT_EQ(BadPasswordCount(), badBefore);
}

TEST_F(HealthCheckTest, ChecksAfterTheFirstUseItsConnectionsAndLogOnNoMore)
{
    ASSERT_TRUE(RunHealthCheck(service, target).AllPassed());
    const int logons = UserCount("logonCount");
    for (int i = 0; i < 3; ++i) {
        const HealthReport again = RunHealthCheck(service, target);
        for (const HealthCheckResult& check : again.checks)
            EXPECT_TRUE(check.success) << HealthCheckName(check.kind) << ": " << check.detail;
    }
    EXPECT_EQ(UserCount("logonCount"), logons);
    // A service of its own, as another process has, logs on: the controller counts what it sees.
    EXPECT_TRUE(RunHealthCheck(std::make_shared<LinuxHealthService>(options), target).AllPassed());
    EXPECT_GT(UserCount("logonCount"), logons);
}

TEST_F(HealthCheckTest, StoppedDirectoryFailsWithinTheBoundsAndPassesOnceResumed)
{
    const pid_t group = SambaGroup();
    ASSERT_GT(group, 1);
    // Its address as discovery gives it: its own DNS server, stopped, is not asked.
    target.address = dc["address"];
    HealthCheckOptions options;
    options.checkTimeoutMs = 3000;
    options.totalTimeoutMs = 6000;
    ASSERT_EQ(kill(-group, SIGSTOP), 0);
    const auto start = std::chrono::steady_clock::now();
    const HealthReport stopped = RunHealthCheck(service, target, options);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    kill(-group, SIGCONT);

    EXPECT_LT(took, 6.5);
    for (const HealthCheckKind kind : { HealthCheckKind::Ldap, HealthCheckKind::Kerberos, HealthCheckKind::Dns,
                                        HealthCheckKind::LdapBind, HealthCheckKind::Time }) {
        const HealthCheckResult* check = stopped.Find(kind);
        ASSERT_NE(check, nullptr) << HealthCheckName(kind);
        EXPECT_FALSE(check->success) << HealthCheckName(kind);
        EXPECT_LT(check->durationSeconds, 6.5) << HealthCheckName(kind);
    }
    EXPECT_NE(stopped.Find(HealthCheckKind::Ldap)->detail.find("Timed out"), std::string::npos)
        << stopped.Find(HealthCheckKind::Ldap)->detail;
    EXPECT_NE(stopped.Find(HealthCheckKind::Kerberos)->detail.find("did not answer in time"), std::string::npos)
        << stopped.Find(HealthCheckKind::Kerberos)->detail;
    EXPECT_NE(stopped.Find(HealthCheckKind::Dns)->detail.find("did not answer"), std::string::npos)
        << stopped.Find(HealthCheckKind::Dns)->detail;
    EXPECT_FALSE(stopped.facts.clockOffsetSeconds);
    const std::string summary = HealthSummary(stopped);
    EXPECT_TRUE(summary.starts_with("LDAP, ")) << summary;
    EXPECT_NE(summary.find("Kerberos"), std::string::npos) << summary;
    // smbd answers the shares' logons (or not, when it asks the stopped winbindd): within the bound.
    EXPECT_LT(stopped.Find(HealthCheckKind::Sysvol)->durationSeconds, 6.5);

    // Resumed: the next check passes whole (the stopped services take their queued work first).
    HealthReport resumed;
    for (int attempt = 0; attempt < 5; ++attempt) {
        resumed = RunHealthCheck(service, target);
        if (resumed.AllPassed())
            break;
    }
    for (const HealthCheckResult& check : resumed.checks)
        EXPECT_TRUE(check.success) << HealthCheckName(check.kind) << ": " << check.detail;
}

TEST_F(HealthCheckTest, AWrongPasswordCostsOneRefusedLogonACheck)
{
    const int before = BadPasswordCount();
    target.password = CString::FromUtf8(std::string(kPassword) + "-wrong");
    const HealthReport report = RunHealthCheck(service, target);
    EXPECT_TRUE(report.refusedLogon);
    EXPECT_FALSE(report.Find(HealthCheckKind::LdapBind)->success);
    EXPECT_NE(report.Find(HealthCheckKind::Sysvol)->detail.find("not tried"), std::string::npos)
        << report.Find(HealthCheckKind::Sysvol)->detail;
    // The checks that need no password still pass.
    EXPECT_TRUE(report.Find(HealthCheckKind::Kerberos)->success) << report.Find(HealthCheckKind::Kerberos)->detail;
    EXPECT_TRUE(report.Find(HealthCheckKind::Ldap)->success);
    EXPECT_EQ(BadPasswordCount(), before + 1);
    // Withheld, as a backoff does: nothing is sent with them.
    target.credentialsWithheld = "the logon was refused";
    const HealthReport withheld = RunHealthCheck(service, target);
    EXPECT_FALSE(withheld.refusedLogon);
    EXPECT_EQ(BadPasswordCount(), before + 1);
    // The right password clears the count at the next logon.
    target.password = CString::FromUtf8(kPassword);
    target.credentialsWithheld.clear();
    EXPECT_TRUE(RunHealthCheck(service, target).AllPassed());
}

} // namespace
