// The remote counter source over a scripted Remote Registry that answers as Windows or Samba
// does: answers too large for the buffer, dropped connections, refusals, a name table renumbered
// by a restarted server; and the routing of machine names between it and the procfs source.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <iterator>

#include "perf/pdh_status.h"
#include "platform/linux/counters/linux_counter_source.h"
#include "platform/linux/remote/remote_counter_source.h"
#include "platform/linux/routing_counter_source.h"
#include "tests/fakes/perf_data_builder.h"

namespace {

constexpr std::uint32_t kRate = 0x10410400, kRawCount = 0x00010000, kNetNameDeleted = 64;

// A server's HKEY_PERFORMANCE_DATA: a Memory object (Page Faults/sec) and a Process object with
// as many instances as asked, under a numbering that starts where asked.
struct ScriptedServer {
    TestLayout layout = TestLayout::Samba;
    std::uint32_t firstIndex = 2;
    int processes = 3;
    std::uint64_t faults = 1000, tick = 0;
    std::deque<std::uint32_t> openResults;  // next results of Open; 0 when empty
    std::deque<std::uint32_t> queryResults; // next results of a query; 0 when empty
    bool current = true;                    // what the keys say of their credentials
    std::vector<std::uint8_t> namesOverride;
    bool emptyData = false;

    int opens = 0;
    std::vector<std::string> queries;

    std::uint32_t memory() const { return firstIndex; }
    std::uint32_t pageFaults() const { return firstIndex + 2; }
    std::uint32_t process() const { return firstIndex + 4; }
    std::uint32_t handles() const { return firstIndex + 6; }

    std::vector<std::uint8_t> Names() const
    {
        if (!namesOverride.empty())
            return namesOverride;
        return BuildCounterNames({ { memory(), "Memory" },
                                   { pageFaults(), "Page Faults/sec" },
                                   { process(), "Process" },
                                   { handles(), "Handle Count" } });
    }

    std::vector<std::uint8_t> Data() const
    {
        if (emptyData)
            return {};
        TestBlock block;
        block.perfTime = tick * 10'000'000;
        block.perfFreq = 10'000'000;
        TestObject processObject{ process(), { { handles(), kRawCount } }, {}, true, {} };
        for (int i = 0; i < processes; ++i)
            processObject.instances.push_back(
                { i == 1 ? u"lsass" : u"svchost", { static_cast<std::uint64_t>(100 + i) } });
        block.objects = { TestObject{ memory(), { { pageFaults(), kRate } }, { faults }, false, {} }, processObject };
        return BuildPerfData(block, layout);
    }
};

class ScriptedKey : public IPerformanceKey {
public:
    explicit ScriptedKey(ScriptedServer& server) : m_server(server) {}
    std::uint32_t QueryValue(const std::string& name, std::span<std::uint8_t> buffer, std::uint32_t* length,
                             std::uint32_t* type, std::uint32_t* needed) override
    {
        m_server.queries.push_back(name);
        if (!m_server.queryResults.empty()) {
            const std::uint32_t result = m_server.queryResults.front();
            m_server.queryResults.pop_front();
            if (result != 0)
                return result;
        }
        const bool names = name == "Counter 009";
        const std::vector<std::uint8_t> value = names ? m_server.Names() : m_server.Data();
        *type = names && m_server.layout == TestLayout::Windows ? 7 : 3; // REG_MULTI_SZ : REG_BINARY
        *needed = 0;
        if (value.size() > buffer.size() && m_server.layout == TestLayout::Windows)
            return 234; // ERROR_MORE_DATA
        // Samba: the data cut to the buffer, and success.
        *length = static_cast<std::uint32_t>(std::min(value.size(), buffer.size()));
        std::copy_n(value.begin(), *length, buffer.begin());
        return 0;
    }
    bool IsCurrent() const override { return m_server.current; }

private:
    ScriptedServer& m_server;
};

class ScriptedRegistry : public IPerformanceRegistry {
public:
    explicit ScriptedRegistry(ScriptedServer& server) : m_server(server) {}
    std::uint32_t Open(const std::string&, std::unique_ptr<IPerformanceKey>* key) override
    {
        ++m_server.opens;
        std::uint32_t result = 0;
        if (!m_server.openResults.empty()) {
            result = m_server.openResults.front();
            m_server.openResults.pop_front();
        }
        if (result == 0)
            *key = std::make_unique<ScriptedKey>(m_server);
        return result;
    }

private:
    ScriptedServer& m_server;
};

class RemoteSourceTest : public ::testing::Test {
protected:
    ScriptedServer server;
    RemoteCounterSource source{ std::make_unique<ScriptedRegistry>(server), [](std::uint32_t) {} };
    PdhQuery* query = nullptr;
    PdhCounter* faults = nullptr;
    PdhCounter* lsass = nullptr;

    void SetUpQuery()
    {
        ASSERT_EQ(source.ConnectMachine(u"DC1"), 0u);
        ASSERT_EQ(source.OpenQuery(1, &query), 0u);
        ASSERT_EQ(source.AddCounter(query, u"\\\\DC1\\Memory\\Page Faults/sec", 0, &faults), 0u);
        ASSERT_EQ(source.AddCounter(query, u"\\\\dc1\\Process(lsass)\\Handle Count", 0, &lsass), 0u);
    }

    // Moves the server one second on, with 500 more faults.
    PDH_STATUS Collect()
    {
        ++server.tick;
        server.faults += 500;
        return source.CollectQueryData(query);
    }

    PdhFormattedValue Value(PdhCounter* counter)
    {
        PdhFormattedValue value;
        const PDH_STATUS status = source.GetFormattedCounterValue(counter, PDH_FMT_LONG_FORMAT, &value);
        EXPECT_EQ(status == 0, value.CStatus == PDH_CSTATUS_VALID_DATA);
        return value;
    }

    std::size_t DataQueries() const
    {
        return std::count_if(server.queries.begin(), server.queries.end(),
                             [](const std::string& q) { return q != "Counter 009"; });
    }
};

} // namespace

TEST_F(RemoteSourceTest, AnswersTooLargeForTheBufferAreAskedForAgainAndTheSizeIsKept)
{
    for (TestLayout layout : { TestLayout::Samba, TestLayout::Windows }) {
        SCOPED_TRACE(layout == TestLayout::Samba ? "Samba" : "Windows");
        server = ScriptedServer{};
        server.layout = layout;
        server.processes = 4000; // a block of about 200 KB
        RemoteCounterSource fresh{ std::make_unique<ScriptedRegistry>(server), [](std::uint32_t) {} };
        PdhCounter* counter = nullptr;
        ASSERT_EQ(fresh.OpenQuery(1, &query), 0u);
        ASSERT_EQ(fresh.AddCounter(query, u"\\\\DC1\\Process(lsass)\\Handle Count", 0, &counter), 0u);
        ASSERT_EQ(fresh.CollectQueryData(query), 0u);
        PdhFormattedValue value;
        EXPECT_EQ(fresh.GetFormattedCounterValue(counter, PDH_FMT_LONG_FORMAT, &value), 0u);
        EXPECT_EQ(value.longValue, 101);
        // The larger buffer stays: the next collection is one query.
        const std::size_t before = server.queries.size();
        ASSERT_EQ(fresh.CollectQueryData(query), 0u);
        EXPECT_EQ(server.queries.size(), before + 1);
        EXPECT_EQ(server.queries.back(), std::to_string(server.process()));
        EXPECT_EQ(fresh.CloseQuery(query), 0u);
    }
}

TEST_F(RemoteSourceTest, ADroppedConnectionFailsOneCollectionAndARestartedServerIsReadAgain)
{
    SetUpQuery();
    ASSERT_EQ(Collect(), 0u);
    ASSERT_EQ(Collect(), 0u);
    EXPECT_EQ(Value(faults).longValue, 500);
    EXPECT_EQ(Value(lsass).longValue, 101);
    // One query per collection, of the two objects, and the names read once.
    EXPECT_EQ(server.queries.back(), std::to_string(server.memory()) + " " + std::to_string(server.process()));
    EXPECT_EQ(std::count(server.queries.begin(), server.queries.end(), "Counter 009"), 1);
    EXPECT_EQ(server.opens, 1);

    server.queryResults = { kNetNameDeleted };
    EXPECT_EQ(Collect(), PDH_CSTATUS_NO_MACHINE);
    // The server came back with its names numbered anew: the counters are found again by name.
    server.firstIndex = 40;
    server.openResults = { 0 };
    ASSERT_EQ(Collect(), 0u);
    EXPECT_EQ(server.opens, 2);
    EXPECT_EQ(std::count(server.queries.begin(), server.queries.end(), "Counter 009"), 2);
    EXPECT_EQ(Value(lsass).longValue, 101);
    EXPECT_EQ(Value(faults).longValue, 500); // 1000 faults over two seconds by the server's clock
    ASSERT_EQ(Collect(), 0u);
    EXPECT_EQ(server.queries.back(), "40 44");
}

TEST_F(RemoteSourceTest, ACounterAddedBetweenCollectionsIsInTheNextQuery)
{
    ASSERT_EQ(source.OpenQuery(1, &query), 0u);
    ASSERT_EQ(source.AddCounter(query, u"\\\\DC1\\Process(lsass)\\Handle Count", 0, &lsass), 0u);
    ASSERT_EQ(Collect(), 0u);
    EXPECT_EQ(server.queries.back(), std::to_string(server.process()));
    ASSERT_EQ(source.AddCounter(query, u"\\\\DC1\\Memory\\Page Faults/sec", 0, &faults), 0u);
    ASSERT_EQ(Collect(), 0u);
    ASSERT_EQ(Collect(), 0u);
    EXPECT_EQ(server.queries.back(), std::to_string(server.process()) + " " + std::to_string(server.memory()));
    EXPECT_EQ(Value(faults).longValue, 500);
    EXPECT_EQ(Value(lsass).longValue, 101);
}

TEST_F(RemoteSourceTest, RefusalsMissingNamesAndMissingDataHaveTheirStatuses)
{
    // Access refused for now is access denied, which the query retries; refused credentials are
    // their own Win32 error, which it does not; anything else a machine that cannot be reached.
    server.openResults = { 5, 1326, 53, 1722 };
    EXPECT_EQ(source.ConnectMachine(u"DC1"), PDH_ACCESS_DENIED);
    EXPECT_EQ(source.ConnectMachine(u"DC1"), PdhStatusFromWin32(1326));
    EXPECT_EQ(source.ConnectMachine(u"DC1"), PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(source.ConnectMachine(u"DC1"), PDH_CSTATUS_NO_MACHINE);
    // A server without a name table, and one that does not let this user read it.
    server.namesOverride = { 0, 0 };
    EXPECT_EQ(source.ConnectMachine(u"DC1"), PDH_CANNOT_READ_NAME_STRINGS);
    server.namesOverride.clear();
    server.queryResults = { 5 };
    EXPECT_EQ(source.ConnectMachine(u"DC1"), PDH_ACCESS_DENIED);

    SetUpQuery();
    PdhCounter* counter = nullptr;
    EXPECT_EQ(source.AddCounter(query, u"\\\\DC1\\Paging File(_Total)\\% Usage", 0, &counter), PDH_CSTATUS_NO_OBJECT);
    EXPECT_EQ(source.AddCounter(query, u"\\\\DC1\\Memory\\Handle Count", 0, &counter), PDH_CSTATUS_NO_COUNTER);
    EXPECT_EQ(source.AddCounter(query, u"DC1\\Memory", 0, &counter), PDH_CSTATUS_BAD_COUNTERNAME);
    ASSERT_EQ(source.AddCounter(query, u"\\\\DC1\\Process(ntfrs)\\Handle Count", 0, &counter), 0u);
    ASSERT_EQ(Collect(), 0u);
    EXPECT_EQ(Value(counter).CStatus, PDH_CSTATUS_NO_INSTANCE);
    EXPECT_EQ(Value(faults).CStatus, PDH_CSTATUS_INVALID_DATA); // one sample of a rate

    server.emptyData = true;
    EXPECT_EQ(Collect(), PDH_NO_DATA);
    server.emptyData = false;
    server.queryResults = { 5 };
    EXPECT_EQ(Collect(), PDH_ACCESS_DENIED);
    server.queryResults = { 2 };
    EXPECT_EQ(Collect(), PDH_NO_DATA);
    // Credentials withdrawn or replaced: the next use connects anew.
    server.current = false;
    EXPECT_EQ(Collect(), 0u);
    EXPECT_EQ(server.opens, 8);
}

TEST_F(RemoteSourceTest, AMachineThatStopsAnsweringIsTriedOncePerOperationNotOncePerCounter)
{
    constexpr std::uint32_t kSemTimeout = 121;
    ASSERT_EQ(source.ConnectMachine(u"DC1"), 0u);
    ASSERT_EQ(source.OpenQuery(1, &query), 0u);
    // Silent once connected: the first counter's query times out, the others fail at once with
    // the same status, without connecting again.
    server.queryResults = { kSemTimeout };
    server.openResults = { kSemTimeout, kSemTimeout };
    for (const char16_t* path : { u"\\\\DC1\\Memory\\Page Faults/sec", u"\\\\DC1\\Process(lsass)\\Handle Count",
                                  u"\\\\DC1\\Process(svchost)\\Handle Count" }) {
        PdhCounter* counter = nullptr;
        EXPECT_EQ(source.AddCounter(query, path, 0, &counter), PDH_CSTATUS_NO_MACHINE) << CString(path).ToUtf8();
    }
    EXPECT_EQ(server.opens, 1);
    EXPECT_EQ(DataQueries(), 1u);

    // Each collection (a tick) and each connection (an Update) is one new attempt.
    ASSERT_EQ(source.CloseQuery(query), 0u);
    ASSERT_EQ(source.OpenQuery(1, &query), 0u);
    EXPECT_EQ(source.AddCounter(query, u"\\\\DC1\\Memory\\Page Faults/sec", 0, &faults), PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(server.opens, 2);
    EXPECT_EQ(source.ConnectMachine(u"DC1"), PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(server.opens, 3);
    ASSERT_EQ(source.ConnectMachine(u"DC1"), 0u); // answering again
    ASSERT_EQ(source.AddCounter(query, u"\\\\DC1\\Memory\\Page Faults/sec", 0, &faults), 0u);
    ASSERT_EQ(source.AddCounter(query, u"\\\\DC1\\Process(lsass)\\Handle Count", 0, &lsass), 0u);
    ASSERT_EQ(Collect(), 0u);
    server.queryResults = { kNetNameDeleted };
    server.openResults = { kSemTimeout, 0 };
    EXPECT_EQ(Collect(), PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(server.opens, 4); // the lost connection is not made again within the same collection
    EXPECT_EQ(Collect(), PDH_CSTATUS_NO_MACHINE);
    EXPECT_EQ(server.opens, 5);
    EXPECT_EQ(Collect(), 0u);
    EXPECT_EQ(server.opens, 6);
    EXPECT_EQ(Value(lsass).longValue, 101);
}

TEST(RoutingCounterSource, LocalNamesGoToProcfsAndOthersToTheRemoteSource)
{
    ScriptedServer server;
    RoutingCounterSource routing(std::make_unique<LinuxCounterSource>("/proc", "ws1.zeltor.test"),
                                 std::make_unique<RemoteCounterSource>(std::make_unique<ScriptedRegistry>(server),
                                                                       [](std::uint32_t) {}));
    EXPECT_EQ(routing.ConnectMachine(u"WS1"), 0u);
    EXPECT_EQ(server.opens, 0);
    EXPECT_EQ(routing.ConnectMachine(u"dc1"), 0u);
    EXPECT_EQ(server.opens, 1);
    server.openResults = { 53 };
    EXPECT_EQ(routing.ConnectMachine(u"dc2"), PDH_CSTATUS_NO_MACHINE);

    // One query with counters of both.
    PdhQuery* query = nullptr;
    PdhCounter *local = nullptr, *remote = nullptr, *unknown = nullptr;
    ASSERT_EQ(routing.OpenQuery(1, &query), 0u);
    ASSERT_EQ(routing.AddCounter(query, u"\\\\localhost\\Memory\\% Committed Bytes In Use", 0, &local), 0u);
    ASSERT_EQ(routing.AddCounter(query, u"\\\\dc1\\Process(lsass)\\Handle Count", 0, &remote), 0u);
    EXPECT_EQ(routing.AddCounter(query, u"\\\\localhost\\Paging File\\% Usage", 0, &unknown), PDH_CSTATUS_NO_OBJECT);
    EXPECT_EQ(routing.AddCounter(query, u"no path", 0, &unknown), PDH_CSTATUS_BAD_COUNTERNAME);
    ASSERT_EQ(routing.CollectQueryData(query), 0u);
    PdhFormattedValue value;
    EXPECT_EQ(routing.GetFormattedCounterValue(local, PDH_FMT_LONG_FORMAT, &value), 0u);
    EXPECT_EQ(routing.GetFormattedCounterValue(remote, PDH_FMT_LONG_FORMAT, &value), 0u);
    EXPECT_EQ(value.longValue, 101);
    EXPECT_EQ(routing.CloseQuery(query), 0u);
    EXPECT_EQ(routing.GetFormattedCounterValue(remote, PDH_FMT_LONG_FORMAT, &value), PDH_INVALID_HANDLE);
    EXPECT_EQ(routing.CloseQuery(query), PDH_INVALID_HANDLE);
}

namespace {

std::vector<std::uint8_t> Seed(const std::string& name)
{
    std::ifstream file(std::string(ZELTOR_FUZZ_CORPUS) + "/perf_data/" + name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

} // namespace

// The fuzzer's seeds: an answer of Samba's winreg as it came (fuzz/make_perf_data_seeds.py), and
// a block laid out as Windows lays it out.
TEST(PerfDataSeeds, BothServersAnswersReadWithTheProgramsCounters)
{
    for (const char* server : { "samba", "windows" }) {
        SCOPED_TRACE(server);
        const std::vector<std::uint8_t> names = Seed(std::string("names-") + server),
                                        data = Seed(std::string(server) + "-block");
        const CounterNameTable table = CounterNameTable::Parse(names);
        PerfDataBlock block;
        ASSERT_EQ(ReadPerfDataBlock(data, &block), PerfDataStatus::Ok);
        EXPECT_EQ(block.objects.size(), server == std::string("samba") ? 5u : 6u);
        for (const PerfCounterName& path : { PerfCounterName{ "Processor", "% Processor Time", true, "", "_Total", 0 },
                                             PerfCounterName{ "Memory", "% Committed Bytes In Use", false, "", "", 0 },
                                             PerfCounterName{ "LogicalDisk", "% Free Space", true, "", "_Total", 0 },
                                             PerfCounterName{ "System", "File Write Operations/sec", false, "", "", 0 },
                                             PerfCounterName{ "Memory", "Page Faults/sec", false, "", "", 0 } }) {
            PerfCounterLocation location;
            ASSERT_EQ(LocatePerfCounter(block, table, path, &location), PerfLookupStatus::Ok) << path.counter;
            std::uint32_t type = 0;
            EXPECT_EQ(SamplePerfCounter(block, location, path, &type).CStatus, PDH_CSTATUS_VALID_DATA) << path.counter;
        }
        // Samba numbers its names its own way and sends 32-bit counters 8 bytes wide.
        const PerfObjectType* memory = FindNamedObject(block, table, "Memory");
        ASSERT_NE(memory, nullptr);
        EXPECT_EQ(memory->definitions[0].size, server == std::string("samba") ? 8u : 4u);
        EXPECT_EQ(table.IndicesOf("% Processor Time").front() == 6, server == std::string("windows"));
    }
}
