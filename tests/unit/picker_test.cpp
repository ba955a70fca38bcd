// Find and the controller picker on the headless backend.
#include "directory/sel_dc_dlg.h"
#include "tests/fakes/dialog_fixture.h"

namespace {

class PickerTest : public HeadlessTest {
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
    // Runs Find with a script for the picker's modal loop; records what the picker showed.
    void Find(const std::function<void(HWND)>& script)
    {
        pickerShown = false;
        ui.modalScripts.emplace_back([this, script](HWND picker) {
            pickerShown = true;
            HWND list = ui.Item(picker, IDC_DCLIST);
            shownItems = ui.Find(list)->items;
            okInitiallyEnabled = ui.IsWindowEnabled(ui.Item(picker, IDOK)) != FALSE;
            script(picker);
        });
        Click(IDC_FIND);
    }
    void Select(HWND picker, int index) { ui.SelectListItem(ui.Item(picker, IDC_DCLIST), index); }
    bool OkEnabled(HWND picker) { return ui.IsWindowEnabled(ui.Item(picker, IDOK)) != FALSE; }

    bool pickerShown = false;
    bool okInitiallyEnabled = true;
    std::vector<CString> shownItems;
};

} // namespace

TEST_F(PickerTest, NothingHappensWithoutADomainOrWithoutControllers)
{
    OpenMainDialog(); // a workgroup computer
    Find([&](HWND p) { ui.Click(ui.Item(p, IDCANCEL)); });
    EXPECT_FALSE(pickerShown);
    dlg->DestroyWindow();
    ui.modalScripts.clear();

    JoinDomainWith({});
    OpenMainDialog();
    Find([&](HWND p) { ui.Click(ui.Item(p, IDCANCEL)); });
    EXPECT_FALSE(pickerShown);
    EXPECT_TRUE(ui.messageBoxes.empty());
    // Discovery is not run again.
    EXPECT_EQ(std::count(directory.calls.begin(), directory.calls.end(), u"DsGetDomainControllerInfo"), 1);
}

TEST_F(PickerTest, MarkerIsComparedExactly)
{
    JoinDomainWith({ u"DC1" });
    OpenMainDialog();
    dlg->SetDlgItemText(IDC_DOMAIN, u"<not found>");
    Find([&](HWND p) { ui.Click(ui.Item(p, IDCANCEL)); });
    EXPECT_TRUE(pickerShown);
}

TEST_F(PickerTest, ShowsTheNamesInOrderWithOkDisabledUntilOneIsSelected)
{
    JoinDomainWith({ u"DC1", u"DC2", u"DC3" });
    OpenMainDialog();
    Find([&](HWND p) {
        EXPECT_EQ(ui.GetWindowText(p), u"Select Domain Controller");
        EXPECT_EQ(ui.GetListSelectedCount(ui.Item(p, IDC_DCLIST)), 0);
        Select(p, 1);
        EXPECT_TRUE(OkEnabled(p));
        ui.Click(ui.Item(p, IDOK));
    });
    EXPECT_EQ(shownItems, (std::vector<CString>{ u"DC1", u"DC2", u"DC3" }));
    EXPECT_FALSE(okInitiallyEnabled);
    EXPECT_EQ(Text(IDC_DC), u"DC2");
}

TEST_F(PickerTest, ConfirmingStopsMonitoringEvenForTheNameAlreadyShown)
{
    JoinDomainWith({ u"DC1" });
    OpenMainDialog();
    Click(IDC_UPDATE);
    counters.SetValue(u"\\Memory\\% Committed Bytes In Use", 40);
    Tick();
    EXPECT_EQ(Text(IDC_MEMORYUSAGE), u"40");
    Find([&](HWND p) {
        EXPECT_TRUE(TimerRunning()); // the timer runs while the picker is open
        Select(p, 0);
        ui.Click(ui.Item(p, IDOK));
    });
    EXPECT_FALSE(TimerRunning());
    EXPECT_EQ(Text(IDC_MEMORYUSAGE), u"0");
    EXPECT_FALSE(dlg->GetQuery().IsOpen());
    EXPECT_EQ(Text(IDC_DC), u"DC1");
    // The check box keeps its tick and enablement; connections stay.
    EXPECT_EQ(ui.GetCheck(Ctl(IDC_AUTOUPDATE)), BST_CHECKED);
    EXPECT_TRUE(Enabled(IDC_AUTOUPDATE));
    EXPECT_TRUE(network.cancelled.empty());
}

TEST_F(PickerTest, CancelAfterSelectingChangesNothing)
{
    JoinDomainWith({ u"DC1", u"DC2" });
    OpenMainDialog();
    Click(IDC_UPDATE);
    counters.SetValue(u"\\Memory\\% Committed Bytes In Use", 40);
    Tick();
    for (UINT how : { 0u, 1u, 2u }) {
        Find([&](HWND p) {
            Select(p, 1);
            if (how == 0)
                ui.Click(ui.Item(p, IDCANCEL));
            else if (how == 1)
                ui.KeyDown(VK_ESCAPE, ui.Item(p, IDC_DCLIST));
            else
                ui.CloseBox(p);
        });
        EXPECT_EQ(Text(IDC_DC), u"DC1") << how;
        EXPECT_TRUE(TimerRunning()) << how;
        EXPECT_EQ(Text(IDC_MEMORYUSAGE), u"40") << how;
        EXPECT_TRUE(dlg->GetQuery().IsOpen()) << how;
    }
}

TEST_F(PickerTest, FindAndOkEmptyAUserNameTypedButNeverUsed)
{
    JoinDomainWith({ u"DC1" });
    OpenMainDialog();
    ui.Type(Ctl(IDC_USERNAME), u"admin");
    ui.Type(Ctl(IDC_PASSWORD), u"pw");
    Find([&](HWND p) {
        Select(p, 0);
        ui.Click(ui.Item(p, IDOK));
    });
    EXPECT_EQ(Text(IDC_USERNAME), u"");
    EXPECT_EQ(Text(IDC_PASSWORD), u"");
}

TEST_F(PickerTest, ClearedSelectionKeepsOkEnabledAndEmptiesTheField)
{
    JoinDomainWith({ u"DC1", u"DC2" });
    OpenMainDialog();
    Find([&](HWND p) {
        Select(p, 0);
        Select(p, -1); // a click on the empty part of the list
        EXPECT_TRUE(OkEnabled(p));
        ui.Click(ui.Item(p, IDOK));
    });
    EXPECT_EQ(Text(IDC_DC), u"");
}

TEST_F(PickerTest, EnterWithNothingSelectedDoesNotConfirm)
{
    JoinDomainWith({ u"DC1" });
    OpenMainDialog();
    bool stayedOpen = false;
    Find([&](HWND p) {
        // The focus starts on Cancel, the first enabled tab stop; Enter there would press it.
        EXPECT_EQ(ui.GetFocus(), ui.Item(p, IDCANCEL));
        ui.SetFocus(ui.Item(p, IDC_DCLIST));
        ui.KeyDown(VK_RETURN); // the default button is still disabled
        stayedOpen = !ui.Find(p)->ended;
        Select(p, 0);
        ui.KeyDown(VK_RETURN);
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(Text(IDC_DC), u"DC1");
}
