#include "driver_support.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>

#include "framework/dialog_template.h"
#include "framework/dialog_units.h"
#include "probe.h"
#include "res/program_resources.h"

// -- Results ---------------------------------------------------------------------------------

bool Check::That(bool condition, const std::string& what)
{
    if (!condition)
        m_failures.push_back(what);
    return condition;
}

bool Check::Eq(const std::wstring& actual, const std::wstring& expected, const std::string& what)
{
    return That(actual == expected, what + ": got \"" + Shown(actual) + "\", expected \"" + Shown(expected) + "\"");
}

bool Check::Eq(long long actual, long long expected, const std::string& what)
{
    return That(actual == expected,
                what + ": got " + std::to_string(actual) + ", expected " + std::to_string(expected));
}

void Check::Require(bool condition, const std::string& what)
{
    if (!That(condition, what))
        throw Abort{};
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Shown(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\n')
            out += L"\\n";
        else if (c == L'\r')
            out += L"\\r";
        else if (c == L'\t')
            out += L"\\t";
        else
            out += c;
    }
    return Utf8(out);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(50);
    }
}

// -- Windows of another process ----------------------------------------------------------------

namespace {

constexpr UINT kSendTimeoutMs = 10000;

LRESULT SendTo(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
        return 0;
    return static_cast<LRESULT>(result);
}

} // namespace

std::wstring TextOf(HWND hwnd)
{
    if (hwnd == nullptr)
        return L"(no window)";
    const auto length = static_cast<size_t>(SendTo(hwnd, WM_GETTEXTLENGTH, 0, 0));
    std::vector<wchar_t> buffer(length + 2);
    const auto copied = static_cast<size_t>(
        SendTo(hwnd, WM_GETTEXT, static_cast<WPARAM>(buffer.size()), reinterpret_cast<LPARAM>(buffer.data())));
    return std::wstring(buffer.data(), std::min(copied, length + 1));
}

std::wstring ClassOf(HWND hwnd)
{
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

void SetTextOf(HWND hwnd, const std::wstring& text)
{
    SendTo(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

bool IsChecked(HWND button)
{
    return SendTo(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Click(HWND button)
{
    PostMessageW(button, BM_CLICK, 0, 0);
}

void SystemCommand(HWND window, UINT command)
{
    PostMessageW(window, WM_SYSCOMMAND, command, 0);
}

void ClickWithMouse(HWND window)
{
    RECT r{};
    GetWindowRect(window, &r);
    SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

void NudgeMouse()
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof(INPUT));
}

std::vector<HWND> ChildrenOf(HWND dialog)
{
    std::vector<HWND> out;
    for (HWND h = GetWindow(dialog, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT))
        out.push_back(h);
    return out;
}

RECT RectInParent(HWND control)
{
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::vector<HWND> TopWindowsOf(DWORD pid)
{
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{ pid, {} };
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            if (owner == s->pid && IsWindowVisible(h))
                s->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindTopWindow(DWORD pid, const std::wstring& title, const std::wstring& cls)
{
    for (HWND h : TopWindowsOf(pid)) {
        if (ClassOf(h) == cls && TextOf(h) == title)
            return h;
    }
    return nullptr;
}

// -- Keyboard --------------------------------------------------------------------------------

namespace {

void Key(WORD vk, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

} // namespace

bool BringToFront(HWND window)
{
    SetForegroundWindow(window);
    return WaitUntil([&] { return GetForegroundWindow() == window; }, 5000);
}

void Press(WORD vk)
{
    Key(vk, false);
    Key(vk, true);
}

void PressWith(WORD modifier, WORD vk)
{
    Key(modifier, false);
    Key(vk, false);
    Key(vk, true);
    Key(modifier, true);
}

void Type(const std::wstring& text)
{
    for (wchar_t c : text) {
        INPUT input[2] = {};
        for (INPUT& i : input) {
            i.type = INPUT_KEYBOARD;
            i.ki.wScan = c;
            i.ki.dwFlags = KEYEVENTF_UNICODE;
        }
        input[1].ki.dwFlags |= KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
    }
}

HWND FocusOf(DWORD threadId)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(threadId, &info))
        return nullptr;
    return info.hwndFocus;
}

// -- The program under test ----------------------------------------------------------------

Paths FindPaths()
{
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring dir = module;
    dir.resize(dir.find_last_of(L'\\'));
    return { dir, dir + L"\\app\\zeltor.exe", dir + L"\\cases", dir + L"\\probe.dll",
             dir + L"\\app\\zeltor-probe.exe" };
}

namespace {

void WriteFileText(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFileText(const std::wstring& path)
{
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char chunk[8192];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

// The driver's environment with the scenario named. (The stand-ins are selected by the
// WINEDLLOVERRIDES the driver itself runs with: Wine gives a child the WINE* variables of its
// parent's start, whatever the environment block says.)
std::vector<std::wstring> LogLines(const std::wstring& path)
{
    const std::wstring text = Widen(ReadFileText(path));
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<wchar_t> ProgramEnvironment(const std::wstring& scenario, const std::wstring& log)
{
    std::vector<wchar_t> block;
    auto add = [&](const std::wstring& entry) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    };
    wchar_t* env = GetEnvironmentStringsW();
    for (const wchar_t* p = env; *p != L'\0'; p += wcslen(p) + 1) {
        const std::wstring entry = p;
        std::wstring upper = entry.substr(0, entry.find(L'='));
        std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
        if (upper.rfind(L"ZELTOR_STUB_", 0) == 0)
            continue;
        add(entry);
    }
    FreeEnvironmentStringsW(env);
    add(L"ZELTOR_STUB_SCENARIO=" + scenario);
    add(L"ZELTOR_STUB_LOG=" + log);
    block.push_back(L'\0');
    return block;
}

} // namespace

Program::Program(const Paths& paths, const std::string& caseName, const std::wstring& scenario)
{
    const std::wstring dir = paths.cases + L"\\" + Widen(caseName);
    CreateDirectoryW(paths.cases.c_str(), nullptr);
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring scenarioPath = dir + L"\\scenario.txt";
    m_log = dir + L"\\calls.log";
    WriteFileText(scenarioPath, Utf8(scenario));
    WriteFileText(m_log, "");

    std::wstring command = L"\"" + paths.exe + L"\"";
    std::wstring appDir = paths.exe.substr(0, paths.exe.find_last_of(L'\\'));
    std::vector<wchar_t> env = ProgramEnvironment(scenarioPath, m_log);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(paths.exe.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        env.data(), appDir.c_str(), &startup, &m_process)) {
        m_process = {};
        return;
    }
    m_main = WaitForWindow(L"Zeltor");
}

Program::~Program()
{
    if (m_process.hProcess == nullptr)
        return;
    if (Running()) {
        TerminateProcess(m_process.hProcess, 1);
        WaitForSingleObject(m_process.hProcess, 10000);
    }
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

HWND Program::WaitForWindow(const std::wstring& title, DWORD timeoutMs) const
{
    HWND found = nullptr;
    if (m_process.hProcess == nullptr)
        return nullptr;
    WaitUntil([&] { return (found = FindTopWindow(Pid(), title)) != nullptr || !Running(); }, timeoutMs);
    return found;
}

HWND Program::WaitForMessageBox(DWORD timeoutMs) const
{
    return WaitForWindow(L"zeltor", timeoutMs);
}

bool Program::Running() const
{
    return m_process.hProcess != nullptr && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

long long Program::WaitForExit(DWORD timeoutMs) const
{
    if (m_process.hProcess == nullptr || WaitForSingleObject(m_process.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

std::vector<std::wstring> Program::Log() const
{
    return LogLines(m_log);
}

size_t Program::Count(const std::wstring& prefix) const
{
    const std::vector<std::wstring> lines = Log();
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::wstring& l) { return l.rfind(prefix, 0) == 0; }));
}

bool Program::WaitForCalls(const std::wstring& prefix, size_t count, DWORD timeoutMs) const
{
    return WaitUntil([&] { return Count(prefix) >= count; }, timeoutMs);
}

namespace {

HANDLE InheritedFile(const std::wstring& path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES inherit{ sizeof inherit, nullptr, TRUE };
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition, 0, nullptr);
}

} // namespace

ConsoleRun RunConsole(const Paths& paths, const std::string& caseName, const std::wstring& scenario,
                      const std::wstring& arguments, const std::string& input, DWORD timeoutMs)
{
    const std::wstring dir = paths.cases + L"\\" + Widen(caseName);
    CreateDirectoryW(paths.cases.c_str(), nullptr);
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring scenarioPath = dir + L"\\scenario.txt";
    const std::wstring log = dir + L"\\calls.log";
    WriteFileText(scenarioPath, Utf8(scenario));
    WriteFileText(log, "");
    WriteFileText(dir + L"\\in.txt", input);

    // Standard handles from and to files: nothing to drain while the program runs.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = InheritedFile(dir + L"\\in.txt", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = InheritedFile(dir + L"\\out.txt", GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = InheritedFile(dir + L"\\err.txt", GENERIC_WRITE, CREATE_ALWAYS);
    std::wstring command = L"\"" + paths.console + L"\" " + arguments;
    std::vector<wchar_t> env = ProgramEnvironment(scenarioPath, log);
    PROCESS_INFORMATION process{};
    ConsoleRun run;
    if (CreateProcessW(paths.console.c_str(), command.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, env.data(), dir.c_str(), &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            run.exitCode = code;
        } else {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 10000);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (HANDLE h : { startup.hStdInput, startup.hStdOutput, startup.hStdError }) {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    run.out = ReadFileText(dir + L"\\out.txt");
    run.err = ReadFileText(dir + L"\\err.txt");
    run.log = LogLines(log);
    return run;
}

long long IndexOf(const std::vector<std::wstring>& log, const std::wstring& prefix)
{
    for (size_t i = 0; i < log.size(); ++i) {
        if (log[i].rfind(prefix, 0) == 0)
            return static_cast<long long>(i);
    }
    return -1;
}

bool HasCall(const std::vector<std::wstring>& log, const std::wstring& line)
{
    return std::find(log.begin(), log.end(), line) != log.end();
}

std::string Joined(const std::vector<std::wstring>& log)
{
    std::string out;
    for (const std::wstring& l : log)
        out += "\n        " + Utf8(l);
    return out;
}

// -- Reading in the program's memory and thread --------------------------------------------

namespace {

// Asks the probe, hooked into the window's thread, for one of its answers (probe.h): its lines.
std::vector<std::wstring> AskProbe(const Paths& paths, HWND window, DWORD threadId, unsigned request)
{
    std::vector<std::wstring> lines;
    HANDLE mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kProbeMemoryBytes, kProbeMemory);
    if (mapping == nullptr)
        return lines;
    auto* view = static_cast<wchar_t*>(MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
    HMODULE probe = LoadLibraryW(paths.probe.c_str());
    auto hook = probe != nullptr
                    ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(probe, kProbeHookName)))
                    : nullptr;
    HHOOK installed = hook != nullptr ? SetWindowsHookExW(WH_CALLWNDPROC, hook, probe, threadId) : nullptr;
    if (view != nullptr && installed != nullptr) {
        view[0] = L'\0';
        SendTo(window, RegisterWindowMessageW(kProbeMessage), request, 0);
        const std::wstring text = view;
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find(L'\n', start);
            lines.push_back(text.substr(start, end - start));
            if (end == std::wstring::npos)
                break;
            start = end + 1;
        }
    }
    if (installed != nullptr)
        UnhookWindowsHookEx(installed);
    if (probe != nullptr)
        FreeLibrary(probe);
    if (view != nullptr)
        UnmapViewOfFile(view);
    CloseHandle(mapping);
    return lines;
}

// "a|b|c" to its fields.
std::vector<std::wstring> Fields(const std::wstring& line)
{
    std::vector<std::wstring> out;
    size_t start = 0;
    for (;;) {
        const size_t bar = line.find(L'|', start);
        out.push_back(line.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start));
        if (bar == std::wstring::npos)
            return out;
        start = bar + 1;
    }
}

} // namespace

std::vector<MenuItem> ReadSystemMenu(const Paths& paths, HWND window, DWORD threadId)
{
    std::vector<MenuItem> items;
    for (const std::wstring& line : AskProbe(paths, window, threadId, kProbeSystemMenu)) {
        std::vector<std::wstring> f = Fields(line);
        if (f.size() >= 3) {
            // The text may hold a '|' of its own.
            std::wstring text = f[2];
            for (size_t i = 3; i < f.size(); ++i)
                text += L"|" + f[i];
            items.push_back({ static_cast<UINT>(std::stoul(f[0])), static_cast<UINT>(std::stoul(f[1])), text });
        }
    }
    return items;
}

ListRows ReadListRows(const Paths& paths, HWND list, DWORD threadId)
{
    ListRows rows;
    for (const std::wstring& line : AskProbe(paths, list, threadId, kProbeListRows)) {
        std::vector<std::wstring> f = Fields(line);
        if (f.empty())
            continue;
        const std::wstring kind = f.front();
        f.erase(f.begin());
        if (kind == L"head")
            rows.headings = f;
        else if (kind == L"sort" && f.size() == 2)
            rows.sorts.push_back(f[1]);
        else if (kind == L"row")
            rows.rows.push_back(f);
    }
    return rows;
}

LinkState ReadLink(const Paths& paths, HWND control, DWORD threadId)
{
    LinkState state;
    for (const std::wstring& line : AskProbe(paths, control, threadId, kProbeLink)) {
        if (line.rfind(L"tip|", 0) == 0) {
            state.tips.push_back(line.substr(4));
        } else if (line.rfind(L"font|", 0) == 0) {
            const std::vector<std::wstring> f = Fields(line);
            state.hasFont = true;
            state.underlined = f.size() >= 2 && f[1] != L"0";
        }
    }
    return state;
}

Beeps ReadBeeps(const Paths& paths, HWND window, DWORD threadId)
{
    Beeps beeps;
    for (const std::wstring& line : AskProbe(paths, window, threadId, kProbeBeeps)) {
        const std::vector<std::wstring> f = Fields(line);
        if (f.size() == 3 && f[0] == L"beeps") {
            beeps.count = std::stol(f[1]);
            beeps.lastType = static_cast<unsigned>(std::stoul(f[2]));
        }
    }
    return beeps;
}

IconSizes ReadIcons(const Paths& paths, HWND window, DWORD threadId)
{
    IconSizes sizes;
    for (const std::wstring& line : AskProbe(paths, window, threadId, kProbeIcons)) {
        const std::vector<std::wstring> f = Fields(line);
        if (f.size() != 3)
            continue;
        const SIZE size{ std::stol(f[1]), std::stol(f[2]) };
        if (f[0] == L"big")
            sizes.bigIcon = size;
        else if (f[0] == L"small")
            sizes.smallIcon = size;
        else if (f[0] == L"drag")
            sizes.dragIcon = size;
    }
    return sizes;
}

namespace {

// A page in the program's memory: an LVITEMW, then room for its text.
class RemoteItem {
public:
    explicit RemoteItem(HANDLE process) : m_process(process)
    {
        m_base = static_cast<char*>(VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    ~RemoteItem()
    {
        if (m_base != nullptr)
            VirtualFreeEx(m_process, m_base, 0, MEM_RELEASE);
    }
    bool Ok() const { return m_base != nullptr; }
    LPARAM Item() const { return reinterpret_cast<LPARAM>(m_base); }
    wchar_t* Text() const { return reinterpret_cast<wchar_t*>(m_base + 1024); }
    static constexpr int kTextChars = 1024;
    bool Write(const LVITEMW& item) const
    {
        return WriteProcessMemory(m_process, m_base, &item, sizeof item, nullptr) != FALSE;
    }
    std::wstring ReadText() const
    {
        std::vector<wchar_t> buffer(kTextChars + 1, L'\0');
        ReadProcessMemory(m_process, Text(), buffer.data(), kTextChars * sizeof(wchar_t), nullptr);
        return buffer.data();
    }

private:
    HANDLE m_process;
    char* m_base = nullptr;
};

} // namespace

std::vector<std::wstring> ListItems(HANDLE process, HWND list)
{
    std::vector<std::wstring> items;
    RemoteItem remote(process);
    if (!remote.Ok())
        return items;
    const auto count = static_cast<int>(SendTo(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        LVITEMW item{};
        item.iSubItem = 0;
        item.pszText = remote.Text();
        item.cchTextMax = RemoteItem::kTextChars;
        remote.Write(item);
        SendTo(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), remote.Item());
        items.push_back(remote.ReadText());
    }
    return items;
}

bool SelectListItem(HANDLE process, HWND list, int index)
{
    RemoteItem remote(process);
    if (!remote.Ok())
        return false;
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    return remote.Write(item) && SendTo(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), remote.Item()) != 0;
}

// -- Layout --------------------------------------------------------------------------------

namespace {

const wchar_t* ExpectedClass(ControlClass cls)
{
    switch (cls) {
    case ControlClass::Button:
        return L"Button";
    case ControlClass::Edit:
        return L"Edit";
    case ControlClass::Static:
        return L"Static";
    case ControlClass::ListView:
        return L"SysListView32";
    }
    return L"";
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return towlower(x) == towlower(y); });
}

// The size of a BMP file's picture (BITMAPINFOHEADER after the 14-byte file header).
SIZE BitmapSize(std::span<const unsigned char> bmp)
{
    if (bmp.size() < 26)
        return {};
    auto i32 = [&](size_t at) {
        return static_cast<LONG>(bmp[at] | (bmp[at + 1] << 8) | (bmp[at + 2] << 16) | (bmp[at + 3] << 24));
    };
    return { i32(18), std::abs(i32(22)) };
}

std::string Describe(const ControlTemplate& c, size_t index)
{
    return "control " + std::to_string(index) + " (id " + std::to_string(c.id) + ", \"" +
           Shown(reinterpret_cast<const wchar_t*>(c.text)) + "\")";
}

// The dialog manager's font for the template, measured as it measures it.
struct DialogFont {
    HDC dc = nullptr;
    HFONT font = nullptr;
    HGDIOBJ previous = nullptr;
    DialogBaseUnits units{};
    int lineHeight = 0;

    explicit DialogFont(const DialogTemplate& t)
    {
        dc = GetDC(nullptr);
        const int pixels = MulDiv(t.pointSize, GetDeviceCaps(dc, LOGPIXELSY), 72);
        font = CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_DONTCARE,
                           reinterpret_cast<const wchar_t*>(t.fontFace));
        previous = SelectObject(dc, font);
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        SIZE letters{};
        GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
        units = AfxBaseUnitsFromFont(letters.cx, tm.tmHeight);
        lineHeight = tm.tmHeight;
    }
    ~DialogFont()
    {
        SelectObject(dc, previous);
        DeleteObject(font);
        ReleaseDC(nullptr, dc);
    }
    // The width of one line as a static control shows it: '&' marks a mnemonic, "&&" is one '&'.
    int Width(const std::wstring& line) const
    {
        std::wstring shown;
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == L'&' && i + 1 < line.size())
                ++i;
            shown += line[i];
        }
        SIZE s{};
        GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &s);
        return s.cx;
    }
};

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> out;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(L'\n', start);
        out.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos)
            return out;
        start = end + 1;
    }
}

// Whether the control's template text shows whole: every line within the width the control
// leaves for text, and all lines within its height.
void CheckTextFits(Check& check, const DialogFont& font, const ControlTemplate& c, const RECT& r,
                   const std::string& what)
{
    using namespace tpl_style;
    const std::wstring text = reinterpret_cast<const wchar_t*>(c.text);
    if (text.empty())
        return;
    int room = r.right - r.left;
    bool multiLine = false;
    if (c.cls == ControlClass::Static) {
        const std::uint32_t type = c.style & SsTypeMask;
        if (type != SsLeft && type != SsCenter && type != SsRight)
            return;
        multiLine = true; // word-wrapping text
    } else if (c.cls == ControlClass::Button) {
        const std::uint32_t type = c.style & BsTypeMask;
        if (type == BsAutoCheckBox)
            room -= GetSystemMetrics(SM_CXMENUCHECK) + 4; // the box, and the gap before the text
        else if (type == BsGroupBox)
            room -= 2 * font.units.cx; // the caption sits in the frame, inset from its ends
        else
            room -= 2 * GetSystemMetrics(SM_CXEDGE) + 2; // the button's border and focus rectangle
    } else {
        return;
    }
    const std::vector<std::wstring> lines = Lines(text);
    for (const std::wstring& line : lines) {
        const int width = font.Width(line);
        check.That(width <= room, what + ": text \"" + Shown(line) + "\" is " + std::to_string(width) +
                                      " px wide, the control has " + std::to_string(room));
    }
    if (multiLine) {
        const int height = static_cast<int>(lines.size()) * font.lineHeight;
        check.That(height <= r.bottom - r.top, what + ": " + std::to_string(lines.size()) + " lines need " +
                                                   std::to_string(height) + " px, the control has " +
                                                   std::to_string(r.bottom - r.top));
    }
}

} // namespace

void CheckLayout(Check& check, HWND dialog, unsigned templateId)
{
    using namespace tpl_style;
    const DialogTemplate* t = ProgramResources().FindDialogTemplate(templateId);
    check.Require(t != nullptr, "template " + std::to_string(templateId) + " exists");
    const std::string where = "template " + std::to_string(templateId) + ": ";
    const DialogFont font(*t);

    RECT client{};
    GetClientRect(dialog, &client);
    check.Eq(client.right, AfxMulDiv(t->cx, font.units.cx, 4), where + "client width");
    check.Eq(client.bottom, AfxMulDiv(t->cy, font.units.cy, 8), where + "client height");
    check.Eq(TextOf(dialog), reinterpret_cast<const wchar_t*>(t->caption), where + "title");

    const std::vector<HWND> children = ChildrenOf(dialog);
    check.Eq(static_cast<long long>(children.size()), static_cast<long long>(t->controls.size()), where + "controls");
    for (size_t i = 0; i < children.size() && i < t->controls.size(); ++i) {
        const ControlTemplate& c = t->controls[i];
        const HWND h = children[i];
        const std::string what = where + Describe(c, i);
        check.Eq(GetDlgCtrlID(h), c.id, what + " id");
        check.That(SameText(ClassOf(h), ExpectedClass(c.cls)), what + " class " + Utf8(ClassOf(h)));

        const auto style = static_cast<std::uint32_t>(GetWindowLongW(h, GWL_STYLE));
        const auto exStyle = static_cast<std::uint32_t>(GetWindowLongW(h, GWL_EXSTYLE));
        check.That((exStyle & c.exStyle) == c.exStyle, what + " extended style");
        check.Eq(style & TabStop, c.style & TabStop, what + " tab stop");
        if (c.cls == ControlClass::Edit)
            check.Eq(style & (EsReadOnly | EsPassword), c.style & (EsReadOnly | EsPassword), what + " edit style");
        if (c.cls == ControlClass::Static)
            check.Eq(style & SsTypeMask, c.style & SsTypeMask, what + " static kind");
        if (c.cls == ControlClass::Button) {
            // A push button takes the default look while it has the focus.
            const std::uint32_t expected = c.style & BsTypeMask;
            const std::uint32_t actual = style & BsTypeMask;
            check.That(expected <= BsDefPushButton ? actual <= BsDefPushButton : actual == expected,
                       what + " button kind");
        }

        const RECT r = RectInParent(h);
        const AfxRect expected = AfxDialogUnitsToPixels(c.x, c.y, c.cx, c.cy, font.units);
        check.Eq(r.left, expected.left, what + " left");
        check.Eq(r.top, expected.top, what + " top");
        if (c.cls == ControlClass::Static && (c.style & SsTypeMask) == SsBitmap) {
            // A picture takes the size of its bitmap.
            const SIZE bitmap = BitmapSize(ProgramResources().FindImage(c.imageId));
            check.That(bitmap.cx > 0, what + " has a bitmap resource");
            check.Eq(r.right - r.left, bitmap.cx, what + " picture width");
            check.Eq(r.bottom - r.top, bitmap.cy, what + " picture height");
            check.That(SendTo(h, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0, what + " shows its bitmap");
            continue;
        }
        const std::uint32_t kind = c.style & SsTypeMask;
        if (c.cls == ControlClass::Static && (kind == SS_ETCHEDHORZ || kind == SS_ETCHEDVERT))
            continue; // an etched line keeps its place; the static sizes the line itself (SS_ETCHEDHORZ/VERT)
        if (c.cls == ControlClass::Static && (c.style & SsNotify) == 0 && (style & SsNotify) != 0) {
            // A link (the program made the static report clicks) takes the size of its text, from
            // the template's top-left corner, and must still fit in the template's place for it.
            const std::wstring text = TextOf(h);
            check.Eq(r.right - r.left, font.Width(text), what + " link width");
            check.Eq(r.bottom - r.top, font.lineHeight, what + " link height");
            check.That(r.right <= expected.right, what + " link ends inside its place in the template");
            check.Eq(text, reinterpret_cast<const wchar_t*>(c.text), what + " text");
            continue;
        }
        check.Eq(r.right, expected.right, what + " right");
        check.Eq(r.bottom, expected.bottom, what + " bottom");

        const std::wstring templateText = reinterpret_cast<const wchar_t*>(c.text);
        // Edit fields and the value fields ("-" in the template) show what the program puts there.
        if (c.cls != ControlClass::Edit && c.cls != ControlClass::ListView && templateText != L"-")
            check.Eq(TextOf(h), templateText, what + " text");
        CheckTextFits(check, font, c, r, what);
    }
}
