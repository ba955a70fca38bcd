// The probe the driver hooks into the program's thread (see probe.h).
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <string>

#include "probe.h"

namespace {

std::wstring SystemMenu(HWND window)
{
    std::wstring out;
    HMENU menu = GetSystemMenu(window, FALSE);
    const int count = menu != nullptr ? GetMenuItemCount(menu) : 0;
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
        out += std::to_wstring(GetMenuItemID(menu, i)) + L"|" +
               std::to_wstring(GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION)) + L"|" + text + L"\n";
    }
    return out;
}

std::wstring IconLine(const wchar_t* name, HICON icon)
{
    LONG width = 0;
    LONG height = 0;
    ICONINFO info{};
    if (icon != nullptr && GetIconInfo(icon, &info)) {
        BITMAP bitmap{};
        if (GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap) != 0) {
            width = bitmap.bmWidth;
            height = info.hbmColor != nullptr ? bitmap.bmHeight : bitmap.bmHeight / 2;
        }
        if (info.hbmColor != nullptr)
            DeleteObject(info.hbmColor);
        if (info.hbmMask != nullptr)
            DeleteObject(info.hbmMask);
    }
    return std::wstring(name) + L"|" + std::to_wstring(width) + L"|" + std::to_wstring(height) + L"\n";
}

std::wstring Icons(HWND window)
{
    return IconLine(L"big", reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_BIG, 0))) +
           IconLine(L"small", reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0))) +
           IconLine(L"drag", reinterpret_cast<HICON>(SendMessageW(window, WM_QUERYDRAGICON, 0, 0)));
}

struct TipSearch {
    HWND owner;
    std::wstring out;
};

BOOL CALLBACK TipOfOwner(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<TipSearch*>(lParam);
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (lstrcmpiW(cls, TOOLTIPS_CLASSW) != 0)
        return TRUE;
    const auto count = static_cast<UINT>(SendMessageW(window, TTM_GETTOOLCOUNT, 0, 0));
    for (UINT i = 0; i < count; ++i) {
        TOOLINFOW ti{};
        ti.cbSize = sizeof ti;
        if (!SendMessageW(window, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(&ti)) || ti.hwnd != search->owner)
            continue;
        wchar_t text[1024] = {};
        TOOLINFOW get = ti;
        get.lpszText = text;
        SendMessageW(window, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&get));
        search->out += std::wstring(L"tip|") + text + L"\n";
    }
    return TRUE;
}

std::wstring Link(HWND control)
{
    TipSearch search{ control, {} };
    EnumThreadWindows(GetCurrentThreadId(), &TipOfOwner, reinterpret_cast<LPARAM>(&search));
    LOGFONTW lf{};
    auto* font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    if (font != nullptr && GetObjectW(font, sizeof lf, &lf) == sizeof lf)
        search.out += L"font|" + std::to_wstring(lf.lfUnderline) + L"|" + lf.lfFaceName + L"\n";
    return search.out;
}

using MessageBeepFn = BOOL(WINAPI*)(UINT);
MessageBeepFn g_systemBeep = nullptr;
LONG g_beeps = 0;
UINT g_lastBeep = 0;

BOOL WINAPI CountedBeep(UINT type)
{
    InterlockedIncrement(&g_beeps);
    g_lastBeep = type;
    return g_systemBeep != nullptr ? g_systemBeep(type) : TRUE;
}

// Points the executable's import of user32's MessageBeep at CountedBeep.
void WatchBeeps()
{
    if (g_systemBeep != nullptr)
        return;
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0)
        return;
    const auto system = reinterpret_cast<MessageBeepFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "MessageBeep")));
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name != 0; ++imp) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), "user32.dll") != 0)
            continue;
        for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk); thunk->u1.Function != 0;
             ++thunk) {
            if (reinterpret_cast<MessageBeepFn>(thunk->u1.Function) != system)
                continue;
            DWORD old = 0;
            VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, PAGE_READWRITE, &old);
            g_systemBeep = system;
            thunk->u1.Function = reinterpret_cast<ULONG_PTR>(&CountedBeep);
            VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, old, &old);
        }
    }
}

void Answer(const std::wstring& text)
{
    HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, kProbeMemory);
    if (mapping == nullptr)
        return;
    if (auto* view = static_cast<wchar_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0))) {
        const size_t room = kProbeMemoryBytes / sizeof(wchar_t) - 1;
        const size_t n = text.size() < room ? text.size() : room;
        std::wmemcpy(view, text.data(), n);
        view[n] = L'\0';
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
}

std::wstring ListRows(HWND list)
{
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    const int columns = header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    std::wstring heads = L"head", sorts;
    for (int i = 0; i < columns; ++i) {
        wchar_t text[256] = {};
        HDITEMW item{};
        item.mask = HDI_TEXT | HDI_FORMAT;
        item.pszText = text;
        item.cchTextMax = 256;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        heads += L"|" + std::wstring(text);
        sorts += L"sort|" + std::to_wstring(i) + L"|" +
                 ((item.fmt & HDF_SORTUP) != 0     ? L"up"
                  : (item.fmt & HDF_SORTDOWN) != 0 ? L"down"
                                                   : L"none") +
                 L"\n";
    }
    std::wstring out = heads + L"\n" + sorts;
    const int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < rows; ++r) {
        out += L"row";
        for (int c = 0; c < columns; ++c) {
            wchar_t text[512] = {};
            LVITEMW item{};
            item.iSubItem = c;
            item.pszText = text;
            item.cchTextMax = 512;
            SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(&item));
            out += L"|" + std::wstring(text);
        }
        out += L"\n";
    }
    return out;
}

} // namespace

extern "C" LRESULT CALLBACK ProbeCallWndProc(int code, WPARAM wParam, LPARAM lParam)
{
    static const UINT message = RegisterWindowMessageW(kProbeMessage);
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call != nullptr && call->message == message) {
        if (call->wParam == kProbeSystemMenu)
            Answer(SystemMenu(call->hwnd));
        else if (call->wParam == kProbeIcons)
            Answer(Icons(call->hwnd));
        else if (call->wParam == kProbeLink)
            Answer(Link(call->hwnd));
        else if (call->wParam == kProbeListRows)
            Answer(ListRows(call->hwnd));
        else if (call->wParam == kProbeBeeps) {
            WatchBeeps();
            Answer(std::wstring(g_systemBeep != nullptr ? L"beeps|" : L"unwatched|") + std::to_wstring(g_beeps) + L"|" +
                   std::to_wstring(g_lastBeep) + L"\n");
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
