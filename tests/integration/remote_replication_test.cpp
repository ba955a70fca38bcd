// The replication reader against the first of two Samba controllers that replicate with each
// other: its connection kept between reads, a refused logon sent once per backoff, a user who
// may not read replication told so, and the overview's Replication column over it, its partner
// reachable and not.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>

#include "app/overview_refresher.h"
#include "platform/linux/replication/linux_replication_service.h"
#include "tests/fakes/fake_services.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/test_support.h"

namespace {

constexpr const char* kAdmin = "zeltor-repl-admin";
constexpr const char* kUser = "zeltor-repl-user";
constexpr const char* kPassword = "Zeltor-Repl-Pa55!";

// The sockets this process holds.
int OpenSockets()
{
    int sockets = 0;
    DIR* fds = opendir("/proc/self/fd");
    for (dirent* entry; fds != nullptr && (entry = readdir(fds)) != nullptr;) {
        char target[64] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(path.c_str(), target, sizeof target - 1) > 0 && std::string(target).starts_with("socket:"))
            ++sockets;
    }
    if (fds != nullptr)
        closedir(fds);
    return sockets;
}

class ReplicationReaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (const char* user : { kAdmin, kUser })
            SambaTool(std::string("user create ") + user + " " + kPassword);
        SambaTool(std::string("group addmembers 'Domain Admins' ") + kAdmin);
        // The directory counts bad passwords only where accounts can be locked out.
        SambaTool("domain passwordsettings set --account-lockout-threshold=100");
    }
    static void TearDownTestSuite()
    {
        for (const char* user : { kAdmin, kUser })
            SambaTool(std::string("user delete ") + user);
        SambaTool("domain passwordsettings set --account-lockout-threshold=0");
    }
    static std::string SambaTool(const std::string& arguments)
    {
        const auto dc = ReadPeerState("ZELTOR_REPL_A_STATE");
        return CommandOutput("samba-tool " + arguments + " -s " + dc.at("smb_conf"));
    }
    static int BadPasswordCount(const char* user)
    {
        const std::string shown = SambaTool(std::string("user show ") + user + " --attributes=badPwdCount");
        const std::size_t at = shown.find("badPwdCount: ");
        return at == std::string::npos ? 0 : std::atoi(shown.c_str() + at + 13);
    }

    void SetUp() override
    {
        dc = ReadPeerState("ZELTOR_REPL_A_STATE");
        ASSERT_FALSE(dc["dir"].empty()) << "no controller state";
        const std::string domain = dc["host"].substr(dc["host"].find('.') + 1);
        options.dnsServer = DnsServer{ dc["address"], 53, domain };
        // The name's reverse look-up would make GSSAPI ask for another host's ticket.
        config = scratch.Write("krb5.conf", "[libdefaults]\n rdns = false\n dns_lookup_kdc = false\n");
        krb5Config.emplace("KRB5_CONFIG", config);
    }
    void TearDown() override { krb5Config.reset(); }

    ReplicationTarget Target(const char* user, const char* password)
    {
        ReplicationTarget target;
        target.controller = dc["host"];
        target.user = CString::FromUtf8(dc["domain"] + "\\" + user);
        target.password = CString::FromUtf8(password);
        return target;
    }

    std::map<std::string, std::string> dc;
    LinuxReplicationService::Options options;
    TempDir scratch;
    std::string config;
    std::optional<ScopedEnvironment> krb5Config;
};

TEST_F(ReplicationReaderTest, KeepsItsConnectionBetweenReadsAndReadsTheLifetimeOnce)
{
    LinuxReplicationService service(options);
    const int before = OpenSockets();
    const ReplicationStatus first = service.Read(Target(kAdmin, kPassword), 10000);
    ASSERT_TRUE(first.read) << first.errorText;
    const int kept = OpenSockets();
    EXPECT_EQ(kept, before + 1); // the bound DRSUAPI connection; LDAP's is closed
    EXPECT_EQ(first.neighbors.size(), 5u);
    ASSERT_TRUE(first.tombstoneLifetime);
    EXPECT_TRUE(first.tombstoneLifetime->set);
    EXPECT_EQ(first.tombstoneLifetime->days, 180u);
    EXPECT_EQ(first.pendingOperations, 0u);

    const ReplicationStatus second = service.Read(Target(kAdmin, kPassword), 10000);
    ASSERT_TRUE(second.read) << second.errorText;
    EXPECT_EQ(OpenSockets(), kept);
    EXPECT_EQ(second.neighbors.size(), first.neighbors.size());
    EXPECT_EQ(second.tombstoneLifetime->days, 180u);
    for (std::size_t i = 0; i < second.neighbors.size(); ++i) {
        EXPECT_EQ(second.neighbors[i].namingContext, first.neighbors[i].namingContext);
        EXPECT_EQ(second.neighbors[i].partnerGuid, first.neighbors[i].partnerGuid);
        EXPECT_EQ(second.neighbors[i].partnerDsaDn, first.neighbors[i].partnerDsaDn);
    }
}

TEST_F(ReplicationReaderTest, SendsARefusedLogonOncePerBackoffAndSaysWhoMayNotRead)
{
    ReplicationReader service(std::make_shared<LinuxReplicationService>(options), std::chrono::minutes(15));
    const int badBefore = BadPasswordCount(kAdmin);
    const ReplicationStatus refused = service.Read(Target(kAdmin, "not-the-password"), 10000);
    EXPECT_FALSE(refused.read);
    EXPECT_TRUE(refused.refusedLogon) << refused.errorText;
    EXPECT_EQ(refused.error, 1326u) << refused.errorText;
    const ReplicationStatus kept = service.Read(Target(kAdmin, "not-the-password"), 10000);
    EXPECT_TRUE(kept.refusedLogon);
    EXPECT_EQ(kept.errorText, refused.errorText);
    EXPECT_EQ(BadPasswordCount(kAdmin), badBefore + 1);

    // Other credentials are new ones: sent at once. A user outside the administrators logs on
    // and is refused the call itself, which is no refused logon.
    const ReplicationStatus denied = service.Read(Target(kUser, kPassword), 10000);
    EXPECT_FALSE(denied.read);
    EXPECT_FALSE(denied.refusedLogon);
    EXPECT_EQ(denied.error, 8453u) << denied.errorText;
    EXPECT_NE(denied.errorText.find("Replication access was denied."), std::string::npos) << denied.errorText;
}

TEST_F(ReplicationReaderTest, TheOverviewSaysTheReplicationInWordsAndSendsARefusedPasswordOnce)
{
    // The counters are scripted (they take any password); the replication is the controller's.
    const auto overview = [&](const char* password) {
        OverviewRefresher::Settings settings;
        settings.connect = [] {
            ControllerConnection c;
            c.network = std::make_unique<FakeNetworkConnector>();
            c.counters = std::make_unique<FakeCounterSource>();
            return c;
        };
        settings.userName = CString::FromUtf8(dc["domain"] + "\\" + kAdmin);
        settings.password = CString::FromUtf8(password);
        settings.intervalMs = 100;
        settings.replication = [this] { return std::make_shared<LinuxReplicationService>(options); };
        settings.replicationIntervalMs = 200;
        return std::make_unique<OverviewRefresher>(std::vector<CString>{ CString::FromUtf8(dc["host"]) }, settings,
                                                   [] {});
    };
    const auto readsUntil = [](OverviewRefresher& refresher, OverviewModel& model, int count) {
        int reads = 0;
        for (int i = 0; i < 300 && reads < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            for (const auto& [row, status] : refresher.TakeReplicationResults()) {
                model.ApplyReplication(row, status, std::time(nullptr), OverviewRefresher::NowMs());
                ++reads;
            }
        }
        return reads;
    };
    OverviewModel model({ CString::FromUtf8(dc["host"]) });
    auto refresher = overview(kPassword);
    EXPECT_EQ(readsUntil(*refresher, model, 3), 3); // read again each interval over its connection
    EXPECT_EQ(model.CellText(0, kOverviewReplication, OverviewRefresher::NowMs()), u"ok, 1 partner");

    // The partner unreachable (its packets rejected) and a pull of the domain forced: the cell
    // names it, how long it has failed and why; reachable again and pulled, ok again.
    const auto partner = ReadPeerState("ZELTOR_REPL_B_STATE");
    const std::string partnerName = partner.at("host").substr(0, partner.at("host").find('.'));
    std::string base = "DC=" + dc["realm"];
    for (std::size_t dot; (dot = base.find('.')) != std::string::npos;)
        base.replace(dot, 1, ",DC=");
    const std::string emptyConf = scratch.Write("empty.conf", "");
    const std::string ownName = dc["host"].substr(0, dc["host"].find('.'));
    // A pull of a naming context into the controller at address from the one named source.
    const auto pull = [&](const std::string& address, const std::string& source, const std::string& namingContext) {
        CommandOutput("samba-tool drs replicate " + address + " " + source + " " + namingContext + " -s " + emptyConf +
                      " -U 'Administrator%" + dc["password"] + "' --use-kerberos=off");
    };
    const std::string upper = [&] {
        std::string name = partnerName;
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    }();
    // The cell once a read after the change says what is looked for (at most 40 reads: a read
    // taken while the pull still ran says what was before).
    const auto cellOnceItSays = [&](const std::function<bool(const std::string&)>& looked) {
        std::string cell;
        for (int read = 0; read < 40; ++read) {
            readsUntil(*refresher, model, 1);
            if (looked(cell = model.CellText(0, kOverviewReplication, OverviewRefresher::NowMs()).ToUtf8()))
                break;
        }
        return cell;
    };
    CommandOutput(
        "nft add table inet zeltor_overview && nft add chain inet zeltor_overview out '{ type filter hook output "
        "priority 0; }' && nft add rule inet zeltor_overview out ip daddr " +
        partner.at("address") + " reject");
    pull(dc["address"], partnerName, base);
    const std::string failing =
        cellOnceItSays([&](const std::string& cell) { return cell.starts_with(upper + " failing for "); });
    CommandOutput("nft delete table inet zeltor_overview");
    // Every naming context both ways, not only the one forced: the controllers' own schedules may
    // have tried the others meanwhile (the partner's answers were rejected too), and the tests
    // after this one start from a pair that replicates.
    for (const std::string& context : { base, "CN=Configuration," + base, "CN=Schema,CN=Configuration," + base,
                                        "DC=DomainDnsZones," + base, "DC=ForestDnsZones," + base }) {
        pull(dc["address"], partnerName, context);
        pull(partner.at("address"), ownName, context);
    }
    const std::string again = cellOnceItSays([](const std::string& cell) { return cell == "ok, 1 partner"; });
    EXPECT_TRUE(failing.starts_with(upper + " failing for ")) << failing;
    EXPECT_GT(failing.find(": "), upper.size()) << "the reason follows: " << failing;
    EXPECT_EQ(again, "ok, 1 partner");
    refresher.reset();

    // A wrong password: refused once, said so, and not sent again however many intervals pass.
    const int badBefore = BadPasswordCount(kAdmin);
    OverviewModel refusedModel({ CString::FromUtf8(dc["host"]) });
    refresher = overview("not-the-password");
    EXPECT_EQ(readsUntil(*refresher, refusedModel, 3), 3);
    const CString cell = refusedModel.CellText(0, kOverviewReplication, OverviewRefresher::NowMs());
    EXPECT_EQ(cell, u"not read: the logon was refused; Refresh tries again");
    refresher.reset();
    EXPECT_EQ(BadPasswordCount(kAdmin), badBefore + 1);
}

} // namespace
