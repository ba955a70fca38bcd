// Find and the controller picker on the Qt window layer.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "tests/qt/qt_fixture.h"

namespace {

class QtPickerTest : public QtDialogTest {
protected:
    QtPickerTest()
    {
        directory.joinStatus = NetSetupDomainName;
        directory.joinName = u"CORP";
        for (const char16_t* n : { u"DC1", u"DC2", u"DC3" }) {
            DsControllerInfo1 info;
            info.NetbiosName = n;
            directory.controllers.push_back(info);
        }
    }

    // Clicks Find in the main window and runs script on the picker once it shows; returns the text
    // of the Domain Controller field afterwards.
    QString Pick(HWND main, const std::function<void(HWND, QListWidget*, QPushButton*)>& script)
    {
        QTimer::singleShot(0, [&] {
            HWND picker = ui.FindDialog(u"Select Domain Controller");
            EXPECT_NE(picker, nullptr);
            if (picker == nullptr)
                return;
            script(picker, Control<QListWidget>(picker, IDC_DCLIST), Control<QPushButton>(picker, IDOK));
        });
        QTest::mouseClick(Control<QPushButton>(main, IDC_FIND), Qt::LeftButton);
        return Control<QLineEdit>(main, IDC_DC)->text();
    }

    static QPoint ItemCentre(QListWidget* list, int row) { return list->visualItemRect(list->item(row)).center(); }
};

} // namespace

TEST_F(QtPickerTest, SelectAndConfirm)
{
    RunMainDialog([&](HWND h) {
        const QString chosen = Pick(h, [&](HWND picker, QListWidget* list, QPushButton* ok) {
            EXPECT_EQ(list->count(), 3);
            EXPECT_EQ(list->item(0)->text(), QStringLiteral("DC1"));
            EXPECT_EQ(list->item(2)->text(), QStringLiteral("DC3"));
            EXPECT_TRUE(list->selectedItems().isEmpty());
            EXPECT_FALSE(ok->isEnabled());
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, ItemCentre(list, 1));
            EXPECT_TRUE(ok->isEnabled());
            SaveScreenshot(ui.Widget(picker), QStringLiteral("picker.png"));
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        EXPECT_EQ(chosen, QStringLiteral("DC2"));
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(QtPickerTest, ClearingTheSelectionKeepsOkEnabledAndConfirmsAnEmptyName)
{
    RunMainDialog([&](HWND h) {
        const QString chosen = Pick(h, [&](HWND, QListWidget* list, QPushButton* ok) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, ItemCentre(list, 0));
            // A click below the last name, on the empty part of the list.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              QPoint(list->viewport()->width() - 3, list->viewport()->height() - 3));
            EXPECT_TRUE(list->selectedItems().isEmpty());
            EXPECT_TRUE(ok->isEnabled());
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        EXPECT_EQ(chosen, QString());
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(QtPickerTest, CancelEscapeAndTheCloseBoxChangeNothing)
{
    RunMainDialog([&](HWND h) {
        const QString before = Control<QLineEdit>(h, IDC_DC)->text();
        for (int how = 0; how < 3; ++how) {
            const QString after = Pick(h, [&](HWND picker, QListWidget* list, QPushButton*) {
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, ItemCentre(list, 2));
                if (how == 0)
                    QTest::mouseClick(Control<QPushButton>(picker, IDCANCEL), Qt::LeftButton);
                else if (how == 1)
                    QTest::keyClick(list, Qt::Key_Escape);
                else
                    ui.Widget(picker)->close();
            });
            EXPECT_EQ(after, before) << how;
        }
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(QtPickerTest, DoubleClickOnlySelects)
{
    RunMainDialog([&](HWND h) {
        const QString chosen = Pick(h, [&](HWND picker, QListWidget* list, QPushButton* ok) {
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, ItemCentre(list, 2));
            QApplication::processEvents();
            EXPECT_TRUE(ui.Widget(picker)->isVisible());
            EXPECT_TRUE(ok->isEnabled());
            // Enter on the list presses the default button, OK.
            QTest::keyClick(list, Qt::Key_Return);
        });
        EXPECT_EQ(chosen, QStringLiteral("DC3"));
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(QtPickerTest, KeysGoToTheSharedDialogManager)
{
    // The offscreen platform activates no window by itself; a focus needs an active window.
    const auto activate = [&](HWND picker) {
        QWidget* window = ui.Widget(picker);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == window; }, 2000));
    };
    RunMainDialog([&](HWND h) {
        const QString before = Control<QLineEdit>(h, IDC_DC)->text();
        // Enter on the focused Cancel cancels, though OK is the enabled default button.
        const QString cancelled = Pick(h, [&](HWND picker, QListWidget* list, QPushButton* ok) {
            activate(picker);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, ItemCentre(list, 1));
            ASSERT_TRUE(ok->isEnabled());
            auto* cancel = Control<QPushButton>(picker, IDCANCEL);
            cancel->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(cancel, Qt::Key_Return);
        });
        EXPECT_EQ(cancelled, before);
        // Tab and Shift+Tab walk the tab stops (the disabled OK passed over); Enter on the list
        // presses the default button once a name makes it enabled.
        const QString chosen = Pick(h, [&](HWND picker, QListWidget* list, QPushButton* ok) {
            activate(picker);
            auto* cancel = Control<QPushButton>(picker, IDCANCEL);
            cancel->setFocus(Qt::OtherFocusReason);
            QTest::keyClick(cancel, Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), list);
            QTest::keyClick(list, Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), cancel);
            QTest::keyClick(cancel, Qt::Key_Backtab, Qt::ShiftModifier);
            EXPECT_EQ(QApplication::focusWidget(), list);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, ItemCentre(list, 2));
            QTest::keyClick(list, Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), ok);
            QTest::keyClick(ok, Qt::Key_Backtab, Qt::ShiftModifier);
            EXPECT_EQ(QApplication::focusWidget(), list);
            QTest::keyClick(list, Qt::Key_Return);
        });
        EXPECT_EQ(chosen, QStringLiteral("DC3"));
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}
