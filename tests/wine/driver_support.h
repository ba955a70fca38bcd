// What the Wine tests do to the real program: start it with a scenario for the stand-in
// libraries, find its windows, read and drive them from outside (messages, keys, the system menu
// through the probe), and read what the stand-ins recorded.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// -- Results ---------------------------------------------------------------------------------

// The failures of one test case. Require ends the case (it throws) when what follows cannot run.
class Check {
public:
    struct Abort {};

    bool That(bool condition, const std::string& what);
    bool Eq(const std::wstring& actual, const std::wstring& expected, const std::string& what);
    bool Eq(long long actual, long long expected, const std::string& what);
    void Require(bool condition, const std::string& what);

    const std::vector<std::string>& Failures() const { return m_failures; }

private:
    std::vector<std::string> m_failures;
};

std::string Utf8(const std::wstring& text);
std::wstring Widen(const std::string& utf8);
// The text as a C string literal would show it: control characters escaped.
std::string Shown(const std::wstring& text);

// Polls every 50 ms until condition holds or timeoutMs have passed; whether it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// -- Windows of another process ----------------------------------------------------------------

std::wstring TextOf(HWND hwnd); // WM_GETTEXT (GetWindowTextW does not ask another process)
std::wstring ClassOf(HWND hwnd);
void SetTextOf(HWND hwnd, const std::wstring& text);
bool IsChecked(HWND button); // BM_GETCHECK
void Click(HWND button);     // BM_CLICK, posted: the click may open a modal window
void SystemCommand(HWND window, UINT command);
// A left click with the real mouse (SendInput) in the middle of the window.
void ClickWithMouse(HWND window);
// A mouse move of no distance (SendInput): the pointer's window gets WM_MOUSEMOVE where it is.
void NudgeMouse();
std::vector<HWND> ChildrenOf(HWND dialog); // in creation (template) order
RECT RectInParent(HWND control);           // the window's rectangle in its parent's client coordinates
// The visible top-level windows of the process.
std::vector<HWND> TopWindowsOf(DWORD pid);
HWND FindTopWindow(DWORD pid, const std::wstring& title, const std::wstring& cls = L"#32770");

// -- Keyboard (SendInput, to the foreground window) -----------------------------------------

bool BringToFront(HWND window);
void Press(WORD vk);
void PressWith(WORD modifier, WORD vk);
void Type(const std::wstring& text);
HWND FocusOf(DWORD threadId); // the focused window of a thread (GetGUIThreadInfo)

// -- The program under test ----------------------------------------------------------------

struct Paths {
    std::wstring dir;     // the driver's folder
    std::wstring exe;     // app\zeltor.exe, beside the stand-ins
    std::wstring cases;   // scratch space for each case's scenario and log
    std::wstring probe;   // probe.dll
    std::wstring console; // app\zeltor-probe.exe, the console program
};
Paths FindPaths();

class Program {
public:
    // Writes the scenario, starts the program with the stand-ins selected, and waits for its main
    // window ("Zeltor").
    Program(const Paths& paths, const std::string& caseName, const std::wstring& scenario);
    ~Program(); // a program still running is ended
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_main != nullptr; }
    HWND Main() const { return m_main; }
    HWND Item(int id) const { return GetDlgItem(m_main, id); }
    DWORD Pid() const { return m_process.dwProcessId; }
    DWORD Tid() const { return m_process.dwThreadId; }
    HANDLE Process() const { return m_process.hProcess; }

    HWND WaitForWindow(const std::wstring& title, DWORD timeoutMs = 20000) const;
    // The message box of the program (a #32770 window titled "zeltor"), once it shows.
    HWND WaitForMessageBox(DWORD timeoutMs) const;
    bool Running() const;
    // Waits for the program to end; its exit code, or -1 when it is still running.
    long long WaitForExit(DWORD timeoutMs) const;

    // The stand-ins' record, one call a line.
    std::vector<std::wstring> Log() const;
    // How many recorded calls start with prefix.
    size_t Count(const std::wstring& prefix) const;
    bool WaitForCalls(const std::wstring& prefix, size_t count, DWORD timeoutMs) const;

private:
    PROCESS_INFORMATION m_process{};
    std::wstring m_log;
    HWND m_main = nullptr;
};

// A run of the console program with a scenario for the stand-ins, its arguments (a command line's
// tail, quoted as needed) and standard input: what it wrote, its exit code (-1 when it did not
// end in time; it is then ended) and the stand-ins' record.
struct ConsoleRun {
    long long exitCode = -1;
    std::string out;
    std::string err;
    std::vector<std::wstring> log;
};
ConsoleRun RunConsole(const Paths& paths, const std::string& caseName, const std::wstring& scenario,
                      const std::wstring& arguments, const std::string& input = {}, DWORD timeoutMs = 60000);

// The index of the first recorded call that starts with prefix, or -1.
long long IndexOf(const std::vector<std::wstring>& log, const std::wstring& prefix);
bool HasCall(const std::vector<std::wstring>& log, const std::wstring& line);
// The record, one call an indented line, for a failure's message.
std::string Joined(const std::vector<std::wstring>& log);

// -- Reading in the program's memory and thread --------------------------------------------

struct MenuItem {
    UINT id;
    UINT state;
    std::wstring text;
};
// A report list view's headings, sort arrows ("up", "down", "none") and rows of texts, read on
// its own thread by the probe.
struct ListRows {
    std::vector<std::wstring> headings;
    std::vector<std::wstring> sorts;
    std::vector<std::vector<std::wstring>> rows;
};
ListRows ReadListRows(const Paths& paths, HWND list, DWORD threadId);
// The system menu of a window, read on its own thread by the probe.
std::vector<MenuItem> ReadSystemMenu(const Paths& paths, HWND window, DWORD threadId);
// The sizes of a window's large, small and drag icons (0 by 0 for none), read the same way.
struct IconSizes {
    SIZE bigIcon{};
    SIZE smallIcon{};
    SIZE dragIcon{};
};
IconSizes ReadIcons(const Paths& paths, HWND window, DWORD threadId);
// A hyperlink control's tooltip texts (one a tool of its own) and whether its font is underlined.
struct LinkState {
    std::vector<std::wstring> tips;
    bool hasFont = false;
    bool underlined = false;
};
LinkState ReadLink(const Paths& paths, HWND control, DWORD threadId);
// The program's MessageBeep calls since the first such request (which starts the count): -1 when
// they cannot be watched; the type of the last.
struct Beeps {
    long count = -1;
    unsigned lastType = 0;
};
Beeps ReadBeeps(const Paths& paths, HWND window, DWORD threadId);

// List-view items and selection, through a buffer in the program's memory.
std::vector<std::wstring> ListItems(HANDLE process, HWND list);
bool SelectListItem(HANDLE process, HWND list, int index);

// -- Layout --------------------------------------------------------------------------------

// Compares a dialog window with its shared template: the client size, and for each control in
// template order its class, id, style kind, rectangle (dialog units converted with the base
// units of the template's font) and text; and checks that every text fits its control.
void CheckLayout(Check& check, HWND dialog, unsigned templateId);
