// The main window on the Qt window layer: its layout from the template, its start state, and
// the keys and commands that must and must not close it.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/prctl.h>

#include "framework/dialog_template.h"
#include "res/program_resources.h"
#include "tests/qt/qt_fixture.h"

namespace {

class QtMainWindowTest : public QtDialogTest {};

} // namespace

TEST_F(QtMainWindowTest, LayoutFollowsTheTemplateInPixelsOfTheDialogFont)
{
    const DialogBaseUnits units = ui.BaseUnits();
    // Liberation Sans at 8 points measures like the Windows dialog font.
    EXPECT_GE(units.cx, 5);
    EXPECT_LE(units.cx, 7);
    EXPECT_GE(units.cy, 12);
    EXPECT_LE(units.cy, 14);
    const DialogTemplate* tpl = ProgramResources().FindDialogTemplate(IDD_ZELTOR_DIALOG);
    RunMainDialog([&](HWND h) {
        QWidget* window = ui.Widget(h);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Zeltor"));
        const AfxRect client = AfxDialogUnitsToPixels(0, 0, tpl->cx, tpl->cy, units);
        EXPECT_EQ(window->size(), QSize(client.Width(), client.Height()));
        for (const ControlTemplate& c : tpl->controls) {
            if (c.id == -1 || c.id == IDC_BANNER)
                continue;
            const AfxRect r = AfxDialogUnitsToPixels(c.x, c.y, c.cx, c.cy, units);
            QWidget* w = ui.Widget(ui.GetDlgItem(h, c.id));
            ASSERT_NE(w, nullptr) << c.id;
            if (c.cls == ControlClass::Static) {
                // A label may grow to show its whole text, never shrink.
                EXPECT_EQ(w->geometry().top(), r.top) << c.id;
                EXPECT_EQ(w->height(), r.Height()) << c.id;
                EXPECT_GE(w->width(), r.Width()) << c.id;
                EXPECT_EQ((c.exStyle & tpl_style::ExRight) != 0 ? w->geometry().right() + 1 : w->geometry().left(),
                          (c.exStyle & tpl_style::ExRight) != 0 ? r.right : r.left)
                    << c.id;
            } else {
                EXPECT_EQ(w->geometry(), QRect(r.left, r.top, r.Width(), r.Height())) << c.id;
            }
        }
        // The banner shows at the bitmap's own size from the top-left corner.
        QWidget* banner = ui.Widget(ui.GetDlgItem(h, IDC_BANNER));
        EXPECT_EQ(banner->geometry(), QRect(0, 0, 529, 79));
        EXPECT_TRUE(Control<QLineEdit>(h, IDC_DOMAIN)->isReadOnly());
        EXPECT_EQ(Control<QLineEdit>(h, IDC_PASSWORD)->echoMode(), QLineEdit::Password);
        EXPECT_EQ(Control<QLabel>(h, IDC_CPUUSAGE)->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        SaveScreenshot(window, QStringLiteral("main-window.png"));
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(QtMainWindowTest, AWindowThatTakesAPasswordMakesNoCoreDump)
{
    // Dumpable as a process starts; the window's password field ends that for good.
    ASSERT_EQ(prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
    ASSERT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 1);
    RunMainDialog([&](HWND h) {
        EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
}

TEST_F(QtMainWindowTest, StartStateOnAComputerInNoDomain)
{
    directory.computerName = u"LINUXBOX";
    RunMainDialog([&](HWND h) {
        EXPECT_EQ(Control<QLineEdit>(h, IDC_DOMAIN)->text(), QStringLiteral("<Not Found>"));
        EXPECT_EQ(Control<QLineEdit>(h, IDC_DC)->text(), QStringLiteral("LINUXBOX"));
        for (int id = IDC_CPUUSAGE; id <= IDC_PAGESOUTPUT; ++id) {
            if (id == IDC_PASSWORD || id == IDC_USERNAME)
                continue;
            EXPECT_EQ(Control<QLabel>(h, id)->text(), QStringLiteral("0")) << id;
        }
        auto* autoUpdate = Control<QCheckBox>(h, IDC_AUTOUPDATE);
        EXPECT_TRUE(autoUpdate->isChecked());
        EXPECT_FALSE(autoUpdate->isEnabled());
        // The system menu's stand-in ends with the About item below a separator.
        const auto items = ui.SystemMenuItems(h);
        ASSERT_GE(items.size(), 2u);
        EXPECT_EQ(items[items.size() - 2].flags, static_cast<UINT>(MF_SEPARATOR));
        EXPECT_EQ(items.back().id, 16u);
        EXPECT_EQ(items.back().text, u"&About Zeltor...");
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(QtMainWindowTest, EscapeEnterAndF1LeaveTheWindowOpenAndPressNothing)
{
    bool stillOpen = false;
    const int result = RunMainDialog([&](HWND h) {
        for (int id : { IDC_DC, IDC_FIND, IDC_UPDATE, IDC_USERNAME, IDC_PASSWORD, IDCANCEL }) {
            QWidget* w = ui.Widget(ui.GetDlgItem(h, id));
            w->setFocus();
            QTest::keyClick(w, Qt::Key_Escape);
            QTest::keyClick(w, Qt::Key_Return);
            QTest::keyClick(w, Qt::Key_Enter);
            QTest::keyClick(w, Qt::Key_F1);
        }
        QApplication::processEvents();
        stillOpen = ui.Widget(h)->isVisible() && OpenMessageBox() == nullptr;
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(counters.connectCalls, 0); // neither Update nor OK ran
}

TEST_F(QtMainWindowTest, CloseButtonEndsTheDialog)
{
    EXPECT_EQ(RunMainDialog([&](HWND h) { QTest::mouseClick(Control<QPushButton>(h, IDCANCEL), Qt::LeftButton); }),
              IDCANCEL);
}

TEST_F(QtMainWindowTest, TitleBarCloseAndAltF4EndTheDialog)
{
    EXPECT_EQ(RunMainDialog([&](HWND h) { ui.Widget(h)->close(); }), IDCANCEL);
    EXPECT_EQ(RunMainDialog(
                  [&](HWND h) { QTest::keyClick(Control<QLineEdit>(h, IDC_DC), Qt::Key_F4, Qt::AltModifier); }),
              IDCANCEL);
}

TEST_F(QtMainWindowTest, TabWalksTheTemplateOrderAndSelectsAnEditsText)
{
    std::vector<int> order;
    QString selected;
    RunMainDialog([&](HWND h) {
        // The offscreen platform activates no window by itself; keys need the active window.
        QWidget* window = ui.Widget(h);
        window->activateWindow();
        if (!QTest::qWaitFor([&] { return QApplication::activeWindow() == window; }, 2000)) {
            ADD_FAILURE() << "the main window never became active";
            ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        Control<QLineEdit>(h, IDC_DC)->setText(QStringLiteral("DC7"));
        ui.SetFocus(ui.GetDlgItem(h, IDC_DOMAIN));
        for (int i = 0; i < 9; ++i) {
            order.push_back(ui.GetDlgCtrlID(ui.GetFocus()));
            if (order.back() == IDC_DC)
                selected = Control<QLineEdit>(h, IDC_DC)->selectedText();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
    // Auto Update is disabled until an Update, and a disabled control is passed over.
    EXPECT_EQ(order, (std::vector<int>{ IDC_DOMAIN, IDC_DC, IDC_FIND, IDC_UPDATE, IDC_USERNAME, IDC_PASSWORD, IDCANCEL,
                                        IDC_DOMAIN, IDC_DC }));
    EXPECT_EQ(selected, QStringLiteral("DC7"));
}
