// What a screen reader learns of the picker, the About box and a value field through Qt's
// accessibility layer. The main window is read over the real bus by run_atspi_test.sh, which
// also hears the value fields' changes (Qt's offscreen platform has no bus to send them to).
#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "tests/qt/qt_fixture.h"

namespace {

QString AccessibleName(QWidget* widget)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
    return a != nullptr ? a->text(QAccessible::Name) : QString();
}

} // namespace

TEST_F(QtDialogTest, PickerListAndAboutLinksAreNamedByTheirTexts)
{
    directory.joinStatus = NetSetupDomainName;
    directory.joinName = u"CORP";
    DsControllerInfo1 dc;
    dc.NetbiosName = u"DC1";
    directory.controllers.push_back(dc);
    RunMainDialog([&](HWND h) {
        QTimer::singleShot(0, [&] {
            HWND picker = ui.FindDialog(u"Select Domain Controller");
            ASSERT_NE(picker, nullptr);
            QListWidget* list = Control<QListWidget>(picker, IDC_DCLIST);
            EXPECT_EQ(AccessibleName(list), QStringLiteral("Select DC"));
            EXPECT_EQ(QAccessible::queryAccessibleInterface(list)->role(), QAccessible::List);
            EXPECT_EQ(AccessibleName(Control<QPushButton>(picker, IDOK)), QStringLiteral("OK"));
            QTest::mouseClick(Control<QPushButton>(picker, IDCANCEL), Qt::LeftButton);
        });
        QTest::mouseClick(Control<QPushButton>(h, IDC_FIND), Qt::LeftButton);

        QTimer::singleShot(0, [&] {
            HWND about = nullptr;
            ASSERT_TRUE(WaitFor([&] { return (about = ui.FindDialog(u"About Zeltor")) != nullptr; }));
            EXPECT_EQ(AccessibleName(Control<QLabel>(about, IDC_LINK_WEB)), QStringLiteral("https://www.zeltor.example/"));
            EXPECT_EQ(AccessibleName(Control<QLabel>(about, IDC_LINK_SUPPORT)), QStringLiteral("support@zeltor.example"));
            EXPECT_EQ(AccessibleName(Control<QLabel>(about, IDC_LINK_SALES)), QStringLiteral("sales@zeltor.example"));
            QTest::mouseClick(Control<QPushButton>(about, IDOK), Qt::LeftButton);
        });
        ui.SendMessage(h, WM_SYSCOMMAND, ID_SYSCMD_ABOUT, 0);
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(QtDialogTest, ValueFieldReadsItsValueUnderItsName)
{
    RunMainDialog([&](HWND h) {
        QLabel* cpu = Control<QLabel>(h, IDC_CPUUSAGE);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(cpu);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(a->textInterface(), nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("CPU Usage (%)"));
        EXPECT_EQ(a->text(QAccessible::Description), QStringLiteral("DC Performance Data"));
        EXPECT_EQ(a->textInterface()->text(0, a->textInterface()->characterCount()), QStringLiteral("0"));
        ui.SetWindowText(ui.GetDlgItem(h, IDC_CPUUSAGE), u"42");
        EXPECT_EQ(a->textInterface()->text(0, a->textInterface()->characterCount()), QStringLiteral("42"));
        EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("CPU Usage (%)"));
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}
