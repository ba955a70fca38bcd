// Desktop entries: the Exec line as a command template, the quoting of command lines, and where
// entries are looked for.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "controls/hyperlink_rules.h"
#include "platform/linux/shell/desktop_entry.h"

namespace {

using Args = std::vector<std::string>;

// A temporary directory, removed with its contents at the end of the test.
struct TempDir {
    TempDir()
    {
        char pattern[] = "/tmp/zeltor-entry-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    void Write(const std::string& relative, const std::string& text) const
    {
        const std::filesystem::path p = std::filesystem::path(path) / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    std::string path;
};

} // namespace

TEST(ExecToCommandTemplate, FieldCodesBecomeOnePlaceholderOrGo)
{
    EXPECT_EQ(ExecToCommandTemplate("firefox-esr %u"), "firefox-esr %1");
    EXPECT_EQ(ExecToCommandTemplate("web --new-window %U"), "web --new-window %1");
    EXPECT_EQ(ExecToCommandTemplate("viewer %F"), "viewer %1");
    EXPECT_EQ(ExecToCommandTemplate("viewer %f --x"), "viewer %1 --x");
    // %i, %c, %k and the deprecated codes are dropped; an argument made only of one goes.
    EXPECT_EQ(ExecToCommandTemplate("mail %i --compose %c %k %u"), "mail --compose %1");
    EXPECT_EQ(ExecToCommandTemplate("app --x%d"), "app --x");
    EXPECT_EQ(ExecToCommandTemplate("printf 100%% %u"), "printf 100% %1");
    EXPECT_EQ(ExecToCommandTemplate("browser"), "browser");
}

TEST(ExecToCommandTemplate, QuotedArgumentsStayQuotedAndBrokenQuotingIsRefused)
{
    EXPECT_EQ(ExecToCommandTemplate("\"/opt/My Web/web\" %u"), "\"/opt/My Web/web\" %1");
    EXPECT_EQ(ExecToCommandTemplate("web \"--title=a \\\"b\\\"\" %u"), "web \"--title=a \\\"b\\\"\" %1");
    EXPECT_EQ(ExecToCommandTemplate("web \"\" %u"), "web \"\" %1");
    EXPECT_EQ(ExecToCommandTemplate("web \"unterminated %u"), std::nullopt);
    // Text around the placeholder keeps its own quoting.
    EXPECT_EQ(ExecToCommandTemplate("web --url=%u"), "web --url=%1");
    EXPECT_EQ(ExecToCommandTemplate("web \"--to=a \\\"b%u\""), "web \"--to=a \\\"b\"%1");
    EXPECT_EQ(SplitCommandLine("web \"--to=a \\\"b\"x"), (Args{ "web", "--to=a \"bx" }));
}

TEST(SplitCommandLine, BlanksSeparateQuotesGroupAndEscapesHoldInsideQuotes)
{
    EXPECT_EQ(SplitCommandLine("a  b\tc"), (Args{ "a", "b", "c" }));
    EXPECT_EQ(SplitCommandLine("\"/opt/My Web/web\"  https://x/"), (Args{ "/opt/My Web/web", "https://x/" }));
    EXPECT_EQ(SplitCommandLine("x \"a\\\"b\\\\c\\$d\\`e\\nf\""), (Args{ "x", "a\"b\\c$d`e\\nf" }));
    EXPECT_EQ(SplitCommandLine("x \"\""), (Args{ "x", "" }));
    EXPECT_EQ(SplitCommandLine("pre\"fix\"ed"), (Args{ "prefixed" }));
    EXPECT_EQ(SplitCommandLine("   "), Args{});
    EXPECT_EQ(SplitCommandLine("x \"open"), std::nullopt);
}

TEST(SplitCommandLine, ComposedFallbackCommandsGiveTheProgramAndTheUrl)
{
    // What the Linux fallback runs: the template of the entry, composed by the portable rule.
    const CString url = u"mailto:sales@zeltor.example";
    for (const char* exec : { "\"/opt/My Web/web\" %u", "\"/opt/My Web/web\" --new %u --private" }) {
        const auto tpl = ExecToCommandTemplate(exec);
        ASSERT_TRUE(tpl);
        const std::string command = ComposeHandlerCommand(CString::FromUtf8(*tpl), url).ToUtf8();
        const auto args = SplitCommandLine(command);
        ASSERT_TRUE(args) << command;
        EXPECT_EQ(args->front(), "/opt/My Web/web");
        EXPECT_EQ(args->back(), "mailto:sales@zeltor.example");
        EXPECT_EQ(std::count(args->begin(), args->end(), "--private"), 0);
    }
}

TEST(DesktopEntries, FoundInDataHomeThenDataDirsAndReadFromTheMainGroup)
{
    TempDir home, dirA, dirB;
    ChildEnvironment env;
    env.Set("XDG_DATA_HOME", home.path);
    env.Set("XDG_DATA_DIRS", dirA.path + ":" + dirB.path);
    EXPECT_EQ(ApplicationDirectories(env),
              (Args{ home.path + "/applications", dirA.path + "/applications", dirB.path + "/applications" }));

    dirB.Write("applications/web.desktop", "[Desktop Entry]\nExec=b %u\n");
    EXPECT_EQ(FindDesktopEntry("web.desktop", env), dirB.path + "/applications/web.desktop");
    dirA.Write("applications/web.desktop", "[Desktop Entry]\nExec=a %u\n");
    EXPECT_EQ(FindDesktopEntry("web.desktop", env), dirA.path + "/applications/web.desktop");
    // vendor-app.desktop may live in vendor/app.desktop.
    home.Write("applications/acme/mail.desktop", "[Desktop Entry]\nExec=m\n");
    EXPECT_EQ(FindDesktopEntry("acme-mail.desktop", env), home.path + "/applications/acme/mail.desktop");
    EXPECT_EQ(FindDesktopEntry("../web.desktop", env), std::nullopt);
    EXPECT_EQ(FindDesktopEntry("web", env), std::nullopt);
    EXPECT_EQ(FindDesktopEntry("none.desktop", env), std::nullopt);

    home.Write("applications/x.desktop",
               "# comment\n[Desktop Action new]\nExec=wrong\n[Desktop Entry]\nName=X\nExec[de]=nein\n"
               "Exec = \"/opt/x y/x\"\\s--flag\\t%U \n[Other]\nExec=later\n");
    EXPECT_EQ(ReadExecKey(home.path + "/applications/x.desktop"), "\"/opt/x y/x\" --flag\t%U");
    home.Write("applications/noexec.desktop", "[Desktop Entry]\nName=N\n");
    EXPECT_EQ(ReadExecKey(home.path + "/applications/noexec.desktop"), std::nullopt);
}

TEST(DesktopEntries, DefaultDirectoriesWhenTheVariablesAreUnset)
{
    ChildEnvironment env;
    env.Set("HOME", "/home/u");
    EXPECT_EQ(ApplicationDirectories(env), (Args{ "/home/u/.local/share/applications", "/usr/local/share/applications",
                                                  "/usr/share/applications" }));
}
