// Update and the refresh timer on the Qt window layer, with real timers and message boxes.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "perf/pdh_status.h"
#include "tests/qt/qt_fixture.h"

namespace {

class QtMonitoringTest : public QtDialogTest {};

} // namespace

TEST_F(QtMonitoringTest, UpdateShowsValuesAtTheFirstTickAndEveryTickAfter)
{
    counters.SetValue(u"\\Memory\\% Committed Bytes In Use", 42);
    RunMainDialog([&](HWND h) {
        QTest::mouseClick(Control<QPushButton>(h, IDC_UPDATE), Qt::LeftButton);
        auto* memory = Control<QLabel>(h, IDC_MEMORYUSAGE);
        EXPECT_EQ(memory->text(), QStringLiteral("0"));
        EXPECT_FALSE(Control<QLineEdit>(h, IDC_DC)->isEnabled());
        EXPECT_TRUE(Control<QCheckBox>(h, IDC_AUTOUPDATE)->isEnabled());
        EXPECT_TRUE(WaitFor([&] { return memory->text() == QStringLiteral("42"); }, 3000));
        counters.SetValue(u"\\Memory\\% Committed Bytes In Use", 43);
        EXPECT_TRUE(WaitFor([&] { return memory->text() == QStringLiteral("43"); }, 3000));
        // Unticking stops the timer (the layer holds it no more) and freezes the values.
        QTest::mouseClick(Control<QCheckBox>(h, IDC_AUTOUPDATE), Qt::LeftButton);
        EXPECT_FALSE(ui.KillTimer(h, CZeltorDlg::kRefreshTimerId));
        EXPECT_EQ(memory->text(), QStringLiteral("43"));
        EXPECT_TRUE(Control<QLineEdit>(h, IDC_DC)->isEnabled());
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(QtMonitoringTest, FailingCollectionShowsOneBoxAtATimeWhileTicksGoOn)
{
    // The box runs its own event loop beneath the test's code, so the test acts from a timer that
    // fires inside whichever loop is running. While the first box is open, two ticks arrive there.
    struct Seen {
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int mostBoxesOpen = 0;
        int collectsWhileFirstOpen = -1;
        int boxesShown = 0;
    } seen;
    HWND main = nullptr;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        int open = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            open += qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible() ? 1 : 0;
        seen.mostBoxesOpen = std::max(seen.mostBoxesOpen, open);
        QMessageBox* box = OpenMessageBox();
        if (box == nullptr)
            return;
        if (seen.boxesShown == 0) {
            seen.text = box->text();
            seen.title = box->windowTitle();
            seen.icon = box->icon();
            for (int tick = 0; tick < 2; ++tick)
                ui.SendMessage(main, WM_TIMER, CZeltorDlg::kRefreshTimerId, 0);
            seen.collectsWhileFirstOpen = counters.collects;
        }
        ++seen.boxesShown;
        box->button(QMessageBox::Ok)->click();
    });
    RunMainDialog([&](HWND h) {
        main = h;
        QTest::mouseClick(Control<QPushButton>(h, IDC_UPDATE), Qt::LeftButton);
        counters.collectResults = { PDH_NO_DATA, PDH_NO_DATA, PDH_NO_DATA };
        poll.start();
        WaitFor([&] { return seen.boxesShown >= 3; }, 10000);
        poll.stop();
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(seen.text, QStringLiteral("No data to return."));
    EXPECT_EQ(seen.title, QStringLiteral("zeltor"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.mostBoxesOpen, 1);
    EXPECT_EQ(seen.collectsWhileFirstOpen, 1);
    EXPECT_EQ(seen.boxesShown, 3);
}
