// The main window on the headless backend: start-up, discovery, data exchange and the keyboard.
#include "app/zeltor_app.h"
#include "tests/fakes/dialog_fixture.h"

namespace {

const int kValueIds[] = { IDC_CPUUSAGE,     IDC_MEMORYUSAGE, IDC_DISKUSAGE,  IDC_PAGEREADS,     IDC_PAGEWRITES,
                          IDC_NTFRSHANDLES, IDC_FILEREADS,   IDC_FILEWRITES, IDC_INTERRUPTTIME, IDC_LSASSHANDLES,
                          IDC_PAGEFAULTS,   IDC_PAGESINPUT,  IDC_PAGESOUTPUT };

DsControllerInfo1 Controller(const char16_t* name)
{
    DsControllerInfo1 info;
    info.NetbiosName = name;
    info.DnsHostName = CString(name) + u".corp.example";
    return info;
}

class MainDialogTest : public HeadlessTest {};

} // namespace

TEST_F(MainDialogTest, WorkgroupComputerShowsNotFoundAndItsOwnName)
{
    for (int status : { NetSetupUnknownStatus, NetSetupUnjoined, NetSetupWorkgroupName }) {
        directory = FakeDirectoryService();
        directory.joinStatus = status;
        OpenMainDialog();
        EXPECT_EQ(Text(IDC_DOMAIN), u"<Not Found>");
        EXPECT_EQ(Text(IDC_DC), u"WORKSTATION1");
        EXPECT_EQ(directory.lastJoinServer, u"WORKSTATION1");
        EXPECT_EQ(directory.lastComputerNameChars, 260u);
        // The directory service is never asked.
        EXPECT_EQ(directory.calls,
                  (std::vector<CString>{ u"GetComputerName", u"NetGetJoinInformation", u"NetApiBufferFree" }));
        EXPECT_TRUE(dlg->GetDCs().IsEmpty());
        dlg->DestroyWindow();
    }
}

TEST_F(MainDialogTest, FailedMembershipQueryCountsAsNoDomain)
{
    directory.joinResult = 1722; // RPC_S_SERVER_UNAVAILABLE
    directory.joinStatus = NetSetupDomainName;
    OpenMainDialog();
    EXPECT_EQ(Text(IDC_DOMAIN), u"<Not Found>");
    EXPECT_EQ(Text(IDC_DC), u"WORKSTATION1");
    EXPECT_EQ(directory.outstandingJoinBuffers, 0);
    EXPECT_EQ(std::count(directory.calls.begin(), directory.calls.end(), u"NetApiBufferFree"), 0);
}

TEST_F(MainDialogTest, StartStateShowsZerosAndAutoUpdateTickedButDisabled)
{
    OpenMainDialog();
    for (int id : kValueIds)
        EXPECT_EQ(Text(id), u"0") << id;
    EXPECT_EQ(ui.GetCheck(Ctl(IDC_AUTOUPDATE)), BST_CHECKED);
    EXPECT_FALSE(Enabled(IDC_AUTOUPDATE));
    EXPECT_FALSE(TimerRunning());
    EXPECT_EQ(Text(IDC_USERNAME), u"");
    EXPECT_EQ(ui.GetWindowText(dlg->m_hWnd), u"Zeltor");
    // The focus is on the first tab stop, the read-only Domain field.
    EXPECT_EQ(ui.GetFocus(), Ctl(IDC_DOMAIN));
    EXPECT_TRUE(ui.messageBoxes.empty());
}

TEST_F(MainDialogTest, InitialisationAddsTheAboutItemAndTheIcons)
{
    OpenMainDialog();
    ASSERT_EQ(ui.systemMenu.size(), 2u);
    EXPECT_EQ(ui.systemMenu[0].flags, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(ui.systemMenu[1].flags, static_cast<UINT>(MF_STRING));
    EXPECT_EQ(ui.systemMenu[1].id, 16u);
    EXPECT_EQ(ui.systemMenu[1].text, u"&About Zeltor...");
    ASSERT_EQ(ui.iconsSet.size(), 2u);
    EXPECT_EQ(ui.iconsSet[0].second, TRUE);
    EXPECT_EQ(ui.iconsSet[1].second, FALSE);
    EXPECT_EQ(ui.iconsSet[0].first, ui.LoadIcon(IDR_MAINFRAME));
}

TEST_F(MainDialogTest, DomainMemberWithThreeControllersShowsTheFirstAndKeepsAllInOrder)
{
    directory.joinStatus = NetSetupDomainName;
    directory.joinName = u"CORP";
    directory.controllers = { Controller(u"DC1"), Controller(u"DC2"), Controller(u"DC3") };
    OpenMainDialog();
    EXPECT_EQ(Text(IDC_DOMAIN), u"CORP");
    EXPECT_EQ(Text(IDC_DC), u"DC1");
    EXPECT_EQ(dlg->GetDCs(), (CStringArray{ u"DC1", u"DC2", u"DC3" }));
    // Bound without credentials, the domain taken from the Domain field.
    EXPECT_EQ(directory.lastBindDomain, u"CORP");
    EXPECT_EQ(directory.lastInfoDomain, u"CORP");
    EXPECT_EQ(std::count(directory.calls.begin(), directory.calls.end(), u"DsMakePasswordCredentials"), 0);
    EXPECT_EQ(directory.outstandingBindings, 0);
    EXPECT_EQ(directory.outstandingInfos, 0);
    EXPECT_EQ(directory.outstandingJoinBuffers, 0);
}

TEST_F(MainDialogTest, DiscoveryFailuresLeaveTheDomainAndAnEmptyController)
{
    struct Case {
        std::uint32_t bind, info;
        std::vector<DsControllerInfo1> list;
    };
    const Case cases[] = {
        { 1355, 0, { Controller(u"DC1") } }, // ERROR_NO_SUCH_DOMAIN on bind
        { 0, 5, { Controller(u"DC1") } },    // the list cannot be read
        { 0, 0, {} },                        // read, but empty
    };
    for (const Case& c : cases) {
        directory = FakeDirectoryService();
        directory.joinStatus = NetSetupDomainName;
        directory.joinName = u"CORP";
        directory.bindResult = c.bind;
        directory.infoResult = c.info;
        directory.controllers = c.list;
        OpenMainDialog();
        EXPECT_EQ(Text(IDC_DOMAIN), u"CORP");
        EXPECT_EQ(Text(IDC_DC), u"");
        EXPECT_TRUE(dlg->GetDCs().IsEmpty());
        EXPECT_EQ(directory.outstandingBindings, 0);
        EXPECT_EQ(directory.outstandingInfos, 0);
        EXPECT_TRUE(ui.messageBoxes.empty());
        dlg->DestroyWindow();
    }
}

TEST_F(MainDialogTest, RecordWithoutNetbiosNameGivesAnEmptyEntry)
{
    directory.joinStatus = NetSetupDomainName;
    directory.joinName = u"CORP";
    directory.controllers = { Controller(u""), Controller(u"DC2") };
    OpenMainDialog();
    EXPECT_EQ(Text(IDC_DC), u"");
    EXPECT_EQ(dlg->GetDCs(), (CStringArray{ u"", u"DC2" }));
}

TEST_F(MainDialogTest, EnumerationWithUserNamePassesItUnchangedAndReleasesTheCredential)
{
    directory.joinStatus = NetSetupDomainName;
    directory.joinName = u"CORP";
    directory.controllers = { Controller(u"DC1") };
    OpenMainDialog();
    ui.Type(Ctl(IDC_USERNAME), u"CORP\\admin user");
    ui.Type(Ctl(IDC_PASSWORD), u"");
    dlg->SetDlgItemText(IDC_DOMAIN, u"OTHER");
    EXPECT_EQ(dlg->EnumDomainControllers(), u"DC1");
    EXPECT_EQ(directory.lastCredUser, u"CORP\\admin user");
    EXPECT_EQ(directory.lastCredDomain, u"OTHER");
    EXPECT_EQ(directory.lastCredPassword, u"");
    EXPECT_EQ(directory.lastBindDomain, u"OTHER");
    EXPECT_EQ(directory.outstandingCredentials, 0);
    EXPECT_EQ(directory.outstandingBindings, 0);
    // The list only grows.
    EXPECT_EQ(dlg->GetDCs(), (CStringArray{ u"DC1", u"DC1" }));

    // A credential that cannot be made, and a bind that fails with one: nothing leaks.
    directory.credResult = 87;
    EXPECT_EQ(dlg->EnumDomainControllers(), u"");
    directory.credResult = 0;
    directory.bindResult = 1326;
    EXPECT_EQ(dlg->EnumDomainControllers(), u"");
    EXPECT_EQ(directory.outstandingCredentials, 0);
    EXPECT_EQ(directory.outstandingBindings, 0);
}

TEST_F(MainDialogTest, ReadingFieldsStopsAtTheFirstUnreadableNumber)
{
    OpenMainDialog();
    ui.Type(Ctl(IDC_DC), u"DC9");
    ui.SetWindowText(Ctl(IDC_MEMORYUSAGE), u"lots");
    ui.SetWindowText(Ctl(IDC_NTFRSHANDLES), u"many");
    EXPECT_FALSE(dlg->UpdateData(TRUE));
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text, u"Enter a number.");
    EXPECT_EQ(ui.messageBoxes[0].caption, u"zeltor");
    EXPECT_EQ(ui.GetFocus(), Ctl(IDC_MEMORYUSAGE));

    ui.SetWindowText(Ctl(IDC_MEMORYUSAGE), u"5");
    EXPECT_FALSE(dlg->UpdateData(TRUE));
    ASSERT_EQ(ui.messageBoxes.size(), 2u);
    EXPECT_EQ(ui.messageBoxes[1].text, u"Enter an integer.");
    EXPECT_EQ(ui.GetFocus(), Ctl(IDC_NTFRSHANDLES));
}

TEST_F(MainDialogTest, WritingFieldsTouchesOnlyThoseThatChange)
{
    OpenMainDialog();
    std::map<int, int> before;
    for (int id : kValueIds)
        before[id] = ui.Find(Ctl(id))->textWrites;
    EXPECT_TRUE(dlg->UpdateData(FALSE));
    for (int id : kValueIds)
        EXPECT_EQ(ui.Find(Ctl(id))->textWrites, before[id]) << id;
}

TEST_F(MainDialogTest, EscapeAndEnterNeitherCloseNorPress)
{
    OpenMainDialog();
    for (int id : { IDC_DOMAIN, IDC_DC, IDC_FIND, IDC_UPDATE, IDC_USERNAME, IDC_PASSWORD, IDC_AUTOUPDATE, IDCANCEL }) {
        ui.SetFocus(Ctl(id));
        ui.KeyDown(VK_ESCAPE);
        ui.KeyDown(VK_RETURN);
    }
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_EQ(counters.connectCalls, 0); // no Update ran
    ui.KeyDown(VK_F1);
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_TRUE(ui.messageBoxes.empty());
}

TEST_F(MainDialogTest, CloseButtonTitleBarAndAltF4EndTheDialogWithCancel)
{
    OpenMainDialog();
    Click(IDCANCEL);
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetEndCode(), IDCANCEL);
    dlg->DestroyWindow();

    OpenMainDialog();
    ui.SystemCommand(dlg->m_hWnd, SC_CLOSE); // the close box and Alt+F4
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetEndCode(), IDCANCEL);
}

TEST_F(MainDialogTest, OkCommandRunsUpdateAndLeavesTheWindowOpen)
{
    OpenMainDialog();
    dlg->SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_EQ(counters.connectedMachines, (std::vector<CString>{ u"WORKSTATION1" }));
}

TEST_F(MainDialogTest, MinimisedWindowDrawsTheIconCentred)
{
    OpenMainDialog();
    ui.SetIconic(dlg->m_hWnd, true, { 0, 0, 36, 36 });
    dlg->SendMessage(WM_PAINT);
    ASSERT_EQ(ui.iconsDrawn.size(), 1u);
    EXPECT_EQ(ui.iconsDrawn[0], (AfxPoint{ 2, 2 }));
    EXPECT_EQ(std::count(ui.sentMessages.begin(), ui.sentMessages.end(), WM_ICONERASEBKGND), 1);

    ui.SetIconic(dlg->m_hWnd, false, { 0, 0, 500, 500 });
    dlg->SendMessage(WM_PAINT);
    EXPECT_EQ(ui.iconsDrawn.size(), 1u);
    EXPECT_EQ(dlg->SendMessage(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(ui.LoadIcon(IDR_MAINFRAME)));
}

TEST_F(MainDialogTest, ApplicationDisconnectsAfterTheDialogEndsAndBeforeItIsDestroyed)
{
    network.addResults = { 0 };
    // While the window is open: an Update with a user name opens a connection; then Close.
    ui.modalScripts.emplace_back([&](HWND h) {
        ui.Type(ui.Item(h, IDC_USERNAME), u"admin");
        ui.Click(ui.Item(h, IDC_UPDATE));
        EXPECT_TRUE(network.cancelled.empty());
        EXPECT_EQ(counters.openQueries, 1);
        ui.Click(ui.Item(h, IDCANCEL));
    });
    // The query is still open when the connection is cancelled.
    int openWhenCancelled = -1;
    struct Spy : FakeNetworkConnector {
        FakeCounterSource* counters;
        int* open;
        std::uint32_t CancelConnection(const CString& r, bool f) override
        {
            *open = counters->openQueries;
            return FakeNetworkConnector::CancelConnection(r, f);
        }
    } spy;
    spy.counters = &counters;
    spy.open = &openWhenCancelled;
    ZeltorServices spied{ directory, spy, counters, shell };
    CZeltorApp spiedApp(spied);
    EXPECT_EQ(AfxWinMain(spiedApp, ui, u"/usr/bin/zeltor"), 0);
    EXPECT_EQ(spiedApp.m_strAppName, u"zeltor");
    EXPECT_EQ(spy.cancelled, (std::vector<CString>{ u"\\\\WORKSTATION1" }));
    EXPECT_EQ(openWhenCancelled, 1);
    EXPECT_EQ(counters.openQueries, 0);
    EXPECT_EQ(ui.commonControlsClasses, 0xFFu);
}

TEST(AppName, IsTheExecutablesFileNameWithoutExtension)
{
    EXPECT_EQ(AfxAppNameFromPath(u"C:\\Program Files\\Zeltor\\zeltor.exe"), u"zeltor");
    EXPECT_EQ(AfxAppNameFromPath(u"/opt/zeltor/bin/zeltor"), u"zeltor");
    EXPECT_EQ(AfxAppNameFromPath(u"Zeltor.Monitor.exe"), u"Zeltor.Monitor");
    EXPECT_EQ(AfxAppNameFromPath(u"./.hidden"), u".hidden");
}
