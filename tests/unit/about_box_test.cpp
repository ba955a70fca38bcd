// The About box on the headless window layer, opened through the main window's system command:
// its links, background, colours, and what a second opening starts with.
#include <gtest/gtest.h>

#include "controls/about_dlg.h"
#include "tests/fakes/dialog_fixture.h"

namespace {

class AboutBoxTest : public HeadlessTest {
protected:
    // Opens the About box through the system command and runs script while it is shown; the
    // script closes it with OK.
    void OpenAbout(UINT command, const std::function<void(HWND)>& script)
    {
        ui.modalScripts.emplace_back([this, script](HWND about) {
            opened.push_back(ui.GetWindowText(about));
            script(about);
            ui.Click(ui.Item(about, IDOK));
        });
        ui.SystemCommand(dlg->m_hWnd, command);
    }
    CHyperLink* Link(HWND about, int id)
    {
        return dynamic_cast<CHyperLink*>(CWnd::FromHandlePermanent(ui.Item(about, id)));
    }

    std::vector<CString> opened;
};

} // namespace

TEST_F(AboutBoxTest, SystemCommandSixteenWithAnyLowBitsOpensTheBox)
{
    OpenMainDialog();
    for (UINT command = 0x0010; command <= 0x001F; ++command)
        OpenAbout(command, [](HWND) {});
    EXPECT_EQ(opened.size(), 16u);
    EXPECT_EQ(opened.front(), u"About Zeltor");
    // Other commands keep their default handling.
    ui.SystemCommand(dlg->m_hWnd, 0x0020);
    ui.SystemCommand(dlg->m_hWnd, SC_MINIMIZE);
    EXPECT_EQ(opened.size(), 16u);
    EXPECT_TRUE(ui.IsIconic(dlg->m_hWnd));
    ui.SystemCommand(dlg->m_hWnd, SC_CLOSE);
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetEndCode(), IDCANCEL);
}

TEST_F(AboutBoxTest, LinksShowTheAddressesOpenTheirTargetsAndStayUnderlined)
{
    OpenMainDialog();
    OpenAbout(ID_SYSCMD_ABOUT, [&](HWND about) {
        struct Expected {
            int id;
            const char16_t* text;
            const char16_t* url;
        };
        for (const Expected& e :
             { Expected{ IDC_LINK_WEB, u"https://www.zeltor.example/", u"https://www.zeltor.example/" },
               Expected{ IDC_LINK_SUPPORT, u"support@zeltor.example", u"mailto:support@zeltor.example" },
               Expected{ IDC_LINK_SALES, u"sales@zeltor.example", u"mailto:sales@zeltor.example" } }) {
            CHyperLink* link = Link(about, e.id);
            ASSERT_NE(link, nullptr) << e.id;
            HWND h = ui.Item(about, e.id);
            EXPECT_EQ(ui.GetWindowText(h), e.text);
            EXPECT_EQ(link->GetLinkUrl(), e.url);
            ASSERT_EQ(ui.ToolTipsOf(h).size(), 1u);
            EXPECT_EQ(ui.ToolTipsOf(h)[0]->tools.at(0).text, e.url);
            EXPECT_EQ(link->GetUnderlineMode(), 1);
            EXPECT_EQ(ui.Find(h)->font, link->GetUnderlinedFont());
            // Sized to the visible text, not to the target.
            EXPECT_EQ(ui.GetClientRect(h).Width(), 6 * CString(e.text).GetLength());
            // Under the pointer it turns red and stays underlined; it returns to blue after.
            ui.MouseMove(h, { 1, 1 });
            EXPECT_EQ(ui.RequestCtlColor(h).textColor, RGB(255, 0, 0));
            ui.MovePointerTo({ 0, 0 });
            ui.Tick(h, 100);
            EXPECT_EQ(ui.Find(h)->font, link->GetUnderlinedFont());
            EXPECT_EQ(ui.RequestCtlColor(h).textColor, RGB(0, 0, 238));
        }
        ui.Click(ui.Item(about, IDC_LINK_SUPPORT));
    });
    EXPECT_EQ(shell.calls, (std::vector<CString>{ u"ShellOpen mailto:support@zeltor.example" }));
    // The box is gone with its links, fonts and cursors.
    EXPECT_EQ(shell.cursorsOut, 0);
}

TEST_F(AboutBoxTest, BackgroundPictureFillsTheClientAreaAndStaticsAreTransparent)
{
    OpenMainDialog();
    const int objectsBefore = ui.LiveObjectCount();
    OpenAbout(ID_SYSCMD_ABOUT, [&](HWND about) {
        ui.fills.clear();
        ui.Paint(about);
        ASSERT_EQ(ui.fills.size(), 1u);
        EXPECT_EQ(ui.fills[0].rect, ui.GetClientRect(about));
        EXPECT_EQ(ui.fills[0].bitmapId, static_cast<UINT>(IDB_BACKGROUND));
        // The version text and the links show the picture; the links keep their colour.
        const auto version = ui.RequestCtlColor(ui.Item(about, IDC_VERSION));
        EXPECT_EQ(version.brush, ui.GetStockObject(NULL_BRUSH));
        EXPECT_EQ(version.bkMode, TRANSPARENT);
        const auto web = ui.RequestCtlColor(ui.Item(about, IDC_LINK_WEB));
        EXPECT_EQ(web.brush, ui.GetStockObject(NULL_BRUSH));
        EXPECT_EQ(web.textColor, RGB(0, 0, 238));
        // The OK button keeps the system's brush.
        EXPECT_EQ(ui.RequestCtlColor(ui.Item(about, IDOK)).brush, ui.systemBrush);
    });
    EXPECT_EQ(ui.LiveObjectCount(), objectsBefore); // brush, bitmap and fonts deleted
}

TEST_F(AboutBoxTest, WithoutThePictureNothingIsFilled)
{
    ui.bitmapsAvailable = false;
    OpenMainDialog();
    OpenAbout(ID_SYSCMD_ABOUT, [&](HWND about) {
        ui.fills.clear();
        ui.Paint(about);
        EXPECT_TRUE(ui.fills.empty());
    });
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(AboutBoxTest, SecondOpeningStartsUnvisitedAndAFailedLinkKeepsTheBoxOpen)
{
    OpenMainDialog();
    OpenAbout(ID_SYSCMD_ABOUT, [&](HWND about) {
        ui.Click(ui.Item(about, IDC_LINK_WEB));
        EXPECT_TRUE(Link(about, IDC_LINK_WEB)->IsLinkVisited());
        EXPECT_EQ(ui.RequestCtlColor(ui.Item(about, IDC_LINK_WEB)).textColor, RGB(85, 26, 139));
    });
    shell.shellResults = { 31 };
    OpenAbout(ID_SYSCMD_ABOUT, [&](HWND about) {
        EXPECT_FALSE(Link(about, IDC_LINK_WEB)->IsLinkVisited());
        EXPECT_EQ(ui.RequestCtlColor(ui.Item(about, IDC_LINK_WEB)).textColor, RGB(0, 0, 238));
        ui.Click(ui.Item(about, IDC_LINK_SALES));
        ASSERT_EQ(ui.messageBoxes.size(), 1u);
        EXPECT_EQ(
            ui.messageBoxes[0].text,
            u"Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.");
        EXPECT_FALSE(ui.Find(about)->ended);
    });
    EXPECT_EQ(opened.size(), 2u);
}
