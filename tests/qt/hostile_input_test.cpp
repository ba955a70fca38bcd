// Hostile Domain Controller texts on the real window with the real Linux services: each ends in
// the error box the program specifies for it, in bounded time, and nothing else happens.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "platform/linux/counters/linux_counter_source.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "tests/qt/qt_fixture.h"

namespace {

class QtHostileInputTest : public QtDialogTest {
protected:
    // Types name into the Domain Controller field (and user into User name), clicks Update and
    // returns the text of the box that opens, closing it; empty when no box opened. autoUpdate
    // tells whether Auto Update was enabled afterwards.
    QString UpdateWith(ZeltorServices& with, const QString& name, const QString& user, bool* autoUpdate = nullptr)
    {
        QString boxText;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (QMessageBox* box = OpenMessageBox()) {
                boxText = box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        RunMainDialog(
            [&](HWND h) {
                auto* dc = Control<QLineEdit>(h, IDC_DC);
                dc->setText(name);
                Control<QLineEdit>(h, IDC_USERNAME)->setText(user);
                Control<QLineEdit>(h, IDC_PASSWORD)->setText(QStringLiteral("pw"));
                poll.start();
                QTest::mouseClick(Control<QPushButton>(h, IDC_UPDATE), Qt::LeftButton);
                WaitFor([&] { return !boxText.isEmpty(); }, 20000);
                poll.stop();
                if (autoUpdate != nullptr)
                    *autoUpdate = Control<QCheckBox>(h, IDC_AUTOUPDATE)->isEnabled();
                // The field holds what was typed, up to an edit field's 32,767 characters.
                EXPECT_EQ(dc->text(), name.left(32767));
                ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
            },
            &with);
        return boxText;
    }

    static std::vector<QString> HostileNames()
    {
        return {
            QString(),
            QStringLiteral("x"),
            QString(255, QLatin1Char('a')),
            QString(65536, QLatin1Char('b')),
            QStringLiteral("\u05e9\u05dc\u05d5\u05dd-\u0627\u0644\u062e\u0627\u062f\u0645"), // right-to-left
            QStringLiteral("e\u0301\u0308\u20dd"),                                           // combining marks
            QStringLiteral("\U0001F600\U0001F4BB"),                                          // emoji
            QString(QChar(0)) + QStringLiteral("dc1"),
            QStringLiteral("dc\x01\x1b[2J\t\r\n"),
            QStringLiteral("dc1; touch /tmp/zeltor-pwned | $(touch /tmp/zeltor-pwned) `id` 'q' \"qq\""),
            QStringLiteral("\\\\dc1"),
        };
    }

    LinuxCounterSource source;
    // Names are looked up at a closed port of this machine, so that no query leaves it.
    SmbNetworkConnector smb{ SmbNetworkConnector::Options{ DnsServer{ "127.0.0.1", 9, "" }, kSmbPort, 3000 } };
};

} // namespace

TEST_F(QtHostileInputTest, CounterQueryRefusesEveryHostileName)
{
    ZeltorServices real{ directory, network, source, shell };
    for (const QString& name : HostileNames()) {
        bool autoUpdate = true;
        const QString text = UpdateWith(real, name, QString(), &autoUpdate);
        if (name.isEmpty()) {
            // No name is the local machine, as for the system's counter library, but no counter
            // path with an empty machine part parses: the query has no counters to collect.
            EXPECT_EQ(text, QStringLiteral("No data to return."));
            EXPECT_TRUE(autoUpdate);
            continue;
        }
        EXPECT_EQ(text, QStringLiteral("Could not initialize.\n"
                                       "Unable to connect to the specified computer, or the computer is offline."))
            << name.left(40).toStdString();
        EXPECT_FALSE(autoUpdate);
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/zeltor-pwned")));
}

TEST_F(QtHostileInputTest, ConnectionRefusesEveryHostileNameWithASystemError)
{
    ZeltorServices real{ directory, smb, source, shell };
    for (const QString& name : HostileNames()) {
        bool autoUpdate = true;
        const QString text = UpdateWith(real, name, QStringLiteral("admin"), &autoUpdate);
        EXPECT_FALSE(autoUpdate);
        EXPECT_TRUE(text.startsWith(QStringLiteral("Error:")))
            << name.left(40).toStdString() << ": " << text.toStdString();
        // "Error:<code>\n<text>": a code the system has a text for.
        const qsizetype lf = text.indexOf(QLatin1Char('\n'));
        ASSERT_GT(lf, 6);
        EXPECT_GT(text.size(), lf + 1) << text.toStdString();
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/zeltor-pwned")));
}
