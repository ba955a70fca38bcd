// The overview's rows, states, marks and order, one controller's collections, and the workers
// that keep a silent controller from holding the others.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "app/overview.h"
#include "app/overview_refresher.h"
#include "directory/win32_error_text.h"
#include "perf/pdh_status.h"
#include "perf/status_text.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/scripted_health.h"

namespace {

constexpr PDH_STATUS kLogonRefused = PdhStatusFromWin32(win32_error::kLogonFailure);

OverviewSample Figures(std::int64_t cpu, std::int64_t memory, std::int64_t disk, std::int64_t lsass,
                       std::int64_t faults, std::int64_t takenMs)
{
    OverviewSample s;
    s.figures = { cpu, memory, disk, lsass, faults };
    s.takenMs = takenMs;
    return s;
}

OverviewSample Failed(PDH_STATUS status)
{
    OverviewSample s;
    s.status = status;
    return s;
}

std::vector<CString> Column(const OverviewModel& model, int column)
{
    std::vector<CString> shown;
    for (std::size_t row : model.Order())
        shown.push_back(model.CellText(row, column, 0));
    return shown;
}

} // namespace

TEST(OverviewModelTest, StatesComeFromTheEngineStatusesWithItsTexts)
{
    EXPECT_EQ(ControllerStateOfStatus(0), ControllerState::Answering);
    EXPECT_EQ(ControllerStateOfStatus(kLogonRefused), ControllerState::CredentialsRefused);
    EXPECT_EQ(ControllerStateOfStatus(PdhStatusFromWin32(win32_error::kAccountLockedOut)),
              ControllerState::CredentialsRefused);
    EXPECT_EQ(ControllerStateOfStatus(PdhStatusFromWin32(win32_error::kSemTimeout)), ControllerState::NotAnswering);
    EXPECT_EQ(ControllerStateOfStatus(PDH_CSTATUS_NO_MACHINE), ControllerState::NotAnswering);
    EXPECT_EQ(ControllerStateOfStatus(PDH_CANNOT_READ_NAME_STRINGS), ControllerState::NoPerformanceData);
    EXPECT_EQ(ControllerStateOfStatus(PDH_CSTATUS_NO_OBJECT), ControllerState::NoPerformanceData);

    OverviewModel model({ u"DC1", u"DC2" });
    EXPECT_EQ(model.CellText(0, kOverviewState, 0), u"reading");
    EXPECT_TRUE(model.Apply(0, Figures(5, 40, 60, 900, 30, 1000)));
    EXPECT_FALSE(model.Apply(0, Figures(6, 40, 60, 900, 30, 2000))); // still answering
    EXPECT_EQ(model.CellText(0, kOverviewState, 0), u"answering");
    EXPECT_TRUE(model.Apply(1, Failed(PDH_CSTATUS_NO_MACHINE)));
    // The engine's text on one line after the state's words.
    EXPECT_EQ(model.CellText(1, kOverviewState, 0),
              u"not answering: Unable to connect to the specified computer, or the computer is offline.");
    model.Apply(1, Failed(kLogonRefused));
    EXPECT_EQ(model.CellText(1, kOverviewState, 0).rfind(u"credentials refused: ", 0), 0u);
    EXPECT_EQ(model.CellText(1, kOverviewState, 0).find(u'\n'), CString::npos);
    model.MarkReading(1);
    EXPECT_EQ(model.CellText(1, kOverviewState, 0), u"reading");
}

TEST(OverviewModelTest, FiguresPastThresholdsAreMarkedInWordsAndKeptWithTheirAgeWhileFailing)
{
    OverviewModel model({ u"DC1" });
    EXPECT_EQ(model.CellText(0, kOverviewProcessor, 0), u"");
    EXPECT_EQ(model.CellText(0, kOverviewAge, 0), u"");
    model.Apply(0, Figures(95, 89, 9, 25000, 10000, 1000));
    EXPECT_EQ(model.CellText(0, kOverviewProcessor, 1000), u"95 (high)");
    EXPECT_EQ(model.CellText(0, kOverviewMemory, 1000), u"89");
    EXPECT_EQ(model.CellText(0, kOverviewFreeDisk, 1000), u"9 (low)");
    EXPECT_EQ(model.CellText(0, kOverviewLsassHandles, 1000), u"25000 (high)");
    EXPECT_EQ(model.CellText(0, kOverviewPageFaults, 1000), u"10000 (high)");
    EXPECT_EQ(model.CellText(0, kOverviewAge, 4999), u"3 s");
    EXPECT_FALSE(model.IsPastThreshold(0, 1));
    EXPECT_TRUE(model.IsPastThreshold(0, 2));

    // A failure keeps the last figures; their age keeps growing.
    model.Apply(0, Failed(PDH_CSTATUS_NO_MACHINE));
    EXPECT_EQ(model.CellText(0, kOverviewProcessor, 0), u"95 (high)");
    EXPECT_EQ(model.CellText(0, kOverviewAge, 61000), u"60 s");
    // A counter without valid data shows nothing, not 0.
    OverviewSample partial = Figures(1, 2, 30, 4, 5, 70000);
    partial.figures[3].reset();
    model.Apply(0, partial);
    EXPECT_EQ(model.CellText(0, kOverviewLsassHandles, 70000), u"");
    EXPECT_EQ(model.RowDescription(0, 70000),
              u"Controller: DC1, State: answering, Processor %: 1, Committed memory %: 2, Free disk %: 30, "
              u"LSASS handles: none, Page faults/sec: 5, Age: 0 s, Health: none, "
              u"Replication: none");
}

TEST(OverviewModelTest, SortsByAnyColumnWithRowsWithoutFiguresLast)
{
    OverviewModel model({ u"dc3", u"DC1", u"dc2", u"DC4" });
    EXPECT_EQ(Column(model, kOverviewController), (std::vector<CString>{ u"DC1", u"dc2", u"dc3", u"DC4" }));
    model.SortBy(kOverviewController, false);
    EXPECT_EQ(Column(model, kOverviewController), (std::vector<CString>{ u"DC4", u"dc3", u"dc2", u"DC1" }));

    model.Apply(0, Figures(50, 1, 1, 1, 1, 3000));
    model.Apply(1, Figures(7, 1, 1, 1, 1, 1000));
    model.Apply(3, Failed(PDH_CSTATUS_NO_MACHINE)); // never answered: no figures
    model.Apply(2, Figures(50, 1, 1, 1, 1, 2000));
    model.SortBy(kOverviewProcessor, true);
    EXPECT_EQ(Column(model, kOverviewController), (std::vector<CString>{ u"DC1", u"dc2", u"dc3", u"DC4" }));
    model.SortBy(kOverviewProcessor, false);
    // Ties keep the order by name; the row without figures stays last.
    EXPECT_EQ(Column(model, kOverviewController), (std::vector<CString>{ u"dc2", u"dc3", u"DC1", u"DC4" }));
    model.SortBy(kOverviewAge, false); // the oldest figures first
    EXPECT_EQ(Column(model, kOverviewController), (std::vector<CString>{ u"DC1", u"dc2", u"dc3", u"DC4" }));
    model.SortBy(kOverviewState, true);
    EXPECT_EQ(Column(model, kOverviewController).back(), u"DC4");
    EXPECT_EQ(model.PositionOf(3), 3u);

    // A new result moves its row at once.
    model.SortBy(kOverviewProcessor, true);
    model.Apply(2, Figures(1, 1, 1, 1, 1, 4000));
    EXPECT_EQ(Column(model, kOverviewController).front(), u"dc2");
    EXPECT_EQ(model.SortColumn(), kOverviewProcessor);
}

// -- One controller ------------------------------------------------------------------------------

namespace {

struct CollectorRig {
    FakeNetworkConnector* network = nullptr;
    FakeCounterSource* counters = nullptr;
    std::vector<std::uint32_t> waits;
    bool cancelled = false;
    std::unique_ptr<OverviewCollector> collector;

    explicit CollectorRig(const CString& user = CString())
    {
        ControllerConnection connection;
        connection.network = std::make_unique<FakeNetworkConnector>();
        connection.counters = std::make_unique<FakeCounterSource>();
        network = static_cast<FakeNetworkConnector*>(connection.network.get());
        counters = static_cast<FakeCounterSource*>(connection.counters.get());
        collector = std::make_unique<OverviewCollector>(
            std::move(connection), u"DC1", user, u"secret",
            [this](std::uint32_t ms) {
                waits.push_back(ms);
                return !cancelled;
            },
            [] { return std::int64_t{ 42 }; });
    }
};

} // namespace

TEST(OverviewCollectorTest, ReadsTheFiguresAsTheProbeDoesOverItsOwnConnection)
{
    CollectorRig rig(u"CORP\\admin");
    rig.counters->SetValue(u"\\Processor(_Total)\\% Processor Time", 12);
    rig.counters->SetValue(u"\\Memory\\% Committed Bytes In Use", 47);
    rig.counters->SetValue(u"\\LogicalDisk(_Total)\\% Free Space", 63);
    rig.counters->SetValue(u"\\Process(lsass)\\Handle Count", 3000000000LL); // past a LONG
    rig.counters->invalidPaths = { u"\\Memory\\Page Faults/sec" };

    const OverviewSample first = rig.collector->Collect();
    EXPECT_EQ(first.status, 0u);
    EXPECT_EQ(first.takenMs, 42);
    EXPECT_EQ(first.figures, (OverviewFigures{ 12, 47, 63, 3000000000LL, std::nullopt }));
    ASSERT_EQ(rig.network->attempts.size(), 1u);
    EXPECT_EQ(rig.network->attempts[0].remoteName, u"\\\\DC1");
    EXPECT_EQ(rig.network->attempts[0].userName, u"CORP\\admin");
    EXPECT_EQ(rig.counters->addedPaths.front(), u"\\\\DC1\\Processor(_Total)\\% Processor Time");
    // The first collection is followed by a second a second later, for the rates.
    EXPECT_EQ(rig.counters->collects, 2);
    EXPECT_EQ(rig.waits, std::vector<std::uint32_t>{ OverviewCollector::kRateIntervalMs });

    rig.collector->Collect();
    EXPECT_EQ(rig.counters->collects, 3);
    EXPECT_EQ(rig.network->attempts.size(), 1u);
    EXPECT_EQ(rig.counters->connectCalls, 1);

    // A failed collection closes the query; the next one connects again.
    rig.counters->collectResults = { PDH_CSTATUS_NO_MACHINE };
    EXPECT_EQ(rig.collector->Collect().status, PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(rig.counters->openQueries, 0);
    EXPECT_EQ(rig.collector->Collect().status, 0u);
    EXPECT_EQ(rig.counters->connectCalls, 2);
}

TEST(OverviewCollectorTest, RefusedCredentialsAreNotSentAgainUntilTheUserAsks)
{
    CollectorRig rig(u"admin");
    rig.network->addResults = { win32_error::kAccountLockedOut };
    for (int i = 0; i < 3; ++i) {
        // The refusal keeps its own reason while nothing is sent.
        const OverviewSample s = rig.collector->Collect();
        EXPECT_EQ(s.status, PdhStatusFromWin32(win32_error::kAccountLockedOut));
    }
    EXPECT_EQ(rig.network->attempts.size(), 1u);
    EXPECT_EQ(rig.counters->connectCalls, 0);
    EXPECT_TRUE(rig.collector->IsRefused());

    rig.collector->AllowRetry();
    EXPECT_EQ(rig.collector->Collect().status, 0u);
    EXPECT_EQ(rig.network->attempts.size(), 2u);

    // A refusal given by the counters' own logon: the connection is dropped and made anew only
    // when the user asks.
    rig.counters->collectResults = { kLogonRefused };
    EXPECT_EQ(rig.collector->Collect().status, kLogonRefused);
    EXPECT_EQ(rig.collector->Collect().status, kLogonRefused);
    EXPECT_EQ(rig.counters->collects, 3);
    rig.collector->AllowRetry();
    EXPECT_EQ(rig.network->cancelled, std::vector<CString>{ u"\\\\DC1" });
    EXPECT_EQ(rig.collector->Collect().status, 0u);
    EXPECT_EQ(rig.network->attempts.size(), 3u);
}

TEST(OverviewCollectorTest, AccessDeniedIsRetriedWithinTheQueryBoundAndNoDataIsSaidSo)
{
    {
        CollectorRig rig;
        rig.counters->connectResults = { PDH_ACCESS_DENIED };
        EXPECT_EQ(rig.collector->Collect().status, PDH_ACCESS_DENIED);
        EXPECT_EQ(rig.counters->connectCalls, 1 + ControllerSession::kMaxAccessDeniedRetries);
        EXPECT_TRUE(rig.network->attempts.empty()); // no user name: the user's own ticket
    }
    {
        // Cancelled: the retries end at once.
        CollectorRig rig;
        rig.cancelled = true;
        rig.counters->connectResults = { PDH_ACCESS_DENIED };
        rig.collector->Collect();
        EXPECT_EQ(rig.counters->connectCalls, 1);
    }
    {
        CollectorRig rig;
        for (const char16_t* path : kOverviewCounterPaths)
            rig.counters->unpublishedPaths.push_back(u"\\\\DC1" + CString(path));
        const OverviewSample s = rig.collector->Collect();
        EXPECT_EQ(ControllerStateOfStatus(s.status), ControllerState::NoPerformanceData);
        rig.counters->unpublishedPaths.clear();
        rig.counters->invalidPaths.assign(kOverviewCounterPaths.begin(), kOverviewCounterPaths.end());
        EXPECT_EQ(ControllerStateOfStatus(rig.collector->Collect().status), ControllerState::NoPerformanceData);
    }
}

// -- The workers -----------------------------------------------------------------------------------

namespace {

// Controllers by name: "SILENT" holds every connection until released, "REFUSING" refuses the
// password, any other answers with its figures. Counts what reached each.
struct Domain {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::map<std::string, int> logons;
    std::atomic<int> cancelled{ 0 };

    class Source : public FakeCounterSource {
    public:
        explicit Source(Domain& d) : domain(d) { SetValue(u"\\Processor(_Total)\\% Processor Time", 33); }
        PDH_STATUS ConnectMachine(const CString& machine) override
        {
            if (machine == u"SILENT") {
                std::unique_lock lock(domain.mutex);
                domain.released.wait(lock, [&] { return domain.release; });
                return PdhStatusFromWin32(win32_error::kSemTimeout);
            }
            return FakeCounterSource::ConnectMachine(machine);
        }
        Domain& domain;
    };
    class Network : public FakeNetworkConnector {
    public:
        explicit Network(Domain& d) : domain(d) {}
        std::uint32_t AddConnection(const CString& remoteName, const CString&, const CString&) override
        {
            const std::lock_guard lock(domain.mutex);
            ++domain.logons[remoteName.ToUtf8()];
            return remoteName == u"\\\\REFUSING" ? win32_error::kLogonFailure : 0;
        }
        std::uint32_t CancelConnection(const CString&, bool) override
        {
            ++domain.cancelled;
            return 0;
        }
        Domain& domain;
    };

    ControllerConnection Connect()
    {
        ControllerConnection c;
        c.network = std::make_unique<Network>(*this);
        c.counters = std::make_unique<Source>(*this);
        return c;
    }
    int Logons(const std::string& remote)
    {
        const std::lock_guard lock(mutex);
        return logons[remote];
    }
    void Release()
    {
        {
            const std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
    }
};

// Takes results until done says so or five seconds pass.
template <typename Done>
bool TakeUntil(OverviewRefresher& refresher, OverviewModel& model, Done done)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        for (const auto& [row, sample] : refresher.TakeResults())
            model.Apply(row, sample);
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

} // namespace

TEST(OverviewRefresherTest, ASilentControllerHoldsOnlyItsOwnRowAndARefusalWaitsForTheUser)
{
    Domain domain;
    std::atomic<int> notified{ 0 };
    const std::vector<CString> names{ u"DC1", u"SILENT", u"REFUSING", u"DC2" };
    OverviewModel model(names);
    OverviewRefresher::Settings settings;
    settings.connect = [&] { return domain.Connect(); };
    settings.userName = u"admin";
    settings.password = u"secret";
    settings.intervalMs = 10;
    auto refresher = std::make_unique<OverviewRefresher>(names, settings, [&] { ++notified; });

    // The others answer again and again while the silent one still holds its worker.
    int answers = 0;
    ASSERT_TRUE(TakeUntil(*refresher, model, [&] {
        answers += model.Row(3).takenMs.has_value() ? 1 : 0;
        return answers > 5 && model.Row(2).state == ControllerState::CredentialsRefused;
    }));
    EXPECT_EQ(model.Row(0).state, ControllerState::Answering);
    EXPECT_EQ(model.Row(0).figures[0], 33);
    EXPECT_EQ(model.Row(1).state, ControllerState::Reading);
    EXPECT_GT(notified.load(), 0);
    // Many intervals later the refused password was still sent once.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(domain.Logons("\\\\REFUSING"), 1);
    refresher->RefreshNow(2);
    ASSERT_TRUE(TakeUntil(*refresher, model, [&] { return domain.Logons("\\\\REFUSING") == 2; }));

    refresher->SetInterval(5000);
    EXPECT_EQ(refresher->Interval(), 5000u);

    // Stop does not wait for the silent worker; nothing is told after it.
    const auto before = std::chrono::steady_clock::now();
    refresher->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
    const int told = notified.load();
    domain.Release();
    refresher.reset(); // waits for the workers, which cancel their connections
    EXPECT_EQ(notified.load(), told);
    EXPECT_EQ(domain.cancelled.load(), 3); // DC1, SILENT, DC2: each opened one; REFUSING none
}

TEST(OverviewRefresherTest, HealthIsCheckedBesideTheCountersAndSharesTheirRefusal)
{
    // DC1 is healthy; DOWN's directory does not answer, its counters do; REFUSING refuses the
    // counters' logon; WRONGPW takes the counters' logon but not the checks' (its password changed
    // for the directory alone, say).
    Domain domain;
    const auto health = std::make_shared<ScriptedHealth>();
    health->SetDown("DOWN");
    const std::vector<CString> names{ u"DC1", u"DOWN", u"REFUSING" };
    OverviewModel model(names);
    OverviewRefresher::Settings settings;
    settings.connect = [&] { return domain.Connect(); };
    settings.userName = u"admin";
    settings.password = u"right";
    settings.intervalMs = 10;
    settings.health = health;
    settings.healthIntervalMs = 30;
    // WRONGPW's own overview, with a password the counters' fake takes and the checks refuse.
    OverviewRefresher refresher(names, settings, [] {});
    settings.password = u"wrong";
    OverviewModel wrongModel({ u"WRONGPW" });
    OverviewRefresher wrong({ u"WRONGPW" }, settings, [] {});

    const auto take = [&] {
        for (const auto& [row, report] : refresher.TakeHealthResults())
            model.ApplyHealth(row, report);
        for (const auto& [row, report] : wrong.TakeHealthResults())
            wrongModel.ApplyHealth(row, report);
        for (const auto& [row, sample] : wrong.TakeResults())
            wrongModel.Apply(row, sample);
    };
    int checksOfDc1 = 0;
    ASSERT_TRUE(TakeUntil(refresher, model, [&] {
        take();
        checksOfDc1 = health->Logons("DC1") / 3;
        return checksOfDc1 >= 3 && model.Row(1).health && model.Row(2).health && wrongModel.Row(0).health &&
               wrongModel.Row(0).state == ControllerState::CredentialsRefused;
    }));
    // Checked again and again, less often than the counters are collected.
    EXPECT_GT(model.Row(0).takenMs.value_or(0), 0);
    EXPECT_EQ(model.CellText(0, kOverviewHealth, 0), u"ok");
    EXPECT_EQ(model.CellText(1, kOverviewHealth, 0),
              u"LDAP, global catalog, clock failing (LDAP: no answer from DOWN; global catalog: no answer from DOWN; "
              u"clock: no currentTime: the rootDSE could not be read)");
    EXPECT_EQ(model.Row(1).state, ControllerState::Answering); // its counters still read
    // The counters' refusal withholds the credentials from the checks.
    EXPECT_EQ(health->Logons("REFUSING"), 0);
    EXPECT_EQ(model.CellText(2, kOverviewHealth, 0),
              u"LDAP bind, SYSVOL, NETLOGON failing (not tried: the logon was refused; Refresh tries again)");
    // The checks' refusal stops the counters: one refused logon of each, however many intervals.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    take();
    EXPECT_EQ(health->Logons("WRONGPW"), 1);
    EXPECT_EQ(domain.Logons("\\\\WRONGPW"), 1);
    EXPECT_EQ(wrongModel.Row(0).state, ControllerState::CredentialsRefused);
    // Sorted by health: the healthy first, the unchecked last.
    model.SortBy(kOverviewHealth, true);
    EXPECT_EQ(model.Order().front(), 0u);

    // Asked again: the counters collect first (on the connection they kept), then the checks
    // send the credentials once more, and again only once.
    wrong.RefreshNow(0);
    ASSERT_TRUE(TakeUntil(wrong, wrongModel, [&] { return health->Logons("WRONGPW") == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(health->Logons("WRONGPW"), 2);
    EXPECT_EQ(domain.Logons("\\\\WRONGPW"), 1);
    refresher.Stop();
    wrong.Stop();
}
