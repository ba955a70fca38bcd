// The hyperlink control on the headless window layer: attaching, fitting, fonts and underline
// modes, hover tracking, colours, the pointer, the tooltip, and clicks.
#include <gtest/gtest.h>

#include <cstring>

#include "controls/hyperlink.h"
#include "framework/dialog_template.h"
#include "tests/fakes/dialog_fixture.h"

namespace {

// The About box's template with one link on control 1023; the test decides when it is attached.
class LinkHostDlg : public CDialog {
public:
    explicit LinkHostDlg(IShellService& shell) : CDialog(IDD_ABOUTBOX), link(shell) {}
    CHyperLink link;
    bool attachOnInit = true;

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        CDialog::DoDataExchange(pDX);
        if (attachOnInit)
            DDX_Control(pDX, IDC_LINK_WEB, link);
    }
};

class HyperLinkTest : public HeadlessTest {
protected:
    // Creates the host dialog; with attach false the link is attached later by Attach().
    CHyperLink& Open(bool attach = true)
    {
        host = std::make_unique<LinkHostDlg>(shell);
        host->attachOnInit = attach;
        EXPECT_TRUE(host->Create());
        return host->link;
    }
    void Attach() { ASSERT_TRUE(host->link.SubclassDlgItem(IDC_LINK_WEB, host.get())); }

    HWND LinkWnd() { return ui.Item(host->m_hWnd, IDC_LINK_WEB); }
    HeadlessBackend::Window& W() { return *ui.Find(LinkWnd()); }
    HeadlessBackend::Window::Tool& Tool()
    {
        auto tips = ui.ToolTipsOf(LinkWnd());
        EXPECT_EQ(tips.size(), 1u);
        EXPECT_EQ(tips[0]->tools.size(), 1u);
        return tips[0]->tools[0];
    }
    bool Underlined(HFONT f) { return ui.FontDescription(f) != nullptr && ui.FontDescription(f)->lfUnderline != 0; }
    bool HoverTimer() { return ui.IsTimerRunning(LinkWnd(), 100); }
    // Pointer into the link, then out again and one tick.
    void HoverOver() { ui.MouseMove(LinkWnd(), { 2, 2 }); }
    void LeaveAndTick()
    {
        const AfxRect r = ui.GetWindowRect(LinkWnd());
        ui.MovePointerTo({ r.left - 5, r.top - 5 });
        ui.Tick(LinkWnd(), 100);
    }
    COLORREF RepaintColor() { return ui.RequestCtlColor(LinkWnd()).textColor; }

    std::unique_ptr<LinkHostDlg> host;
};

} // namespace

TEST_F(HyperLinkTest, AttachingTakesTheTextAsUrlAndPreparesFontsTipAndPointer)
{
    CHyperLink& link = Open();
    EXPECT_NE(W().style & SS_NOTIFY, 0u);
    EXPECT_EQ(link.GetLinkUrl(), u"https://www.zeltor.example/");
    EXPECT_EQ(W().text, u"https://www.zeltor.example/");
    // Two copies of the dialog font that differ only in underlining; the shown font is not changed.
    const AfxLogFont* plain = ui.FontDescription(link.GetPlainFont());
    const AfxLogFont* under = ui.FontDescription(link.GetUnderlinedFont());
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(under, nullptr);
    EXPECT_EQ(plain->lfUnderline, 0);
    EXPECT_EQ(under->lfUnderline, 1);
    AfxLogFont same = *under;
    same.lfUnderline = 0;
    EXPECT_EQ(std::u16string(same.lfFaceName), u"MS Shell Dlg");
    EXPECT_EQ(std::memcmp(&same, plain, sizeof same), 0);
    EXPECT_TRUE(W().fontsSet.empty());
    EXPECT_TRUE(W().invalidations.empty());
    // Fitted once to the text measured in the underlined font: 27 characters of 6 pixels.
    EXPECT_EQ(ui.extentFonts, (std::vector<HFONT>{ link.GetUnderlinedFont() }));
    const AfxRect client = ui.GetClientRect(LinkWnd());
    EXPECT_EQ(client, (AfxRect{ 0, 0, 162, 13 }));
    // Template place 76, 69 in headless pixels (3/2 and 2 per dialog unit).
    ASSERT_EQ(W().moves.size(), 1u);
    EXPECT_EQ(W().moves[0], (AfxRect{ 114, 138, 276, 151 }));
    // The tooltip: child of the control, tool 1 owned by it, over the fitted client area.
    EXPECT_EQ(Tool().owner, LinkWnd());
    EXPECT_EQ(Tool().id, 1u);
    EXPECT_EQ(Tool().text, u"https://www.zeltor.example/");
    EXPECT_EQ(Tool().rect, client);
    EXPECT_NE(link.GetHandCursor(), nullptr);
    EXPECT_EQ(shell.cursorsOut, 1);
}

TEST_F(HyperLinkTest, UrlSetBeforeAttachingSurvivesAndTheTextStays)
{
    CHyperLink& link = Open(false);
    link.SetLinkUrl(u"mailto:support@zeltor.example");
    link.SetUnderlineMode(1); // replaced by -1 when attached
    // Plain text to a screen reader until it is attached, a link after.
    EXPECT_FALSE(W().accessibleLink);
    Attach();
    EXPECT_TRUE(W().accessibleLink);
    EXPECT_EQ(link.GetLinkUrl(), u"mailto:support@zeltor.example");
    EXPECT_EQ(W().text, u"https://www.zeltor.example/");
    EXPECT_EQ(Tool().text, u"mailto:support@zeltor.example");
    EXPECT_EQ(link.GetUnderlineMode(), -1);
    EXPECT_EQ(W().fontsSet, (std::vector<HFONT>{ link.GetPlainFont() }));
}

TEST_F(HyperLinkTest, EmptyTextTakesTheUrlAndEmptyBothStaysEmpty)
{
    CHyperLink& link = Open(false);
    ui.SetWindowText(LinkWnd(), u"");
    link.SetLinkUrl(u"https://x.example/");
    Attach();
    EXPECT_EQ(W().text, u"https://x.example/");

    host.reset();
    CHyperLink& empty = Open(false);
    ui.SetWindowText(LinkWnd(), u"");
    Attach();
    EXPECT_EQ(empty.GetLinkUrl(), u"");
    EXPECT_EQ(W().text, u"");
    EXPECT_EQ(Tool().text, u"");
    // No text: the control shrinks to nothing wide.
    EXPECT_EQ(ui.GetClientRect(LinkWnd()).Width(), 0);
}

TEST_F(HyperLinkTest, ControlWithoutFontCopiesTheStockGuiFontThenTheAnsiFont)
{
    ui.controlsHaveFont = false;
    CHyperLink& link = Open();
    EXPECT_EQ(std::u16string(ui.FontDescription(link.GetPlainFont())->lfFaceName), u"MS Shell Dlg");
    host.reset();
    ui.stockGuiFontAvailable = false;
    CHyperLink& other = Open();
    EXPECT_EQ(std::u16string(ui.FontDescription(other.GetPlainFont())->lfFaceName), u"MS Sans Serif");
    EXPECT_EQ(ui.FontDescription(other.GetUnderlinedFont())->lfUnderline, 1);
}

TEST_F(HyperLinkTest, RefittingFollowsTheStyleAndKeepsTheBorder)
{
    CHyperLink& link = Open(false);
    HeadlessBackend::Window& w = W();
    w.style |= tpl_style::Border | SS_RIGHT;
    // A bordered control: the border stays around the fitted text.
    ui.SetWindowText(LinkWnd(), u"abc");
    const AfxRect before = ui.GetWindowRect(LinkWnd());
    w.borderX = w.borderTop = w.borderBottom = 1;
    ui.SetWindowPos(LinkWnd(), nullptr, 114, 138, before.Width(), before.Height(), SWP_NOZORDER);
    Attach();
    const AfxRect after = ui.GetWindowRect(LinkWnd());
    EXPECT_EQ(after.right, before.right);
    EXPECT_EQ(after.Width(), 3 * 6 + 2);
    EXPECT_EQ(after.Height(), 13 + 2);
    // A new URL refits to the text, not to the URL.
    link.SetLinkUrl(u"https://a.much.longer.example/path");
    EXPECT_EQ(ui.GetWindowRect(LinkWnd()), after);
}

TEST_F(HyperLinkTest, DefaultModeUnderlinesOnlyWhileHovered)
{
    CHyperLink& link = Open();
    HoverOver();
    EXPECT_TRUE(link.IsHovering());
    EXPECT_EQ(W().font, link.GetUnderlinedFont());
    EXPECT_TRUE(HoverTimer());
    EXPECT_EQ(ui.TimerPeriod(LinkWnd(), 100), 100u);
    EXPECT_EQ(RepaintColor(), RGB(255, 0, 0));
    LeaveAndTick();
    EXPECT_FALSE(link.IsHovering());
    EXPECT_FALSE(HoverTimer());
    EXPECT_EQ(W().font, link.GetPlainFont());
    EXPECT_EQ(RepaintColor(), RGB(0, 0, 238));
}

TEST_F(HyperLinkTest, ModeOneStaysUnderlinedAndOtherModesNeverUnderline)
{
    CHyperLink& link = Open();
    link.SetUnderlineMode(1);
    EXPECT_TRUE(Underlined(W().font));
    HoverOver();
    LeaveAndTick();
    EXPECT_FALSE(link.IsHovering());
    EXPECT_TRUE(Underlined(W().font));

    for (int mode : { 0, 2, -2 }) {
        link.SetUnderlineMode(mode);
        HoverOver();
        EXPECT_TRUE(link.IsHovering());
        EXPECT_FALSE(Underlined(W().font)) << mode;
        LeaveAndTick();
        EXPECT_FALSE(Underlined(W().font)) << mode;
        for (HFONT f : W().fontsSet)
            EXPECT_TRUE(f == link.GetPlainFont() || f == link.GetUnderlinedFont());
    }
}

TEST_F(HyperLinkTest, SettingTheCurrentModeDoesNotRepaint)
{
    CHyperLink& link = Open();
    link.SetUnderlineMode(-1);
    EXPECT_TRUE(W().invalidations.empty());
    EXPECT_TRUE(W().fontsSet.empty());
    link.SetUnderlineMode(1);
    ASSERT_EQ(W().invalidations.size(), 1u);
    EXPECT_TRUE(W().invalidations[0].whole);
    EXPECT_EQ(W().invalidations[0].erase, TRUE);
    link.SetUnderlineMode(1);
    EXPECT_EQ(W().invalidations.size(), 1u);
    EXPECT_EQ(W().fontsSet.size(), 1u);
}

TEST_F(HyperLinkTest, HoverEndsOnlyWhenATickFindsThePointerOutside)
{
    CHyperLink& link = Open();
    HoverOver();
    const size_t afterEnter = W().invalidations.size();
    // Further moves and ticks inside change nothing.
    ui.MouseMove(LinkWnd(), { 100, 5 });
    const AfxRect client = ui.GetClientRect(LinkWnd());
    ui.pointer = ui.ClientToScreen(LinkWnd(), { client.right - 1, client.bottom - 1 });
    ui.Tick(LinkWnd(), 100);
    EXPECT_TRUE(link.IsHovering());
    EXPECT_EQ(W().invalidations.size(), afterEnter);
    // The right and bottom edges are outside.
    ui.pointer = ui.ClientToScreen(LinkWnd(), { client.right, 0 });
    ui.Tick(LinkWnd(), 100);
    EXPECT_FALSE(link.IsHovering());
    ASSERT_EQ(W().invalidations.size(), afterEnter + 1);
    const auto& last = W().invalidations.back();
    EXPECT_FALSE(last.whole);
    EXPECT_EQ(last.rect, (AfxRect{ 0, 0, client.right, client.bottom + 10 }));
    EXPECT_EQ(last.erase, TRUE);
    // A move restarts it under the same id.
    ui.MouseMove(LinkWnd(), { 1, 1 });
    EXPECT_TRUE(HoverTimer());
    // Negative screen coordinates survive the 16-bit packing.
    ui.pointer = { -3, -7 };
    EXPECT_EQ(ui.GetMessagePos(), 0xFFF9FFFDu);
    ui.Tick(LinkWnd(), 100);
    EXPECT_FALSE(HoverTimer());
}

TEST_F(HyperLinkTest, PointerIsTheHandWhenOneWasLoadedAndMovesAreRelayedToTheTip)
{
    CHyperLink& link = Open();
    HoverOver();
    EXPECT_EQ(ui.currentCursor, link.GetHandCursor());
    EXPECT_EQ(ui.ToolTipsOf(LinkWnd())[0]->relayed, 1);
    host.reset();
    EXPECT_EQ(shell.cursorsOut, 0); // the copy goes with the control

    shell.handCursorAvailable = false;
    Open();
    ui.cursorsSet.clear();
    HoverOver();
    EXPECT_TRUE(ui.cursorsSet.empty());
}

TEST_F(HyperLinkTest, ColourRequestAnswersTheLinkColourTransparentWithTheHollowBrush)
{
    CHyperLink& link = Open();
    // The host has no colour handler of its own: the default handling offers it to the link.
    const auto answer = ui.RequestCtlColor(LinkWnd());
    EXPECT_EQ(answer.textColor, RGB(0, 0, 238));
    EXPECT_EQ(answer.bkMode, TRANSPARENT);
    EXPECT_EQ(answer.brush, ui.GetStockObject(NULL_BRUSH));
    // A static that is not a link gets the system's colours.
    const auto plain = ui.RequestCtlColor(ui.Item(host->m_hWnd, IDC_VERSION));
    EXPECT_EQ(plain.brush, ui.systemBrush);
    EXPECT_EQ(plain.bkMode, OPAQUE);
    // Visited, and visited under the pointer.
    link.SetLinkVisited(TRUE);
    EXPECT_EQ(RepaintColor(), RGB(85, 26, 139));
    HoverOver();
    EXPECT_EQ(RepaintColor(), RGB(255, 0, 0));
}

TEST_F(HyperLinkTest, ClickOpensTheUrlAndMarksTheLinkVisited)
{
    CHyperLink& link = Open();
    HoverOver();
    const size_t before = W().invalidations.size();
    ui.Click(LinkWnd());
    EXPECT_EQ(shell.calls, (std::vector<CString>{ u"ShellOpen https://www.zeltor.example/" }));
    EXPECT_EQ(shell.showCommands, (std::vector<int>{ SW_SHOW }));
    EXPECT_TRUE(link.IsLinkVisited());
    EXPECT_FALSE(link.IsHovering());
    EXPECT_TRUE(HoverTimer()); // ends at the next tick outside
    EXPECT_EQ(W().invalidations.size(), before + 1);
    EXPECT_EQ(RepaintColor(), RGB(85, 26, 139));
    EXPECT_TRUE(ui.messageBoxes.empty());
    EXPECT_TRUE(shell.beeps.empty());
}

TEST_F(HyperLinkTest, FailedClickAfterASuccessfulOneBeepsThenShowsTheBoxAndTurnsBackUnvisited)
{
    CHyperLink& link = Open();
    ui.Click(LinkWnd());
    ASSERT_TRUE(link.IsLinkVisited());
    shell.shellResults = { 26 };
    size_t beepsAtBox = 0;
    ui.onMessageBox = [&](const HeadlessBackend::MessageBoxRecord&) { beepsAtBox = shell.beeps.size(); };
    const size_t before = W().invalidations.size();
    ui.Click(LinkWnd());
    EXPECT_FALSE(link.IsLinkVisited());
    EXPECT_EQ(shell.beeps, (std::vector<UINT>{ MB_ICONEXCLAMATION }));
    EXPECT_EQ(beepsAtBox, 1u);
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text, u"Unable to open hyperlink:\n\nA sharing violation occurred. ");
    EXPECT_EQ(ui.messageBoxes[0].type, 0x30u);
    EXPECT_EQ(ui.messageBoxes[0].caption, u"zeltor");
    // No repaint is asked for, but the next one shows the unvisited colour.
    EXPECT_EQ(W().invalidations.size(), before);
    EXPECT_EQ(RepaintColor(), RGB(0, 0, 238));
}

TEST_F(HyperLinkTest, StaticWithoutNotifyStyleSendsNoClick)
{
    Open(false);
    ui.Click(LinkWnd());
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(HyperLinkTest, DestroyingTheWindowStopsTheHoverTimerAndReleasesEverything)
{
    const int objectsBefore = ui.LiveObjectCount();
    CHyperLink& link = Open();
    HoverOver();
    HWND h = LinkWnd();
    EXPECT_TRUE(link.DestroyWindow());
    EXPECT_FALSE(ui.IsTimerRunning(h, 100));
    EXPECT_EQ(link.m_hWnd, nullptr);
    EXPECT_EQ(link.GetToolTipWindow(), nullptr);
    host.reset();
    EXPECT_EQ(ui.LiveObjectCount(), objectsBefore);
    EXPECT_EQ(shell.cursorsOut, 0);
}
