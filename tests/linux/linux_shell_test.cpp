// The Linux shell service against real processes: xdg-open and xdg-mime (stand-ins written by
// the test, or the installed ones), desktop entries in temporary data directories, and command
// lines started without a shell; then the hyperlink control on top of it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "controls/hyperlink.h"
#include "platform/linux/shell/linux_shell.h"
#include "res/program_resources.h"
#include "tests/fakes/dialog_fixture.h"

namespace {

struct TempDir {
    TempDir()
    {
        char pattern[] = "/tmp/zeltor-shell-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string File(const std::string& relative) const { return path + "/" + relative; }
    void Write(const std::string& relative, const std::string& text, bool executable = false) const
    {
        const std::filesystem::path p = File(relative);
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << text;
        chmod(p.c_str(), executable ? 0755 : 0644);
    }
    std::string path;
};

// Waits, bounded, for a file that a started child writes; its text, or empty.
std::string WaitForFile(const std::string& file)
{
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        if (in && text.str().find("END") != std::string::npos)
            return text.str();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

class LinuxShellTest : public ::testing::Test {
protected:
    LinuxShellTest()
    {
        // Only the test's own directories: no xdg-open or xdg-mime unless the test puts one there.
        options.environment = ChildEnvironment{};
        options.environment.Set("PATH", bin.path);
        options.environment.Set("HOME", home.path);
        options.environment.Set("XDG_DATA_HOME", home.File("data"));
        options.environment.Set("XDG_DATA_DIRS", home.File("none"));
        options.environment.Set("XDG_CONFIG_HOME", home.File("config"));
        options.environment.Set("ZELTOR_OUT", out.File("args"));
    }
    ~LinuxShellTest() override
    {
        if (shell)
            for (pid_t pid : shell->RunningChildren()) {
                kill(pid, SIGKILL);
                int status = 0;
                waitpid(pid, &status, 0);
            }
    }
    LinuxShellService& Shell()
    {
        if (!shell)
            shell = std::make_unique<LinuxShellService>(options);
        return *shell;
    }
    // A program in bin that writes its arguments, one a line, then END, to $ZELTOR_OUT.
    void RecordingProgram(const std::string& name, int exitCode = 0)
    {
        // Shell built-ins only: the child's PATH may hold nothing else.
        bin.Write(name,
                  "#!/bin/sh\n{ for a in \"$@\"; do printf '%s\\n' \"$a\"; done; echo END; } > \"$ZELTOR_OUT\"\nexit " +
                      std::to_string(exitCode) + "\n",
                  true);
    }
    void XdgMimeAnswers(const std::string& text, int exitCode = 0)
    {
        bin.Write("xdg-mime",
                  "#!/bin/sh\n[ \"$*\" = 'query default text/html' ] || exit 9\nprintf '" + text + "'\nexit " +
                      std::to_string(exitCode) + "\n",
                  true);
    }
    CString ReadKey(const CString& subKey, std::int32_t* error)
    {
        HKEY key = nullptr;
        *error = Shell().RegOpenKey(HKEY_CLASSES_ROOT, subKey, KEY_QUERY_VALUE, &key);
        if (*error != 0)
            return {};
        char16_t buffer[260] = {};
        std::int32_t bytes = sizeof buffer;
        *error = Shell().RegQueryDefaultValue(key, buffer, &bytes);
        EXPECT_EQ(Shell().RegCloseKey(key), 0);
        return buffer;
    }

    TempDir bin, home, out;
    LinuxShellOptions options;
    std::unique_ptr<LinuxShellService> shell;
};

} // namespace

TEST_F(LinuxShellTest, OpenWithoutXdgOpenIsFileNotFound)
{
    EXPECT_EQ(Shell().ShellOpen(u"https://www.zeltor.example/", SW_SHOW), 2);
    EXPECT_TRUE(Shell().RunningChildren().empty());
}

TEST_F(LinuxShellTest, XdgOpenGetsTheTargetAsOneArgumentAndItsExitStatusMapsToTheTable)
{
    RecordingProgram("xdg-open");
    const CString target = u"https://x.example/a b?c=1&d=$HOME;`id`";
    EXPECT_EQ(Shell().ShellOpen(target, SW_SHOW), 42);
    EXPECT_EQ(WaitForFile(out.File("args")), target.ToUtf8() + "\nEND\n");

    const std::pair<int, std::intptr_t> statuses[] = {
        { 1, 27 }, { 2, 2 }, { 3, 31 }, { 4, 31 }, { 5, 27 }, { 0, 42 }
    };
    for (auto [status, code] : statuses) {
        bin.Write("xdg-open", "#!/bin/sh\nexit " + std::to_string(status) + "\n", true);
        EXPECT_EQ(Shell().ShellOpen(u"mailto:support@zeltor.example", SW_SHOW), code) << status;
    }
}

TEST_F(LinuxShellTest, XdgOpenStillRunningAtTheBoundCountsAsOpened)
{
    options.openWaitMs = 50;
    bin.Write("xdg-open", "#!/bin/sh\nexec /bin/sleep 30\n", true);
    EXPECT_EQ(Shell().ShellOpen(u"https://x.example/", SW_SHOW), 42);
    EXPECT_EQ(Shell().RunningChildren().size(), 1u);
}

TEST_F(LinuxShellTest, ProgramsThatCannotStartMapToTheirCodes)
{
    bin.Write("xdg-open", "#!/bin/sh\nexit 0\n", false);
    EXPECT_EQ(Shell().ShellOpen(u"u", SW_SHOW), 5); // not executable
    bin.Write("xdg-open", "no interpreter line\n", true);
    EXPECT_EQ(Shell().ShellOpen(u"u", SW_SHOW), 11); // not a program
    EXPECT_EQ(LinuxShellService::CodeForSpawnError(ENOTDIR), 3);
    EXPECT_EQ(LinuxShellService::CodeForSpawnError(ENOMEM), 8);
    EXPECT_EQ(LinuxShellService::CodeForSpawnError(EIO), 0);
}

TEST_F(LinuxShellTest, WebHandlerKeysComeFromXdgMimeAndTheDesktopEntry)
{
    XdgMimeAnswers("acme-web.desktop\\n");
    home.Write("data/applications/acme/web.desktop",
               "[Desktop Entry]\nType=Application\nName=Web\nExec=\"" + bin.File("my web") + "\" --new %u --private\n");
    std::int32_t error = -1;
    EXPECT_EQ(ReadKey(u".htm", &error), u"acme-web.desktop");
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ReadKey(u"acme-web.desktop\\shell\\open\\command", &error),
              CString::FromUtf8("\"" + bin.File("my web") + "\" --new %1 --private"));
    EXPECT_EQ(error, 0);
    // A buffer too small for the value.
    HKEY key = nullptr;
    ASSERT_EQ(Shell().RegOpenKey(HKEY_CLASSES_ROOT, u".htm", KEY_QUERY_VALUE, &key), 0);
    char16_t small[4];
    std::int32_t bytes = sizeof small;
    EXPECT_EQ(Shell().RegQueryDefaultValue(key, small, &bytes), 234);
    EXPECT_EQ(bytes, static_cast<std::int32_t>(sizeof(char16_t) * 17));
    Shell().RegCloseKey(key);
    // Other keys and other roots do not exist.
    EXPECT_EQ(Shell().RegOpenKey(HKEY_CLASSES_ROOT, u"http\\shell\\open\\command", KEY_QUERY_VALUE, &key), 2);
    EXPECT_EQ(Shell().RegOpenKey(HKEY_CLASSES_ROOT, u".html", KEY_QUERY_VALUE, &key), 2);
    EXPECT_EQ(Shell().RegOpenKey(reinterpret_cast<HKEY>(0x80000001), u".htm", KEY_QUERY_VALUE, &key), 2);
}

TEST_F(LinuxShellTest, NoWebHandlerWhenXdgMimeIsMissingSilentFailingOrHanging)
{
    std::int32_t error = 0;
    ReadKey(u".htm", &error);
    EXPECT_EQ(error, 2);
    XdgMimeAnswers("");
    ReadKey(u".htm", &error);
    EXPECT_EQ(error, 2);
    XdgMimeAnswers("web.desktop\\n", 1);
    ReadKey(u".htm", &error);
    EXPECT_EQ(error, 2);
    options.queryWaitMs = 50;
    shell.reset();
    bin.Write("xdg-mime", "#!/bin/sh\nexec /bin/sleep 30\n", true);
    ReadKey(u".htm", &error);
    EXPECT_EQ(error, 2);
    EXPECT_TRUE(Shell().RunningChildren().empty()); // ended, not left behind
    // An entry that names no program.
    home.Write("data/applications/empty.desktop", "[Desktop Entry]\nExec=\n");
    ReadKey(u"empty.desktop\\shell\\open\\command", &error);
    EXPECT_EQ(error, 2);
}

TEST_F(LinuxShellTest, InstalledXdgMimeFindsTheConfiguredHandler)
{
    if (access("/usr/bin/xdg-mime", X_OK) != 0)
        GTEST_SKIP() << "xdg-utils is not installed (tools/install-deps.sh installs it)";
    options.environment.Set("PATH", bin.path + ":/usr/bin:/bin");
    RecordingProgram("fakeweb");
    home.Write("config/mimeapps.list", "[Default Applications]\ntext/html=fakeweb.desktop\n");
    home.Write("data/applications/fakeweb.desktop", "[Desktop Entry]\nType=Application\nName=Fake\nExec=fakeweb %u\n");
    std::int32_t error = -1;
    EXPECT_EQ(ReadKey(u".htm", &error), u"fakeweb.desktop");
    EXPECT_EQ(error, 0);
}

TEST_F(LinuxShellTest, CommandLinesRunWithoutAShellAsTheirQuotingSplitsThem)
{
    RecordingProgram("my web");
    EXPECT_EQ(Shell().WinExec("\"" + bin.File("my web") + "\" --new  https://x.example/?a=1&b=$HOME", SW_SHOW), 42u);
    EXPECT_EQ(WaitForFile(out.File("args")), "--new\nhttps://x.example/?a=1&b=$HOME\nEND\n");
    EXPECT_EQ(Shell().WinExec("no-such-program x", SW_SHOW), 2u);
    EXPECT_EQ(Shell().WinExec("\"unterminated x", SW_SHOW), 11u);
    EXPECT_EQ(Shell().WinExec("   ", SW_SHOW), 2u);
}

// -- The control on top of it -----------------------------------------------------------------------

namespace {

class LinuxLinkTest : public LinuxShellTest {
protected:
    LinuxLinkTest()
    {
        options.beep = [this](UINT type) { beeps.emplace_back(type, ui.messageBoxes.size()); };
        app.m_pBackend = &ui;
        app.m_pResources = &ProgramResources();
    }
    struct Host : CDialog {
        explicit Host(IShellService& shell) : CDialog(IDD_ABOUTBOX), link(shell) {}
        void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_LINK_SUPPORT, link); }
        CHyperLink link;
    };
    // Clicks the support link (whose target is set to "mailto:" and its text).
    void ClickSupport()
    {
        host = std::make_unique<Host>(Shell());
        ASSERT_TRUE(host->Create());
        host->link.SetLinkUrl(u"mailto:support@zeltor.example");
        ui.Click(ui.Item(host->m_hWnd, IDC_LINK_SUPPORT));
    }

    CWinApp app{ u"zeltor" };
    HeadlessBackend ui;
    std::unique_ptr<Host> host;
    std::vector<std::pair<UINT, size_t>> beeps; // the type, and how many boxes had been shown
};

} // namespace

TEST_F(LinuxLinkTest, NoOpenerAndNoHandlerBeepsAndExplains)
{
    ClickSupport();
    ASSERT_EQ(beeps.size(), 1u);
    EXPECT_EQ(beeps[0], (std::pair<UINT, size_t>{ MB_ICONEXCLAMATION, 0u }));
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text, u"Unable to open hyperlink:\n\nThe specified file was not found.");
    EXPECT_EQ(ui.messageBoxes[0].type, 0x30u);
    EXPECT_FALSE(host->link.IsLinkVisited());
}

TEST_F(LinuxLinkTest, InstalledXdgOpenWithoutAnyHandlerReportsNoAssociation)
{
    if (access("/usr/bin/xdg-open", X_OK) != 0 || access("/usr/bin/xdg-mime", X_OK) != 0)
        GTEST_SKIP() << "xdg-utils is not installed (tools/install-deps.sh installs it)";
    // Nothing but the system's tools: no desktop, no browser, no mail program configured.
    options.environment.Set("PATH", "/usr/bin:/bin");
    options.openWaitMs = 20000;
    ClickSupport();
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text,
              u"Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.");
    ASSERT_EQ(beeps.size(), 1u);
    EXPECT_EQ(beeps[0].second, 0u);
}

TEST_F(LinuxLinkTest, FailingOpenerFallsBackToTheWebHandlersCommand)
{
    bin.Write("xdg-open", "#!/bin/sh\nexit 4\n", true);
    XdgMimeAnswers("fakeweb.desktop\\n");
    RecordingProgram("fakeweb");
    home.Write("data/applications/fakeweb.desktop", "[Desktop Entry]\nExec=fakeweb -compose %u --ignored\n");
    ClickSupport();
    EXPECT_TRUE(ui.messageBoxes.empty());
    EXPECT_TRUE(beeps.empty());
    EXPECT_TRUE(host->link.IsLinkVisited());
    EXPECT_EQ(WaitForFile(out.File("args")), "-compose\nmailto:support@zeltor.example\nEND\n");
}

TEST_F(LinuxLinkTest, HandlerThatCannotStartReportsWinExecsCode)
{
    bin.Write("xdg-open", "#!/bin/sh\nexit 3\n", true);
    XdgMimeAnswers("gone.desktop\\n");
    home.Write("data/applications/gone.desktop", "[Desktop Entry]\nExec=/nonexistent/dir/web %u\n");
    ClickSupport();
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text, u"Unable to open hyperlink:\n\nThe specified file was not found.");
}
