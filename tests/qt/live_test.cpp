// The real window with the real counter source of this machine: Update, then a tick.
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <fstream>
#include <string>

#include "platform/linux/counters/linux_counter_source.h"
#include "tests/linux/child_process.h"
#include "tests/qt/qt_fixture.h"

namespace {

class QtLiveTest : public QtDialogTest {};

int Value(QLabel* label)
{
    return label->text().toInt();
}

// Committed_AS over CommitLimit of /proc/meminfo, in whole percent.
int CommittedPercent()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    long long value = 0, committed = 0, limit = 0;
    std::string unit;
    while (meminfo >> key >> value) {
        if (key == "Committed_AS:")
            committed = value;
        else if (key == "CommitLimit:")
            limit = value;
        std::getline(meminfo, unit);
    }
    return limit > 0 ? static_cast<int>(100 * committed / limit) : -1;
}

} // namespace

TEST_F(QtLiveTest, UpdateOnTheLocalMachineShowsItsCounters)
{
    ChildProcess lsass("lsass", 7);
    ASSERT_TRUE(lsass.Running());
    LinuxCounterSource source;
    ZeltorServices live{ directory, network, source, shell };
    directory.computerName = CString::FromUtf8(LocalHostName());

    CZeltorDlg dlg(live);
    app.m_pMainWnd = &dlg;
    QTimer::singleShot(0, [&] {
        HWND h = ui.FindDialog(u"Zeltor");
        ASSERT_NE(h, nullptr);
        QTest::mouseClick(Control<QPushButton>(h, IDC_UPDATE), Qt::LeftButton);
        auto* memory = Control<QLabel>(h, IDC_MEMORYUSAGE);
        auto* lsassHandles = Control<QLabel>(h, IDC_LSASSHANDLES);
        auto* faults = Control<QLabel>(h, IDC_PAGEFAULTS);
        EXPECT_TRUE(WaitFor([&] { return Value(lsassHandles) > 0; }, 3000));
        // As the kernel counts it at this moment (other processes may change it a little).
        EXPECT_NEAR(Value(memory), CommittedPercent(), 2);
        const int disk = Value(Control<QLabel>(h, IDC_DISKUSAGE));
        EXPECT_GT(disk, 0);
        EXPECT_LE(disk, 100);
        EXPECT_EQ(Value(lsassHandles), 7);
        EXPECT_EQ(Value(Control<QLabel>(h, IDC_NTFRSHANDLES)), 0); // no such process here
        // From the second tick on, the rates have two samples; this process faults pages itself.
        EXPECT_TRUE(WaitFor([&] { return Value(faults) > 0; }, 3000));
        SaveScreenshot(ui.Widget(h), QStringLiteral("main-window-live.png"));
        EXPECT_TRUE(OpenMessageBox() == nullptr);
        dlg.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    app.m_pMainWnd = nullptr;
}
