// The drawing calls of the Win32 layer: fonts, stock and program-made GDI objects, device
// contexts, the cursor, icons and painting, each the system's own call.
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

// -- Icons and painting ----------------------------------------------------------------------

HICON Win32WindowBackend::LoadIcon(UINT resourceId)
{
    // The icon resource holds both sizes: the large one is the handle the framework gets (drawn
    // when minimised, dragged), the small one goes to WM_SETICON ICON_SMALL.
    auto* big =
        static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                      ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    if (big == nullptr)
        return nullptr;
    auto* smallIcon = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                                    ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                                    LR_DEFAULTCOLOR));
    m_icons[big] = { resourceId, smallIcon };
    return big;
}

void Win32WindowBackend::SetIcon(HWND hwnd, HICON icon, BOOL big)
{
    HICON image = icon;
    if (!big) {
        auto it = m_icons.find(icon);
        if (it != m_icons.end() && it->second.smallIcon != nullptr)
            image = it->second.smallIcon;
    }
    SendMessageW(hwnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(image));
}

HDC Win32WindowBackend::BeginPaint(HWND hwnd)
{
    PAINTSTRUCT ps{};
    HDC dc = ::BeginPaint(hwnd, &ps);
    if (dc != nullptr)
        m_paints[dc] = ps;
    return dc;
}

void Win32WindowBackend::EndPaint(HWND hwnd, HDC dc)
{
    auto it = m_paints.find(dc);
    if (it == m_paints.end())
        return;
    ::EndPaint(hwnd, &it->second);
    m_paints.erase(it);
}

void Win32WindowBackend::DrawIcon(HDC dc, int x, int y, HICON icon)
{
    ::DrawIcon(dc, x, y, icon);
}

int Win32WindowBackend::GetSystemMetrics(int index)
{
    return ::GetSystemMetrics(index);
}
