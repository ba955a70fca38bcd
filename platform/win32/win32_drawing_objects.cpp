// The drawing calls of the Win32 layer: fonts, stock and program-made GDI objects, device
// contexts and the cursor, each the system's own call.
#include "platform/win32/win32_backend.h"

#include <cstddef>
#include <cstring>

// A LOGFONTW is copied to and from the framework's description as it is.
static_assert(sizeof(LOGFONTW) == sizeof(AfxLogFont));
static_assert(offsetof(LOGFONTW, lfWeight) == offsetof(AfxLogFont, lfWeight));
static_assert(offsetof(LOGFONTW, lfUnderline) == offsetof(AfxLogFont, lfUnderline));
static_assert(offsetof(LOGFONTW, lfPitchAndFamily) == offsetof(AfxLogFont, lfPitchAndFamily));
static_assert(offsetof(LOGFONTW, lfFaceName) == offsetof(AfxLogFont, lfFaceName));

HFONT Win32WindowBackend::GetWindowFont(HWND hwnd)
{
    return reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
}

void Win32WindowBackend::SetWindowFont(HWND hwnd, HFONT font, BOOL redraw)
{
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), MAKELPARAM(redraw ? TRUE : FALSE, 0));
}

BOOL Win32WindowBackend::GetFontDescription(HFONT font, AfxLogFont* description)
{
    LOGFONTW lf{};
    if (font == nullptr || description == nullptr || GetObjectW(font, sizeof(lf), &lf) != sizeof(lf))
        return FALSE;
    std::memcpy(static_cast<void*>(description), &lf, sizeof(lf));
    return TRUE;
}

HFONT Win32WindowBackend::CreateFontIndirect(const AfxLogFont& description)
{
    LOGFONTW lf{};
    std::memcpy(&lf, static_cast<const void*>(&description), sizeof(lf));
    return CreateFontIndirectW(&lf);
}

AfxSize Win32WindowBackend::GetTextExtent(HWND hwnd, HFONT font, const CString& text)
{
    HDC dc = GetDC(hwnd);
    if (dc == nullptr)
        return {};
    HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    SIZE size{};
    GetTextExtentPoint32W(dc, WStr(text), static_cast<int>(text.size()), &size);
    if (previous != nullptr)
        SelectObject(dc, previous);
    ReleaseDC(hwnd, dc);
    return { size.cx, size.cy };
}

HGDIOBJ Win32WindowBackend::GetStockObject(int index)
{
    return ::GetStockObject(index);
}

BOOL Win32WindowBackend::DeleteObject(HGDIOBJ object)
{
    return ::DeleteObject(object);
}

COLORREF Win32WindowBackend::SetTextColor(HDC dc, COLORREF color)
{
    return ::SetTextColor(dc, color);
}

int Win32WindowBackend::SetBkMode(HDC dc, int mode)
{
    return ::SetBkMode(dc, mode);
}

void Win32WindowBackend::FillRect(HDC dc, const AfxRect& rect, HBRUSH brush)
{
    const RECT r{ rect.left, rect.top, rect.right, rect.bottom };
    ::FillRect(dc, &r, brush);
}

HBITMAP Win32WindowBackend::LoadBitmap(UINT resourceId)
{
    return LoadBitmapW(m_instance, MAKEINTRESOURCEW(resourceId));
}

HBRUSH Win32WindowBackend::CreatePatternBrush(HBITMAP bitmap)
{
    return ::CreatePatternBrush(bitmap);
}

HCURSOR Win32WindowBackend::SetCursor(HCURSOR cursor)
{
    return ::SetCursor(cursor);
}
