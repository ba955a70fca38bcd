// The Wine tests of the Windows program: each case starts the real zeltor.exe beside the
// stand-in system libraries, with a scenario for them, and drives its windows from outside.
//
//   driver.exe [case...]            runs the cases (all when none is named); one line each,
//                                   "ok - <case>" or "not ok - <case>" with the failures after it
//   driver.exe --system-libraries [case...]   the cases that use the system's pdh and mpr
//   driver.exe --list               names the cases
//   driver.exe --hold READY DONE    starts the program as a domain member, writes its window's
//                                   rectangle ("x y width height") to READY, and ends it once
//                                   DONE exists (for a screenshot)
//   driver.exe --hold-about READY DONE   the same with the About box open over it
//   driver.exe --hold-overview READY DONE   the same with the domain overview open, its rows read
//   driver.exe --installed SHORTCUT INSTALLER VERSION READY DONE   the program as the installer
//                                   left it (installed_program.h)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "console_cases.h"
#include "driver_support.h"
#include "installed_program.h"
#include "replication_cases.h"
#include "scenarios.h"

#include <initguid.h> // oleacc's property ids are defined by its header
#include <oleacc.h>
#include <shellapi.h>
#include <winnetwk.h>
#include "res/resource.h"

namespace {

const int kValueIds[] = { IDC_CPUUSAGE,     IDC_MEMORYUSAGE, IDC_DISKUSAGE,  IDC_PAGEREADS,     IDC_PAGEWRITES,
                          IDC_NTFRSHANDLES, IDC_FILEREADS,   IDC_FILEWRITES, IDC_INTERRUPTTIME, IDC_LSASSHANDLES,
                          IDC_PAGEFAULTS,   IDC_PAGESINPUT,  IDC_PAGESOUTPUT };

std::wstring ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(name, &length);
    return std::wstring(name, length);
}

bool InMoveOrSize(DWORD threadId)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(threadId, &info) && (info.flags & GUI_INMOVESIZE) != 0;
}

void Started(Check& check, const Program& p)
{
    check.Require(p.Started(), "the program shows its window \"Zeltor\"");
}

// Presses Tab and waits until the focus has moved: every key sent before it has been handled by
// then, since the program reads its input in order.
bool TabAndSettle(const Program& p)
{
    const HWND before = FocusOf(p.Tid());
    Press(VK_TAB);
    return WaitUntil(
        [&] {
            HWND now = FocusOf(p.Tid());
            return now != nullptr && now != before;
        },
        5000);
}

// Moves the focus with Tab until it is on the control.
bool TabTo(const Program& p, HWND control)
{
    for (int i = 0; i < 12 && FocusOf(p.Tid()) != control; ++i)
        TabAndSettle(p);
    return FocusOf(p.Tid()) == control;
}

// Closes a message box with its OK button and waits until it has gone.
bool CloseMessageBox(HWND box)
{
    Click(GetDlgItem(box, IDOK));
    return WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 10000);
}

std::wstring MessageBoxText(HWND box)
{
    return TextOf(GetDlgItem(box, 0xFFFF));
}

// -- Start-up --------------------------------------------------------------------------------

void MainWindowLayoutAndStartState(const Paths& paths, Check& check)
{
    Program p(paths, "layout", L"");
    Started(check, p);
    check.Eq(ClassOf(p.Main()), L"#32770", "the main window is a dialog");
    CheckLayout(check, p.Main(), IDD_ZELTOR_DIALOG);
    // The icon resource in both its sizes: the system's large and small icon sizes.
    const IconSizes icons = ReadIcons(paths, p.Main(), p.Tid());
    check.Eq(icons.bigIcon.cx, GetSystemMetrics(SM_CXICON), "large icon width");
    check.Eq(icons.bigIcon.cy, GetSystemMetrics(SM_CYICON), "large icon height");
    check.Eq(icons.smallIcon.cx, GetSystemMetrics(SM_CXSMICON), "small icon width");
    check.Eq(icons.smallIcon.cy, GetSystemMetrics(SM_CYSMICON), "small icon height");
    check.Eq(icons.dragIcon.cx, GetSystemMetrics(SM_CXICON), "drag icon width (WM_QUERYDRAGICON)");
    for (int id : kValueIds)
        check.Eq(TextOf(p.Item(id)), L"0", "value field " + std::to_string(id));
    check.That(IsChecked(p.Item(IDC_AUTOUPDATE)), "Auto Update is ticked");
    check.That(!IsWindowEnabled(p.Item(IDC_AUTOUPDATE)), "Auto Update is disabled");
    check.Eq(TextOf(p.Item(IDC_USERNAME)), L"", "user name");
    check.Eq(TextOf(p.Item(IDC_PASSWORD)), L"", "password");
    check.That(FocusOf(p.Tid()) == p.Item(IDC_DOMAIN), "the focus is on the Domain field, the first tab stop");
    check.Eq(static_cast<long long>(TopWindowsOf(p.Pid()).size()), 1, "windows shown");
}

void WorkgroupComputer(const Paths& paths, Check& check)
{
    Program p(paths, "workgroup", L"join.status=2\njoin.name=WORKGROUP\n");
    Started(check, p);
    check.Eq(TextOf(p.Item(IDC_DOMAIN)), L"<Not Found>", "Domain");
    check.Eq(TextOf(p.Item(IDC_DC)), ComputerName(), "Domain Controller");
    const std::vector<std::wstring> log = p.Log();
    check.That(log == std::vector<std::wstring>{ L"NetGetJoinInformation|\"" + ComputerName() + L"\"",
                                                 L"NetApiBufferFree|released" },
               "only the membership was asked, and its buffer released:" + Joined(log));
}

void DomainMemberWithThreeControllers(const Paths& paths, Check& check)
{
    Program p(paths, "domain", kDomainWithThreeControllers);
    Started(check, p);
    check.Eq(TextOf(p.Item(IDC_DOMAIN)), L"CORP", "Domain");
    check.Eq(TextOf(p.Item(IDC_DC)), L"DC1", "Domain Controller");
    const std::vector<std::wstring> log = p.Log();
    const std::vector<std::wstring> expected = {
        L"NetGetJoinInformation|\"" + ComputerName() + L"\"",
        L"NetApiBufferFree|released",
        L"DsBindW|(null)|\"CORP\"",
        L"DsGetDomainControllerInfoW|bound|\"CORP\"|1",
        L"DsFreeDomainControllerInfoW|1|3|released",
        L"DsUnBindW|released",
    };
    check.That(log == expected, "bound without credentials, the records and the binding released:" + Joined(log));
}

void DirectoryOutOfReach(const Paths& paths, Check& check)
{
    {
        // RPC_S_SERVER_UNAVAILABLE: no controller answers.
        Program p(paths, "unreachable", std::wstring(kDomainWithThreeControllers) + L"ds.bind.result=1722\n");
        Started(check, p);
        check.Eq(TextOf(p.Item(IDC_DOMAIN)), L"CORP", "Domain when the bind fails");
        check.Eq(TextOf(p.Item(IDC_DC)), L"", "Domain Controller when the bind fails");
        check.Eq(static_cast<long long>(p.Count(L"DsGetDomainControllerInfoW")), 0, "records asked without a binding");
        check.Eq(static_cast<long long>(TopWindowsOf(p.Pid()).size()), 1, "windows shown when the bind fails");
    }
    {
        // Bound, but the list cannot be read (ERROR_ACCESS_DENIED).
        Program p(paths, "unreadable", std::wstring(kDomainWithThreeControllers) + L"ds.info.result=5\n");
        Started(check, p);
        check.Eq(TextOf(p.Item(IDC_DOMAIN)), L"CORP", "Domain when the list cannot be read");
        check.Eq(TextOf(p.Item(IDC_DC)), L"", "Domain Controller when the list cannot be read");
        check.That(HasCall(p.Log(), L"DsUnBindW|released"), "the binding is released:" + Joined(p.Log()));
    }
}

// -- The keyboard and closing ------------------------------------------------------------------

void KeysThatLeaveTheWindowOpen(const Paths& paths, Check& check)
{
    Program p(paths, "keys", L"");
    Started(check, p);
    check.Require(BringToFront(p.Main()), "the main window comes to the front");

    // Escape and Enter on each tab stop in turn; Tab moves on and tells when they were handled.
    std::map<int, bool> visited;
    for (int i = 0; i < 7; ++i) {
        const HWND focus = FocusOf(p.Tid());
        visited[GetDlgCtrlID(focus)] = true;
        Press(VK_ESCAPE);
        Press(VK_RETURN);
        check.Require(TabAndSettle(p), "Tab moves the focus on from control " + std::to_string(GetDlgCtrlID(focus)));
        check.Require(p.Running() && IsWindowVisible(p.Main()),
                      "the window stays open after Escape and Enter on control " + std::to_string(GetDlgCtrlID(focus)));
    }
    for (int id : { IDC_DOMAIN, IDC_DC, IDC_FIND, IDC_UPDATE, IDC_USERNAME, IDC_PASSWORD, IDCANCEL })
        check.That(visited[id], "Escape and Enter were pressed on control " + std::to_string(id));
    check.Eq(static_cast<long long>(p.Count(L"Pdh")), 0, "counter calls (Enter must not run Update)");

    Press(VK_F1);
    check.Require(TabAndSettle(p), "Tab moves the focus after F1");
    check.That(p.Running() && IsWindowVisible(p.Main()), "the window stays open after F1");
    check.Eq(static_cast<long long>(TopWindowsOf(p.Pid()).size()), 1, "windows shown after F1");
}

void CloseButtonEndsTheProgram(const Paths& paths, Check& check)
{
    Program p(paths, "close", L"");
    Started(check, p);
    Click(p.Item(IDCANCEL));
    check.Eq(p.WaitForExit(15000), 0, "exit code after Close");
}

void AltF4EndsTheProgram(const Paths& paths, Check& check)
{
    Program p(paths, "altf4", L"");
    Started(check, p);
    check.Require(BringToFront(p.Main()), "the main window comes to the front");
    PressWith(VK_MENU, VK_F4);
    check.Eq(p.WaitForExit(15000), 0, "exit code after Alt+F4");
}

void SystemMenuAboutAndClose(const Paths& paths, Check& check)
{
    Program p(paths, "sysmenu", L"");
    Started(check, p);
    const std::vector<MenuItem> menu = ReadSystemMenu(paths, p.Main(), p.Tid());
    check.Require(menu.size() >= 3, "the system menu has the system's items and two more");
    const MenuItem& last = menu.back();
    const MenuItem& beforeLast = menu[menu.size() - 2];
    check.Eq(last.text, L"&About Zeltor...", "last item");
    check.Eq(last.id, ID_SYSCMD_ABOUT, "last item's command");
    check.That((last.state & MF_SEPARATOR) == 0, "the last item is a command");
    check.That((beforeLast.state & MF_SEPARATOR) != 0, "a separator stands above it");
    check.Eq(menu.front().id, SC_RESTORE, "the system's own items come first");

    SystemCommand(p.Main(), ID_SYSCMD_ABOUT);
    const HWND about = p.WaitForWindow(L"About Zeltor");
    check.Require(about != nullptr, "the About box opens");
    CheckLayout(check, about, IDD_ABOUTBOX);
    check.That(!IsWindowEnabled(p.Main()), "the main window is disabled while the About box is open");
    Click(GetDlgItem(about, IDOK));
    check.That(WaitUntil([&] { return !IsWindow(about) && IsWindowEnabled(p.Main()); }, 10000),
               "OK closes the About box and the main window is enabled again");

    // The system's own commands still do what they do. SC_MOVE as the keyboard gives it: arrows
    // move the window 8 pixels a press, Enter ends the move.
    check.Require(BringToFront(p.Main()), "the main window comes to the front");
    RECT before{};
    GetWindowRect(p.Main(), &before);
    SystemCommand(p.Main(), SC_MOVE);
    // The keys count only once the system's move loop runs (it holds the capture meanwhile).
    check.That(WaitUntil([&] { return InMoveOrSize(p.Tid()); }, 10000), "SC_MOVE starts the move loop");
    // Each arrow puts the pointer 8 pixels on; the window follows the pointer's next move, which
    // Wine's warp of the pointer does not make by itself, so a move of no distance follows each.
    // The nudge goes only after the loop has put the pointer on, or it would carry the old place.
    for (WORD key : { VK_RIGHT, VK_RIGHT, VK_RIGHT, VK_DOWN }) {
        POINT was{};
        GetCursorPos(&was);
        Press(key);
        check.That(WaitUntil(
                       [&] {
                           POINT now{};
                           GetCursorPos(&now);
                           return now.x != was.x || now.y != was.y;
                       },
                       5000),
                   "an arrow key puts the pointer on");
        NudgeMouse();
    }
    Press(VK_RETURN);
    RECT after{};
    const bool moved = WaitUntil(
        [&] {
            GetWindowRect(p.Main(), &after);
            return after.left != before.left && after.top != before.top;
        },
        10000);
    check.That(moved, "SC_MOVE and the arrow keys move the window: from " + std::to_string(before.left) + "," +
                          std::to_string(before.top) + " to " + std::to_string(after.left) + "," +
                          std::to_string(after.top) +
                          (InMoveOrSize(p.Tid()) ? ", still moving" : ", the move loop ended"));
    check.Eq(after.left - before.left, 24, "moved right");
    check.Eq(after.top - before.top, 8, "moved down");
    check.Eq(after.right - after.left, before.right - before.left, "width after the move");
    check.Eq(after.bottom - after.top, before.bottom - before.top, "height after the move");

    SystemCommand(p.Main(), SC_MINIMIZE);
    check.That(WaitUntil([&] { return IsIconic(p.Main()) != FALSE; }, 10000), "SC_MINIMIZE minimises the window");
    SystemCommand(p.Main(), SC_RESTORE);
    check.That(WaitUntil([&] { return IsIconic(p.Main()) == FALSE; }, 10000), "SC_RESTORE restores it");

    SystemCommand(p.Main(), SC_CLOSE);
    check.Eq(p.WaitForExit(15000), 0, "exit code after SC_CLOSE");
}

struct AboutLink {
    int id;
    const wchar_t* text;
    const wchar_t* target;
};
const AboutLink kAboutLinks[] = {
    { IDC_LINK_WEB, L"https://www.zeltor.example/", L"https://www.zeltor.example/" },
    { IDC_LINK_SUPPORT, L"support@zeltor.example", L"mailto:support@zeltor.example" },
    { IDC_LINK_SALES, L"sales@zeltor.example", L"mailto:sales@zeltor.example" },
};

// The About box's texts, and each link's tooltip (its target) and underlined font.
void CheckAboutBox(const Paths& paths, Check& check, const Program& p, HWND about)
{
    check.Eq(TextOf(about), L"About Zeltor", "title");
    check.Eq(TextOf(GetDlgItem(about, IDC_VERSION)),
             L"Zeltor\nversion 9.09.01\nCopyright (C) 2026 Zeltor Software.\nAll rights reserved.", "version text");
    for (const AboutLink& l : kAboutLinks) {
        const HWND link = GetDlgItem(about, l.id);
        const std::string what = "link " + Utf8(l.text);
        check.Eq(TextOf(link), l.text, what + " text");
        const LinkState state = ReadLink(paths, link, p.Tid());
        check.That(state.tips == std::vector<std::wstring>{ l.target },
                   what + ": one tooltip tool, with the target; got " +
                       (state.tips.empty() ? std::string("none") : "\"" + Utf8(state.tips.front()) + "\"") + " of " +
                       std::to_string(state.tips.size()));
        check.That(state.hasFont && state.underlined, what + " is set in an underlined font");
        check.That((GetWindowLongW(link, GWL_STYLE) & SS_NOTIFY) != 0, what + " reports clicks (SS_NOTIFY)");
    }
}

void AboutBoxTextsLinksAndReopening(const Paths& paths, Check& check)
{
    Program p(paths, "about", L"");
    Started(check, p);
    // The low four bits of a system command are the system's; 0x0011 is the About item too.
    for (UINT command : { 0x0011u, 0x0010u }) {
        const std::string how = " (WM_SYSCOMMAND " + std::to_string(command) + ")";
        SystemCommand(p.Main(), command);
        const HWND about = p.WaitForWindow(L"About Zeltor");
        check.Require(about != nullptr, "the About box opens" + how);
        CheckAboutBox(paths, check, p, about);
        check.Eq(static_cast<long long>(TopWindowsOf(p.Pid()).size()), 2, "windows shown" + how);
        Click(GetDlgItem(about, IDOK));
        check.Require(WaitUntil([&] { return !IsWindow(about) && IsWindowEnabled(p.Main()); }, 10000),
                      "OK closes the About box" + how);
    }
    check.That(p.Running() && IsWindowVisible(p.Main()), "the main window stays open");
    Click(p.Item(IDCANCEL));
    check.Eq(p.WaitForExit(15000), 0, "exit code after Close");
}

// What the program says when the shell cannot open a link, for the codes the shell gives here.
std::wstring OpenFailureText(long long code)
{
    switch (code) {
    case 2:
        return L"Unable to open hyperlink:\n\nThe specified file was not found.";
    case 31:
        return L"Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.";
    default:
        return L"(no expected text for shell code " + std::to_wstring(code) + L")";
    }
}

void LinkThatCannotOpenSaysWhy(const Paths& paths, Check& check)
{
    Program p(paths, "badlink", L"");
    Started(check, p);
    SystemCommand(p.Main(), ID_SYSCMD_ABOUT);
    const HWND about = p.WaitForWindow(L"About Zeltor");
    check.Require(about != nullptr, "the About box opens");
    check.Require(BringToFront(about), "the About box comes to the front");
    check.Require(ReadBeeps(paths, about, p.Tid()).count == 0, "the program's beeps can be counted");
    long beepsBefore = 0;
    for (const AboutLink& l : { kAboutLinks[0], kAboutLinks[1] }) {
        const std::string what = "link " + Utf8(l.text);
        // The test prefix has no handler for the link: the shell's own answer for its target.
        const auto code =
            reinterpret_cast<std::intptr_t>(ShellExecuteW(nullptr, L"open", l.target, nullptr, nullptr, SW_SHOW));
        std::fprintf(stderr, "%s: ShellExecuteW gives %lld\n", what.c_str(), static_cast<long long>(code));
        check.Require(code <= 32,
                      what + ": the shell of the test prefix cannot open it (got " + std::to_string(code) + ")");

        ClickWithMouse(GetDlgItem(about, l.id));
        const HWND box = p.WaitForMessageBox(20000);
        check.Require(box != nullptr, what + ": a message box titled \"zeltor\" shows");
        check.Eq(MessageBoxText(box), OpenFailureText(code),
                 what + " message (shell code " + std::to_string(code) + ")");
        check.That(GetWindow(box, GW_OWNER) == about, what + ": the box belongs to the About box");
        const Beeps beeps = ReadBeeps(paths, about, p.Tid());
        check.Eq(beeps.count - beepsBefore, 1, what + ": beeps before the box");
        check.Eq(beeps.lastType, MB_ICONEXCLAMATION, what + ": the beep's type");
        beepsBefore = beeps.count;
        check.Require(CloseMessageBox(box), what + ": OK closes the message box");
        check.That(IsWindow(about) && IsWindowVisible(about), what + ": the About box stays open");
    }
    Click(GetDlgItem(about, IDOK));
    check.That(WaitUntil([&] { return !IsWindow(about); }, 10000), "OK closes the About box");
    Click(p.Item(IDCANCEL));
    check.Eq(p.WaitForExit(15000), 0, "exit code after Close");
}

// -- Monitoring --------------------------------------------------------------------------------

void UpdateShowsTheCountersAfterOneTick(const Paths& paths, Check& check)
{
    Program p(paths, "update", CounterScenario());
    Started(check, p);
    Click(p.Item(IDC_UPDATE));
    check.Require(p.WaitForCalls(L"PdhAddCounterW", 13, 20000), "the thirteen counters are added");
    check.That(WaitUntil([&] { return TextOf(p.Item(IDC_PAGEWRITES)) != L"0"; }, 15000), "a tick shows the values");
    for (const ScriptedCounter& c : kCounters)
        check.Eq(TextOf(p.Item(c.field)), std::to_wstring(c.value),
                 "field " + std::to_string(c.field) + " for " + Utf8(c.path));
    check.That(IsChecked(p.Item(IDC_AUTOUPDATE)), "Auto Update stays ticked");
    check.That(IsWindowEnabled(p.Item(IDC_AUTOUPDATE)), "Auto Update is enabled");
    check.That(!IsWindowEnabled(p.Item(IDC_DC)), "the Domain Controller field is locked while monitoring");

    const std::vector<std::wstring> log = p.Log();
    check.Eq(static_cast<long long>(p.Count(L"PdhConnectMachineW|\"DC1\"")), 1, "connections to DC1");
    check.That(HasCall(log, L"PdhOpenQueryW|(null)|1"), "a real-time query is opened:" + Joined(log));
    const long long firstAdd = IndexOf(log, L"PdhAddCounterW");
    for (size_t i = 0; i < std::size(kCounters); ++i) {
        const std::wstring expected =
            L"PdhAddCounterW|open|\"\\\\DC1" + std::wstring(kCounters[i].path) + L"\"|userdata";
        const size_t at = static_cast<size_t>(firstAdd) + i;
        check.Eq(at < log.size() ? log[at] : L"", expected, "counter " + std::to_string(i));
    }
    check.That(p.Count(L"PdhCollectQueryData|open") >= 1, "samples are taken");
    check.Eq(static_cast<long long>(p.Count(L"WNetAddConnection2W")), 0, "connections opened without a user name");
}

void AccessDeniedGivesUpAfter152Attempts(const Paths& paths, Check& check)
{
    Program p(paths, "denied", std::wstring(kDomainWithThreeControllers) + L"pdh.connect.result=0xC0000BDB\n");
    Started(check, p);
    Click(p.Item(IDC_UPDATE));
    const HWND box = p.WaitForMessageBox(60000);
    check.Require(box != nullptr, "a message box titled \"zeltor\" shows");
    check.Eq(MessageBoxText(box),
             L"Could not initialize.\nUnable to access the desired computer or service.\nCheck the permissions and "
             L"authentication of the log service or the interactive user\nsession against those on the computer or "
             L"service being monitored.",
             "message");
    check.Eq(static_cast<long long>(p.Count(L"PdhConnectMachineW|\"DC1\"")), 152, "connection attempts");
    check.Eq(static_cast<long long>(p.Count(L"PdhOpenQueryW")), 0, "queries opened");
    check.Require(CloseMessageBox(box), "OK closes the message box");
    check.That(!IsWindowEnabled(p.Item(IDC_AUTOUPDATE)), "Auto Update stays disabled");
    check.That(p.Running() && IsWindowVisible(p.Main()), "the window stays open");
}

void ConnectionFailureShowsTheSystemsText(const Paths& paths, Check& check)
{
    Program p(paths, "netfail", std::wstring(kDomainWithThreeControllers) + L"mpr.add.result=53\n");
    Started(check, p);
    check.Require(BringToFront(p.Main()), "the main window comes to the front");
    check.Require(TabTo(p, p.Item(IDC_USERNAME)), "Tab reaches the user name field");
    Type(L"admin");
    check.Require(TabAndSettle(p), "Tab moves on after typing");
    check.Eq(TextOf(p.Item(IDC_USERNAME)), L"admin", "the typed user name");
    Click(p.Item(IDC_UPDATE));
    const HWND box = p.WaitForMessageBox(20000);
    check.Require(box != nullptr, "a message box titled \"zeltor\" shows");

    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 53,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const std::wstring systemText = text != nullptr ? text : L"";
    LocalFree(text);
    check.That(!systemText.empty(), "the system has a text for error 53");
    check.Eq(MessageBoxText(box), L"Error:53\n" + systemText, "message");

    const std::vector<std::wstring> log = p.Log();
    check.That(HasCall(log, L"WNetAddConnection2W|type=0|local=(null)|remote=\"\\\\DC1\"|provider=(null)|password=\"\"|"
                            L"user=\"admin\"|flags=0"),
               "the connection is asked for as typed:" + Joined(log));
    check.Eq(static_cast<long long>(p.Count(L"PdhConnectMachineW")), 0, "counter connections after the failure");
    check.Require(CloseMessageBox(box), "OK closes the message box");
    check.That(!IsWindowEnabled(p.Item(IDC_AUTOUPDATE)), "Auto Update stays disabled");
}

void ClosingCancelsTheConnectionsBeforeTheQuery(const Paths& paths, Check& check)
{
    Program p(paths, "disconnect", CounterScenario());
    Started(check, p);
    check.Require(BringToFront(p.Main()), "the main window comes to the front");
    check.Require(TabTo(p, p.Item(IDC_USERNAME)), "Tab reaches the user name field");
    Type(L"CORP\\admin");
    check.Require(TabTo(p, p.Item(IDC_PASSWORD)), "Tab reaches the password field");
    Type(L"s3cret");
    check.Require(TabAndSettle(p), "Tab moves on after typing");
    check.Eq(TextOf(p.Item(IDC_USERNAME)), L"CORP\\admin", "the typed user name");
    Click(p.Item(IDC_UPDATE));
    check.Require(p.WaitForCalls(L"PdhAddCounterW", 13, 20000), "the counters are added");
    check.That(WaitUntil([&] { return TextOf(p.Item(IDC_CPUUSAGE)) == L"11"; }, 15000), "a tick shows the values");

    Click(p.Item(IDCANCEL));
    check.Eq(p.WaitForExit(15000), 0, "exit code after Close");
    const std::vector<std::wstring> log = p.Log();
    check.That(HasCall(log, L"WNetAddConnection2W|type=0|local=(null)|remote=\"\\\\DC1\"|provider=(null)|"
                            L"password=\"s3cret\"|user=\"CORP\\admin\"|flags=0"),
               "the connection is opened with the typed credentials:" + Joined(log));
    const long long cancel = IndexOf(log, L"WNetCancelConnectionW|\"\\\\DC1\"|1");
    const long long close = IndexOf(log, L"PdhCloseQuery|released");
    check.That(cancel >= 0, "the connection is cancelled, forced:" + Joined(log));
    check.That(close >= 0, "the query is closed:" + Joined(log));
    check.That(cancel < close, "the connection goes before the query:" + Joined(log));
    check.Eq(static_cast<long long>(p.Count(L"WNetCancelConnectionW")), 1, "connections cancelled");
}

// -- Hostile controller names, with the system's own pdh and mpr ---------------------------------

struct HostileText {
    const char* name;
    std::wstring text;
};

std::vector<HostileText> HostileTexts()
{
    return {
        { "empty", L"" },
        { "one character", L"X" },
        { "255 characters", std::wstring(255, L'D') },
        { "65,536 characters", std::wstring(65536, L'E') },
        { "right-to-left", L"\x05D3\x05D5\x05DE\x05D9\x05D9\x05DF-\x0645\x062B\x0627\x0644" },
        { "combining marks", L"D\x0301\x0308\x0323"
                             L"C\x20DD" },
        { "emoji", L"DC\xD83D\xDE00\xD83D\xDCA9" },
        { "control characters", L"DC\x01\x07\t\x1B\x7F\r\nX" },
        { "shell metacharacters", L"DC1; del x | echo $(id) `id` \"q\" 'q' & > <" },
        { "leading backslashes", L"\\\\DC1" },
        { "one leading backslash", L"\\DC1" },
    };
}

// What a program's turn with one text came to: the field's text, the boxes it showed (closed as
// they came) and whether it still answers.
struct HostileOutcome {
    std::wstring held;
    std::vector<std::wstring> boxes;
    bool answers = false;
    std::wstring record; // the stand-ins' record, its lines joined with line feeds
};

HostileOutcome RunHostile(const Paths& paths, Check& check, const std::string& caseName, const HostileText& h,
                          const wchar_t* userName, const std::wstring& scenario)
{
    HostileOutcome out;
    Program p(paths, caseName, scenario);
    const std::string what = std::string(h.name) + ": ";
    check.Require(p.Started(), what + "the program shows its window");
    SetTextOf(p.Item(IDC_DC), h.text);
    if (userName != nullptr)
        SetTextOf(p.Item(IDC_USERNAME), userName);
    out.held = TextOf(p.Item(IDC_DC));
    Click(p.Item(IDC_UPDATE));
    // A box, or the end of Update without one (Auto Update enabled again); then the boxes that
    // follow, as a refresh that fails shows one.
    HWND box = nullptr;
    const bool settled = WaitUntil(
        [&] {
            box = FindTopWindow(p.Pid(), L"zeltor");
            return box != nullptr || !p.Running() || IsWindowEnabled(p.Item(IDC_AUTOUPDATE));
        },
        30000);
    check.That(settled, what + "Update ends or shows a box");
    if (box == nullptr && settled && p.Running())
        box = p.WaitForMessageBox(5000);
    while (box != nullptr && out.boxes.size() < 4) {
        out.boxes.push_back(MessageBoxText(box));
        CloseMessageBox(box);
        box = p.WaitForMessageBox(3000);
    }
    check.That(p.Running(), what + "the program is still running");
    DWORD_PTR ignored = 0;
    out.answers = SendMessageTimeoutW(p.Main(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &ignored) != 0;
    check.That(out.answers, what + "the main window answers");
    check.That(TextOf(p.Item(IDC_DC)) == out.held, what + "the field keeps its text");
    Click(p.Item(IDCANCEL));
    check.Eq(p.WaitForExit(15000), 0, what + "exit code after Close");
    for (const std::wstring& line : p.Log())
        out.record += line + L"\n";
    std::fprintf(stderr, "%s %s: field holds %zu characters%s; boxes %zu\n", caseName.c_str(), h.name, out.held.size(),
                 out.held == h.text ? " (all)" : "", out.boxes.size());
    for (const std::wstring& b : out.boxes)
        std::fprintf(stderr, "    box \"%s\"\n", Shown(b).c_str());
    return out;
}

// Without a user name the text goes to PdhConnectMachineW. Wine's pdh.dll has no
// PdhConnectMachineW (a call ends the program in Wine's debugger), so this path runs with the
// stand-in, which refuses the machine as an unreachable one would (PDH_CSTATUS_NO_MACHINE).
void HostileControllerNamesWithoutCredentials(const Paths& paths, Check& check)
{
    const std::wstring expected =
        L"Could not initialize.\nUnable to connect to the specified computer, or the computer is offline.";
    for (const HostileText& h : HostileTexts()) {
        try {
            const HostileOutcome out =
                RunHostile(paths, check, "hostile_counters", h, nullptr, L"pdh.connect.result=0x800007D0\n");
            const std::string what = std::string(h.name) + ": ";
            check.Eq(out.held, h.text, what + "the field holds the whole text");
            // The text reaches the system as it is, once (no retry for this status), and no query
            // is opened after the refusal.
            const std::wstring call = L"PdhConnectMachineW|\"" + h.text + L"\"\n";
            check.That(out.record.find(call) != std::wstring::npos, what + "PdhConnectMachineW gets the text as it is");
            size_t connects = 0;
            for (size_t at = out.record.find(L"PdhConnectMachineW|"); at != std::wstring::npos;
                 at = out.record.find(L"PdhConnectMachineW|", at + 1))
                ++connects;
            check.Eq(static_cast<long long>(connects), 1, what + "connection attempts");
            check.That(out.record.find(L"PdhOpenQueryW") == std::wstring::npos, what + "no query is opened");
            check.That(out.boxes == std::vector<std::wstring>{ expected },
                       what + "one box, \"" + Utf8(expected) + "\"; got " + std::to_string(out.boxes.size()) +
                           (out.boxes.empty() ? std::string() : ", the first \"" + Shown(out.boxes.front()) + "\""));
        } catch (const Check::Abort&) {
        }
    }
}

// With a user name the text goes to WNetAddConnection2W of the system's mpr.dll, which here
// answers as the driver's own call with the same arguments does; the box gives that code and the
// system's text for it.
void HostileControllerNamesWithAUserName(const Paths& paths, Check& check)
{
    using AddConnection = DWORD(WINAPI*)(LPNETRESOURCEW, LPCWSTR, LPCWSTR, DWORD);
    HMODULE mpr = LoadLibraryW(L"mpr.dll");
    const auto add =
        mpr != nullptr
            ? reinterpret_cast<AddConnection>(reinterpret_cast<void*>(GetProcAddress(mpr, "WNetAddConnection2W")))
            : nullptr;
    check.Require(add != nullptr, "the system's mpr.dll has WNetAddConnection2W");
    Paths system = paths;
    system.exe = paths.dir + L"\\app-system\\zeltor.exe";
    for (const HostileText& h : HostileTexts()) {
        const std::string what = std::string(h.name) + ": ";
        try {
            std::wstring remote = L"\\\\" + h.text;
            NETRESOURCEW resource{};
            resource.dwType = RESOURCETYPE_ANY;
            resource.lpRemoteName = remote.data();
            const DWORD code = add(&resource, L"", L"admin", 0);
            check.Require(code != 0, what + "the system's mpr refuses the connection");
            wchar_t* text = nullptr;
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
            const std::wstring expected =
                L"Error:" + std::to_wstring(static_cast<int>(code)) + L"\n" + (text != nullptr ? text : L"");
            LocalFree(text);

            const HostileOutcome out = RunHostile(system, check, "hostile_connection", h, L"admin", L"");
            check.Eq(out.held, h.text, what + "the field holds the whole text");
            check.That(out.boxes == std::vector<std::wstring>{ expected },
                       what + "one box, \"" + Shown(expected) + "\"; got " + std::to_string(out.boxes.size()) +
                           (out.boxes.empty() ? std::string() : ", the first \"" + Shown(out.boxes.front()) + "\""));
        } catch (const Check::Abort&) {
        }
    }
    if (mpr != nullptr)
        FreeLibrary(mpr);
}

// -- The controller picker ---------------------------------------------------------------------

void FindPicksAControllerAndCancelChangesNothing(const Paths& paths, Check& check)
{
    Program p(paths, "find", kDomainWithThreeControllers);
    Started(check, p);
    check.Eq(TextOf(p.Item(IDC_DC)), L"DC1", "Domain Controller at start");

    Click(p.Item(IDC_FIND));
    HWND picker = p.WaitForWindow(L"Select Domain Controller");
    check.Require(picker != nullptr, "Find opens the picker");
    CheckLayout(check, picker, IDD_SELDC);
    const HWND list = GetDlgItem(picker, IDC_DCLIST);
    const std::vector<std::wstring> items = ListItems(p.Process(), list);
    check.That(items == std::vector<std::wstring>{ L"DC1", L"DC2", L"DC3" }, "the controllers are listed in order");
    check.That(!IsWindowEnabled(GetDlgItem(picker, IDOK)), "OK is disabled while nothing is selected");
    check.That(!IsWindowEnabled(p.Main()), "the main window is disabled while the picker is open");
    check.Require(SelectListItem(p.Process(), list, 1), "the second controller can be selected");
    check.That(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(picker, IDOK)) != FALSE; }, 5000),
               "selecting enables OK");
    Click(GetDlgItem(picker, IDOK));
    check.That(WaitUntil([&] { return !IsWindow(picker); }, 10000), "OK closes the picker");
    check.That(WaitUntil([&] { return TextOf(p.Item(IDC_DC)) == L"DC2"; }, 5000),
               "the pick shows in the Domain Controller field: " + Utf8(TextOf(p.Item(IDC_DC))));
    check.That(IsWindowEnabled(p.Main()) != FALSE, "the main window is enabled again");

    Click(p.Item(IDC_FIND));
    picker = p.WaitForWindow(L"Select Domain Controller");
    check.Require(picker != nullptr, "Find opens the picker again");
    SelectListItem(p.Process(), GetDlgItem(picker, IDC_DCLIST), 2);
    Click(GetDlgItem(picker, IDCANCEL));
    check.That(WaitUntil([&] { return !IsWindow(picker); }, 10000), "Cancel closes the picker");
    check.Eq(TextOf(p.Item(IDC_DC)), L"DC2", "Domain Controller after Cancel");

    Click(p.Item(IDC_FIND));
    picker = p.WaitForWindow(L"Select Domain Controller");
    check.Require(picker != nullptr, "Find opens the picker a third time");
    check.Require(BringToFront(picker), "the picker comes to the front");
    SelectListItem(p.Process(), GetDlgItem(picker, IDC_DCLIST), 0);
    Press(VK_ESCAPE);
    check.That(WaitUntil([&] { return !IsWindow(picker); }, 10000), "Escape closes the picker");
    check.Eq(TextOf(p.Item(IDC_DC)), L"DC2", "Domain Controller after Escape");
}

// What a screen reader reads of the main window through Active Accessibility (oleacc, from this
// process as a reader does): each field's name, and a value field's value once Update showed it.
std::wstring AccessibleProperty(HWND control, bool value)
{
    IAccessible* acc = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&acc))))
        return L"<no accessible>";
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    const HRESULT hr = value ? acc->get_accValue(self, &text) : acc->get_accName(self, &text);
    std::wstring result = SUCCEEDED(hr) && text != nullptr ? std::wstring(text, SysStringLen(text)) : L"<none>";
    SysFreeString(text);
    acc->Release();
    return result;
}

// Whether this system's oleacc applies property-service annotations: a window of our own is
// named through IAccPropServices and read back through AccessibleObjectFromWindow. Wine's oleacc
// (8.0) keeps none; there the annotated names cannot be read, only the standard ones.
bool AnnotationsApply(std::string& why)
{
    IAccPropServices* services = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                  reinterpret_cast<void**>(&services));
    if (FAILED(hr)) {
        why = "no property service (CoCreateInstance " + std::to_string(static_cast<long>(hr)) + ")";
        return false;
    }
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    hr = services->SetHwndPropStr(edit, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME, L"probe");
    const std::wstring read = AccessibleProperty(edit, false);
    const MSAAPROPID name = PROPID_ACC_NAME;
    services->ClearHwndProps(edit, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &name, 1);
    DestroyWindow(edit);
    services->Release();
    char text[160];
    std::snprintf(text, sizeof text, "SetHwndPropStr gave 0x%08lx, the name read back is \"%s\"",
                  static_cast<unsigned long>(hr), Utf8(read).c_str());
    why = text;
    return read == L"probe";
}

void AccessibleNamesThroughOleacc(const Paths& paths, Check& check)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::string why;
    const bool annotations = AnnotationsApply(why);
    Program p(paths, "accessible", CounterScenario());
    Started(check, p);
    // Named by their own texts by every oleacc.
    const std::pair<int, const wchar_t*> ownTexts[] = {
        { IDC_FIND, L"Find" },
        { IDC_UPDATE, L"Update" },
        { IDC_AUTOUPDATE, L"Auto Update" },
        { IDCANCEL, L"Close" },
    };
    for (const auto& [id, name] : ownTexts)
        check.Eq(AccessibleProperty(p.Item(id), false), name, "accessible name of control " + std::to_string(id));
    Click(p.Item(IDC_UPDATE));
    check.That(WaitUntil([&] { return TextOf(p.Item(IDC_CPUUSAGE)) == L"11"; }, 15000), "Update shows CPU Usage");
    if (!annotations) {
        std::printf("# accessible_names_through_oleacc: this oleacc applies no annotations (%s); the fields'\n"
                    "# names and values the program gives it: accessible_names_given_to_the_property_service\n",
                    why.c_str());
        CoUninitialize();
        return;
    }
    // Named by the program through the property service.
    const std::pair<int, const wchar_t*> names[] = {
        { IDC_DOMAIN, L"Domain" },
        { IDC_DC, L"Domain Controller" },
        { IDC_USERNAME, L"User name" },
        { IDC_PASSWORD, L"Password" },
        { IDC_CPUUSAGE, L"CPU Usage (%)" },
        { IDC_MEMORYUSAGE, L"Memory Usage (%)" },
        { IDC_PAGEREADS, L"Page Reads/sec" },
        { IDC_INTERRUPTTIME, L"Interrupt time(%)" },
        { IDC_PAGESOUTPUT, L"Pages Output/sec" },
    };
    for (const auto& [id, name] : names)
        check.Eq(AccessibleProperty(p.Item(id), false), name, "accessible name of control " + std::to_string(id));
    check.Eq(AccessibleProperty(p.Item(IDC_CPUUSAGE), true), L"11", "accessible value of CPU Usage (%)");
    CoUninitialize();
}

// The property service replaced, for the program's run, by the stand-in that records what it is
// given (stubs/accprop.cpp): the registration under CLSID_AccPropServices is set to the stand-in
// and put back afterwards.
class RecordedPropertyService {
public:
    explicit RecordedPropertyService(const Paths& paths)
    {
        m_ok = RegCreateKeyExW(HKEY_CLASSES_ROOT, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &m_key,
                               nullptr) == ERROR_SUCCESS;
        if (!m_ok)
            return;
        m_saved = Read(nullptr, m_hadPath);
        m_savedModel = Read(L"ThreadingModel", m_hadModel);
        const std::wstring stand_in = paths.dir + L"\\accprop.dll";
        Write(nullptr, stand_in);
        Write(L"ThreadingModel", L"Both");
    }
    ~RecordedPropertyService()
    {
        if (!m_ok)
            return;
        Restore(nullptr, m_hadPath, m_saved);
        Restore(L"ThreadingModel", m_hadModel, m_savedModel);
        RegCloseKey(m_key);
    }
    bool Registered() const { return m_ok; }

private:
    static constexpr const wchar_t* kKey = L"CLSID\\{B5F8350B-0548-48B1-A6EE-88BD00B4A5E7}\\InprocServer32";
    std::wstring Read(const wchar_t* name, bool& had)
    {
        wchar_t buffer[MAX_PATH] = {};
        DWORD size = sizeof buffer - sizeof(wchar_t);
        had = RegQueryValueExW(m_key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
        return buffer;
    }
    void Write(const wchar_t* name, const std::wstring& value)
    {
        RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    void Restore(const wchar_t* name, bool had, const std::wstring& value)
    {
        if (had)
            Write(name, value);
        else
            RegDeleteValueW(m_key, name);
    }

    HKEY m_key = nullptr;
    bool m_ok = false;
    bool m_hadPath = false, m_hadModel = false;
    std::wstring m_saved, m_savedModel;
};

// What the program hands the system's accessibility interface: every field's name and the group
// it sits in, each value field's value as it changes, and the annotations cleared when the window
// goes. Recorded by the stand-in, because Wine's oleacc keeps no annotations to read back.
void AccessibleNamesGivenToThePropertyService(const Paths& paths, Check& check)
{
    RecordedPropertyService service(paths);
    check.Require(service.Registered(), "the stand-in property service is registered");
    Program p(paths, "accessible_annotations", CounterScenario());
    Started(check, p);
    const std::pair<int, const wchar_t*> names[] = {
        { IDC_DOMAIN, L"Domain" },
        { IDC_DC, L"Domain Controller" },
        { IDC_USERNAME, L"User name" },
        { IDC_PASSWORD, L"Password" },
        { IDC_CPUUSAGE, L"CPU Usage (%)" },
        { IDC_MEMORYUSAGE, L"Memory Usage (%)" },
        { IDC_DISKUSAGE, L"Disk Usage (%)" },
        { IDC_PAGEREADS, L"Page Reads/sec" },
        { IDC_NTFRSHANDLES, L"NTFRS Handles" },
        { IDC_INTERRUPTTIME, L"Interrupt time(%)" },
        { IDC_PAGESOUTPUT, L"Pages Output/sec" },
    };
    for (const auto& [id, name] : names) {
        const std::wstring call = L"SetHwndPropStr|" + std::to_wstring(id) + L"|name|\"" + name + L"\"";
        check.Eq(static_cast<long long>(p.Count(call)), 1, Utf8(call));
    }
    check.Eq(static_cast<long long>(p.Count(L"SetHwndPropStr|1003|description|\"Credentials\"")), 1,
             "User name described by its group");
    check.Eq(static_cast<long long>(p.Count(L"SetHwndPropStr|1004|value|\"0\"")), 1, "CPU Usage's first value");
    Click(p.Item(IDC_UPDATE));
    check.That(p.WaitForCalls(L"SetHwndPropStr|1004|value|\"11\"", 1, 15000), "CPU Usage's value follows its text");
    // The About box's links are links (ROLE_SYSTEM_LINK, 30) named by their texts; their
    // annotations go with the box.
    SystemCommand(p.Main(), ID_SYSCMD_ABOUT);
    const HWND about = p.WaitForWindow(L"About Zeltor");
    check.Require(about != nullptr, "the About box opens");
    for (int id : { IDC_LINK_WEB, IDC_LINK_SUPPORT, IDC_LINK_SALES })
        check.That(p.Count(L"SetHwndProp|" + std::to_wstring(id) + L"|role|30") == 1 &&
                       p.Count(L"SetHwndPropStr|" + std::to_wstring(id) + L"|") == 0,
                   "link " + std::to_string(id) + " has the role of a link and its text as its name");
    Click(GetDlgItem(about, IDOK));
    check.That(p.WaitForCalls(L"ClearHwndProps|1025|4", 1, 10000), "the links' annotations go with the box");
    Click(p.Item(IDCANCEL));
    check.Eq(p.WaitForExit(15000), 0, "the program ends");
    // Buttons and labels keep the names their texts give them; the fields' annotations (4 edits,
    // 13 values) and the links' (3) are cleared with their windows.
    check.Eq(static_cast<long long>(p.Count(L"SetHwndPropStr|1002|")), 0, "Find keeps its text as its name");
    check.Eq(static_cast<long long>(p.Count(L"SetHwndPropStr|65535|")), 0, "labels keep their texts as names");
    check.Eq(static_cast<long long>(p.Count(L"ClearHwndProps|")), 20, "annotations cleared");
    check.That(p.Count(L"ClearHwndProps|1004|4") == 1 && p.Count(L"ClearHwndProps|1000|4") == 1,
               "each field's annotations cleared once, by its own handle:" + Joined(p.Log()));
}

// -------------------------------------------------------------------------------------------

struct Case {
    const char* name;
    void (*run)(const Paths&, Check&);
    // Run against the system's own pdh.dll and mpr.dll (driver.exe --system-libraries).
    bool systemLibraries = false;
};

// The overview's scenario: DC1 and DC3 answer with their own processor time, DC2 refuses the
// logon (ERROR_LOGON_FAILURE as a status), DC4 cannot be reached. DC1 replicates from DC2 and
// DC3; DC3 has not from DC1 for two days; DC4's replication cannot be read.
std::wstring OverviewScenario()
{
    return CounterScenario() + L"ds.dc=DC4\n"
                               L"pdh.machine.value=DC1 12 \\Processor(_Total)\\% Processor Time\n"
                               L"pdh.machine.value=DC3 97 \\Processor(_Total)\\% Processor Time\n"
                               L"pdh.machine.connect=DC2 0x8007052E\n"
                               L"pdh.machine.connect=DC4 0x800007D0\n"
                               L"ds.repl.neighbor=DC1 DC2 DC=corp,DC=example 60 0 0\n"
                               L"ds.repl.neighbor=DC1 DC3 DC=corp,DC=example 60 0 0\n"
                               L"ds.repl.neighbor=DC3 DC1 DC=corp,DC=example 180000 40 1722\n"
                               L"ds.repl.neighbor=DC3 DC2 DC=corp,DC=example 60 0 0\n"
                               L"ds.repl.result=DC4 1722\n";
}

bool RowsHeard(const ListRows& rows)
{
    if (rows.rows.empty())
        return false;
    return std::ranges::all_of(rows.rows, [](const std::vector<std::wstring>& row) {
        return row.size() >= 2 && row[1] != L"reading";
    });
}

void OverviewRowsAndChoosingARow(const Paths& paths, Check& check)
{
    Program p(paths, "overview", OverviewScenario() + kControllersInDns);
    Started(check, p);
    const std::vector<MenuItem> menu = ReadSystemMenu(paths, p.Main(), p.Tid());
    check.Require(menu.size() >= 4, "the system menu has the overview's item too");
    check.Eq(menu.back().id, ID_SYSCMD_ABOUT, "About stays the last item");
    check.That((menu[menu.size() - 2].state & MF_SEPARATOR) != 0, "below its separator");
    check.Eq(menu[menu.size() - 3].id, ID_SYSCMD_OVERVIEW, "the overview's item above them");

    check.Require(BringToFront(p.Main()), "the main window comes to the front");
    PressWith(VK_CONTROL, 'D');
    const HWND overview = p.WaitForWindow(L"Domain Overview");
    check.Require(overview != nullptr, "Ctrl+D opens the overview");
    check.That(!IsWindowEnabled(p.Main()), "the main window waits while it is open");
    const HWND list = GetDlgItem(overview, IDC_OVERVIEW_LIST);
    ListRows rows;
    WaitUntil([&] { return RowsHeard(rows = ReadListRows(paths, list, p.Tid())); }, 20000);
    check.Require(rows.rows.size() == 4, "a row per controller");
    check.Eq(static_cast<long long>(rows.headings.size()), 10, "ten columns");
    check.Eq(rows.headings[2], std::wstring(L"Processor %"), "the processor's heading");
    // The directory's own columns: DC1 passes every health check, DC3's names the record that
    // leaves it out; the replication is read once a controller's counters answered.
    check.Eq(rows.headings[8] + L" " + rows.headings[9], std::wstring(L"Health Replication"),
             "the directory's headings");
    WaitUntil(
        [&] {
            rows = ReadListRows(paths, list, p.Tid());
            return rows.rows.size() == 4 && !rows.rows[0][8].empty() && !rows.rows[2][8].empty() &&
                   !rows.rows[2][9].empty() && !rows.rows[3][9].empty();
        },
        30000);
    check.Eq(rows.rows[0][8], std::wstring(L"ok"), "DC1's health");
    check.Eq(rows.rows[2][8],
             std::wstring(L"DNS failing (DNS: _ldap._tcp.dc._msdcs.corp.example does not list dc3.corp.example)"),
             "DC3's health");
    check.That(p.Count(L"LsaCallAuthenticationPackage|pin|realm=\"CORP.EXAMPLE\"|kdc=\"\\\\10.0.0.1\"") > 0 &&
                   p.Count(L"DnsQuery_W|\"_ldap._tcp.dc._msdcs.corp.example\"|33|72|10.0.0.3") > 0,
               "each controller's own KDC and DNS server are asked");
    check.Eq(rows.rows[0][9], std::wstring(L"ok, 2 partners"), "DC1's replication");
    check.Eq(rows.rows[2][9], std::wstring(L"DC1 failing for 2 d: The RPC server is unavailable."),
             "DC3's failing partner");
    check.That(rows.rows[3][9].rfind(L"the replication information of DC4: ", 0) == 0,
               "DC4's replication could not be read: " + Utf8(rows.rows[3][9]));
    check.Eq(rows.sorts[0], std::wstring(L"up"), "sorted by controller, the arrow on its heading");
    check.Eq(rows.rows[0][0] + L" " + rows.rows[0][1] + L" " + rows.rows[0][2], std::wstring(L"DC1 answering 12"),
             "DC1");
    check.That(rows.rows[1][1].rfind(L"credentials refused: ", 0) == 0, "DC2 refused the logon");
    check.Eq(rows.rows[2][2], std::wstring(L"97 (high)"), "DC3's processor time is marked");
    check.That(rows.rows[3][1].rfind(L"not answering: ", 0) == 0, "DC4 does not answer");
    // The same figures as the main window shows for the same counters.
    check.Eq(rows.rows[0][5], std::wstring(L"77"), "LSASS handles");
    check.Eq(rows.rows[0][6], std::wstring(L"99"), "page faults");

    // Down to DC2 and Enter: the main window updates DC2.
    const size_t connects = p.Count(L"PdhConnectMachineW|\"DC2\"");
    Press(VK_DOWN);
    Press(VK_RETURN);
    check.That(WaitUntil([&] { return !IsWindow(overview); }, 10000), "Enter closes the overview");
    check.Eq(TextOf(p.Item(IDC_DC)), std::wstring(L"DC2"), "the chosen controller in the main window");
    check.That(p.WaitForCalls(L"PdhConnectMachineW|\"DC2\"", connects + 1, 10000), "its Update connects to it");
    const HWND box = p.WaitForMessageBox(10000); // DC2's refusal, as the main window says it
    check.Require(box != nullptr, "the Update's refusal is shown");
    Click(GetDlgItem(box, IDOK));
    WaitUntil([&] { return !IsWindow(box); }, 10000);
    Click(p.Item(IDCANCEL));
    check.Eq(p.WaitForExit(15000), 0, "exit code");
}

const Case kCases[] = {
    { "overview_rows_and_choosing_a_row", OverviewRowsAndChoosingARow },
    { "main_window_layout_and_start_state", MainWindowLayoutAndStartState },
    { "workgroup_computer", WorkgroupComputer },
    { "domain_member_with_three_controllers", DomainMemberWithThreeControllers },
    { "directory_out_of_reach", DirectoryOutOfReach },
    { "keys_that_leave_the_window_open", KeysThatLeaveTheWindowOpen },
    { "close_button_ends_the_program", CloseButtonEndsTheProgram },
    { "alt_f4_ends_the_program", AltF4EndsTheProgram },
    { "system_menu_about_and_close", SystemMenuAboutAndClose },
    { "about_box_texts_links_and_reopening", AboutBoxTextsLinksAndReopening },
    { "link_that_cannot_open_says_why", LinkThatCannotOpenSaysWhy },
    { "update_shows_the_counters_after_one_tick", UpdateShowsTheCountersAfterOneTick },
    { "access_denied_gives_up_after_152_attempts", AccessDeniedGivesUpAfter152Attempts },
    { "connection_failure_shows_the_systems_text", ConnectionFailureShowsTheSystemsText },
    { "closing_cancels_the_connections_before_the_query", ClosingCancelsTheConnectionsBeforeTheQuery },
    { "find_picks_a_controller_and_cancel_changes_nothing", FindPicksAControllerAndCancelChangesNothing },
    { "hostile_controller_names_without_credentials", HostileControllerNamesWithoutCredentials },
    { "hostile_controller_names_with_a_user_name", HostileControllerNamesWithAUserName, true },
    { "accessible_names_through_oleacc", AccessibleNamesThroughOleacc },
    { "accessible_names_given_to_the_property_service", AccessibleNamesGivenToThePropertyService },
    { "probe_shows_the_windows_figures", ProbeShowsTheWindowsFigures },
    { "probe_failures_say_the_windows_texts", ProbeFailuresSayTheWindowsTexts },
    { "probe_password_file_and_connection", ProbePasswordFileAndConnection },
    { "probe_checks_a_controllers_health", ProbeChecksAControllersHealth },
    { "probe_reads_the_replication_through_ntdsapi", ProbeReadsTheReplicationThroughNtdsapi },
    { "overview_keeps_each_controllers_replication_binding", OverviewKeepsEachControllersReplicationBinding },
};

// Shows the main window, or the About box over it, and writes that window's rectangle.
int Hold(const Paths& paths, const std::wstring& ready, const std::wstring& done, bool about, bool overview = false)
{
    Program p(paths, "screenshot",
              overview ? OverviewScenario() + kControllersInDns : std::wstring(kDomainWithThreeControllers));
    if (!p.Started())
        return 1;
    BringToFront(p.Main());
    HWND shown = p.Main();
    if (overview) {
        SystemCommand(p.Main(), ID_SYSCMD_OVERVIEW);
        shown = p.WaitForWindow(L"Domain Overview");
        if (shown == nullptr)
            return 1;
        const HWND list = GetDlgItem(shown, IDC_OVERVIEW_LIST);
        WaitUntil([&] { return RowsHeard(ReadListRows(paths, list, p.Tid())); }, 20000);
    }
    if (about) {
        SystemCommand(p.Main(), ID_SYSCMD_ABOUT);
        shown = p.WaitForWindow(L"About Zeltor");
        if (shown == nullptr)
            return 1;
    }
    // Let the first paint finish: the window is drawn once its queue is idle.
    WaitForInputIdle(p.Process(), 5000);
    RECT r{};
    GetWindowRect(shown, &r);
    char line[64];
    std::snprintf(line, sizeof line, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    HANDLE file = CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    CloseHandle(file);
    WaitUntil([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 120000);
    if (about || overview) {
        Click(GetDlgItem(shown, about ? IDOK : IDCANCEL));
        WaitUntil([&] { return !IsWindow(shown); }, 10000);
    }
    Click(p.Item(IDCANCEL));
    return p.WaitForExit(15000) == 0 ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const Paths paths = FindPaths();
    if (argc == 4 && (std::wstring(argv[1]) == L"--hold" || std::wstring(argv[1]) == L"--hold-about" ||
                      std::wstring(argv[1]) == L"--hold-overview"))
        return Hold(paths, argv[2], argv[3], std::wstring(argv[1]) == L"--hold-about",
                    std::wstring(argv[1]) == L"--hold-overview");
    if (argc == 7 && std::wstring(argv[1]) == L"--installed")
        return CheckInstalledProgram(argv[2], argv[3], argv[4], argv[5], argv[6]);
    if (argc == 2 && std::wstring(argv[1]) == L"--list") {
        for (const Case& c : kCases)
            std::printf("%s\n", c.name);
        return 0;
    }

    // The cases of one kind: with the stand-ins, or (--system-libraries) with the system's own
    // pdh and mpr. Names of cases of the other kind are left for the other run.
    int first = 1;
    const bool systemLibraries = argc > 1 && std::wstring(argv[1]) == L"--system-libraries";
    if (systemLibraries)
        ++first;
    int failed = 0;
    for (const Case& c : kCases) {
        if (c.systemLibraries != systemLibraries)
            continue;
        bool selected = argc == first;
        for (int i = first; i < argc; ++i)
            selected = selected || Utf8(argv[i]) == c.name;
        if (!selected)
            continue;
        Check check;
        try {
            c.run(paths, check);
        } catch (const Check::Abort&) {
        }
        if (check.Failures().empty()) {
            std::printf("ok - %s\n", c.name);
        } else {
            ++failed;
            std::printf("not ok - %s\n", c.name);
            for (const std::string& f : check.Failures())
                std::printf("    %s\n", f.c_str());
        }
        std::fflush(stdout);
    }
    return failed == 0 ? 0 : 1;
}
