// The dialog manager that the Qt and the headless layers share, driven through the picker as the
// program ships it: Enter, Escape, closing, and Tab along the tab stops.
#include "tests/fakes/dialog_fixture.h"

namespace {

class DialogManagerTest : public HeadlessTest {
protected:
    DialogManagerTest()
    {
        directory.joinStatus = NetSetupDomainName;
        directory.joinName = u"CORP";
        DsControllerInfo1 info;
        info.NetbiosName = u"DC1";
        directory.controllers.push_back(info);
        OpenMainDialog();
    }
    // Opens the picker with the first name selected, runs keys on it, and gives what the main
    // window's field holds afterwards ("OLD", as typed before, when the picker was cancelled).
    CString PickWith(std::function<void(HWND picker)> keys)
    {
        ui.Type(Ctl(IDC_DC), u"OLD");
        bool ended = true;
        ui.modalScripts.emplace_back([&](HWND picker) {
            ui.SelectListItem(ui.Item(picker, IDC_DCLIST), 0);
            keys(picker);
            ended = ui.Find(picker)->ended;
        });
        Click(IDC_FIND);
        EXPECT_TRUE(ended) << "the keys did not end the picker";
        return Text(IDC_DC);
    }
};

} // namespace

TEST_F(DialogManagerTest, EnterPressesTheFocusedPushButtonElseTheDefaultOne)
{
    // On Cancel, Enter cancels even though OK is the default button and enabled.
    EXPECT_EQ(PickWith([&](HWND p) {
                  ui.SetFocus(ui.Item(p, IDCANCEL));
                  ui.KeyDown(VK_RETURN);
              }),
              u"OLD");
    // On the list (no push button), Enter presses the default button, OK.
    EXPECT_EQ(PickWith([&](HWND p) {
                  ui.SetFocus(ui.Item(p, IDC_DCLIST));
                  ui.KeyDown(VK_RETURN);
              }),
              u"DC1");
    // A disabled default button is not pressed: the dialog manager beeps and the picker stays.
    EXPECT_EQ(PickWith([&](HWND p) {
                  ui.SelectListItem(ui.Item(p, IDC_DCLIST), -1);
                  ui.EnableWindow(ui.Item(p, IDOK), FALSE);
                  ui.SetFocus(ui.Item(p, IDC_DCLIST));
                  ui.KeyDown(VK_RETURN);
                  EXPECT_FALSE(ui.Find(p)->ended);
                  EXPECT_EQ(ui.beeps, 1);
                  ui.KeyDown(VK_ESCAPE);
              }),
              u"OLD");
}

TEST_F(DialogManagerTest, EscapeAndEveryWayOfClosingCancel)
{
    EXPECT_EQ(PickWith([&](HWND) { ui.KeyDown(VK_ESCAPE); }), u"OLD");
    EXPECT_EQ(PickWith([&](HWND p) { ui.CloseBox(p); }), u"OLD");
    EXPECT_EQ(PickWith([&](HWND p) { ui.SendMessage(p, WM_CLOSE, 0, 0); }), u"OLD");
}

TEST_F(DialogManagerTest, TabWalksTheEnabledTabStopsInTemplateOrder)
{
    PickWith([&](HWND p) {
        const HWND ok = ui.Item(p, IDOK), cancel = ui.Item(p, IDCANCEL), list = ui.Item(p, IDC_DCLIST);
        // OK is enabled by the selection: OK, Cancel, the list, and round again; the group box
        // is no tab stop.
        ui.SetFocus(ok);
        std::vector<HWND> forward, backward;
        for (int i = 0; i < 4; ++i) {
            ui.KeyDown(VK_TAB);
            forward.push_back(ui.GetFocus());
        }
        for (int i = 0; i < 4; ++i) {
            ui.KeyDown(VK_TAB, nullptr, true);
            backward.push_back(ui.GetFocus());
        }
        EXPECT_EQ(forward, (std::vector<HWND>{ cancel, list, ok, cancel }));
        EXPECT_EQ(backward, (std::vector<HWND>{ ok, list, cancel, ok }));
        // A disabled control is passed over.
        ui.EnableWindow(ok, FALSE);
        ui.SetFocus(list);
        ui.KeyDown(VK_TAB);
        EXPECT_EQ(ui.GetFocus(), cancel);
        ui.KeyDown(VK_ESCAPE);
    });
}
