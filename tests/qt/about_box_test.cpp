// The About box on the Qt window layer, reached through the main window's system menu, with the
// Linux shell service opening its links in a temporary environment.
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "controls/about_dlg.h"
#include "platform/linux/shell/linux_shell.h"
#include "res/program_resources.h"
#include "tests/qt/qt_fixture.h"

namespace {

class QtAboutBoxTest : public QtDialogTest {
protected:
    QtAboutBoxTest()
    {
        char pattern[] = "/tmp/zeltor-about-XXXXXX";
        dir = mkdtemp(pattern);
        std::filesystem::create_directories(dir + "/bin");
        // Nothing on PATH but what a test puts there, and no desktop's configuration.
        LinuxShellOptions options;
        options.environment = ChildEnvironment{};
        options.environment.Set("PATH", dir + "/bin");
        options.environment.Set("HOME", dir);
        options.environment.Set("XDG_DATA_HOME", dir + "/data");
        options.environment.Set("XDG_DATA_DIRS", dir + "/none");
        options.beep = [this](UINT type) {
            beeps.emplace_back(type, OpenMessageBox() != nullptr);
            ui.Beep();
        };
        options.createHandCursor = [this] { return ui.CreateHandCursor(); };
        options.destroyCursor = [this](HCURSOR c) { ui.DestroyCursor(c); };
        linuxShell = std::make_unique<LinuxShellService>(std::move(options));
        real = std::make_unique<ZeltorServices>(ZeltorServices{ directory, network, counters, *linuxShell });
    }
    ~QtAboutBoxTest() override { std::filesystem::remove_all(dir); }

    void XdgOpenExits(int status)
    {
        const std::string file = dir + "/bin/xdg-open";
        std::ofstream(file) << "#!/bin/sh\nexit " << status << "\n";
        chmod(file.c_str(), 0755);
    }

    // Opens the About box through the system command from the main window's script, runs
    // inspect while it is shown, then presses its OK button.
    void OpenAbout(HWND mainWindow, UINT command, const std::function<void(HWND)>& inspect)
    {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            HWND about = nullptr;
            EXPECT_TRUE(WaitFor([&] {
                about = ui.FindDialog(u"About Zeltor");
                return about != nullptr && ui.Widget(about)->isVisible();
            }));
            if (about != nullptr) {
                inspect(about);
                QTest::mouseClick(Control<QPushButton>(about, IDOK), Qt::LeftButton);
            }
            ran = true;
        });
        ui.SendMessage(mainWindow, WM_SYSCOMMAND, command, 0);
        EXPECT_TRUE(ran);
    }

    CHyperLink* Link(HWND about, int id)
    {
        return dynamic_cast<CHyperLink*>(CWnd::FromHandlePermanent(ui.GetDlgItem(about, id)));
    }

    // Clicks a link whose opening fails: the box it shows is read and closed.
    QString ClickExpectingBox(QLabel* label)
    {
        QString text;
        QTimer::singleShot(0, [&] {
            QMessageBox* box = nullptr;
            EXPECT_TRUE(WaitFor([&] { return (box = OpenMessageBox()) != nullptr; }, 20000));
            if (box != nullptr) {
                text = box->text();
                EXPECT_EQ(box->icon(), QMessageBox::Warning);
                EXPECT_EQ(box->windowTitle(), QStringLiteral("zeltor"));
                box->accept();
            }
        });
        QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
        return text;
    }

    std::string dir;
    std::unique_ptr<LinuxShellService> linuxShell;
    std::unique_ptr<ZeltorServices> real;
    std::vector<std::pair<UINT, bool>> beeps; // the sound, and whether a box was open then
};

// How many pixels of the image inside rect are about the given colour.
int PixelsNear(const QImage& image, const QRect& rect, QColor color)
{
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - color.red()) < 40 && std::abs(c.green() - color.green()) < 40 &&
                std::abs(c.blue() - color.blue()) < 40)
                ++n;
        }
    return n;
}

} // namespace

TEST_F(QtAboutBoxTest, SystemMenuOpensTheBoxWithVersionPictureAndUnderlinedLinks)
{
    const int result = RunMainDialog(
        [&](HWND h) {
            const auto items = ui.SystemMenuItems(h);
            ASSERT_EQ(items.back().id, static_cast<UINT_PTR>(ID_SYSCMD_ABOUT));
            OpenAbout(h, items.back().id, [&](HWND about) {
                QWidget* box = ui.Widget(about);
                EXPECT_EQ(box->windowTitle(), QStringLiteral("About Zeltor"));
                EXPECT_EQ(Control<QLabel>(about, IDC_VERSION)->text(),
                          QStringLiteral(
                              "Zeltor\nversion 9.09.01\nCopyright (C) 2026 Zeltor Software.\nAll rights reserved."));
                auto* support = Control<QLabel>(about, IDC_LINK_SUPPORT);
                EXPECT_EQ(support->text(), QStringLiteral("support@zeltor.example"));
                EXPECT_EQ(support->toolTip(), QStringLiteral("mailto:support@zeltor.example"));
                EXPECT_EQ(Control<QLabel>(about, IDC_LINK_WEB)->toolTip(),
                          QStringLiteral("https://www.zeltor.example/"));
                for (int id : { IDC_LINK_WEB, IDC_LINK_SUPPORT, IDC_LINK_SALES }) {
                    auto* label = Control<QLabel>(about, id);
                    EXPECT_TRUE(label->font().underline()) << id;
                    // Fitted to its text, inside the box.
                    EXPECT_EQ(label->width(), QFontMetrics(label->font()).horizontalAdvance(label->text())) << id;
                    EXPECT_TRUE(box->rect().contains(label->geometry())) << id;
                }
                QApplication::processEvents();
                const QImage shot = box->grab().toImage();
                SaveScreenshot(box, QStringLiteral("about-linux.png"));
                // The background picture from the top-left corner.
                QImage picture;
                const auto bytes = ProgramResources().FindImage(IDB_BACKGROUND);
                ASSERT_TRUE(picture.loadFromData(bytes.data(), static_cast<int>(bytes.size())));
                EXPECT_EQ(shot.pixelColor(2, 2), picture.pixelColor(2, 2));
                EXPECT_EQ(shot.pixelColor(box->width() - 3, 40), picture.pixelColor(box->width() - 3, 40));
                // The links are drawn in the link colour, (0, 0, 238).
                for (int id : { IDC_LINK_WEB, IDC_LINK_SUPPORT, IDC_LINK_SALES })
                    EXPECT_GT(PixelsNear(shot, Control<QLabel>(about, id)->geometry(), QColor(0, 0, 238)), 20) << id;
                // The version text is drawn on the picture, in the window text colour.
                EXPECT_GT(PixelsNear(shot, Control<QLabel>(about, IDC_VERSION)->geometry(), QColor(0, 0, 0)), 50);
            });
            // The window's own commands still work: move, minimise, close.
            ui.SendMessage(h, WM_SYSCOMMAND, SC_MOVE, 0);
            EXPECT_TRUE(ui.Widget(h)->isVisible());
            ui.SendMessage(h, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            EXPECT_TRUE(WaitFor([&] { return ui.IsIconic(h) != FALSE; }));
            ui.Widget(h)->showNormal();
            ui.SendMessage(h, WM_SYSCOMMAND, SC_CLOSE, 0);
        },
        real.get());
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(QtAboutBoxTest, PointerOverALinkShowsTheHandAndRedUntilItLeaves)
{
    RunMainDialog(
        [&](HWND h) {
            OpenAbout(h, 0x0011, [&](HWND about) {
                auto* label = Control<QLabel>(about, IDC_LINK_SALES);
                CHyperLink* link = Link(about, IDC_LINK_SALES);
                ASSERT_NE(link, nullptr);
                QTest::mouseMove(label, QPoint(4, 4));
                EXPECT_TRUE(WaitFor([&] { return link->IsHovering() != FALSE; }));
                EXPECT_EQ(label->cursor().shape(), Qt::PointingHandCursor);
                EXPECT_EQ(link->GetTextColor(), RGB(255, 0, 0));
                EXPECT_TRUE(label->font().underline());
                QTest::mouseMove(ui.Widget(about), QPoint(5, 5));
                EXPECT_TRUE(WaitFor([&] { return link->IsHovering() == FALSE; }));
                EXPECT_EQ(link->GetTextColor(), RGB(0, 0, 238));
                EXPECT_TRUE(label->font().underline());
            });
            ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
        },
        real.get());
}

TEST_F(QtAboutBoxTest, LinkThatCannotBeOpenedBeepsThenExplainsAndTheBoxStaysOpen)
{
    RunMainDialog(
        [&](HWND h) {
            OpenAbout(h, ID_SYSCMD_ABOUT, [&](HWND about) {
                // No xdg-open and no web handler at all.
                EXPECT_EQ(ClickExpectingBox(Control<QLabel>(about, IDC_LINK_SUPPORT)),
                          QStringLiteral("Unable to open hyperlink:\n\nThe specified file was not found."));
                // An xdg-open that finds no handler.
                XdgOpenExits(3);
                EXPECT_EQ(ClickExpectingBox(Control<QLabel>(about, IDC_LINK_WEB)),
                          QStringLiteral("Unable to open hyperlink:\n\nThere is no application associated\n"
                                         "with the given filename extension."));
                EXPECT_TRUE(ui.Widget(about)->isVisible());
                EXPECT_FALSE(Link(about, IDC_LINK_WEB)->IsLinkVisited());
            });
            ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
        },
        real.get());
    ASSERT_EQ(beeps.size(), 2u);
    for (const auto& [type, boxOpen] : beeps) {
        EXPECT_EQ(type, static_cast<UINT>(MB_ICONEXCLAMATION));
        EXPECT_FALSE(boxOpen); // the sound comes before the box
    }
}

TEST_F(QtAboutBoxTest, SecondOpeningStartsUnvisited)
{
    XdgOpenExits(0);
    RunMainDialog(
        [&](HWND h) {
            OpenAbout(h, ID_SYSCMD_ABOUT, [&](HWND about) {
                QTest::mouseClick(Control<QLabel>(about, IDC_LINK_WEB), Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
                EXPECT_TRUE(Link(about, IDC_LINK_WEB)->IsLinkVisited());
                QTest::mouseMove(ui.Widget(about), QPoint(5, 5));
                EXPECT_TRUE(WaitFor([&] { return Link(about, IDC_LINK_WEB)->IsHovering() == FALSE; }));
                EXPECT_EQ(Link(about, IDC_LINK_WEB)->GetTextColor(), RGB(85, 26, 139));
            });
            OpenAbout(h, ID_SYSCMD_ABOUT, [&](HWND about) {
                EXPECT_FALSE(Link(about, IDC_LINK_WEB)->IsLinkVisited());
                EXPECT_EQ(Link(about, IDC_LINK_WEB)->GetTextColor(), RGB(0, 0, 238));
            });
            ui.SendMessage(h, WM_COMMAND, IDCANCEL, 0);
        },
        real.get());
    EXPECT_TRUE(beeps.empty());
}
