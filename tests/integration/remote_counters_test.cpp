// The remote counter source against Samba's own winreg server: a standalone smbd on loopback
// (run_smbd.sh) whose perfmon databases fill_perfmon.py fills from this machine's /proc.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "app/counter_set.h"
#include "perf/pdh_status.h"
#include "platform/linux/credential_registry.h"
#include "platform/linux/remote_counter_source.h"
#include "platform/linux/samba_performance_registry.h"
#include "platform/linux/smb_network_connector.h"
#include "tests/integration/counting_registry.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/child_process.h"
#include "tests/linux/test_support.h"

namespace {

class RemoteCountersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { peer = ReadPeerState("ZELTOR_SMBD_STATE"); }
    void SetUp() override { ASSERT_FALSE(peer["perfmon"].empty()) << "no smbd state"; }

    RemoteCounterOptions Options() const
    {
        RemoteCounterOptions options;
        options.smbPort = static_cast<std::uint16_t>(std::stoi(peer["port"]));
        return options;
    }

    // A source over the real registry, with its queries counted.
    std::unique_ptr<RemoteCounterSource> Source(CountingRegistry** counting = nullptr)
    {
        auto registry = std::make_unique<CountingRegistry>(std::make_unique<SambaPerformanceRegistry>(credentials, Options()));
        if (counting != nullptr)
            *counting = registry.get();
        return std::make_unique<RemoteCounterSource>(std::move(registry), [](std::uint32_t) {});
    }

    // Logs on to the peer as its user, as Update does, sharing the credentials.
    void Connect(SmbNetworkConnector& network, const std::string& password)
    {
        ASSERT_EQ(network.AddConnection(CString::FromUtf8("\\\\" + peer["address"]), CString::FromUtf8(password),
                                        CString::FromUtf8(peer["user"])),
                  password == peer["password"] ? 0u : 1326u);
    }

    SmbNetworkConnector::Options ConnectorOptions()
    {
        SmbNetworkConnector::Options options;
        options.smbPort = Options().smbPort;
        options.timeoutMs = 10000;
        options.credentials = &credentials;
        return options;
    }

    static inline std::map<std::string, std::string> peer;
    CredentialRegistry credentials;
};

} // namespace

TEST_F(RemoteCountersTest, TheThirteenCountersAreFoundByNameAndEachCollectionIsOneQuery)
{
    // The provider fills the peer's databases, with this child as lsass: a process of that name
    // would also be every other test's lsass.
    ChildProcess lsass(StandInLsassName(), 7);
    ASSERT_TRUE(lsass.Running());
    CommittedPercentWatch commit;
    PerfdRunner perfd(peer["dir"] + "/state", StandInLsassName());
    ASSERT_TRUE(perfd.Running());
    SmbNetworkConnector network(ConnectorOptions());
    Connect(network, peer["password"]);
    CountingRegistry* counting = nullptr;
    auto source = Source(&counting);
    const CString machine = CString::FromUtf8(peer["address"]);

    ASSERT_EQ(source->ConnectMachine(machine), 0u);
    PdhQuery* query = nullptr;
    ASSERT_EQ(source->OpenQuery(1, &query), 0u);
    std::vector<PdhCounter*> counters;
    for (const char16_t* path : kCounterSetPaths) {
        PdhCounter* counter = nullptr;
        ASSERT_EQ(source->AddCounter(query, u"\\\\" + machine + path, 0, &counter), 0u) << CString(path).ToUtf8();
        counters.push_back(counter);
    }
    PdhCounter* unknown = nullptr;
    EXPECT_EQ(source->AddCounter(query, u"\\\\" + machine + u"\\Paging File\\% Usage", 0, &unknown), PDH_CSTATUS_NO_OBJECT);
    EXPECT_EQ(source->AddCounter(query, u"\\\\" + machine + u"\\Memory\\Available Bytes", 0, &unknown), PDH_CSTATUS_NO_COUNTER);

    const std::map<std::string, int> afterSetup = counting->queries;
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    sleep(1);
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    // The names were read once, on connecting; each collection was one query of the objects.
    EXPECT_EQ(counting->queries["Counter 009"], 1);
    int collections = 0;
    for (const auto& [name, count] : counting->queries)
        collections += count - (afterSetup.contains(name) ? afterSetup.at(name) : 0);
    EXPECT_EQ(collections, 2);
    EXPECT_EQ(counting->queries.count("Global"), 0u);

    // Figures of the peer's /proc (this kernel's): the same as read here.
    const int committedPercent = LongValue(*source, counters[1]).longValue;
    EXPECT_NEAR(committedPercent, commit.Nearest(committedPercent), 2);
    EXPECT_EQ(LongValue(*source, counters[6]).longValue, 7);
    const PdhFormattedValue ntfrs = LongValue(*source, counters[7]);
    EXPECT_EQ(ntfrs.CStatus, PDH_CSTATUS_NO_INSTANCE);
    for (std::size_t i : { 0u, 2u, 3u, 4u, 5u, 8u, 9u, 10u, 11u, 12u }) {
        const PdhFormattedValue value = LongValue(*source, counters[i]);
        EXPECT_EQ(value.CStatus, PDH_CSTATUS_VALID_DATA) << i;
        EXPECT_GE(value.longValue, 0) << i;
    }
    EXPECT_LE(LongValue(*source, counters[0]).longValue, 100);
    EXPECT_GT(LongValue(*source, counters[8]).longValue, 0); // pages fault all the time
    EXPECT_EQ(source->CloseQuery(query), 0u);
}

TEST_F(RemoteCountersTest, MachinesThatCannotBeReadGiveTheStatusesOfTheCounterLibrary)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    SmbNetworkConnector network(ConnectorOptions());
    {
        // Credentials that the peer refuses: access denied, which the caller retries.
        const CredentialRegistry::Id id = credentials.Add(peer["address"], SmbCredentials({}, peer["user"], "wrong"));
        EXPECT_EQ(Source()->ConnectMachine(CString::FromUtf8(peer["address"])), PDH_ACCESS_DENIED);
        credentials.Remove(id);
    }
    // Nothing listens; a name no one knows; an address that drops everything (silent_address.sh).
    DnsmasqServer dns({});
    ASSERT_TRUE(dns.running());
    RemoteCounterOptions options = Options();
    options.dnsServer = dns.server();
    options.reachTimeoutMs = 1000;
    for (const char* machine : { "127.0.0.2", "nosuch.zeltor.test", "127.0.0.9" }) {
        auto source = std::make_unique<RemoteCounterSource>(std::make_unique<SambaPerformanceRegistry>(credentials, options),
                                                            [](std::uint32_t) {});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(source->ConnectMachine(CString::FromUtf8(machine)), PDH_CSTATUS_NO_MACHINE) << machine;
        // Bounded by the wait for the port, not by the library's own minute.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << machine;
    }

    // A server that takes the connection and never answers: the connection is given up in time.
    const int mute = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(mute, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(mute, 8), 0);
    ASSERT_EQ(getsockname(mute, reinterpret_cast<sockaddr*>(&address), &length), 0);
    options.smbPort = ntohs(address.sin_port);
    options.connectTimeoutSeconds = 2;
    {
        RemoteCounterSource source(std::make_unique<SambaPerformanceRegistry>(credentials, options), [](std::uint32_t) {});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(source.ConnectMachine(u"127.0.0.1"), PDH_CSTATUS_NO_MACHINE);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }
    close(mute);

    // A server without performance data: its name table is empty.
    Connect(network, peer["password"]);
    ASSERT_TRUE(EmptyPerfmon(peer["perfmon"]));
    EXPECT_EQ(Source()->ConnectMachine(CString::FromUtf8(peer["address"])), PDH_CANNOT_READ_NAME_STRINGS);
}

TEST_F(RemoteCountersTest, TheCredentialsAreThoseOfTheOpenConnectionAndGoWithIt)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    SmbNetworkConnector network(ConnectorOptions());
    Connect(network, peer["password"]);
    const std::optional<CredentialRegistry::Entry> shared = credentials.Find(peer["address"]);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->credentials.user, peer["user"]);
    auto source = Source();
    EXPECT_EQ(source->ConnectMachine(CString::FromUtf8(peer["address"])), 0u);

    EXPECT_EQ(network.CancelConnection(CString::FromUtf8("\\\\" + peer["address"]), true), 0u);
    EXPECT_FALSE(credentials.Find(peer["address"]));
}
