// The system menu: the system's own, with the program's items appended.
#include "platform/win32/win32_backend.h"

BOOL Win32WindowBackend::HasSystemMenu(HWND hwnd)
{
    return GetSystemMenu(hwnd, FALSE) != nullptr;
}

void Win32WindowBackend::AppendSystemMenu(HWND hwnd, UINT flags, UINT_PTR id, const CString& text)
{
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    if (menu == nullptr)
        return;
    AppendMenuW(menu, flags, id, (flags & MF_SEPARATOR) != 0 ? nullptr : WStr(text));
}
