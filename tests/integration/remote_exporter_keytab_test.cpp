// zeltor-exporter's keytab auths against the Samba domain controller (run_samba_dc.sh): a keytab
// exported from the controller for its administrator gives a ticket that reads the thirteen over
// one kept logon; a keytab of a principal the controller does not know is refused, and the KDC is
// asked once per backoff.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "directory/win32_error_text.h"
#include "perf/pdh_status.h"
#include "platform/linux/exporter/keytab_ticket.h"
#include "platform/linux/exporter/target_sessions.h"
#include "platform/linux/remote/samba_performance_registry.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/test_keytab.h"
#include "tests/linux/test_support.h"

namespace {

// Counts the connections that reach the real registry.
class OpenCounter : public IPerformanceRegistry {
public:
    OpenCounter(std::unique_ptr<IPerformanceRegistry> real, std::atomic<int>& opens)
        : m_real(std::move(real)), m_opens(opens)
    {
    }
    std::uint32_t Open(const std::string& machine, std::unique_ptr<IPerformanceKey>* key) override
    {
        ++m_opens;
        return m_real->Open(machine, key);
    }

private:
    std::unique_ptr<IPerformanceRegistry> m_real;
    std::atomic<int>& m_opens;
};

} // namespace

TEST(ExporterKeytabControllerTest, AKeytabTicketReadsTheThirteenAndAnUnknownPrincipalIsRefusedOncePerBackoff)
{
    auto dc = ReadPeerState("ZELTOR_SAMBA_DC_STATE");
    ASSERT_FALSE(dc["dir"].empty()) << "no controller state";
    ASSERT_TRUE(FillPerfmon(dc["dir"] + "/state/perfmon"));
    TempDir scratch;
    const std::string realm = dc["realm"];
    const std::string config = scratch.Write("krb5.conf", "[libdefaults]\n default_realm = " + realm +
                                                              "\n dns_lookup_kdc = false\n rdns = false\n[realms]\n " +
                                                              realm + " = {\n  kdc = " + dc["address"] + "\n }\n");
    const ScopedEnvironment krb5Config("KRB5_CONFIG", config);
    // No default cache to fall back on: the logons have only the auths' own tickets.
    const ScopedEnvironment ticketCache("KRB5CCNAME", "FILE:" + scratch.path() + "/default-cache");

    const std::string principal = dc["user"] + "@" + realm;
    const std::string keytab = scratch.path() + "/monitor.keytab";
    ASSERT_TRUE(RunScript("/usr/bin/samba-tool",
                          { "domain", "exportkeytab", keytab, "--principal=" + principal, "-s", dc["smb_conf"] }));
    ASSERT_EQ(chmod(keytab.c_str(), 0600), 0);
    const std::string strangerPrincipal = "zeltor-nobody@" + realm;
    const std::string strangerKeytab = scratch.path() + "/stranger.keytab";
    ASSERT_TRUE(WriteTestKeytab(strangerKeytab, strangerPrincipal));

    auto ticket = std::make_shared<KeytabTicket>(principal, keytab, scratch.path() + "/monitor.ccache");
    auto stranger =
        std::make_shared<KeytabTicket>(strangerPrincipal, strangerKeytab, scratch.path() + "/stranger.ccache");
    std::map<std::string, SmbCredentials> credentials;
    SmbCredentials kerberos({}, principal, std::string_view());
    kerberos.ticketCache = ticket->CacheName();
    credentials.emplace("monitor", kerberos);
    kerberos.user = strangerPrincipal;
    kerberos.ticketCache = stranger->CacheName();
    credentials.emplace("stranger", kerberos);

    std::string domain = realm;
    for (char& c : domain)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    RemoteCounterOptions remote;
    remote.dnsServer = DnsServer{ dc["address"], static_cast<std::uint16_t>(std::stoi(dc["dns_port"])), domain };
    TargetSessions::Settings settings;
    settings.refusedLogonBackoff = std::chrono::seconds(3);
    std::atomic<int> opens = 0;
    const KeytabLogonRegistry::Tickets tickets{ { ticket->CacheName(), ticket }, { stranger->CacheName(), stranger } };
    std::mutex logMutex;
    std::vector<std::string> kerberosLog;
    TargetSessions sessions(
        settings, std::move(credentials),
        [&](CredentialRegistry& registry) {
            return std::make_unique<
                KeytabLogonRegistry>(std::make_unique<OpenCounter>(std::make_unique<SambaPerformanceRegistry>(registry,
                                                                                                              remote),
                                                                   opens),
                                     tickets, registry, [&](const std::string& line) {
                                         const std::lock_guard lock(logMutex);
                                         kerberosLog.push_back(line);
                                     });
        },
        [](const std::string& line) { std::fprintf(stderr, "exporter: %s\n", line.c_str()); });

    ExporterAuth monitor;
    monitor.name = "monitor";
    monitor.keytab = keytab;
    monitor.principal = principal;
    monitor.targets = { dc["host"] };
    const ExporterModule module = DomainControllerModule();
    const auto deadline = [] { return TargetSessions::Clock::now() + std::chrono::seconds(20); };
    for (int scrape = 0; scrape < 2; ++scrape) {
        const ProbeOutcome outcome = sessions.Probe(dc["host"], module, monitor, deadline());
        ASSERT_TRUE(outcome.success) << outcome.statusText;
        ASSERT_EQ(outcome.counters.size(), 13u);
        // All but the processes' handles, which depend on the processes the controller's data
        // holds at the moment (other tests of the controller publish a stand-in lsass).
        for (const CounterReading& reading : outcome.counters) {
            if (!reading.path.starts_with("\\Process(")) {
                EXPECT_TRUE(CounterAvailable(reading)) << reading.path;
            }
        }
    }
    // One ticket and one logon for both scrapes; the ticket in a cache only its owner reads.
    EXPECT_EQ(ticket->Requests(), 1u);
    EXPECT_EQ(opens.load(), 1);
    struct stat cache {};
    ASSERT_EQ(stat((scratch.path() + "/monitor.ccache").c_str(), &cache), 0);
    EXPECT_EQ(cache.st_mode & 0077, 0u);

    // The principal the controller does not know: refused, and the KDC asked once in the backoff.
    ExporterAuth strangerAuth = monitor;
    strangerAuth.name = "stranger";
    strangerAuth.keytab = strangerKeytab;
    strangerAuth.principal = strangerPrincipal;
    for (int scrape = 0; scrape < 3; ++scrape) {
        const ProbeOutcome outcome = sessions.Probe(dc["host"], module, strangerAuth, deadline());
        EXPECT_FALSE(outcome.success);
        EXPECT_EQ(outcome.status, PdhStatusFromWin32(win32_error::kLogonFailure)) << outcome.statusText;
    }
    EXPECT_EQ(stranger->Requests(), 1u);
    EXPECT_EQ(sessions.RefusedLogons(), 1u);
    // Once the backoff is over, one more request.
    std::this_thread::sleep_for(std::chrono::milliseconds(3200));
    EXPECT_FALSE(sessions.Probe(dc["host"], module, strangerAuth, deadline()).success);
    EXPECT_FALSE(sessions.Probe(dc["host"], module, strangerAuth, deadline()).success);
    EXPECT_EQ(stranger->Requests(), 2u);
    EXPECT_EQ(sessions.RefusedLogons(), 2u);
    EXPECT_EQ(opens.load(), 1); // nothing of the stranger reached the controller's SMB port
    // The KDC's reason, once per request.
    ASSERT_EQ(kerberosLog.size(), 2u);
    const std::string reason = "the ticket of " + strangerPrincipal + " from keytab " + strangerKeytab + ": Client";
    for (const std::string& line : kerberosLog)
        EXPECT_NE(line.find(reason), std::string::npos) << line;
}

TEST(ExporterKeytabControllerTest, ATicketNearItsEndIsRenewedBeforeTheNextConnection)
{
    auto dc = ReadPeerState("ZELTOR_SAMBA_DC_STATE");
    ASSERT_FALSE(dc["dir"].empty()) << "no controller state";
    TempDir scratch;
    const std::string realm = dc["realm"];
    // Tickets of ten seconds: renewed with two left.
    const std::string config =
        scratch.Write("krb5.conf", "[libdefaults]\n default_realm = " + realm +
                                       "\n dns_lookup_kdc = false\n rdns = false\n ticket_lifetime = 10s\n"
                                       "[realms]\n " +
                                       realm + " = {\n  kdc = " + dc["address"] + "\n }\n");
    const ScopedEnvironment krb5Config("KRB5_CONFIG", config);
    const std::string principal = dc["user"] + "@" + realm;
    const std::string keytab = scratch.path() + "/monitor.keytab";
    ASSERT_TRUE(RunScript("/usr/bin/samba-tool",
                          { "domain", "exportkeytab", keytab, "--principal=" + principal, "-s", dc["smb_conf"] }));
    KeytabTicket ticket(principal, keytab, scratch.path() + "/monitor.ccache");
    std::string error;
    ASSERT_EQ(ticket.Ensure(&error), 0u) << error;
    ASSERT_EQ(ticket.Ensure(&error), 0u) << error;
    EXPECT_EQ(ticket.Requests(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(8500));
    ASSERT_EQ(ticket.Ensure(&error), 0u) << error;
    EXPECT_EQ(ticket.Requests(), 2u);
    // A refused logon throws the ticket away: the next connection asks for a new one.
    ticket.Drop();
    ASSERT_EQ(ticket.Ensure(&error), 0u) << error;
    EXPECT_EQ(ticket.Requests(), 3u);
}
