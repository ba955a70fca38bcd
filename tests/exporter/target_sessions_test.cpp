// The sessions over a scripted registry that behaves as the real one does with credentials: a
// refused logon is not sent again before the backoff ends, a slow target answers its scrape by
// the deadline and holds no one else beyond the concurrency limit, one session's calls never
// overlap, and a closing session is waited for at the end.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <set>
#include <thread>

#include "exporter/status_page.h"
#include "perf/pdh_status.h"
#include "platform/linux/exporter/target_sessions.h"
#include "tests/fakes/perf_data_builder.h"
#include "tests/fakes/scripted_health.h"
#include "tests/fakes/scripted_replication.h"

namespace {

using namespace std::chrono_literals;
using Clock = TargetSessions::Clock;

// Counts the logons it is asked for, per machine; refuses every password but "right" and marks
// the refusal as SambaPerformanceRegistry does, after which those credentials are never sent.
// With a delay it takes that long and then finds nothing listening.
struct ScriptedTargets {
    std::mutex mutex;
    std::map<std::string, int> logons;
    std::map<std::string, std::chrono::milliseconds> delays;
    std::set<std::string> serving;                                // machines that answer with the data below
    bool withProcess = false;                                     // whether the data has the Process object
    int dataReads = 0;                                            // the counters' data asked for, all machines together
    std::map<std::string, std::chrono::milliseconds> callDelays;  // each call to the machine takes this
    std::map<std::string, int> calling;                           // calls under way, by machine
    int overlaps = 0;                                             // calls that found another of their machine under way
    std::map<std::string, std::chrono::milliseconds> closeDelays; // the logoff at the machine takes this
    int closed = 0;                                               // connections closed, all machines together
};

// A call to machine under way, for as long as the machine's call delay.
class MachineCall {
public:
    MachineCall(ScriptedTargets& targets, const std::string& machine) : m_targets(targets), m_machine(machine)
    {
        std::chrono::milliseconds delay{};
        {
            const std::lock_guard lock(m_targets.mutex);
            if (m_targets.calling[machine]++ > 0)
                ++m_targets.overlaps;
            if (m_targets.callDelays.contains(machine))
                delay = m_targets.callDelays[machine];
        }
        std::this_thread::sleep_for(delay);
    }
    ~MachineCall()
    {
        const std::lock_guard lock(m_targets.mutex);
        --m_targets.calling[m_machine];
    }

private:
    ScriptedTargets& m_targets;
    std::string m_machine;
};

constexpr std::uint32_t kRate = 0x10410400, kRawCount = 0x00010000;

// Memory\Page Faults/sec, and Process(lsass)\Handle Count when the target has it, as Samba sends them.
class ServingKey : public IPerformanceKey {
public:
    ServingKey(ScriptedTargets& targets, std::string machine) : m_targets(targets), m_machine(std::move(machine)) {}
    ~ServingKey() override
    {
        std::chrono::milliseconds delay{};
        {
            const std::lock_guard lock(m_targets.mutex);
            if (m_targets.closeDelays.contains(m_machine))
                delay = m_targets.closeDelays[m_machine];
        }
        std::this_thread::sleep_for(delay);
        const std::lock_guard lock(m_targets.mutex);
        ++m_targets.closed;
    }
    std::uint32_t QueryValue(const std::string& name, std::span<std::uint8_t> buffer, std::uint32_t* length,
                             std::uint32_t* type, std::uint32_t* needed) override
    {
        const MachineCall call(m_targets, m_machine);
        std::vector<std::uint8_t> value;
        if (name == "Counter 009") {
            value = BuildCounterNames(
                { { 2, "Memory" }, { 4, "Page Faults/sec" }, { 6, "Process" }, { 8, "Handle Count" } });
        } else {
            TestBlock block;
            block.objects.push_back(TestObject{ 2, { { 4, kRate } }, { 1000 }, false, {} });
            const std::lock_guard lock(m_targets.mutex);
            ++m_targets.dataReads;
            if (m_targets.withProcess)
                block.objects.push_back(TestObject{ 6, { { 8, kRawCount } }, {}, true, { { u"lsass", { 7 } } } });
            value = BuildPerfData(block, TestLayout::Samba);
        }
        *type = 3; // REG_BINARY
        *needed = 0;
        *length = static_cast<std::uint32_t>(std::min(value.size(), buffer.size()));
        std::copy_n(value.begin(), *length, buffer.begin());
        return 0;
    }
    bool IsCurrent() const override { return true; }

private:
    ScriptedTargets& m_targets;
    std::string m_machine;
};

class ScriptedRegistry : public IPerformanceRegistry {
public:
    ScriptedRegistry(CredentialRegistry& credentials, ScriptedTargets& targets)
        : m_credentials(credentials), m_targets(targets)
    {
    }

    std::uint32_t Open(const std::string& machine, std::unique_ptr<IPerformanceKey>* key) override
    {
        const MachineCall call(m_targets, machine);
        const std::optional<CredentialRegistry::Entry> entry = m_credentials.Find(machine);
        if (!entry)
            return 5;
        if (entry->refusal != 0)
            return entry->refusal;
        std::chrono::milliseconds delay{};
        {
            const std::lock_guard lock(m_targets.mutex);
            ++m_targets.logons[machine];
            if (m_targets.delays.contains(machine))
                delay = m_targets.delays[machine];
        }
        if (delay.count() > 0) {
            std::this_thread::sleep_for(delay);
            return 53; // ERROR_BAD_NETPATH
        }
        if (entry->credentials.password != "right") {
            m_credentials.MarkRefused(entry->id, 1326);
            return 1326;
        }
        const std::lock_guard lock(m_targets.mutex);
        if (!m_targets.serving.contains(machine))
            return 53;
        *key = std::make_unique<ServingKey>(m_targets, machine);
        return 0;
    }

private:
    CredentialRegistry& m_credentials;
    ScriptedTargets& m_targets;
};

class TargetSessionsTest : public ::testing::Test {
protected:
    std::unique_ptr<TargetSessions> Sessions(Clock::duration backoff, unsigned maxConcurrent,
                                             Clock::duration idle = std::chrono::hours(1),
                                             Clock::duration lackingRetry = std::chrono::hours(1))
    {
        std::map<std::string, SmbCredentials> credentials;
        credentials.emplace("good", SmbCredentials({}, "reader", "right"));
        credentials.emplace("bad", SmbCredentials({}, "reader", "wrong"));
        credentials["keytab"].ticketCache = "FILE:/nonexistent/ticket";
        TargetSessions::Settings settings;
        settings.refusedLogonBackoff = backoff;
        settings.maxConcurrent = maxConcurrent;
        settings.sessionIdle = idle;
        settings.lackingRetry = lackingRetry;
        settings.health = health;
        settings.replication = [this] {
            ++readersMade;
            return replication;
        };
        return std::make_unique<TargetSessions>(
            settings, std::move(credentials),
            [this](CredentialRegistry& registry) { return std::make_unique<ScriptedRegistry>(registry, targets); },
            [this](const std::string& line) { log.push_back(line); });
    }

    static ExporterAuth Auth(const std::string& name)
    {
        ExporterAuth auth;
        auth.name = name;
        return auth;
    }

    int Logons(const std::string& machine)
    {
        const std::lock_guard lock(targets.mutex);
        return targets.logons[machine];
    }

    ScriptedTargets targets;
    std::shared_ptr<ScriptedHealth> health = std::make_shared<ScriptedHealth>();
    std::shared_ptr<ScriptedReplication> replication = std::make_shared<ScriptedReplication>();
    std::atomic<int> readersMade = 0;
    std::vector<std::string> log;
    const ExporterModule module = DomainControllerModule();
};

} // namespace

TEST_F(TargetSessionsTest, ARefusedLogonIsSentOncePerBackoffAndOnlyForItsTargetAndAuth)
{
    auto sessions = Sessions(400ms, 4);
    const auto probe = [&](const std::string& target, const std::string& auth) {
        return sessions->Probe(target, module, Auth(auth), Clock::now() + 2s);
    };
    ProbeOutcome outcome = probe("dc1", "bad");
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.status, PdhStatusFromWin32(1326));
    EXPECT_EQ(outcome.statusText, "The user name or password is incorrect.");
    EXPECT_EQ(Logons("dc1"), 1);
    EXPECT_EQ(sessions->RefusedLogons(), 1u);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].find("right"), std::string::npos);
    EXPECT_EQ(log[0].find("wrong"), std::string::npos); // no password in the log

    // Within the backoff: the refusal again, at once, with nothing sent.
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        outcome = probe("DC1", "bad");
        EXPECT_EQ(outcome.status, PdhStatusFromWin32(1326));
        EXPECT_LT(Clock::now() - start, 100ms);
    }
    // The name with a final dot is the same target, and its session.
    EXPECT_EQ(probe("dc1.", "bad").status, PdhStatusFromWin32(1326));
    EXPECT_EQ(Logons("dc1"), 1);
    EXPECT_EQ(sessions->RefusedLogons(), 1u);
    // Another auth of the same target, and another target, are sessions of their own.
    EXPECT_EQ(probe("dc1", "good").status, PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(Logons("dc1"), 2);
    EXPECT_EQ(probe("dc2", "bad").status, PdhStatusFromWin32(1326));
    EXPECT_EQ(sessions->RefusedLogons(), 2u);
    EXPECT_EQ(sessions->SessionCount(), 3u);

    // The backoff over: one more try, refused, and another backoff.
    std::this_thread::sleep_for(450ms);
    EXPECT_EQ(probe("dc1", "bad").status, PdhStatusFromWin32(1326));
    EXPECT_EQ(probe("dc1", "bad").status, PdhStatusFromWin32(1326));
    EXPECT_EQ(Logons("dc1"), 3);
    EXPECT_EQ(sessions->RefusedLogons(), 3u);
}

TEST_F(TargetSessionsTest, ASlowTargetAnswersByTheDeadlineAndHoldsOnlyItsOwnPlace)
{
    targets.delays["silent"] = 1500ms;
    auto sessions = Sessions(1h, 2);
    const auto timed = [&](const std::string& target, Clock::duration budget, ProbeOutcome* outcome) {
        const auto start = Clock::now();
        *outcome = sessions->Probe(target, module, Auth("good"), start + budget);
        return Clock::now() - start;
    };
    ProbeOutcome outcome;
    // The silent target's scrape ends at its deadline, as a timeout; its collection goes on.
    Clock::duration took = timed("silent", 300ms, &outcome);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.status, PdhStatusFromWin32(121));
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 450ms);
    EXPECT_NEAR(outcome.durationSeconds, 0.3, 0.15);
    EXPECT_EQ(sessions->CollectionsInFlight(), 1u);
    // A second scrape of the same session waits its turn, and no longer than its own deadline.
    took = timed("silent", 200ms, &outcome);
    EXPECT_EQ(outcome.status, PdhStatusFromWin32(121));
    EXPECT_LT(took, 350ms);
    EXPECT_EQ(Logons("silent"), 1);
    // Another target is not held: the limit of two leaves it a place.
    took = timed("other", 1s, &outcome);
    EXPECT_EQ(outcome.status, PDH_CSTATUS_NO_MACHINE);
    EXPECT_LT(took, 200ms);

    // With the only place taken by a silent target, another waits for it until its deadline.
    auto single = Sessions(1h, 1);
    std::thread first([&] { single->Probe("silent", module, Auth("good"), Clock::now() + 100ms); });
    first.join();
    ASSERT_EQ(single->CollectionsInFlight(), 1u);
    const auto start = Clock::now();
    outcome = single->Probe("other", module, Auth("good"), start + 200ms);
    EXPECT_EQ(outcome.status, PdhStatusFromWin32(121));
    EXPECT_LT(Clock::now() - start, 350ms);
    // Once the silent collection ends, the place is free again.
    std::this_thread::sleep_for(1600ms);
    EXPECT_EQ(single->CollectionsInFlight(), 0u);
    EXPECT_EQ(single->Probe("other", module, Auth("good"), Clock::now() + 1s).status, PDH_CSTATUS_NO_MACHINE);
}

TEST_F(TargetSessionsTest, CollectionsRunOnKeptWorkersNeverMoreThanTheLimit)
{
    const auto threads = [] {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
            ++count;
        return count;
    };
    targets.serving = { "dc1", "dc2" };
    targets.delays["silent"] = 300ms;
    auto sessions = Sessions(1h, 2);
    const std::size_t before = threads();
    EXPECT_TRUE(sessions->Probe("dc1", module, Auth("good"), Clock::now() + 2s).success);
    const std::size_t working = threads();
    EXPECT_EQ(working, before + 1);
    // Scrapes one after another, and beside a collection that takes a place for a while.
    std::thread slow([&] { sessions->Probe("silent", module, Auth("good"), Clock::now() + 2s); });
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(sessions->Probe(i % 2 ? "dc1" : "dc2", module, Auth("good"), Clock::now() + 2s).success);
    slow.join();
    EXPECT_LE(threads(), before + 2);
}

TEST_F(TargetSessionsTest, AnIdleSessionIsClosedButNotWhileItKeepsABackoff)
{
    auto sessions = Sessions(1h, 4, 200ms);
    const auto probe = [&](const std::string& target, const std::string& auth) {
        return sessions->Probe(target, module, Auth(auth), Clock::now() + 2s);
    };
    EXPECT_EQ(probe("dc1", "good").status, PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(probe("dc2", "bad").status, PdhStatusFromWin32(1326));
    EXPECT_EQ(sessions->SessionCount(), 2u);
    std::this_thread::sleep_for(250ms);
    // Another scrape closes what was idle: dc1's session goes, dc2's stays with its refusal.
    EXPECT_EQ(probe("dc3", "good").status, PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(sessions->SessionCount(), 2u);
    EXPECT_EQ(probe("dc2", "bad").status, PdhStatusFromWin32(1326));
    EXPECT_EQ(Logons("dc2"), 1); // the refused credentials were not sent again
    EXPECT_EQ(sessions->SessionCount(), 2u);
}

TEST_F(TargetSessionsTest, ACounterTheTargetLackedIsLookedForAgainOnTheSameLogon)
{
    targets.serving.insert("dc1");
    auto sessions = Sessions(1h, 4, 1h, 300ms);
    ExporterModule two;
    two.name = "two";
    two.paths = { "\\Memory\\Page Faults/sec", "\\Process(lsass)\\Handle Count" };
    const auto probe = [&] { return sessions->Probe("dc1", two, Auth("good"), Clock::now() + 2s); };

    ProbeOutcome outcome = probe();
    ASSERT_TRUE(outcome.success) << outcome.statusText;
    ASSERT_EQ(outcome.counters.size(), 2u);
    EXPECT_EQ(outcome.counters[0].addStatus, 0u);
    EXPECT_EQ(outcome.counters[0].type, kRate);
    EXPECT_EQ(outcome.counters[0].sample.first, 1000u);
    EXPECT_EQ(outcome.counters[1].addStatus, PDH_CSTATUS_NO_OBJECT);
    EXPECT_EQ(RenderProbe(outcome).find("zeltor_process_handles"), std::string::npos);

    // The object appears (a provider that was not ready): found once the retry time has passed.
    {
        const std::lock_guard lock(targets.mutex);
        targets.withProcess = true;
    }
    EXPECT_EQ(probe().counters[1].addStatus, PDH_CSTATUS_NO_OBJECT);
    std::this_thread::sleep_for(350ms);
    outcome = probe();
    ASSERT_TRUE(outcome.success);
    EXPECT_EQ(outcome.counters[1].addStatus, 0u);
    EXPECT_EQ(outcome.counters[1].sample.first, 7u);
    const std::string text = RenderProbe(outcome);
    EXPECT_NE(text.find("zeltor_process_handles{pdh_instance=\"lsass\"} 7\n"), std::string::npos) << text;
    EXPECT_NE(text.find("zeltor_memory_page_faults_total 1000\n"), std::string::npos);
    EXPECT_EQ(Logons("dc1"), 1); // all on the one logon
}

TEST_F(TargetSessionsTest, ATargetLackingEveryCounterOfAModuleIsStillAskedEachTime)
{
    const auto sessions = Sessions(std::chrono::hours(1), 4);
    {
        const std::lock_guard lock(targets.mutex);
        targets.serving.insert("dc1");
    }
    ExporterModule directory;
    directory.name = "directory";
    directory.paths = { "\\NTDS\\LDAP Searches/sec", "\\Security System-Wide Statistics\\NTLM Authentications" };
    int readsBefore = 0;
    for (int scrape = 0; scrape < 3; ++scrape) {
        {
            const std::lock_guard lock(targets.mutex);
            readsBefore = targets.dataReads;
        }
        const ProbeOutcome outcome = sessions->Probe("dc1", directory, Auth("good"), Clock::now() + 5s);
        EXPECT_TRUE(outcome.success) << outcome.statusText;
        ASSERT_EQ(outcome.counters.size(), 2u);
        for (const CounterReading& reading : outcome.counters)
            EXPECT_EQ(reading.addStatus, static_cast<PDH_STATUS>(PDH_CSTATUS_NO_OBJECT)) << reading.path;
        const std::lock_guard lock(targets.mutex);
        // The target answered this time (the first time it also gave the definitions).
        EXPECT_EQ(targets.dataReads, readsBefore + (scrape == 0 ? 2 : 1)) << "scrape " << scrape;
    }
    EXPECT_EQ(Logons("dc1"), 1);
}

TEST_F(TargetSessionsTest, TwoModulesOfOneControllerTakeTurnsWhenEveryPlaceWasTaken)
{
    targets.serving.insert("dc1");
    targets.delays["silent1"] = targets.delays["silent2"] = 600ms;
    targets.callDelays["dc1"] = 50ms;
    auto sessions = Sessions(1h, 2);
    // Both places held by silent controllers, past their scrapes' deadlines.
    for (const char* silent : { "silent1", "silent2" })
        EXPECT_EQ(sessions->Probe(silent, module, Auth("good"), Clock::now() + 50ms).status, PdhStatusFromWin32(121));
    ASSERT_EQ(sessions->CollectionsInFlight(), 2u);

    // Two modules of one controller wait for a place; once both places are free, one collects
    // and the other waits for the session.
    ExporterModule memory;
    memory.name = "memory";
    memory.paths = { "\\Memory\\Page Faults/sec" };
    ProbeOutcome dc, faults;
    std::thread first([&] { dc = sessions->Probe("dc1", module, Auth("good"), Clock::now() + 5s); });
    std::thread second([&] { faults = sessions->Probe("dc1", memory, Auth("good"), Clock::now() + 5s); });
    first.join();
    second.join();
    EXPECT_TRUE(dc.success) << dc.statusText;
    ASSERT_TRUE(faults.success) << faults.statusText;
    ASSERT_EQ(faults.counters.size(), 1u);
    EXPECT_EQ(faults.counters[0].sample.first, 1000u);
    EXPECT_EQ(sessions->SessionCount(), 3u);
    const std::lock_guard lock(targets.mutex);
    EXPECT_EQ(targets.overlaps, 0);
    EXPECT_EQ(targets.logons["dc1"], 1);
}

TEST_F(TargetSessionsTest, AnIdleSessionIsClosedOnAWorkerThatTheEndWaitsFor)
{
    targets.serving = { "dc1", "dc2" };
    targets.closeDelays["dc1"] = 500ms;
    auto sessions = Sessions(1h, 4, 100ms);
    EXPECT_TRUE(sessions->Probe("dc1", module, Auth("good"), Clock::now() + 2s).success);
    std::this_thread::sleep_for(150ms);
    // dc1's session is idle: this scrape hands it over to be closed and does not wait for its logoff.
    EXPECT_TRUE(sessions->Probe("dc2", module, Auth("good"), Clock::now() + 2s).success);
    EXPECT_EQ(sessions->SessionCount(), 1u);
    {
        const std::lock_guard lock(targets.mutex);
        EXPECT_EQ(targets.closed, 0);
    }
    // The end waits for the logoff under way: nothing of the sessions runs past it.
    sessions.reset();
    const std::lock_guard lock(targets.mutex);
    EXPECT_EQ(targets.closed, 2);
}

TEST_F(TargetSessionsTest, HealthChecksRunBesideTheSessionAndShareItsRefusal)
{
    targets.delays["dc1"] = 1500ms; // the counters' logon hangs
    auto sessions = Sessions(400ms, 1);
    const ExporterModule checks = HealthModule();
    // A collection of dc1 holds its session and the only place; the checks of dc1 need neither.
    std::thread slow([&] { sessions->Probe("dc1", module, Auth("good"), Clock::now() + 3s); });
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(sessions->CollectionsInFlight(), 1u);
    const auto start = Clock::now();
    ProbeOutcome outcome = sessions->Probe("dc1", checks, Auth("good"), start + 3s);
    EXPECT_LT(Clock::now() - start, 1s);
    ASSERT_TRUE(outcome.health);
    EXPECT_TRUE(outcome.success) << outcome.statusText;
    const std::string text = RenderProbe(outcome);
    EXPECT_NE(text.find("zeltor_probe_success 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("zeltor_health_check_success{check=\"ldap_bind\"} 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("# TYPE zeltor_directory_highest_committed_usn counter\n"
                        "zeltor_directory_highest_committed_usn 4242\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("check=\"global_catalog\""), std::string::npos); // not a catalog, and says so
    EXPECT_EQ(sessions->SessionCount(), 1u);
    slow.join();

    // A wrong password refused to the checks: one logon (the shares wait for the bind's and are
    // not tried), and the counters of the same target and auth send nothing until the backoff ends.
    outcome = sessions->Probe("dc2", checks, Auth("bad"), Clock::now() + 3s);
    EXPECT_TRUE(outcome.success); // the checks were made; some failed
    EXPECT_EQ(outcome.statusText, "LDAP bind, SYSVOL, NETLOGON failing");
    EXPECT_NE(RenderProbe(outcome).find("zeltor_health_check_success{check=\"ldap_bind\"} 0\n"), std::string::npos);
    EXPECT_EQ(health->Logons(), 1 + 3);
    EXPECT_EQ(sessions->RefusedLogons(), 1u);
    EXPECT_EQ(sessions->Probe("dc2", module, Auth("bad"), Clock::now() + 3s).status, PdhStatusFromWin32(1326));
    EXPECT_EQ(Logons("dc2"), 0);
    outcome = sessions->Probe("dc2", checks, Auth("bad"), Clock::now() + 3s);
    EXPECT_EQ(health->Logons(), 4);
    EXPECT_NE(outcome.health->Find(HealthCheckKind::LdapBind)
                  ->detail.find("not tried: the logon of auth bad was refused"),
              std::string::npos);
    EXPECT_TRUE(outcome.health->Find(HealthCheckKind::Kerberos)->success); // a KDC's answer needs no logon

    // The backoff over: the counters come first and take the one try, refused; the checks that
    // follow send nothing, and the page's row says what failed.
    std::this_thread::sleep_for(450ms);
    EXPECT_EQ(sessions->Probe("dc2", module, Auth("bad"), Clock::now() + 3s).status, PdhStatusFromWin32(1326));
    EXPECT_EQ(Logons("dc2"), 1);
    outcome = sessions->Probe("dc2", checks, Auth("bad"), Clock::now() + 3s);
    EXPECT_EQ(health->Logons(), 4);
    EXPECT_EQ(sessions->RefusedLogons(), 2u);
    LastProbes probes;
    probes.Note(LastProbeOf("dc2", "health", "bad", 0, outcome, Clock::now()));
    ExporterConfig config;
    config.modules = { HealthModule() };
    const std::string page = RenderStatusPage("1.0", config, probes, Clock::now());
    EXPECT_NE(page.find("<li>health (the controller's health checks)</li>"), std::string::npos) << page;
    EXPECT_NE(page.find("<td class=\"failure\">LDAP bind, SYSVOL, NETLOGON failing</td><td class=\"n\">4 of 7</td>"),
              std::string::npos)
        << page;
}

TEST_F(TargetSessionsTest, ReplicationKeepsItsReaderAndSharesTheSessionsRefusal)
{
    const std::int64_t now = std::time(nullptr);
    replication->Answer("dc1", { { "DC2" }, { "DC3", 4, 1722, std::int64_t{ 3 } * 3600 } }, now);
    auto sessions = Sessions(400ms, 4);
    const ExporterModule read = ReplicationModule();
    ProbeOutcome outcome = sessions->Probe("dc1", read, Auth("good"), Clock::now() + 3s);
    ASSERT_TRUE(outcome.replication);
    EXPECT_TRUE(outcome.success) << outcome.statusText;
    outcome = sessions->Probe("dc1", read, Auth("good"), Clock::now() + 3s);
    EXPECT_EQ(replication->Reads("dc1"), 2);
    EXPECT_EQ(readersMade, 1); // one reader a session, its connection kept between scrapes
    // A keytab's ticket is not the reader's: nothing is sent in its place.
    const ProbeOutcome keytab = sessions->Probe("dc1", read, Auth("keytab"), Clock::now() + 3s);
    EXPECT_FALSE(keytab.success);
    EXPECT_NE(keytab.statusText.find("keytab"), std::string::npos) << keytab.statusText;
    EXPECT_EQ(replication->Reads("dc1"), 2);
    const std::string text = RenderProbe(outcome);
    const std::string dc3 = "naming_context=\"DC=example,DC=com\",partner=\"Site\\\\DC3\",partner_guid=\"guid-of-DC3\"";
    EXPECT_NE(text.find("zeltor_probe_success 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("zeltor_replication_consecutive_failures{" + dc3 + "} 4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("zeltor_replication_last_result_info{" + dc3 +
                        ",result=\"1722\",text=\"The RPC server is unavailable.\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("zeltor_directory_tombstone_lifetime_seconds 15552000\n"), std::string::npos) << text;

    // The page's row: the partners replicating, and the summary of the one failing.
    LastProbes probes;
    probes.Note(LastProbeOf("dc1", "replication", "good", 0, outcome, Clock::now()));
    ExporterConfig config;
    config.modules = { read };
    const std::string page = RenderStatusPage("1.0", config, probes, Clock::now());
    EXPECT_NE(page.find("<li>replication (the controller's replication with its partners)</li>"), std::string::npos);
    EXPECT_NE(page.find("<td class=\"failure\">DC3 failing for 3 h: The RPC server is unavailable.</td>"
                        "<td class=\"n\">1 of 2</td>"),
              std::string::npos)
        << page;

    // A wrong password refused to the replication's logon withholds it from the counters, and
    // the replication's next scrape within the backoff sends nothing either.
    outcome = sessions->Probe("dc2", read, Auth("bad"), Clock::now() + 3s);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.status, PdhStatusFromWin32(1326));
    EXPECT_EQ(sessions->Probe("dc2", module, Auth("bad"), Clock::now() + 3s).status, PdhStatusFromWin32(1326));
    EXPECT_EQ(Logons("dc2"), 0);
    outcome = sessions->Probe("dc2", read, Auth("bad"), Clock::now() + 3s);
    EXPECT_NE(outcome.statusText.find("the logon of auth bad was refused"), std::string::npos) << outcome.statusText;
    EXPECT_NE(RenderProbe(outcome).find("zeltor_replication_read_success 0\n"), std::string::npos);
    EXPECT_EQ(replication->Refused(), 1);
    EXPECT_EQ(sessions->RefusedLogons(), 1u);

    // The backoff over: the counters take the one try, refused; the replication sends nothing.
    std::this_thread::sleep_for(450ms);
    EXPECT_EQ(sessions->Probe("dc2", module, Auth("bad"), Clock::now() + 3s).status, PdhStatusFromWin32(1326));
    EXPECT_EQ(Logons("dc2"), 1);
    EXPECT_FALSE(sessions->Probe("dc2", read, Auth("bad"), Clock::now() + 3s).success);
    EXPECT_EQ(replication->Refused(), 1);
    EXPECT_EQ(sessions->RefusedLogons(), 2u);
}
