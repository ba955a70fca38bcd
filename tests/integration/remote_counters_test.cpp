// The remote counter source against Samba's own winreg server: a standalone smbd on loopback
// (run_smbd.sh) whose perfmon databases fill_perfmon.py fills from this machine's /proc.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "app/counter_set.h"
#include "perf/pdh_status.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/remote/remote_counter_source.h"
#include "platform/linux/remote/samba_performance_registry.h"
#include "platform/linux/remote/winreg_client.h"
#include "platform/linux/samba/credential_registry.h"
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
        auto registry =
            std::make_unique<CountingRegistry>(std::make_unique<SambaPerformanceRegistry>(credentials, Options()));
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
    EXPECT_EQ(source->AddCounter(query, u"\\\\" + machine + u"\\Paging File\\% Usage", 0, &unknown),
              PDH_CSTATUS_NO_OBJECT);
    EXPECT_EQ(source->AddCounter(query, u"\\\\" + machine + u"\\Memory\\Available Bytes", 0, &unknown),
              PDH_CSTATUS_NO_COUNTER);

    const std::map<std::string, int> afterSetup = counting->queries;
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    std::this_thread::sleep_for(std::chrono::seconds(1));
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
        // Credentials that the peer refuses: the refusal, final, and not tried again.
        const CredentialRegistry::Id id = credentials.Add(peer["address"], SmbCredentials({}, peer["user"], "wrong"));
        const int refusedBefore = RefusedLogons(peer["dir"]);
        auto source = Source();
        EXPECT_EQ(source->ConnectMachine(CString::FromUtf8(peer["address"])), PdhStatusFromWin32(1326));
        EXPECT_EQ(source->ConnectMachine(CString::FromUtf8(peer["address"])), PdhStatusFromWin32(1326));
        EXPECT_EQ(RefusedLogons(peer["dir"]), refusedBefore + 1);
        credentials.Remove(id);
    }
    // Nothing listens; a name no one knows; an address that drops everything (silent_address.sh).
    DnsmasqServer dns({});
    ASSERT_TRUE(dns.running());
    RemoteCounterOptions options = Options();
    options.dnsServer = dns.server();
    options.reachTimeoutMs = 1000;
    for (const char* machine : { "127.0.0.2", "nosuch.zeltor.test", "127.0.0.9" }) {
        auto source =
            std::make_unique<RemoteCounterSource>(std::make_unique<SambaPerformanceRegistry>(credentials, options),
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
    options.connectTimeoutMs = 2000;
    {
        RemoteCounterSource source(std::make_unique<SambaPerformanceRegistry>(credentials, options),
                                   [](std::uint32_t) {});
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

TEST_F(RemoteCountersTest, APasswordChangedAtTheServerIsRefusedOnceNotOncePerCollection)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    const std::string state = std::getenv("ZELTOR_SMBD_STATE");
    SmbNetworkConnector network(ConnectorOptions());
    const CString machine = CString::FromUtf8(peer["address"]);
    int refused = RefusedLogons(peer["dir"]);

    // Update with a wrong password: the connection's one logon is refused, and nothing else is
    // tried.
    Connect(network, "not-the-password");
    EXPECT_EQ(RefusedLogons(peer["dir"]), ++refused);

    // Update with the right one, then the counters as Auto Update reads them.
    Connect(network, peer["password"]);
    auto source = Source();
    ASSERT_EQ(source->ConnectMachine(machine), 0u);
    PdhQuery* query = nullptr;
    ASSERT_EQ(source->OpenQuery(1, &query), 0u);
    PdhCounter* handles = nullptr;
    ASSERT_EQ(source->AddCounter(query, u"\\\\" + machine + u"\\Process(_Total)\\Handle Count", 0, &handles), 0u);
    ASSERT_EQ(source->CollectQueryData(query), 0u);

    // The administrator changes the password and the server drops the connections: the next
    // logon is refused, and no tick after it logs on again.
    ChangedPassword changed(state, "Changed-Pa55!", peer["password"]);
    ASSERT_TRUE(changed.Changed());
    ASSERT_TRUE(RunScript(ZELTOR_RUN_SMBD, { "drop", state }));
    std::vector<PDH_STATUS> statuses;
    statuses.reserve(20);
    for (int tick = 0; tick < 20; ++tick)
        statuses.push_back(source->CollectQueryData(query));
    EXPECT_EQ(statuses.back(), PdhStatusFromWin32(1326));
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0u), 0);
    EXPECT_EQ(RefusedLogons(peer["dir"]), ++refused);

    // A new Update with the new password: read again.
    ASSERT_EQ(network.AddConnection(u"\\\\" + machine, u"Changed-Pa55!", CString::FromUtf8(peer["user"])), 0u);
    EXPECT_EQ(source->CollectQueryData(query), 0u);
    EXPECT_EQ(RefusedLogons(peer["dir"]), refused);
    EXPECT_EQ(source->CloseQuery(query), 0u);
}

TEST_F(RemoteCountersTest, AServerThatFallsSilentHoldsAnUpdateOrATickOnceNotPerCounter)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    const std::string state = std::getenv("ZELTOR_SMBD_STATE");
    SmbNetworkConnector network(ConnectorOptions());
    Connect(network, peer["password"]);
    RemoteCounterOptions options = Options();
    options.connectTimeoutMs = 3000;
    options.callTimeoutSeconds = 2;
    RemoteCounterSource source(std::make_unique<SambaPerformanceRegistry>(credentials, options), [](std::uint32_t) {});
    const CString machine = CString::FromUtf8(peer["address"]);
    // The window's thirteen counters on a live connection, as an Update sets them up.
    const auto update = [&](PdhQuery** query, std::vector<PDH_STATUS>* statuses) {
        const PDH_STATUS connected = source.ConnectMachine(machine);
        if (connected != 0)
            return connected;
        EXPECT_EQ(source.OpenQuery(1, query), 0u);
        for (const char16_t* path : kCounterSetPaths) {
            PdhCounter* counter = nullptr;
            statuses->push_back(source.AddCounter(*query, u"\\\\" + machine + path, 0, &counter));
        }
        return PDH_STATUS{ 0 };
    };
    const auto seconds = [](auto start) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    PdhQuery* query = nullptr;
    std::vector<PDH_STATUS> statuses;
    ASSERT_EQ(update(&query, &statuses), 0u);
    ASSERT_EQ(source.CollectQueryData(query), 0u);

    ASSERT_TRUE(RunScript(ZELTOR_RUN_SMBD, { "pause", state }));
    // A tick: one call, given up at the call's bound. Meanwhile another thread's connection
    // (to a port that refuses it) goes through Samba's libraries while this one waits.
    std::atomic<bool> tickEnded = false, otherEndedFirst = false;
    std::thread otherCaller([&] {
        const int closed = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        samba_connect_options refused{};
        refused.server = "127.0.0.1";
        refused.logon = SAMBA_LOGON_OWN_TICKET;
        refused.port = ntohs(address.sin_port);
        refused.connect_timeout_ms = 1000;
        refused.call_timeout_seconds = 1;
        winreg_client* client = nullptr;
        std::uint32_t werror = 0;
        const bool failed = winreg_client_open(&refused, &client, &werror) != 0;
        otherEndedFirst = failed && !tickEnded;
        close(closed);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(source.CollectQueryData(query), PDH_CSTATUS_NO_MACHINE);
    const double tick = seconds(start);
    tickEnded = true;
    otherCaller.join();
    EXPECT_TRUE(otherEndedFirst) << "a call waiting on a silent server held another thread's";
    // The next tick connects once, within the connection's bound.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(source.CollectQueryData(query), PDH_CSTATUS_NO_MACHINE);
    const double reconnectingTick = seconds(start);
    // An Update: the connection is tried once, and gives up within its bound. Its sockets have
    // descriptors of 1024 and more, and another thread connects to the same server meanwhile:
    // the bound ends this connection's waits, and only those.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 2048));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::vector<int> filler;
    while (filler.size() < 1100)
        filler.push_back(dup(STDIN_FILENO));
    int other = -1;
    std::thread neighbour([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(Options().smbPort);
        inet_pton(AF_INET, peer["address"].c_str(), &address.sin_addr);
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            other = fd;
    });
    ASSERT_EQ(source.CloseQuery(query), 0u);
    start = std::chrono::steady_clock::now();
    statuses.clear();
    const PDH_STATUS connected = update(&query, &statuses);
    const double anUpdate = seconds(start);
    neighbour.join();
    ASSERT_GE(other, 0);
    char byte = 0;
    EXPECT_EQ(send(other, "x", 1, MSG_NOSIGNAL), 1) << "the other connection was shut";
    EXPECT_EQ(recv(other, &byte, 1, MSG_DONTWAIT), -1) << "the other connection was shut";
    close(other);
    for (int fd : filler)
        close(fd);
    ASSERT_TRUE(RunScript(ZELTOR_RUN_SMBD, { "resume", state }));
    EXPECT_EQ(connected, PDH_CSTATUS_NO_MACHINE);
    std::printf("silent server: tick %.1f s, reconnecting tick %.1f s, Update %.1f s\n", tick, reconnectingTick,
                anUpdate);
    // Loose bounds, far below what a wait per counter or Samba's own minute would take.
    EXPECT_LT(tick, 2 * 2.0);
    EXPECT_LT(reconnectingTick, 2 * 3.0);
    EXPECT_LT(anUpdate, 2 * 3.0);

    // Answering again: the next Update reads it.
    statuses.clear();
    ASSERT_EQ(update(&query, &statuses), 0u);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0u), static_cast<long>(kCounterSetPaths.size()));
    EXPECT_EQ(source.CloseQuery(query), 0u);
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
