// The domain overview's workers against Samba's own winreg server (run_smbd.sh) and an address
// that drops every packet (silent_address.sh), each controller on a connection of its own as the
// Linux program makes them: answering, silent, refusing the password, without performance data.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/overview.h"
#include "app/overview_refresher.h"
#include "perf/pdh_status.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/linux_counter_sources.h"
#include "platform/linux/remote/remote_counter_source.h"
#include "platform/linux/remote/samba_performance_registry.h"
#include "platform/linux/samba/credential_registry.h"
#include "platform/linux/samba/samba_calls.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/test_support.h"

namespace {

class RemoteOverviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { peer = ReadPeerState("ZELTOR_SMBD_STATE"); }
    void SetUp() override
    {
        ASSERT_FALSE(peer["perfmon"].empty()) << "no smbd state";
        ASSERT_TRUE(names.running());
    }

    std::uint16_t Port() const { return static_cast<std::uint16_t>(std::stoi(peer["port"])); }

    // A controller's connection as the program's main makes it: its own credentials, SMB session
    // and Remote Registry, with the test's names and port.
    ControllerConnectionFactory Factory()
    {
        return [this] {
            ControllerConnection connection;
            auto own = std::make_shared<CredentialRegistry>();
            SmbNetworkConnector::Options network;
            network.dnsServer = names.server();
            network.smbPort = Port();
            network.timeoutMs = 10000;
            network.credentials = own.get();
            network.reachTimeoutMs = kReachMs;
            RemoteCounterOptions remote;
            remote.dnsServer = names.server();
            remote.smbPort = Port();
            remote.reachTimeoutMs = kReachMs;
            connection.keep = own;
            connection.network = std::make_unique<SmbNetworkConnector>(network);
            connection.counters = MakeLinuxCounterSource(*own, remote);
            return connection;
        };
    }

    // Runs the workers on machines until done holds of the rows (or the bound passes).
    OverviewModel Watch(const std::vector<CString>& machines, const std::string& password,
                        const std::function<bool(const OverviewModel&)>& done, int boundMs = 20000,
                        std::uint32_t intervalMs = 200)
    {
        OverviewModel model(machines);
        OverviewRefresher::Settings settings;
        settings.connect = Factory();
        settings.userName = CString::FromUtf8(peer["user"]);
        settings.password = CString::FromUtf8(password);
        settings.intervalMs = intervalMs;
        OverviewRefresher refresher(machines, settings, [] {});
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        while (std::chrono::steady_clock::now() < end) {
            for (const auto& [row, sample] : refresher.TakeResults())
                model.Apply(row, sample);
            if (done(model))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return model;
    }

    // The main window's own side, as its Update makes it: credentials, a connection and counters
    // over the test's names and port.
    struct WindowSide {
        CredentialRegistry credentials;
        std::unique_ptr<SmbNetworkConnector> network;
        std::unique_ptr<ICounterSource> counters;
    };
    std::unique_ptr<WindowSide> MakeWindowSide()
    {
        auto side = std::make_unique<WindowSide>();
        SmbNetworkConnector::Options options;
        options.dnsServer = names.server();
        options.smbPort = Port();
        options.credentials = &side->credentials;
        side->network = std::make_unique<SmbNetworkConnector>(options);
        RemoteCounterOptions remote;
        remote.dnsServer = names.server();
        remote.smbPort = Port();
        side->counters = MakeLinuxCounterSource(side->credentials, remote);
        return side;
    }

    // What Enter on a row does on the window's thread: log on at that controller, add the counters
    // to a query and collect them twice. How long it took; valid says whether figures came.
    std::chrono::steady_clock::duration ShowController(const CString& machine, bool* valid)
    {
        const auto began = std::chrono::steady_clock::now();
        const auto window = MakeWindowSide();
        SmbNetworkConnector& network = *window->network;
        ICounterSource* source = window->counters.get();
        PdhQuery* query = nullptr;
        PdhCounter* committed = nullptr;
        *valid = network.AddConnection(u"\\\\" + machine, CString::FromUtf8(peer["password"]),
                                       CString::FromUtf8(peer["user"])) == 0 &&
                 source->ConnectMachine(machine) == 0 && source->OpenQuery(0, &query) == 0;
        for (const char16_t* path : kOverviewCounterPaths) {
            PdhCounter* counter = nullptr;
            if (*valid && source->AddCounter(query, u"\\\\" + machine + CString(path), 0, &counter) == 0 &&
                path == kOverviewCounterPaths[1])
                committed = counter; // % Committed Bytes In Use: valid from the first collection on
        }
        PdhFormattedValue value;
        *valid = *valid && committed != nullptr && source->CollectQueryData(query) == 0 &&
                 source->CollectQueryData(query) == 0 &&
                 source->GetFormattedCounterValue(committed, PDH_FMT_LARGE_FORMAT, &value) == 0 &&
                 value.CStatus == PDH_CSTATUS_VALID_DATA;
        const auto took = std::chrono::steady_clock::now() - began;
        if (query != nullptr)
            source->CloseQuery(query);
        network.CancelConnection(u"\\\\" + machine, true);
        return took;
    }

    static constexpr int kReachMs = 1000;
    static inline std::map<std::string, std::string> peer;
    DnsmasqServer names{ { "--host-record=peer1.zeltor.test,127.0.0.1", "--host-record=peer2.zeltor.test,127.0.0.1",
                           "--host-record=silent.zeltor.test,127.0.0.9", "--host-record=mute.zeltor.test,127.0.0.10",
                           "--host-record=refused.zeltor.test,127.0.0.11" } };
};

// A server that takes the TCP connection and never says a word: a listener on address:port that
// never accepts (the kernel completes the connections into its queue).
class MuteListener {
public:
    MuteListener(const char* address, std::uint16_t port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(port);
        inet_pton(AF_INET, address, &where.sin_addr);
        m_listening =
            m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 && listen(m_fd, 64) == 0;
    }
    ~MuteListener() { close(m_fd); }
    bool listening() const { return m_listening; }

private:
    int m_fd = -1;
    bool m_listening = false;
};

bool Heard(const OverviewModel& model, std::size_t row)
{
    return model.Row(row).state != ControllerState::Reading;
}

} // namespace

TEST_F(RemoteOverviewTest, AnsweringAndSilentSideBySideWithTheProbesFigures)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    // How long the answering peer takes to give its first figures alone, and beside a silent one.
    const auto firstFigures = [&](const std::vector<CString>& machines,
                                  std::chrono::steady_clock::duration* silentSaid) {
        const auto start = std::chrono::steady_clock::now();
        std::chrono::steady_clock::duration answered{};
        OverviewModel model = Watch(machines, peer["password"], [&](const OverviewModel& m) {
            if (answered == decltype(answered){} && Heard(m, 0))
                answered = std::chrono::steady_clock::now() - start;
            if (silentSaid != nullptr && *silentSaid == decltype(answered){} && Heard(m, 1))
                *silentSaid = std::chrono::steady_clock::now() - start;
            return Heard(m, 0) && (silentSaid == nullptr || (Heard(m, 1) && Heard(m, 2)));
        });
        return std::make_pair(std::move(model), answered);
    };
    const auto ms = [](std::chrono::steady_clock::duration d) {
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
    };
    const auto alone = firstFigures({ u"peer1.zeltor.test" }, nullptr);
    std::chrono::steady_clock::duration silentSaid{};
    // Two controllers that answer (the same server under two names: two workers in Samba's client
    // library together) and a silent one.
    const auto [model, answered] =
        firstFigures({ u"peer1.zeltor.test", u"silent.zeltor.test", u"peer2.zeltor.test" }, &silentSaid);
    EXPECT_EQ(model.Row(0).state, ControllerState::Answering) << model.CellText(0, kOverviewState, 0).ToUtf8();
    EXPECT_EQ(model.Row(2).state, ControllerState::Answering) << model.CellText(2, kOverviewState, 0).ToUtf8();
    EXPECT_EQ(model.Row(1).state, ControllerState::NotAnswering) << model.CellText(1, kOverviewState, 0).ToUtf8();
    // The silent one within the engine's bound of the port's answer; it did not hold the other.
    EXPECT_LT(silentSaid, std::chrono::milliseconds(kReachMs + 2000));
    EXPECT_LT(answered, alone.second + std::chrono::milliseconds(1000));
    std::printf("answering alone after %lld ms, beside the silent one after %lld ms; not answering after %lld ms\n",
                ms(alone.second), ms(answered), ms(silentSaid));

    // The probe's reading of the same published sample (the databases hold one snapshot): the
    // same counters added to a query of its own, two collections, each value as a 64-bit number.
    const auto window = MakeWindowSide();
    SmbNetworkConnector& network = *window->network;
    ICounterSource* source = window->counters.get();
    ASSERT_EQ(network.AddConnection(u"\\\\peer1.zeltor.test", CString::FromUtf8(peer["password"]),
                                    CString::FromUtf8(peer["user"])),
              0u);
    ASSERT_EQ(source->ConnectMachine(u"peer1.zeltor.test"), 0u);
    PdhQuery* query = nullptr;
    ASSERT_EQ(source->OpenQuery(0, &query), 0u);
    std::vector<PdhCounter*> counters;
    for (const char16_t* path : kOverviewCounterPaths) {
        PdhCounter* counter = nullptr;
        source->AddCounter(query, u"\\\\peer1.zeltor.test" + CString(path), 0, &counter);
        counters.push_back(counter);
    }
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    ASSERT_EQ(source->CollectQueryData(query), 0u);
    int compared = 0;
    for (int i = 0; i < kOverviewFigureCount; ++i) {
        PdhFormattedValue value;
        std::optional<std::int64_t> probe;
        if (counters[i] != nullptr &&
            source->GetFormattedCounterValue(counters[i], PDH_FMT_LARGE_FORMAT, &value) == 0 &&
            value.CStatus == PDH_CSTATUS_VALID_DATA)
            probe = value.largeValue;
        EXPECT_EQ(model.Row(0).figures[static_cast<std::size_t>(i)], probe)
            << CString(kOverviewCounterPaths[i]).ToUtf8();
        compared += probe.has_value() ? 1 : 0;
    }
    EXPECT_GE(compared, 2); // the committed memory and the free space at least
    source->CloseQuery(query);
    network.CancelConnection(u"\\\\peer1.zeltor.test", true);
}

// A controller that takes the connection and never answers holds only its own worker: the others
// give their figures while it still waits for its logon, and the window's thread, collecting its
// own controller as Auto Update does, is never held by it. The longest stall of that thread's loop
// is printed (docs/remote-counters.md has the figures), and so is what Enter on an answering row
// then takes, beside the mute controller and beside one that refuses the connection instead.
TEST_F(RemoteOverviewTest, AMuteControllerHoldsOnlyItsOwnRow)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    MuteListener mute("127.0.0.10", Port());
    ASSERT_TRUE(mute.listening());
    // The peer starts its RPC servers on demand, which takes seconds on a loaded machine: once
    // with the answering two alone, so that what follows measures the mute one's effect.
    Watch({ u"peer1.zeltor.test", u"peer2.zeltor.test" }, peer["password"],
          [](const OverviewModel& m) { return Heard(m, 0) && Heard(m, 1); });

    // The main window's own connection and counters, on the window's thread (this one).
    const auto window = MakeWindowSide();
    SmbNetworkConnector& network = *window->network;
    ICounterSource* source = window->counters.get();
    ASSERT_EQ(network.AddConnection(u"\\\\peer1.zeltor.test", CString::FromUtf8(peer["password"]),
                                    CString::FromUtf8(peer["user"])),
              0u);
    PdhQuery* query = nullptr;
    ASSERT_EQ(source->OpenQuery(0, &query), 0u);
    int added = 0;
    for (const char16_t* path : kOverviewCounterPaths) {
        PdhCounter* counter = nullptr;
        added += source->AddCounter(query, u"\\\\peer1.zeltor.test" + CString(path), 0, &counter) == 0 ? 1 : 0;
    }
    ASSERT_GE(added, 2);

    const std::vector<CString> machines{ u"peer1.zeltor.test", u"mute.zeltor.test", u"peer2.zeltor.test" };
    OverviewModel model(machines);
    OverviewRefresher::Settings settings;
    settings.connect = Factory();
    settings.userName = CString::FromUtf8(peer["user"]);
    settings.password = CString::FromUtf8(peer["password"]);
    settings.intervalMs = 200;
    OverviewRefresher refresher(machines, settings, [] {});
    // The window's loop: a tick every 50 ms takes the overview's results and enters Samba's
    // libraries as any call of the window's into them does (the lock); every twentieth, as Auto
    // Update each second, it collects the window's controller. Its stall is how late a tick's
    // lock is had after the tick was due; the collections, which also wait on the peer's own
    // answers, are timed apart.
    constexpr auto kTick = std::chrono::milliseconds(50);
    const auto start = std::chrono::steady_clock::now();
    auto due = start;
    std::chrono::steady_clock::duration longestStall{}, longestCollection{}, othersHeard{};
    bool muteWaitedMeanwhile = false;
    int ticks = 0, collections = 0, collected = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(8)) {
        std::this_thread::sleep_until(due);
        for (const auto& [row, sample] : refresher.TakeResults())
            model.Apply(row, sample);
        if (othersHeard == decltype(othersHeard){} && Heard(model, 0) && Heard(model, 2)) {
            othersHeard = std::chrono::steady_clock::now() - start;
            muteWaitedMeanwhile = !Heard(model, 1);
        }
        samba_calls_enter();
        samba_calls_leave();
        longestStall = std::max(longestStall, std::chrono::steady_clock::now() - due);
        if (ticks++ % 20 == 0) {
            const auto began = std::chrono::steady_clock::now();
            ++collections;
            collected += source->CollectQueryData(query) == 0 ? 1 : 0;
            longestCollection = std::max(longestCollection, std::chrono::steady_clock::now() - began);
        }
        due = std::max(due + kTick, std::chrono::steady_clock::now());
    }
    EXPECT_EQ(model.Row(0).state, ControllerState::Answering) << model.CellText(0, kOverviewState, 0).ToUtf8();
    EXPECT_EQ(model.Row(2).state, ControllerState::Answering) << model.CellText(2, kOverviewState, 0).ToUtf8();
    // Its logon is bounded by the connection's 10 s, longer than the others took.
    EXPECT_TRUE(muteWaitedMeanwhile) << model.CellText(1, kOverviewState, 0).ToUtf8();
    EXPECT_EQ(model.Row(1).state, ControllerState::Reading) << model.CellText(1, kOverviewState, 0).ToUtf8();
    EXPECT_EQ(collected, collections);
    // Enter on an answering row while the mute one still waits for its logon.
    bool shownBesideMute = false;
    const auto enterBesideMute = ShowController(u"peer2.zeltor.test", &shownBesideMute);
    for (const auto& [row, sample] : refresher.TakeResults())
        model.Apply(row, sample);
    EXPECT_TRUE(shownBesideMute);
    EXPECT_FALSE(Heard(model, 1)) << "the mute controller's logon had ended before Enter was measured";
    // The same beside a controller that refuses the connection at once.
    const std::vector<CString> refusing{ u"peer1.zeltor.test", u"refused.zeltor.test", u"peer2.zeltor.test" };
    OverviewRefresher beside(refusing, settings, [] {});
    bool shownBesideRefusing = false;
    const auto enterBesideRefusing = ShowController(u"peer2.zeltor.test", &shownBesideRefusing);
    EXPECT_TRUE(shownBesideRefusing);
    const auto ms = [](std::chrono::steady_clock::duration d) {
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
    };
    std::
        printf("beside a mute controller: the others answered after %lld ms; the window's loop stalled at most %lld ms "
               "over %d ticks of %lld ms; its longest collection took %lld ms\n",
               ms(othersHeard), ms(longestStall), ticks, static_cast<long long>(kTick.count()), ms(longestCollection));
    std::printf("Enter on an answering row showed its figures after %lld ms beside the mute controller, "
                "%lld ms beside one that refuses the connection\n",
                ms(enterBesideMute), ms(enterBesideRefusing));
    source->CloseQuery(query);
    network.CancelConnection(u"\\\\peer1.zeltor.test", true);
}

TEST_F(RemoteOverviewTest, ARefusedPasswordIsSentOnceAndAPeerWithoutDataSaysSo)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    const int refusedBefore = RefusedLogons(peer["dir"]);
    // Many intervals of 200 ms: the refusal is final.
    OverviewModel model = Watch(
        { u"peer1.zeltor.test" }, "not-the-password", [](const OverviewModel&) { return false; }, 3000);
    EXPECT_EQ(model.Row(0).state, ControllerState::CredentialsRefused) << model.CellText(0, kOverviewState, 0).ToUtf8();
    EXPECT_EQ(RefusedLogons(peer["dir"]), refusedBefore + 1);

    ASSERT_TRUE(EmptyPerfmon(peer["perfmon"]));
    model = Watch({ u"peer1.zeltor.test" }, peer["password"], [](const OverviewModel& m) { return Heard(m, 0); });
    EXPECT_EQ(model.Row(0).state, ControllerState::NoPerformanceData) << model.CellText(0, kOverviewState, 0).ToUtf8();
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
}
