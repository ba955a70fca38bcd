// What a screen reader learns of the picker, the About box and a value field through Qt's
// accessibility layer. The main window is read over the real bus by run_atspi_test.sh, which
// also hears the value fields' changes (Qt's offscreen platform has no bus to send them to).
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "controls/hyperlink.h"
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
            auto* list = Control<QListWidget>(picker, IDC_DCLIST);
            EXPECT_EQ(AccessibleName(list), QStringLiteral("Select DC"));
            EXPECT_EQ(QAccessible::queryAccessibleInterface(list)->role(), QAccessible::List);
            EXPECT_EQ(AccessibleName(Control<QPushButton>(picker, IDOK)), QStringLiteral("OK"));
            QTest::mouseClick(Control<QPushButton>(picker, IDCANCEL), Qt::LeftButton);
        });
        QTest::mouseClick(Control<QPushButton>(h, IDC_FIND), Qt::LeftButton);

        QTimer::singleShot(0, [&] {
            HWND about = nullptr;
            ASSERT_TRUE(WaitFor([&] { return (about = ui.FindDialog(u"About Zeltor")) != nullptr; }));
            EXPECT_EQ(AccessibleName(Control<QLabel>(about, IDC_LINK_WEB)),
                      QStringLiteral("https://www.zeltor.example/"));
            EXPECT_EQ(AccessibleName(Control<QLabel>(about, IDC_LINK_SUPPORT)),
                      QStringLiteral("support@zeltor.example"));
            EXPECT_EQ(AccessibleName(Control<QLabel>(about, IDC_LINK_SALES)), QStringLiteral("sales@zeltor.example"));
            QTest::mouseClick(Control<QPushButton>(about, IDOK), Qt::LeftButton);
        });
        ui.SendMessage(h, WM_SYSCOMMAND, ID_SYSCMD_ABOUT, 0);
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

// The About box's links are links named by their texts, which take no focus; their press action
// is a click: the target opened, or on failure the beep and the box, after the bus had its answer.
TEST_F(QtDialogTest, AboutLinksAreLinksWhosePressActionClicksThem)
{
    shell.shellResults = { 42, 2 }; // the second opening fails, with no handler to fall back on
    RunMainDialog([&](HWND h) {
        QTimer::singleShot(0, [&] {
            HWND about = nullptr;
            ASSERT_TRUE(WaitFor([&] { return (about = ui.FindDialog(u"About Zeltor")) != nullptr; }));
            const std::pair<int, QString> links[] = { { IDC_LINK_WEB, QStringLiteral("https://www.zeltor.example/") },
                                                      { IDC_LINK_SUPPORT, QStringLiteral("support@zeltor.example") },
                                                      { IDC_LINK_SALES, QStringLiteral("sales@zeltor.example") } };
            for (const auto& [id, name] : links) {
                auto* label = Control<QLabel>(about, id);
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(label);
                ASSERT_NE(a, nullptr) << id;
                EXPECT_EQ(a->role(), QAccessible::Link) << id;
                EXPECT_EQ(a->text(QAccessible::Name), name) << id;
                EXPECT_FALSE(a->state().focusable) << id;
                EXPECT_EQ(label->focusPolicy(), Qt::NoFocus) << id;
                ASSERT_NE(a->actionInterface(), nullptr) << id;
                EXPECT_EQ(a->actionInterface()->actionNames(), QStringList(QAccessibleActionInterface::pressAction()))
                    << id;
            }
            auto press = [&](int id) {
                QAccessible::queryAccessibleInterface(Control<QLabel>(about, id))
                    ->actionInterface()
                    ->doAction(QAccessibleActionInterface::pressAction());
            };
            auto* support =
                dynamic_cast<CHyperLink*>(CWnd::FromHandlePermanent(ui.GetDlgItem(about, IDC_LINK_SUPPORT)));
            ASSERT_NE(support, nullptr);
            press(IDC_LINK_SUPPORT);
            EXPECT_TRUE(shell.calls.empty()); // queued, not run inside the bus's call
            EXPECT_TRUE(WaitFor([&] { return support->IsLinkVisited(); }));
            EXPECT_EQ(shell.calls, (std::vector<CString>{ u"ShellOpen mailto:support@zeltor.example" }));

            // The box runs its own loop inside the click; a polling timer reads and closes it there.
            QString boxText;
            QTimer closer;
            QObject::connect(&closer, &QTimer::timeout, [&] {
                if (QMessageBox* box = OpenMessageBox()) {
                    boxText = box->text();
                    box->accept();
                }
            });
            closer.start(20);
            press(IDC_LINK_WEB);
            EXPECT_TRUE(WaitFor([&] { return !boxText.isEmpty() && OpenMessageBox() == nullptr; }));
            closer.stop();
            EXPECT_EQ(boxText, QStringLiteral("Unable to open hyperlink:\n\nThe specified file was not found."));
            EXPECT_EQ(shell.beeps.size(), 1u);
            QTest::mouseClick(Control<QPushButton>(about, IDOK), Qt::LeftButton);
        });
        ui.SendMessage(h, WM_SYSCOMMAND, ID_SYSCMD_ABOUT, 0);
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(QtDialogTest, ValueFieldReadsItsValueUnderItsName)
{
    RunMainDialog([&](HWND h) {
        auto* cpu = Control<QLabel>(h, IDC_CPUUSAGE);
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

// A screen reader picks a controller through the list's own selection (its table's rows), without
// the pointer: OK comes on and confirms the name selected so.
TEST_F(QtDialogTest, PickerRowsAreSelectedThroughTheAccessibleTable)
{
    directory.joinStatus = NetSetupDomainName;
    directory.joinName = u"CORP";
    for (const char16_t* n : { u"DC1", u"DC2" }) {
        DsControllerInfo1 dc;
        dc.NetbiosName = n;
        directory.controllers.push_back(dc);
    }
    RunMainDialog([&](HWND h) {
        QTimer::singleShot(0, [&] {
            HWND picker = ui.FindDialog(u"Select Domain Controller");
            ASSERT_NE(picker, nullptr);
            QAccessibleInterface* list =
                QAccessible::queryAccessibleInterface(Control<QListWidget>(picker, IDC_DCLIST));
            ASSERT_NE(list->tableInterface(), nullptr);
            EXPECT_EQ(list->tableInterface()->rowCount(), 2);
            EXPECT_TRUE(list->tableInterface()->selectRow(1));
            EXPECT_EQ(list->tableInterface()->selectedRows(), QList<int>{ 1 });
            EXPECT_TRUE(Control<QPushButton>(picker, IDOK)->isEnabled());
            QAccessible::queryAccessibleInterface(Control<QPushButton>(picker, IDOK))
                ->actionInterface()
                ->doAction(QAccessibleActionInterface::pressAction());
        });
        QTest::mouseClick(Control<QPushButton>(h, IDC_FIND), Qt::LeftButton);
        EXPECT_EQ(Control<QLineEdit>(h, IDC_DC)->text(), QStringLiteral("DC2"));
        ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
    });
}
