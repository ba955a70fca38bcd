// Update, Auto Update and the refresh timer on the headless backend with scripted services.
#include "directory/remote_connection.h"
#include "perf/pdh_status.h"
#include "tests/fakes/dialog_fixture.h"

namespace {

class MonitoringTest : public HeadlessTest {
protected:
    MonitoringTest()
    {
        counters.SetValue(u"\\Processor(_Total)\\% Processor Time", 37);
        counters.SetValue(u"\\Memory\\% Committed Bytes In Use", 52);
        counters.SetValue(u"\\LogicalDisk(_Total)\\% Free Space", 81);
        counters.SetValue(u"\\System\\File Read Operations/sec", 120);
        counters.SetValue(u"\\System\\File Write Operations/sec", 45);
        counters.SetValue(u"\\Processor(_Total)\\% Interrupt Time", 2);
        counters.SetValue(u"\\Process(lsass)\\Handle Count", 1400);
        counters.SetValue(u"\\Process(ntfrs)\\Handle Count", 310);
        counters.SetValue(u"\\Memory\\Page Faults/sec", 900);
        counters.SetValue(u"\\Memory\\Pages Input/sec", 7);
        counters.SetValue(u"\\Memory\\Pages Output/sec", 3);
        counters.SetValue(u"\\Memory\\Page Reads/sec", 5);
        counters.SetValue(u"\\Memory\\Page Writes/sec", 1);
    }

    void Untick() { Click(IDC_AUTOUPDATE); }
    // The counters that need two samples read as not valid after one.
    void RatesNeedTwoSamples()
    {
        counters.invalidPaths = { u"\\Processor(_Total)\\% Processor Time",
                                  u"\\System\\File Read Operations/sec",
                                  u"\\System\\File Write Operations/sec",
                                  u"\\Processor(_Total)\\% Interrupt Time",
                                  u"\\Memory\\Page Faults/sec",
                                  u"\\Memory\\Pages Input/sec",
                                  u"\\Memory\\Pages Output/sec",
                                  u"\\Memory\\Page Reads/sec",
                                  u"\\Memory\\Page Writes/sec" };
    }
    void ExpectAllValues()
    {
        EXPECT_EQ(Text(IDC_CPUUSAGE), u"37");
        EXPECT_EQ(Text(IDC_MEMORYUSAGE), u"52");
        EXPECT_EQ(Text(IDC_DISKUSAGE), u"81");
        EXPECT_EQ(Text(IDC_FILEREADS), u"120");
        EXPECT_EQ(Text(IDC_FILEWRITES), u"45");
        EXPECT_EQ(Text(IDC_INTERRUPTTIME), u"2");
        EXPECT_EQ(Text(IDC_LSASSHANDLES), u"1400");
        EXPECT_EQ(Text(IDC_NTFRSHANDLES), u"310");
        EXPECT_EQ(Text(IDC_PAGEFAULTS), u"900");
        EXPECT_EQ(Text(IDC_PAGESINPUT), u"7");
        EXPECT_EQ(Text(IDC_PAGESOUTPUT), u"3");
        EXPECT_EQ(Text(IDC_PAGEREADS), u"5");
        EXPECT_EQ(Text(IDC_PAGEWRITES), u"1");
    }
    void ExpectAllZero()
    {
        for (int id = IDC_CPUUSAGE; id <= IDC_PAGESOUTPUT; ++id) {
            if (id != IDC_PASSWORD) {
                EXPECT_EQ(Text(id), u"0") << id;
            }
        }
    }
};

} // namespace

TEST_F(MonitoringTest, UpdateFromStartEntersAutoAndShowsValuesFromTheFirstTick)
{
    OpenMainDialog();
    Click(IDC_UPDATE);
    EXPECT_TRUE(TimerRunning());
    EXPECT_EQ(ui.TimerPeriod(dlg->m_hWnd, 1), 1000u);
    EXPECT_FALSE(Enabled(IDC_DC));
    EXPECT_TRUE(Enabled(IDC_AUTOUPDATE));
    EXPECT_EQ(counters.collects, 0);
    ExpectAllZero(); // until the first tick
    ASSERT_TRUE(Tick());
    ExpectAllValues();
    EXPECT_EQ(counters.collects, 1);
    // The query was made on the controller's name, with every path behind "\\" and the name.
    EXPECT_EQ(counters.connectedMachines, (std::vector<CString>{ u"WORKSTATION1" }));
    ASSERT_EQ(counters.addedPaths.size(), 13u);
    EXPECT_EQ(counters.addedPaths[0], u"\\\\WORKSTATION1\\Processor(_Total)\\% Processor Time");
    EXPECT_EQ(counters.addedPaths[12], u"\\\\WORKSTATION1\\Memory\\Page Writes/sec");
    EXPECT_EQ(counters.queryUserData, (std::vector<std::uintptr_t>{ 1 }));
    EXPECT_GE(ui.waitCursorCount, 1);
    EXPECT_EQ(ui.waitCursorDepth, 0);
}

TEST_F(MonitoringTest, ManualUpdateTakesOneSampleAndShowsOnlyOneSampleCounters)
{
    OpenMainDialog();
    Click(IDC_UPDATE);
    Untick();
    RatesNeedTwoSamples();
    Click(IDC_UPDATE);
    EXPECT_FALSE(TimerRunning());
    EXPECT_TRUE(Enabled(IDC_DC));
    EXPECT_EQ(counters.collects, 1);
    EXPECT_EQ(Text(IDC_CPUUSAGE), u"0");
    EXPECT_EQ(Text(IDC_FILEREADS), u"0");
    EXPECT_EQ(Text(IDC_PAGEWRITES), u"0");
    EXPECT_EQ(Text(IDC_MEMORYUSAGE), u"52");
    EXPECT_EQ(Text(IDC_DISKUSAGE), u"81");
    EXPECT_EQ(Text(IDC_LSASSHANDLES), u"1400");
    EXPECT_EQ(Text(IDC_NTFRSHANDLES), u"310");
    // Every Update opens a new query.
    EXPECT_EQ(counters.connectCalls, 2);
    EXPECT_EQ(counters.openQueries, 1);
}

TEST_F(MonitoringTest, UntickingFreezesTheValuesAndKeepsTheQueryOpen)
{
    OpenMainDialog();
    Click(IDC_UPDATE);
    Tick();
    Untick();
    EXPECT_FALSE(TimerRunning());
    EXPECT_TRUE(Enabled(IDC_DC));
    ExpectAllValues();
    EXPECT_TRUE(dlg->GetQuery().IsOpen());
    // Ticking again sets the query up anew on the controller the last Update read.
    ui.Type(Ctl(IDC_DC), u"OTHERDC");
    Click(IDC_AUTOUPDATE);
    EXPECT_TRUE(TimerRunning());
    EXPECT_FALSE(Enabled(IDC_DC));
    EXPECT_EQ(counters.connectedMachines.back(), u"WORKSTATION1");
    EXPECT_EQ(counters.openQueries, 1);
    ExpectAllValues(); // ticking sets nothing to zero
    Tick();
    EXPECT_EQ(Text(IDC_DC), u"WORKSTATION1"); // the tick writes the name the last Update read
}

TEST_F(MonitoringTest, TickingWhenTheQueryCannotBeSetUpLeavesTickedWithoutTimer)
{
    OpenMainDialog();
    Click(IDC_UPDATE);
    Untick();
    counters.connectResults = { PDH_CSTATUS_NO_MACHINE };
    Click(IDC_AUTOUPDATE);
    EXPECT_FALSE(TimerRunning());
    EXPECT_EQ(ui.GetCheck(Ctl(IDC_AUTOUPDATE)), BST_CHECKED);
    EXPECT_TRUE(Enabled(IDC_AUTOUPDATE));
    EXPECT_TRUE(Enabled(IDC_DC));
    EXPECT_FALSE(dlg->GetQuery().IsOpen());
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text,
              u"Could not initialize.\nUnable to connect to the specified computer, or the computer is offline.");
    EXPECT_EQ(ui.messageBoxes[0].type, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(ui.messageBoxes[0].caption, u"zeltor");

    // Unticking from there: Manual with the query closed; a later tick sets it up again.
    Untick();
    EXPECT_FALSE(TimerRunning());
    EXPECT_FALSE(dlg->GetQuery().IsOpen());
    counters.connectResults.clear();
    Click(IDC_AUTOUPDATE);
    EXPECT_TRUE(TimerRunning());
    EXPECT_TRUE(dlg->GetQuery().IsOpen());
}

TEST_F(MonitoringTest, FailedUpdateDisablesAutoUpdateUntilAnUpdateSucceeds)
{
    OpenMainDialog();
    Click(IDC_UPDATE);
    Tick();
    ui.Type(Ctl(IDC_USERNAME), u"admin");
    network.addResults = { 53 };
    Click(IDC_UPDATE);
    EXPECT_FALSE(TimerRunning());
    EXPECT_FALSE(Enabled(IDC_AUTOUPDATE));
    EXPECT_EQ(ui.GetCheck(Ctl(IDC_AUTOUPDATE)), BST_CHECKED);
    ExpectAllZero();
    // The query stays open on the previous controller.
    EXPECT_TRUE(dlg->GetQuery().IsOpen());
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text, u"Error:53\nThe network path was not found.\r\n");
    EXPECT_EQ(ui.messageBoxes[0].type, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(network.outstandingMessages, 0);

    // A counter query that cannot be set up fails the same way, with its query closed.
    counters.connectResults = { PDH_ACCESS_DENIED };
    Click(IDC_UPDATE);
    EXPECT_FALSE(Enabled(IDC_AUTOUPDATE));
    EXPECT_FALSE(dlg->GetQuery().IsOpen());
    EXPECT_EQ(ui.messageBoxes.size(), 2u);

    counters.connectResults.clear();
    Click(IDC_UPDATE);
    EXPECT_TRUE(Enabled(IDC_AUTOUPDATE));
    EXPECT_TRUE(TimerRunning());
}

TEST_F(MonitoringTest, EachRefreshWritesTheLastReadTextsBackToTheFields)
{
    OpenMainDialog();
    ui.Type(Ctl(IDC_USERNAME), u"admin");
    ui.Type(Ctl(IDC_PASSWORD), u"secret");
    Click(IDC_UPDATE);
    ui.Type(Ctl(IDC_USERNAME), u"someone else");
    ui.Type(Ctl(IDC_PASSWORD), u"typed later");
    Tick();
    EXPECT_EQ(Text(IDC_USERNAME), u"admin");
    EXPECT_EQ(Text(IDC_PASSWORD), u"secret");
}

TEST_F(MonitoringTest, SecondUpdateAddsTheCountersAgainWithNewHandles)
{
    OpenMainDialog();
    Click(IDC_UPDATE);
    Click(IDC_UPDATE);
    EXPECT_EQ(counters.addedPaths.size(), 26u);
    EXPECT_EQ(dlg->GetQuery().GetCounterCount(), 13);
    Tick();
    ExpectAllValues();
}

TEST_F(MonitoringTest, UnpublishedCounterShowsZeroAloneAndNoMessage)
{
    counters.unpublishedPaths = { u"\\\\WORKSTATION1\\Process(ntfrs)\\Handle Count" };
    OpenMainDialog();
    Click(IDC_UPDATE);
    Tick();
    EXPECT_EQ(Text(IDC_NTFRSHANDLES), u"0");
    EXPECT_EQ(Text(IDC_LSASSHANDLES), u"1400");
    EXPECT_EQ(Text(IDC_PAGEWRITES), u"1");
    EXPECT_TRUE(ui.messageBoxes.empty());
}

TEST_F(MonitoringTest, FailingCollectionKeepsTheValuesAndReportsEachTickOneBoxAtATime)
{
    OpenMainDialog();
    Click(IDC_UPDATE);
    Tick();
    counters.SetValue(u"\\Memory\\% Committed Bytes In Use", 99);
    counters.collectResults = { PDH_NO_DATA, PDH_NO_DATA, PDH_NO_DATA };
    // Ticks keep arriving while the box is open: they must not open boxes inside it.
    int nestedTicks = 0;
    ui.onMessageBox = [&](const HeadlessBackend::MessageBoxRecord&) {
        for (int i = 0; i < 3; ++i)
            nestedTicks += Tick() ? 1 : 0;
    };
    Tick();
    EXPECT_EQ(nestedTicks, 3);
    EXPECT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text, u"No data to return.");
    EXPECT_EQ(Text(IDC_MEMORYUSAGE), u"52");
    EXPECT_TRUE(TimerRunning());
    ui.onMessageBox = nullptr;
    Tick(); // the next tick collects and reports again
    EXPECT_EQ(ui.messageBoxes.size(), 2u);
    Tick();
    EXPECT_EQ(ui.messageBoxes.size(), 3u);
    Tick(); // recovered
    EXPECT_EQ(Text(IDC_MEMORYUSAGE), u"99");
    EXPECT_EQ(ui.messageBoxes.size(), 3u);
}

TEST_F(MonitoringTest, ConnectionIsOpenedOnlyWithAUserNameAndExactlyAsTyped)
{
    OpenMainDialog();
    ui.Type(Ctl(IDC_PASSWORD), u"unused");
    Click(IDC_UPDATE);
    EXPECT_TRUE(network.attempts.empty());
    EXPECT_TRUE(dlg->GetConnections().IsEmpty());

    Untick();
    ui.Type(Ctl(IDC_DC), u"");
    ui.Type(Ctl(IDC_USERNAME), u"CORP\\admin");
    ui.Type(Ctl(IDC_PASSWORD), u"");
    Click(IDC_UPDATE);
    ASSERT_EQ(network.attempts.size(), 1u);
    EXPECT_EQ(network.attempts[0].remoteName, u"\\\\");
    EXPECT_EQ(network.attempts[0].userName, u"CORP\\admin");
    EXPECT_EQ(network.attempts[0].password, u"");

    ui.Type(Ctl(IDC_DC), u"\\\\DC1");
    Click(IDC_UPDATE);
    EXPECT_EQ(network.attempts[1].remoteName, u"\\\\\\\\DC1");
    EXPECT_GE(ui.waitCursorCount, 4);
}

TEST_F(MonitoringTest, EveryOpenedConnectionIsRecordedAndCancelledOnce)
{
    OpenMainDialog();
    ui.Type(Ctl(IDC_DC), u"DC1");
    ui.Type(Ctl(IDC_USERNAME), u"admin");
    for (int i = 0; i < 3; ++i)
        Click(IDC_UPDATE);
    network.addResults = { 1326 };
    Click(IDC_UPDATE); // a failed opening records nothing
    EXPECT_EQ(dlg->GetConnections(), (CStringArray{ u"\\\\DC1", u"\\\\DC1", u"\\\\DC1" }));
    EXPECT_EQ(ui.messageBoxes.back().text, u"Error:1326\nThe user name or password is incorrect.\r\n");
    dlg->DisconnectAll();
    EXPECT_EQ(network.cancelled, (std::vector<CString>{ u"\\\\DC1", u"\\\\DC1", u"\\\\DC1" }));
    EXPECT_TRUE(dlg->GetConnections().IsEmpty());
    dlg->DisconnectAll();
    EXPECT_EQ(network.cancelled.size(), 3u);
}

TEST_F(MonitoringTest, SystemErrorWithoutTextShowsTheCodeAlone)
{
    OpenMainDialog();
    ShowSystemError(network, 1234);
    ShowSystemError(network, 0xC000006Du); // shown in signed decimal
    EXPECT_EQ(ui.messageBoxes[0].text, u"Error:1234\n");
    EXPECT_EQ(ui.messageBoxes[1].text, u"Error:-1073741715\n");
}
