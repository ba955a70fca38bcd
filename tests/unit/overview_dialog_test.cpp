// The domain overview as the main window opens it, on the headless backend: the system menu's
// item and Ctrl+D, the rows filled from the workers' posted results, sorting, and a chosen row
// going to the main window's Update.
#include "app/overview_dlg.h"
#include "directory/win32_error_text.h"
#include "tests/fakes/dialog_fixture.h"
#include "tests/fakes/scripted_replication.h"

namespace {

class OverviewDialogTest : public HeadlessTest {
protected:
    void JoinDomainWith(std::initializer_list<const char16_t*> names)
    {
        directory.joinStatus = NetSetupDomainName;
        directory.joinName = u"CORP";
        for (const char16_t* n : names) {
            DsControllerInfo1 info;
            info.NetbiosName = n;
            directory.controllers.push_back(info);
        }
    }
    // Each controller answers with its processor time from cpu; REFUSING refuses the password.
    void OfferOverview()
    {
        services.overview = [this] {
            ControllerConnection c;
            auto network = std::make_unique<FakeNetworkConnector>();
            auto source = std::make_unique<FakeCounterSource>();
            const int n = made++;
            source->SetValue(u"\\Processor(_Total)\\% Processor Time", 10 + 40 * n);
            source->SetValue(u"\\Memory\\% Committed Bytes In Use", 50);
            if (n == 1)
                network->addResults = { win32_error::kLogonFailure };
            c.network = std::move(network);
            c.counters = std::move(source);
            return c;
        };
    }
    // Runs the overview with a script; results are delivered until rows are all heard from.
    void WithOverview(const std::function<void(HWND)>& open, const std::function<void(HWND, HWND)>& script)
    {
        ui.modalScripts.emplace_back([this, script](HWND overview) {
            shown = true;
            HWND list = ui.Item(overview, IDC_OVERVIEW_LIST);
            for (int i = 0; i < 200 && !AllHeard(list); ++i) {
                ui.WaitForPostedMessage(50);
                ui.DeliverPostedMessages();
            }
            script(overview, list);
        });
        open(dlg->m_hWnd);
    }
    bool AllHeard(HWND list)
    {
        const int count = ui.GetListItemCount(list);
        for (int i = 0; i < count; ++i) {
            if (ui.GetListItemText(list, i, kOverviewState) == u"reading")
                return false;
        }
        return count > 0;
    }
    std::vector<CString> ColumnOf(HWND list, int column)
    {
        std::vector<CString> texts;
        texts.reserve(ui.GetListItemCount(list));
        for (int i = 0; i < ui.GetListItemCount(list); ++i)
            texts.push_back(ui.GetListItemText(list, i, column));
        return texts;
    }

    int made = 0;
    bool shown = false;
};

} // namespace

TEST_F(OverviewDialogTest, SystemMenuOffersItAboveAboutAndCtrlDOpensItWithEveryController)
{
    JoinDomainWith({ u"DC1", u"DC2", u"DC3" });
    OfferOverview();
    OpenMainDialog();
    ASSERT_EQ(ui.systemMenu.size(), 3u);
    EXPECT_EQ(ui.systemMenu[0].id, static_cast<UINT_PTR>(ID_SYSCMD_OVERVIEW));
    EXPECT_EQ(ui.systemMenu[0].text, u"Domain &Overview...\tCtrl+D");
    EXPECT_EQ(ui.systemMenu[1].flags, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(ui.systemMenu[2].id, static_cast<UINT_PTR>(ID_SYSCMD_ABOUT));

    // The refusal needs a password to refuse.
    ui.Type(Ctl(IDC_USERNAME), u"admin");
    // D alone is a letter for the field; with Ctrl it opens the overview.
    ui.KeyDown('D', Ctl(IDC_DC));
    EXPECT_TRUE(ui.modalScripts.empty());
    CString userSeen;
    WithOverview([&](HWND) { ui.KeyDown('D', Ctl(IDC_DC), false, true); },
                 [&](HWND overview, HWND list) {
                     const auto* w = ui.Find(list);
                     EXPECT_EQ(w->columns,
                               (std::vector<CString>{ u"Controller", u"State", u"Processor %", u"Committed memory %",
                                                      u"Free disk %", u"LSASS handles", u"Page faults/sec", u"Age",
                                                      u"Health", u"Replication" }));
                     EXPECT_EQ(ColumnOf(list, kOverviewController), (std::vector<CString>{ u"DC1", u"DC2", u"DC3" }));
                     EXPECT_EQ(ColumnOf(list, kOverviewProcessor), (std::vector<CString>{ u"10", u"", u"90 (high)" }));
                     EXPECT_EQ(ui.GetListItemText(list, 1, kOverviewState).rfind(u"credentials refused", 0), 0u);
                     EXPECT_EQ(w->sortIndicator, std::make_pair(int{ kOverviewController }, TRUE));
                     EXPECT_EQ(ui.GetFocus(), list);
                     EXPECT_EQ(ui.GetWindowText(ui.Item(overview, IDC_OVERVIEW_INTERVAL)), u"5");
                     ui.Click(ui.Item(overview, IDCANCEL));
                 });
    EXPECT_TRUE(shown);
    // Closing changed nothing in the main window.
    EXPECT_EQ(Text(IDC_DC), u"DC1");
    EXPECT_TRUE(counters.connectedMachines.empty());
}

TEST_F(OverviewDialogTest, SortsByAClickedColumnAndAChosenRowIsUpdatedInTheMainWindow)
{
    JoinDomainWith({ u"DC1", u"DC2", u"DC3" });
    OfferOverview();
    OpenMainDialog();
    ui.Type(Ctl(IDC_USERNAME), u"CORP\\admin");
    ui.Type(Ctl(IDC_PASSWORD), u"pw");
    WithOverview([&](HWND main) { ui.SystemCommand(main, ID_SYSCMD_OVERVIEW); },
                 [&](HWND overview, HWND list) {
                     ui.ClickListColumn(list, kOverviewProcessor);
                     EXPECT_EQ(ColumnOf(list, kOverviewController), (std::vector<CString>{ u"DC1", u"DC3", u"DC2" }));
                     ui.ClickListColumn(list, kOverviewProcessor); // turned round, the row without figures last
                     EXPECT_EQ(ColumnOf(list, kOverviewController), (std::vector<CString>{ u"DC3", u"DC1", u"DC2" }));
                     EXPECT_EQ(ui.Find(list)->sortIndicator, std::make_pair(int{ kOverviewProcessor }, FALSE));
                     // The selection follows its controller through a new order.
                     ui.SetListSelection(list, 1); // DC1
                     ui.ClickListColumn(list, kOverviewController);
                     EXPECT_EQ(ui.GetListNextItem(list, -1, LVNI_SELECTED), 0);
                     // Enter in the interval field does not choose; a new interval is taken.
                     ui.Type(ui.Item(overview, IDC_OVERVIEW_INTERVAL), u"12");
                     ui.SetFocus(ui.Item(overview, IDC_OVERVIEW_INTERVAL));
                     ui.KeyDown(VK_RETURN);
                     EXPECT_FALSE(ui.Find(overview)->ended);
                     ui.Type(ui.Item(overview, IDC_OVERVIEW_INTERVAL), u"0");
                     ui.DoubleClickListItem(list, 2); // DC3
                 });
    EXPECT_EQ(Text(IDC_DC), u"DC3");
    // The main window's Update ran on it, with the credentials typed there.
    ASSERT_FALSE(counters.connectedMachines.empty());
    EXPECT_EQ(counters.connectedMachines.back(), u"DC3");
    ASSERT_FALSE(network.attempts.empty());
    EXPECT_EQ(network.attempts.back().remoteName, u"\\\\DC3");
    EXPECT_TRUE(TimerRunning());
}

TEST_F(OverviewDialogTest, EnterChoosesTheSelectedRowAndNothingIsOfferedWithoutTheService)
{
    JoinDomainWith({ u"DC1", u"DC2" });
    OfferOverview();
    OpenMainDialog();
    WithOverview([&](HWND main) { ui.SystemCommand(main, ID_SYSCMD_OVERVIEW); },
                 [&](HWND, HWND list) {
                     ui.SetListSelection(list, 1);
                     ui.SetFocus(list);
                     ui.KeyDown(VK_RETURN);
                 });
    EXPECT_EQ(Text(IDC_DC), u"DC2");
    dlg->DestroyWindow();
    ui.modalScripts.clear();

    // A platform without the overview's connections offers no item.
    services.overview = nullptr;
    OpenMainDialog();
    ASSERT_EQ(ui.systemMenu.size(), 5u); // the three of the window before, and these two
    EXPECT_EQ(ui.systemMenu[3].flags, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(ui.systemMenu[4].id, static_cast<UINT_PTR>(ID_SYSCMD_ABOUT));
}

TEST_F(OverviewDialogTest, WithoutControllersCtrlDOpensItSayingNoneWasFoundInTheDomainFieldsWords)
{
    // A workgroup computer, then a domain whose directory lists no controller.
    OfferOverview();
    for (const bool member : { false, true }) {
        directory.joinStatus = member ? NetSetupDomainName : NetSetupWorkgroupName;
        directory.joinName = u"CORP";
        shown = false;
        OpenMainDialog();
        const CString dc = Text(IDC_DC);
        WithOverview([&](HWND) { ui.KeyDown('D', Ctl(IDC_DC), false, true); },
                     [&](HWND overview, HWND list) {
                         // One row, its words the string table's, as the Domain field shows them.
                         ASSERT_EQ(ui.GetListItemCount(list), 1);
                         EXPECT_EQ(ui.GetListItemText(list, 0, kOverviewController),
                                   CString(AfxFindStringResource(IDS_NOT_FOUND)));
                         EXPECT_EQ(ui.GetListItemText(list, 0, kOverviewController), u"<Not Found>");
                         EXPECT_EQ(ColumnOf(list, kOverviewState), std::vector<CString>{ u"" });
                         // Nothing on it to choose or refresh.
                         ui.DoubleClickListItem(list, 0);
                         ui.SetListSelection(list, 0);
                         ui.KeyDown(VK_RETURN, list);
                         ui.Click(ui.Item(overview, IDC_OVERVIEW_REFRESH));
                         ui.ClickListColumn(list, kOverviewProcessor);
                         EXPECT_FALSE(ui.Find(overview)->ended);
                         EXPECT_EQ(ui.GetListItemCount(list), 1);
                         ui.Click(ui.Item(overview, IDCANCEL));
                     });
        EXPECT_TRUE(shown) << "member of a domain: " << member;
        EXPECT_EQ(Text(IDC_DOMAIN), member ? CString(u"CORP") : CString(u"<Not Found>"));
        EXPECT_EQ(Text(IDC_DC), dc);
        EXPECT_EQ(made, 0);
        EXPECT_TRUE(counters.connectedMachines.empty());
        dlg->DestroyWindow();
    }
}

TEST_F(OverviewDialogTest, ReplicationColumnSaysEachControllersPartnersAndEnterStillChooses)
{
    // DC1 replicates with two partners; DC2 refuses the counters' logon, so its replication is
    // not read with those credentials; DC3 has failed to pull from DC9 for 3 hours.
    const auto replication = std::make_shared<ScriptedReplication>();
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    replication->Answer("DC1", { { "DC2" }, { "DC3" } }, now);
    replication->Answer("DC3", { { "DC1" }, { "DC9", 12, 1722, 3 * 3600 + 60 } }, now);
    services.replication = [replication] { return std::shared_ptr<IReplicationService>(replication); };
    JoinDomainWith({ u"DC1", u"DC2", u"DC3" });
    OfferOverview();
    OpenMainDialog();
    ui.Type(Ctl(IDC_USERNAME), u"CORP\\admin");
    ui.Type(Ctl(IDC_PASSWORD), u"pw");
    WithOverview([&](HWND main) { ui.SystemCommand(main, ID_SYSCMD_OVERVIEW); },
                 [&](HWND, HWND list) {
                     const auto allRead = [&] {
                         const std::vector<CString> cells = ColumnOf(list, kOverviewReplication);
                         return std::none_of(cells.begin(), cells.end(), [](const CString& c) { return c.empty(); });
                     };
                     for (int i = 0; i < 200 && !allRead(); ++i) {
                         ui.WaitForPostedMessage(50);
                         ui.DeliverPostedMessages();
                     }
                     EXPECT_EQ(ColumnOf(list, kOverviewReplication),
                               (std::vector<CString>{ u"ok, 2 partners",
                                                      u"not read: the logon was refused; Refresh tries again",
                                                      u"DC9 failing for 3 h: The RPC server is unavailable." }));
                     // Read once each (the interval is minutes), and never with the refused credentials.
                     EXPECT_EQ(replication->Reads("DC1"), 1);
                     EXPECT_EQ(replication->Reads("DC2"), 0);
                     // Sorted by it: replicating, then failing partners, then not read.
                     ui.ClickListColumn(list, kOverviewReplication);
                     EXPECT_EQ(ColumnOf(list, kOverviewController), (std::vector<CString>{ u"DC1", u"DC3", u"DC2" }));
                     // Enter on a row still hands its controller to the main window.
                     ui.SetListSelection(list, 1);
                     ui.SetFocus(list);
                     ui.KeyDown(VK_RETURN);
                 });
    EXPECT_EQ(Text(IDC_DC), u"DC3");
}
