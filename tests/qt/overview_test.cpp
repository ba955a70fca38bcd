// The domain overview on the Qt window layer: twenty controllers refreshing, one of them silent,
// while a heartbeat measures how long the window's event loop is ever held; the rows as assistive
// technology reads them (a table whose cells carry their column's heading).
#include <QAccessible>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/overview_dlg.h"
#include "directory/win32_error_text.h"
#include "perf/pdh_status.h"
#include "tests/qt/qt_fixture.h"

namespace {

constexpr int kControllers = 20;
constexpr int kSilent = 6; // DC07
// How long the silent controller holds its worker before the engine gives up on it: the bound
// of the look-up and the SMB port's answer (RemoteCounterOptions::reachTimeoutMs).
constexpr int kSilentBoundMs = 3000;

// A controller's counters; each collection takes a while, as over the network. The silent one
// answers nothing until the bound, as the engine's reach of its SMB port.
class SlowSource : public FakeCounterSource {
public:
    explicit SlowSource(bool silent) : m_silent(silent) {}
    PDH_STATUS ConnectMachine(const CString& machine) override
    {
        if (m_silent) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kSilentBoundMs));
            return PdhStatusFromWin32(win32_error::kSemTimeout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return FakeCounterSource::ConnectMachine(machine);
    }
    PDH_STATUS CollectQueryData(PdhQuery* query) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return FakeCounterSource::CollectQueryData(query);
    }

private:
    bool m_silent;
};

class QtOverviewTest : public QtDialogTest {
protected:
    QtOverviewTest()
    {
        directory.joinStatus = NetSetupDomainName;
        directory.joinName = u"CORP";
        for (int i = 1; i <= kControllers; ++i) {
            DsControllerInfo1 info;
            info.NetbiosName = CString::FromUtf8((i < 10 ? "DC0" : "DC") + std::to_string(i));
            directory.controllers.push_back(info);
        }
        services.overview = [this] {
            const int n = made++;
            ControllerConnection c;
            c.network = std::make_unique<FakeNetworkConnector>();
            auto source = std::make_unique<SlowSource>(n == kSilent);
            source->SetValue(u"\\Processor(_Total)\\% Processor Time", static_cast<std::int64_t>(n) * 5);
            source->SetValue(u"\\Memory\\% Committed Bytes In Use", 40);
            source->SetValue(u"\\LogicalDisk(_Total)\\% Free Space", 55);
            source->SetValue(u"\\Process(lsass)\\Handle Count", 1000 + n);
            source->SetValue(u"\\Memory\\Page Faults/sec", 300);
            c.counters = std::move(source);
            return c;
        };
    }

    // Opens the overview from the main window's system menu and runs script on it.
    void WithOverview(HWND main, const std::function<void(HWND, QTreeWidget*)>& script)
    {
        QTimer::singleShot(0, [&] {
            HWND overview = ui.FindDialog(u"Domain Overview");
            EXPECT_NE(overview, nullptr);
            if (overview != nullptr)
                script(overview, Control<QTreeWidget>(overview, IDC_OVERVIEW_LIST));
        });
        // Whatever the script did, the overview ends within a bound.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            if (HWND overview = ui.FindDialog(u"Domain Overview"))
                ui.SendMessage(overview, WM_COMMAND, IDCANCEL, 0);
        });
        guard.start(15000);
        ui.SendMessage(main, WM_SYSCOMMAND, ID_SYSCMD_OVERVIEW, 0);
    }

    // The row of a controller as the accessibility layer gives it: "heading: text" per column.
    static QStringList AccessibleRow(QTreeWidget* list, const QString& controller)
    {
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(list);
        QAccessibleTableInterface* cells = table != nullptr ? table->tableInterface() : nullptr;
        if (cells == nullptr)
            return {};
        for (int row = 0; row < cells->rowCount(); ++row) {
            QAccessibleInterface* first = cells->cellAt(row, 0);
            if (first == nullptr || first->text(QAccessible::Name) != controller)
                continue;
            QStringList texts;
            for (int column = 0; column < cells->columnCount(); ++column)
                texts << cells->columnDescription(column) + QStringLiteral(": ") +
                             cells->cellAt(row, column)->text(QAccessible::Name);
            return texts;
        }
        return {};
    }

    std::atomic<int> made{ 0 };
};

} // namespace

TEST_F(QtOverviewTest, TwentyControllersOneSilentNeverHoldTheWindow)
{
    RunMainDialog([&](HWND main) {
        WithOverview(main, [&](HWND overview, QTreeWidget* list) {
            ASSERT_NE(list, nullptr);
            // Refresh every second, typed as the user does.
            auto* interval = Control<QLineEdit>(overview, IDC_OVERVIEW_INTERVAL);
            interval->selectAll();
            QTest::keyClicks(interval, QStringLiteral("1"));
            EXPECT_EQ(interval->text(), QStringLiteral("1"));

            // A heartbeat every 5 ms: the largest gap between two beats is the longest the event
            // loop was held.
            QElapsedTimer clock;
            clock.start();
            qint64 last = clock.elapsed(), largestGap = 0;
            QTimer heartbeat;
            QObject::connect(&heartbeat, &QTimer::timeout, [&] {
                const qint64 now = clock.elapsed();
                largestGap = std::max(largestGap, now - last);
                last = now;
            });
            heartbeat.start(5);

            const QString silent = QStringLiteral("DC07");
            const auto stateOf = [&](const QString& name) {
                const QList<QTreeWidgetItem*> found = list->findItems(name, Qt::MatchExactly, kOverviewController);
                return found.isEmpty() ? QString() : found.front()->text(kOverviewState);
            };
            // Every other controller answers while the silent one still holds its worker.
            EXPECT_TRUE(WaitFor(
                [&] {
                    for (int i = 0; i < list->topLevelItemCount(); ++i) {
                        QTreeWidgetItem* item = list->topLevelItem(i);
                        if (item->text(kOverviewController) != silent &&
                            item->text(kOverviewState) != QStringLiteral("answering"))
                            return false;
                    }
                    return true;
                },
                kSilentBoundMs - 500));
            EXPECT_EQ(stateOf(silent), QStringLiteral("reading"));
            const qint64 othersAnswered = clock.elapsed();
            // The silent one says so within the engine's bound.
            EXPECT_TRUE(WaitFor([&] { return stateOf(silent).startsWith(QStringLiteral("not answering")); },
                                kSilentBoundMs + 1000));
            const qint64 silentSaid = clock.elapsed();
            // Several more refreshes of everyone, in three windows of two seconds: a stall of the
            // window's own (a wait for a worker, a slow handler) comes back with every refresh, so
            // it is in each window; the machine's other load (builds, other tests) comes and goes.
            const qint64 untilAnswered = largestGap;
            std::vector<qint64> windows;
            for (int w = 0; w < 3; ++w) {
                largestGap = 0;
                WaitFor([] { return false; }, 2000);
                windows.push_back(largestGap);
            }
            heartbeat.stop();
            std::printf("overview: %d controllers, others answering after %lld ms, the silent one after %lld ms; "
                        "largest event-loop gap until then %lld ms, then in three 2 s windows %lld, %lld, %lld ms\n",
                        kControllers, static_cast<long long>(othersAnswered), static_cast<long long>(silentSaid),
                        static_cast<long long>(untilAnswered), static_cast<long long>(windows[0]),
                        static_cast<long long>(windows[1]), static_cast<long long>(windows[2]));
            // The figures are printed, not judged against 50 ms: on a machine busy with other
            // work the scheduler alone can exceed it. A window that waited for the silent worker
            // would be held for its whole bound (3 s), which this catches.
            EXPECT_LT(std::max(untilAnswered, *std::max_element(windows.begin(), windows.end())), 1000);

            // Read as a screen reader reads it: each cell under its column's heading; the
            // threshold in words.
            const QStringList row = AccessibleRow(list, QStringLiteral("DC20"));
            ASSERT_EQ(row.size(), kOverviewColumnCount);
            EXPECT_EQ(row[0], QStringLiteral("Controller: DC20"));
            EXPECT_EQ(row[1], QStringLiteral("State: answering"));
            EXPECT_EQ(row[2], QStringLiteral("Processor %: 95 (high)"));
            EXPECT_EQ(row[5], QStringLiteral("LSASS handles: 1019"));
            EXPECT_TRUE(AccessibleRow(list, silent)[1].startsWith(QStringLiteral("State: not answering: ")));

            // Sorted by processor time, highest first, by two clicks on its heading; the silent
            // row, without figures, last.
            const int x = list->header()->sectionViewportPosition(kOverviewProcessor) + 5;
            QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
            QTest::mouseClick(list->header()->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
            EXPECT_EQ(list->topLevelItem(0)->text(kOverviewController), QStringLiteral("DC20"));
            EXPECT_EQ(list->topLevelItem(kControllers - 1)->text(kOverviewController), silent);
            EXPECT_EQ(list->header()->sortIndicatorSection(), kOverviewProcessor);
            EXPECT_EQ(list->header()->sortIndicatorOrder(), Qt::DescendingOrder);
            SaveScreenshot(ui.Widget(overview), QStringLiteral("overview.png"));

            // A double click on a row hands its controller to the main window.
            QTreeWidgetItem* dc03 = list->findItems(QStringLiteral("DC03"), Qt::MatchExactly, 0).front();
            list->scrollToItem(dc03);
            const QPoint at = list->visualItemRect(dc03).center();
            // (The item view takes a double click only on the item its press was on.)
            QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        });
        EXPECT_EQ(Control<QLineEdit>(main, IDC_DC)->text(), QStringLiteral("DC03"));
        EXPECT_EQ(counters.connectedMachines.back(), u"DC03");
        ui.SendMessage(main, WM_COMMAND, IDCANCEL, 0);
    });
}
