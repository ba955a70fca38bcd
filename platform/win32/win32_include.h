// The one way the Win32 layer includes the system headers: <windows.h> and the common controls
// first (so that framework/afx_types.h sees their definitions), then the framework's names freed
// from the A/W macros that <windows.h> gives them. This layer calls the ...W functions by name.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>
#include <commctrl.h>

// Framework and service method names that <windows.h> defines as macros.
#undef GetWindowText
#undef SetWindowText
#undef GetDlgItemText
#undef SetDlgItemText
#undef MessageBox
#undef DefWindowProc
#undef SendMessage
#undef PostMessage
#undef LoadIcon
#undef IsDialogMessage
#undef GetComputerName
#undef FormatMessage
#undef GetObject
#undef CreateFontIndirect
#undef LoadBitmap
#undef RegOpenKey

#include "framework/afx_types.h"
#include "framework/cstring.h"

// UTF-16 on both sides: the framework's char16_t text is the system's wchar_t text.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* WStr(const CString& s)
{
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

inline CString FromWStr(const wchar_t* s)
{
    return s != nullptr ? CString(reinterpret_cast<const char16_t*>(s)) : CString();
}

inline CString FromWStr(const wchar_t* s, size_t length)
{
    return CString(reinterpret_cast<const char16_t*>(s), length);
}
