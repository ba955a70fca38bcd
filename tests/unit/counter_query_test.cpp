// The counter query over a scripted counter source: handles, values, collection, the
// connection retries and the status texts the user sees.
#include <gtest/gtest.h>

#include <set>

#include "framework/afxwin.h"
#include "perf/counter_query.h"
#include "perf/pdh_status.h"
#include "perf/status_text.h"
#include "res/program_resources.h"
#include "tests/fakes/fake_services.h"
#include "tests/headless/headless_backend.h"

namespace {

const CString kAccessDeniedText =
    u"Unable to access the desired computer or service.\n"
    u"Check the permissions and authentication of the log service or the interactive user\n"
    u"session against those on the computer or service being monitored.";

const char16_t* const kThirteenPaths[] = {
    u"\\Processor(_Total)\\% Processor Time",
    u"\\Memory\\% Committed Bytes In Use",
    u"\\LogicalDisk(_Total)\\% Free Space",
    u"\\System\\File Read Operations/sec",
    u"\\System\\File Write Operations/sec",
    u"\\Processor(_Total)\\% Interrupt Time",
    u"\\Process(lsass)\\Handle Count",
    u"\\Process(ntfrs)\\Handle Count",
    u"\\Memory\\Page Faults/sec",
    u"\\Memory\\Pages Input/sec",
    u"\\Memory\\Pages Output/sec",
    u"\\Memory\\Page Reads/sec",
    u"\\Memory\\Page Writes/sec",
};

class CounterQueryTest : public ::testing::Test {
protected:
    CounterQueryTest()
    {
        app.m_pBackend = &ui;
        app.m_pResources = &ProgramResources();
        app.m_strAppName = u"zeltor";
    }

    std::vector<CString> BoxTexts() const
    {
        std::vector<CString> texts;
        for (const auto& box : ui.messageBoxes)
            texts.push_back(box.text);
        return texts;
    }

    CWinApp app{ u"zeltor" };
    HeadlessBackend ui;
    FakeCounterSource source;
    CCounterQuery query{ source };
};

} // namespace

TEST_F(CounterQueryTest, HandlesCountUpFromZeroAndContinueAfterClose)
{
    ASSERT_TRUE(query.Initialize(u"DC1"));
    EXPECT_EQ(source.connectedMachines, (std::vector<CString>{ u"DC1" }));
    EXPECT_EQ(query.AddCounter(u"\\Memory\\Page Faults/sec"), 0);
    EXPECT_EQ(query.AddCounter(u"\\Memory\\Pages Input/sec"), 1);
    EXPECT_EQ(source.addedPaths.back(), u"\\\\DC1\\Memory\\Pages Input/sec");

    // A refused path: -1, no box, and the next success takes the next unused handle.
    source.unpublishedPaths = { u"\\\\DC1\\Process(lsass)\\Handle Count" };
    EXPECT_EQ(query.AddCounter(u"\\Process(lsass)\\Handle Count"), -1);
    EXPECT_EQ(query.AddCounter(u"\\Memory\\Page Reads/sec"), 2);
    EXPECT_EQ(query.GetCounterCount(), 3);
    EXPECT_TRUE(ui.messageBoxes.empty());

    query.Close();
    EXPECT_FALSE(query.IsOpen());
    EXPECT_EQ(query.GetCounterCount(), 0);
    ASSERT_TRUE(query.Initialize(u"DC2"));
    std::vector<int> handles;
    for (const char16_t* path : kThirteenPaths)
        handles.push_back(query.AddCounter(path));
    std::vector<int> expected(13);
    for (int i = 0; i < 13; ++i)
        expected[i] = 3 + i;
    EXPECT_EQ(handles, expected);
}

TEST_F(CounterQueryTest, ValuesOfUnknownHandlesAndInvalidDataReadZero)
{
    ASSERT_TRUE(query.Initialize(u"DC1"));
    const int faults = query.AddCounter(u"\\Memory\\Page Faults/sec");
    const int reads = query.AddCounter(u"\\Memory\\Page Reads/sec");
    source.SetValue(u"\\Memory\\Page Faults/sec", 42);
    source.SetValue(u"\\Memory\\Page Reads/sec", -7);
    ASSERT_TRUE(query.Collect());
    EXPECT_EQ(query.GetCounterValue(faults), 42);
    EXPECT_EQ(query.GetCounterValue(reads), -7);
    EXPECT_EQ(query.GetCounterValue(-1), 0);
    EXPECT_EQ(query.GetCounterValue(99), 0);

    // Once a value is not valid it reads 0, not what it read before.
    source.invalidPaths = { u"\\Memory\\Page Faults/sec" };
    EXPECT_EQ(query.GetCounterValue(faults), 0);
    EXPECT_EQ(query.GetCounterValue(reads), -7);

    // A handle from before Close reads 0, also once a new counter is added.
    query.Close();
    ASSERT_TRUE(query.Initialize(u"DC1"));
    query.AddCounter(u"\\Memory\\Page Faults/sec");
    source.invalidPaths.clear();
    EXPECT_EQ(query.GetCounterValue(reads), 0);
}

TEST_F(CounterQueryTest, NewDataStatusCountsAsNotValid)
{
    // A source that gives the right number, but with CStatus new data.
    struct NewDataSource : FakeCounterSource {
        PDH_STATUS GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format,
                                            PdhFormattedValue* value) override
        {
            const PDH_STATUS status = FakeCounterSource::GetFormattedCounterValue(counter, format, value);
            value->CStatus = newData ? PDH_CSTATUS_NEW_DATA : value->CStatus;
            return status;
        }
        bool newData = false;
    } newDataSource;
    CCounterQuery q(newDataSource);
    ASSERT_TRUE(q.Initialize(u"DC1"));
    const int handle = q.AddCounter(u"\\Memory\\Page Faults/sec");
    newDataSource.SetValue(u"\\Memory\\Page Faults/sec", 5);
    EXPECT_EQ(q.GetCounterValue(handle), 5);
    newDataSource.newData = true;
    newDataSource.SetValue(u"\\Memory\\Page Faults/sec", 6);
    EXPECT_EQ(q.GetCounterValue(handle), 0);
}

TEST_F(CounterQueryTest, CloseOnANeverOpenedQueryAndTwiceLeavesItClosedAndEmpty)
{
    query.Close();
    EXPECT_FALSE(query.IsOpen());
    EXPECT_EQ(query.GetCounterCount(), 0);
    EXPECT_EQ(source.openQueries, 0);

    ASSERT_TRUE(query.Initialize(u"DC1"));
    query.AddCounter(u"\\Memory\\Page Faults/sec");
    EXPECT_EQ(source.openQueries, 1);
    query.Close();
    query.Close();
    EXPECT_FALSE(query.IsOpen());
    EXPECT_EQ(query.GetCounterCount(), 0);
    EXPECT_EQ(source.openQueries, 0);
}

TEST_F(CounterQueryTest, FailedCollectShowsTheStatusTextAloneAndKeepsTheValues)
{
    ASSERT_TRUE(query.Initialize(u"DC1"));
    const int handle = query.AddCounter(u"\\Memory\\Page Faults/sec");
    source.SetValue(u"\\Memory\\Page Faults/sec", 12);
    ASSERT_TRUE(query.Collect());
    EXPECT_EQ(query.GetCounterValue(handle), 12);

    source.collectResults = { PDH_NO_DATA };
    EXPECT_FALSE(query.Collect());
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text, u"No data to return.");
    EXPECT_EQ(ui.messageBoxes[0].caption, u"zeltor");
    EXPECT_EQ(ui.messageBoxes[0].type, static_cast<UINT>(MB_ICONSTOP | MB_OK));
    EXPECT_EQ(query.FindCounter(handle)->lValue, 12);
    EXPECT_EQ(query.GetCounterCount(), 1);
}

TEST_F(CounterQueryTest, AccessDeniedIsRetried152TimesThenReported)
{
    source.connectResults = { PDH_ACCESS_DENIED };
    EXPECT_FALSE(query.Initialize(u"DC1"));
    EXPECT_EQ(source.connectCalls, 152);
    EXPECT_EQ(source.sleeps, 152);
    EXPECT_EQ(source.sleptMs, 15200u);
    EXPECT_EQ(BoxTexts(), (std::vector<CString>{ u"Could not initialize.\n" + kAccessDeniedText }));
    EXPECT_FALSE(query.IsOpen());
    EXPECT_EQ(source.openQueries, 0);
    // The wait cursor shows for the whole wait and is gone again.
    EXPECT_EQ(ui.waitCursorDepth, 0);
    EXPECT_GE(ui.waitCursorCount, 1);
}

TEST_F(CounterQueryTest, AccessDeniedThreeTimesThenAcceptedOpensTheQuery)
{
    source.connectResults = { PDH_ACCESS_DENIED, PDH_ACCESS_DENIED, PDH_ACCESS_DENIED, 0 };
    EXPECT_TRUE(query.Initialize(u"DC1"));
    EXPECT_EQ(source.connectCalls, 4);
    EXPECT_EQ(source.sleeps, 4);
    EXPECT_TRUE(ui.messageBoxes.empty());
    EXPECT_TRUE(query.IsOpen());
    EXPECT_EQ(query.GetMachine(), u"DC1");
}

TEST_F(CounterQueryTest, OtherConnectFailuresAndOpenFailuresAreFinal)
{
    source.connectResults = { PDH_CSTATUS_NO_MACHINE };
    EXPECT_FALSE(query.Initialize(u"DC1"));
    EXPECT_EQ(source.connectCalls, 1);
    EXPECT_EQ(source.sleeps, 1);
    EXPECT_EQ(
        BoxTexts(),
        (std::vector<CString>{
            u"Could not initialize.\nUnable to connect to the specified computer, or the computer is offline." }));
    EXPECT_TRUE(source.queryUserData.empty());

    ui.messageBoxes.clear();
    source.connectResults.clear();
    source.openResult = PDH_MEMORY_ALLOCATION_FAILURE;
    EXPECT_FALSE(query.Initialize(u"DC1"));
    EXPECT_EQ(BoxTexts(), (std::vector<CString>{
                              u"Could not initialize.\n"
                              u"A PDH function could not allocate enough temporary memory to complete the operation.\n"
                              u"Close some applications or extend the page file and retry the function." }));
    EXPECT_FALSE(query.IsOpen());
    // Nothing can be added to a query that did not open.
    EXPECT_EQ(query.AddCounter(u"\\Memory\\Page Faults/sec"), -1);
}

TEST_F(CounterQueryTest, ARefusedLogonIsFinalAtOnceWithTheSystemsText)
{
    // Retrying refused credentials would lock the account: one attempt, and the refusal's own
    // words, at set-up and at a collection alike.
    source.connectResults = { PdhStatusFromWin32(1326) };
    EXPECT_FALSE(query.Initialize(u"DC1"));
    EXPECT_EQ(source.connectCalls, 1);
    source.connectResults = { PdhStatusFromWin32(1909) };
    EXPECT_FALSE(query.Initialize(u"DC1"));
    EXPECT_EQ(source.connectCalls, 2);

    source.connectResults.clear();
    ASSERT_TRUE(query.Initialize(u"DC1"));
    source.collectResults = { PdhStatusFromWin32(1330), PdhStatusFromWin32(9999) };
    EXPECT_FALSE(query.Collect());
    // A Win32 error without a text of its own reads as any unknown status.
    EXPECT_FALSE(query.Collect());
    EXPECT_EQ(BoxTexts(),
              (std::vector<CString>{
                  u"Could not initialize.\nThe user name or password is incorrect.",
                  u"Could not initialize.\nThe referenced account is currently locked out and may not be logged on to.",
                  u"The password for this account has expired.", u"Unknown Error." }));
    // The status table itself is unchanged.
    EXPECT_EQ(query.GetErrorText(PdhStatusFromWin32(1326)), u"Unknown Error.");
}

TEST(StatusText, SampleCodesGiveTheirExactTexts)
{
    FakeCounterSource source;
    const CCounterQuery query(source);
    EXPECT_EQ(query.GetErrorText(PDH_ACCESS_DENIED), kAccessDeniedText);
    EXPECT_EQ(query.GetErrorText(0x00000001), u"data value is valid and different from the last sample.");
    EXPECT_EQ(query.GetErrorText(0x800007D1), u"The specified instance is not present.");
    EXPECT_EQ(query.GetErrorText(0xC0000BC0),
              u"Unable to parse the counter path.\nCheck the format and syntax of the specified path.");
    EXPECT_EQ(query.GetErrorText(0xC0000BBA), u"The returned data is not valid.");
    EXPECT_EQ(query.GetErrorText(0xC0000BC6), u"The data is not valid.");
    EXPECT_EQ(query.GetErrorText(0xC0000BF1), u"The \"Performance Logs & Alerts\" service did not respond.");
    EXPECT_EQ(query.GetErrorText(0xC0000BFE), u"System is busy. A time-out occurred when collecting counter data.\n"
                                              u"Please retry later or increase the CollectTime registry value.");
    // The error and the warning of one validation share a text.
    EXPECT_EQ(query.GetErrorText(0xC0000BF2), u"The information passed is not valid.");
    EXPECT_EQ(query.GetErrorText(0x80000BF3), u"The information passed is not valid.");
    // Codes matched by all 32 bits: a neighbour in another severity is unknown.
    for (PDH_STATUS unknown : { 0x0u, 0x5u, 0xC0000BFFu, 0xC0000BD5u, 0xC0000BF3u })
        EXPECT_EQ(query.GetErrorText(unknown), u"Unknown Error.") << std::hex << unknown;
}

TEST(StatusText, TableHas85DistinctCodesEachFoundByItsCode)
{
    FakeCounterSource source;
    const CCounterQuery query(source);
    std::set<std::uint32_t> codes;
    for (const PdhStatusText& row : PdhStatusTexts()) {
        codes.insert(row.code);
        EXPECT_EQ(query.GetErrorText(row.code), row.text) << std::hex << row.code;
        EXPECT_NE(CString(row.text), u"") << std::hex << row.code;
    }
    EXPECT_EQ(codes.size(), 85u);
    EXPECT_EQ(PdhStatusTexts().size(), 85u);
}
