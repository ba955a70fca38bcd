// An auth whose targets are a domain's controllers: found through real DNS answers (dnsmasq on
// loopback), kept for a while, renewed without holding the scrapes, kept through a failed
// look-up; a target outside them refused before a session is made for it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/linux/exporter/domain_controllers.h"
#include "platform/linux/exporter/exporter_config_file.h"
#include "platform/linux/exporter/exporter_server.h"
#include "tests/linux/test_support.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kDcRecord = "--srv-host=_ldap._tcp.dc._msdcs.zeltor.test,";

// Counts the logons asked of it, and answers each with a network path not found.
class UnreachableRegistry : public IPerformanceRegistry {
public:
    explicit UnreachableRegistry(std::atomic<int>& opens) : m_opens(opens) {}
    std::uint32_t Open(const std::string&, std::unique_ptr<IPerformanceKey>*) override
    {
        ++m_opens;
        return 53; // ERROR_BAD_NETPATH
    }

private:
    std::atomic<int>& m_opens;
};

QueryArguments Request(const std::string& target)
{
    return { { "target", target }, { "module", "dc" }, { "auth", "domain" } };
}

} // namespace

TEST(DomainControllersTest, AnAuthGoesToTheControllersDnsNamesForItsDomainAndNowhereElse)
{
    DnsmasqServer dns({ std::string(kDcRecord) + "dc-a.zeltor.test,389,0,100",
                        std::string(kDcRecord) + "DC-B.zeltor.test,389,10,100" });
    ASSERT_TRUE(dns.running());
    ExporterConfig config;
    const std::optional<std::string> problem = ParseExporterConfig(
        "auths:\n  domain:\n    user: u\n    password_file: /p\n    targets_from_domain: zeltor.test\n"
        "  two:\n    user: u\n    password_file: /p\n    targets: [extra.example.org]\n"
        "    targets_from_domain: [nothing.test, zeltor.test.]\n",
        &config);
    ASSERT_FALSE(problem) << *problem;

    int lookups = 0;
    const DomainControllerCache::Locate dnsLocate = DomainControllerCache::ThroughDns(DnsResolver(dns.server()));
    std::vector<std::string> logged;
    DomainControllerCache controllers(
        [&](const std::string& domain, std::vector<std::string>* hosts, std::chrono::seconds* ttl) {
            ++lookups;
            return dnsLocate(domain, hosts, ttl);
        },
        {}, [&](const std::string& line) { logged.push_back(line); });

    std::atomic<int> opens = 0;
    TargetSessions sessions(
        {}, { { "domain", SmbCredentials({}, "u", "p") }, { "two", SmbCredentials({}, "u", "p") } },
        [&](CredentialRegistry&) { return std::make_unique<UnreachableRegistry>(opens); }, [](const std::string&) {});
    ExporterServer server(config, sessions, "test", &controllers);

    for (const char* target : { "dc-a.zeltor.test", "dc-b.zeltor.test", "DC-B.Zeltor.Test." })
        EXPECT_EQ(CheckProbeRequest(config, Request(target), &controllers).httpStatus, 200) << target;
    EXPECT_EQ(lookups, 1); // kept
    // Neither another host of the domain, nor the domain itself, nor an address, nor a look-alike.
    for (const char* target : { "dc-c.zeltor.test", "zeltor.test", "127.0.0.1", "dc-a.zeltor.test.evil.net", "dc-a" }) {
        const ExporterServer::Response answer = server.Handle("/probe", Request(target), std::nullopt);
        EXPECT_EQ(answer.status, 403) << target;
        EXPECT_EQ(answer.body, "target \"" + std::string(target) + "\" is not one auth domain may be used with\n");
    }
    EXPECT_EQ(opens.load(), 0);
    EXPECT_EQ(sessions.SessionCount(), 0u);
    // An allowed one is collected from: the refusal above was the list, not the path.
    EXPECT_EQ(server.Handle("/probe", Request("dc-a.zeltor.test"), std::string("1")).status, 200);
    EXPECT_EQ(opens.load(), 1);

    // An auth with names and two domains, one of which has no controllers: said so in the refusal.
    QueryArguments other = { { "target", "dc-x.zeltor.test" }, { "module", "dc" }, { "auth", "two" } };
    const ProbeRequest refused = CheckProbeRequest(config, other, &controllers);
    EXPECT_EQ(refused.httpStatus, 403);
    EXPECT_EQ(
        refused.reason,
        "target \"dc-x.zeltor.test\" is not one auth two may be used with (no controllers found for nothing.test)");
    other[0].second = "dc-b.zeltor.test";
    EXPECT_EQ(CheckProbeRequest(config, other, &controllers).httpStatus, 200);
    other[0].second = "extra.example.org";
    EXPECT_EQ(CheckProbeRequest(config, other, &controllers).httpStatus, 200);
    EXPECT_EQ(lookups, 2); // zeltor.test. is zeltor.test; nothing.test was looked up once, and is not again
    EXPECT_EQ(CheckProbeRequest(config, other, &controllers).httpStatus, 200);
    EXPECT_EQ(lookups, 2);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0], "the controllers of zeltor.test: dc-a.zeltor.test, dc-b.zeltor.test");
    EXPECT_EQ(logged[1],
              "cannot find the controllers of nothing.test (The specified domain either does not exist or could not "
              "be contacted.)");

    // Without discovery at all, a domain's auth sends nothing anywhere.
    EXPECT_EQ(CheckProbeRequest(config, Request("dc-a.zeltor.test"), nullptr).httpStatus, 403);
}

TEST(DomainControllersTest, AListIsRenewedWithoutHoldingScrapesAndOutlivesAFailedLookUp)
{
    std::mutex mutex;
    std::vector<std::string> current = { "dc1.example.org", "dc2.example.org" };
    std::uint32_t failure = 0;
    std::chrono::milliseconds delay = 0ms;
    std::atomic<int> lookups = 0;
    DomainControllerCache::Settings settings;
    settings.refresh = 300ms;
    settings.retry = 100ms;
    DomainControllerCache controllers(
        [&](const std::string&, std::vector<std::string>* hosts, std::chrono::seconds*) {
            ++lookups;
            std::chrono::milliseconds wait;
            {
                const std::lock_guard lock(mutex);
                wait = delay;
            }
            std::this_thread::sleep_for(wait);
            const std::lock_guard lock(mutex);
            *hosts = failure != 0 ? std::vector<std::string>() : current;
            return failure;
        },
        settings, [](const std::string&) {});
    const std::vector<std::string> both = { "dc1.example.org", "dc2.example.org" };

    EXPECT_EQ(controllers.Controllers("Example.org"), both);
    EXPECT_EQ(controllers.Controllers("example.org."), both);
    EXPECT_EQ(lookups.load(), 1);

    // dc2 leaves the domain: once the list is renewed it is no longer a target.
    {
        const std::lock_guard lock(mutex);
        current = { "dc1.example.org" };
    }
    std::this_thread::sleep_for(350ms);
    EXPECT_EQ(controllers.Controllers("example.org"), std::vector<std::string>({ "dc1.example.org" }));
    EXPECT_EQ(lookups.load(), 2);

    // DNS fails: the last list still serves, and is asked again after the shorter retry.
    {
        const std::lock_guard lock(mutex);
        failure = 1355;
    }
    std::this_thread::sleep_for(350ms);
    EXPECT_EQ(controllers.Controllers("example.org"), std::vector<std::string>({ "dc1.example.org" }));
    EXPECT_EQ(lookups.load(), 3);
    EXPECT_EQ(controllers.Controllers("example.org"), std::vector<std::string>({ "dc1.example.org" }));
    EXPECT_EQ(lookups.load(), 3);
    std::this_thread::sleep_for(150ms);

    // A slow renewal: one look-up, and the other scrapes answer at once from the last list.
    {
        const std::lock_guard lock(mutex);
        failure = 0;
        current = both;
        delay = 600ms;
    }
    std::thread renewing([&] { EXPECT_EQ(controllers.Controllers("example.org"), both); });
    std::this_thread::sleep_for(100ms);
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(controllers.Controllers("example.org"), std::vector<std::string>({ "dc1.example.org" }));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    }
    renewing.join();
    EXPECT_EQ(lookups.load(), 4);
    EXPECT_EQ(controllers.Controllers("example.org"), both);

    // A domain never found: every caller waits for the one look-up rather than being refused.
    std::vector<std::thread> first;
    first.reserve(3);
    std::atomic<int> served = 0;
    for (int i = 0; i < 3; ++i)
        first.emplace_back([&] { served += controllers.Controllers("other.example.org") == both ? 1 : 0; });
    for (std::thread& t : first)
        t.join();
    EXPECT_EQ(served.load(), 3);
    EXPECT_EQ(lookups.load(), 5);
}

TEST(DomainControllersTest, AConfigurationNamesDomainsNotHostsOrAddresses)
{
    ExporterConfig config;
    for (const auto& [domain, message] : std::vector<std::pair<std::string, std::string>>{
             { "192.0.2.1", "\"192.0.2.1\" is not a DNS domain name" }, // an address has dots, but not this meaning
             { "corp", "\"corp\" is not a DNS domain name" },
             { "'..example.org'", "\"..example.org\" is not a DNS domain name" },
             { "'\\\\evil\\x.org'", "\"\\\\evil\\x.org\" is not a DNS domain name" } }) {
        const std::optional<std::string> problem =
            ParseExporterConfig("auths:\n  a:\n    user: u\n    password_file: /p\n    targets_from_domain: " + domain +
                                    "\n",
                                &config);
        ASSERT_TRUE(problem) << domain;
        EXPECT_EQ(*problem, "auth a: " + message);
    }
}

TEST(DomainControllersTest, AListIsRenewedWithinItsRecordsTtl)
{
    // Records DNS lets be kept 2 s: the list is looked up again after that, not after the refresh.
    DnsmasqServer dns({ "--local-ttl=2", std::string(kDcRecord) + "dc-a.zeltor.test,389,0,100" });
    ASSERT_TRUE(dns.running());
    const DomainControllerCache::Locate dnsLocate = DomainControllerCache::ThroughDns(DnsResolver(dns.server()));
    int lookups = 0;
    std::chrono::seconds given{ 0 };
    DomainControllerCache::Settings settings;
    settings.retry = 1s;
    DomainControllerCache controllers(
        [&](const std::string& domain, std::vector<std::string>* hosts, std::chrono::seconds* ttl) {
            ++lookups;
            const std::uint32_t result = dnsLocate(domain, hosts, ttl);
            given = *ttl;
            return result;
        },
        settings, [](const std::string&) {});
    const std::vector<std::string> found = { "dc-a.zeltor.test" };
    EXPECT_EQ(controllers.Controllers("zeltor.test"), found);
    EXPECT_EQ(given, 2s);
    EXPECT_EQ(controllers.Controllers("zeltor.test"), found);
    EXPECT_EQ(lookups, 1);
    std::this_thread::sleep_for(2200ms);
    EXPECT_EQ(controllers.Controllers("zeltor.test"), found);
    EXPECT_EQ(lookups, 2);
}
