// Opening a link: the shell, then the registered ".htm" handler's command, with the sizes of the
// buffers the lookups and the command go through.
#include <gtest/gtest.h>

#include "controls/link_opener.h"
#include "tests/fakes/fake_shell.h"

namespace {

class OpenUrlTest : public ::testing::Test {
protected:
    void Register(const CString& className, const CString& command)
    {
        shell.keys[u".htm"] = { className };
        shell.keys[className + u"\\shell\\open\\command"] = { command };
    }
    int Open(const CString& url) { return opener.OpenUrl(url, SW_SHOW); }

    FakeShellService shell;
    LinkOpener opener{ shell };
};

} // namespace

TEST_F(OpenUrlTest, ShellSuccessReturnsItsResultWithoutFallback)
{
    shell.shellResults = { 33 };
    EXPECT_EQ(Open(u"https://a.example/"), 33);
    EXPECT_TRUE(shell.FallbackCalls().empty());
}

TEST_F(OpenUrlTest, FailedShellFallsBackToTheHtmHandlersComposedCommand)
{
    shell.shellResults = { 31 };
    shell.winExecResult = 35;
    Register(u"WebDoc", u"\"C:\\Web\\web.exe\" -osint -url \"%1\"");
    EXPECT_EQ(Open(u"mailto:sales@zeltor.example"), 35);
    EXPECT_EQ(shell.FallbackCalls(),
              (std::vector<CString>{
                  u"RegOpenKey .htm", u"RegQuery .htm", u"RegCloseKey .htm", u"RegOpenKey WebDoc\\shell\\open\\command",
                  u"RegQuery WebDoc\\shell\\open\\command", u"RegCloseKey WebDoc\\shell\\open\\command",
                  u"WinExec \"C:\\Web\\web.exe\" -osint -url  mailto:sales@zeltor.example" }));
    EXPECT_EQ(shell.roots, (std::vector<HKEY>{ HKEY_CLASSES_ROOT, HKEY_CLASSES_ROOT }));
    EXPECT_EQ(shell.showCommands, (std::vector<int>{ SW_SHOW, SW_SHOW }));
    EXPECT_EQ(shell.openKeys, 0);
}

TEST_F(OpenUrlTest, EveryFailedLookupReturnsTheShellsResult)
{
    // No ".htm" key.
    shell.shellResults = { 31 };
    EXPECT_EQ(Open(u"u"), 31);
    EXPECT_EQ(shell.FallbackCalls(), (std::vector<CString>{ u"RegOpenKey .htm" }));

    // The class has no open command.
    shell = FakeShellService();
    shell.shellResults = { 2 };
    shell.keys[u".htm"] = { u"WebDoc" };
    EXPECT_EQ(Open(u"u"), 2);
    EXPECT_EQ(shell.FallbackCalls().back(), u"RegOpenKey WebDoc\\shell\\open\\command");

    // A key that opens but whose value cannot be read; it is closed again.
    shell = FakeShellService();
    shell.shellResults = { 5 };
    Register(u"WebDoc", u"web.exe %1");
    shell.keys[u"WebDoc\\shell\\open\\command"].queryError = 5;
    EXPECT_EQ(Open(u"u"), 5);
    EXPECT_EQ(shell.FallbackCalls().back(), u"RegCloseKey WebDoc\\shell\\open\\command");
    EXPECT_EQ(shell.openKeys, 0);
    EXPECT_TRUE(shell.commandLines.empty());
}

TEST_F(OpenUrlTest, WinExecFailureIsTheResult)
{
    shell.shellResults = { 31 };
    shell.winExecResult = 2;
    Register(u"WebDoc", u"%1");
    EXPECT_EQ(Open(u"https://a.example/"), 2);
    EXPECT_EQ(shell.commandLines, (std::vector<std::string>{ " https://a.example/" }));
}

TEST_F(OpenUrlTest, ValuesThatDoNotFitTheirBuffersAreUnreadable)
{
    // 259 characters fit the 260-character value buffer with the terminator; 260 do not.
    shell.shellResults = { 31, 31 };
    Register(u"WebDoc", CString(259, u'x'));
    EXPECT_EQ(Open(u"u"), 33);
    EXPECT_EQ(shell.commandLines.back().size(), 259u + 2u);
    shell = FakeShellService();
    shell.shellResults = { 31 };
    Register(u"WebDoc", CString(260, u'x'));
    EXPECT_EQ(Open(u"u"), 31);
    EXPECT_TRUE(shell.commandLines.empty());
    EXPECT_EQ(shell.openKeys, 0);
}

TEST_F(OpenUrlTest, CommandLongerThanItsBufferIsNotRunAndReportsLackOfMemory)
{
    // The template cut before its placeholder keeps 201 characters; with a blank and a URL of
    // 317 the command fills the 520-character buffer with its terminator; one more does not fit.
    Register(u"WebDoc", CString(200, u'w') + u" %1");
    shell.shellResults = { 31, 31 };
    EXPECT_EQ(opener.OpenUrl(CString(317, u'u'), SW_SHOW), 33);
    EXPECT_EQ(shell.commandLines.back().size(), 519u);
    EXPECT_EQ(opener.OpenUrl(CString(318, u'u'), SW_SHOW), 8);
    EXPECT_EQ(shell.commandLines.size(), 1u);
}

TEST_F(OpenUrlTest, ReadKeyLeavesTheOutputAloneOnFailure)
{
    CString value = u"kept";
    EXPECT_EQ(opener.ReadKeyDefaultValue(HKEY_CLASSES_ROOT, u".htm", value), 2);
    EXPECT_EQ(value, u"kept");
    shell.keys[u".htm"] = { u"WebDoc" };
    shell.keys[u".htm"].queryError = 234;
    EXPECT_EQ(opener.ReadKeyDefaultValue(HKEY_CLASSES_ROOT, u".htm", value), 234);
    EXPECT_EQ(value, u"kept");
    shell.keys[u".htm"].queryError = 0;
    EXPECT_EQ(opener.ReadKeyDefaultValue(HKEY_CLASSES_ROOT, u".htm", value), 0);
    EXPECT_EQ(value, u"WebDoc");
}
