// Windows and controls as the system has them: their texts, enabling, focus, check boxes, styles,
// placement, the link mark for assistive technology, and tooltips.
#include "platform/win32/win32_backend.h"

#include <algorithm>
#include <vector>

// -- Windows ----------------------------------------------------------------------------------

HWND Win32WindowBackend::GetDlgItem(HWND dialog, int id)
{
    return ::GetDlgItem(dialog, id);
}

int Win32WindowBackend::GetDlgCtrlID(HWND hwnd)
{
    return ::GetDlgCtrlID(hwnd);
}

HWND Win32WindowBackend::GetParent(HWND hwnd)
{
    return ::GetParent(hwnd);
}

CString Win32WindowBackend::GetWindowText(HWND hwnd)
{
    const int length = GetWindowTextLengthW(hwnd);
    if (length <= 0)
        return CString();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextW(hwnd, buffer.data(), length + 1);
    return FromWStr(buffer.data(), static_cast<size_t>(std::max(copied, 0)));
}

void Win32WindowBackend::SetWindowText(HWND hwnd, const CString& text)
{
    SetWindowTextW(hwnd, WStr(text));
    m_accessibility.TextChanged(hwnd, text);
}

void Win32WindowBackend::EnableWindow(HWND hwnd, BOOL enable)
{
    ::EnableWindow(hwnd, enable);
}

BOOL Win32WindowBackend::IsWindowEnabled(HWND hwnd)
{
    return ::IsWindowEnabled(hwnd);
}

void Win32WindowBackend::SetFocus(HWND hwnd)
{
    ::SetFocus(hwnd);
}

HWND Win32WindowBackend::GetFocus()
{
    return ::GetFocus();
}

BOOL Win32WindowBackend::IsIconic(HWND hwnd)
{
    return ::IsIconic(hwnd);
}

AfxRect Win32WindowBackend::GetClientRect(HWND hwnd)
{
    RECT r{};
    ::GetClientRect(hwnd, &r);
    return { r.left, r.top, r.right, r.bottom };
}

int Win32WindowBackend::GetCheck(HWND button)
{
    return static_cast<int>(SendMessageW(button, BM_GETCHECK, 0, 0));
}

void Win32WindowBackend::SetCheck(HWND button, int state)
{
    SendMessageW(button, BM_SETCHECK, static_cast<WPARAM>(state), 0);
}

// -- Hyperlinks and the About box ---------------------------------------------------------------

std::uint32_t Win32WindowBackend::GetWindowStyle(HWND hwnd)
{
    return static_cast<std::uint32_t>(GetWindowLongW(hwnd, GWL_STYLE));
}

void Win32WindowBackend::SetWindowStyle(HWND hwnd, std::uint32_t style)
{
    SetWindowLongW(hwnd, GWL_STYLE, static_cast<LONG>(style));
}

AfxRect Win32WindowBackend::GetWindowRect(HWND hwnd)
{
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    return { r.left, r.top, r.right, r.bottom };
}

AfxPoint Win32WindowBackend::ClientToScreen(HWND hwnd, AfxPoint pt)
{
    POINT p{ pt.x, pt.y };
    ::ClientToScreen(hwnd, &p);
    return { p.x, p.y };
}

AfxPoint Win32WindowBackend::ScreenToClient(HWND hwnd, AfxPoint pt)
{
    POINT p{ pt.x, pt.y };
    ::ScreenToClient(hwnd, &p);
    return { p.x, p.y };
}

BOOL Win32WindowBackend::SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    return ::SetWindowPos(hwnd, insertAfter, x, y, cx, cy, flags);
}

void Win32WindowBackend::InvalidateRect(HWND hwnd, const AfxRect* rect, BOOL erase)
{
    if (rect == nullptr) {
        ::InvalidateRect(hwnd, nullptr, erase);
        return;
    }
    const RECT r{ rect->left, rect->top, rect->right, rect->bottom };
    ::InvalidateRect(hwnd, &r, erase);
}

std::uint32_t Win32WindowBackend::GetMessagePos()
{
    return static_cast<std::uint32_t>(::GetMessagePos());
}

void Win32WindowBackend::SetAccessibleLink(HWND control)
{
    m_accessibility.MarkLink(control);
}

HWND Win32WindowBackend::CreateToolTip(HWND parent, std::uint32_t style)
{
    return CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, parent, nullptr, m_instance, nullptr);
}

namespace {

// A tool of a tooltip: the owner's rectangle, without TTF_SUBCLASS (the owner relays its mouse
// messages itself).
TOOLINFOW ToolInfo(HWND owner, UINT_PTR toolId, const CString& text, const AfxRect& rect)
{
    TOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = owner;
    ti.uId = toolId;
    ti.rect = { rect.left, rect.top, rect.right, rect.bottom };
    ti.lpszText = const_cast<wchar_t*>(WStr(text));
    return ti;
}

} // namespace

BOOL Win32WindowBackend::AddTool(HWND tip, HWND owner, UINT_PTR toolId, const CString& text, const AfxRect& rect)
{
    TOOLINFOW ti = ToolInfo(owner, toolId, text, rect);
    return SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)) != 0 ? TRUE : FALSE;
}

void Win32WindowBackend::UpdateTipText(HWND tip, HWND owner, UINT_PTR toolId, const CString& text)
{
    TOOLINFOW ti = ToolInfo(owner, toolId, text, AfxRect{});
    SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void Win32WindowBackend::RelayToolTipEvent(HWND tip, const AfxMsg& afx)
{
    // The queued message being offered carries its time and pointer position; the tooltip uses them.
    MSG msg{};
    if (&afx == m_pretranslatingAfx && m_pretranslating != nullptr) {
        msg = *m_pretranslating;
    } else {
        msg.time = static_cast<DWORD>(GetMessageTime());
        const DWORD pos = ::GetMessagePos();
        msg.pt = { static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos)) };
    }
    msg.hwnd = afx.hwnd;
    msg.message = afx.message;
    msg.wParam = afx.wParam;
    msg.lParam = afx.lParam;
    SendMessageW(tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}
