// Message boxes and the wait cursor (IUserFeedback), the system's own.
#include "platform/win32/win32_backend.h"

int Win32WindowBackend::MessageBox(HWND owner, const CString& text, const CString& caption, UINT type)
{
    if (owner == nullptr)
        owner = ActiveModalDialog();
    return MessageBoxW(owner, WStr(text), WStr(caption), type);
}

void Win32WindowBackend::BeginWaitCursor()
{
    HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
    if (m_waitDepth++ == 0)
        m_cursorBeforeWait = SetCursor(wait);
    else
        SetCursor(wait);
}

void Win32WindowBackend::EndWaitCursor()
{
    if (m_waitDepth == 0)
        return;
    if (--m_waitDepth == 0)
        SetCursor(m_cursorBeforeWait != nullptr ? m_cursorBeforeWait : LoadCursorW(nullptr, IDC_ARROW));
}
