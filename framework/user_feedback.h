// What the program shows its user apart from its own windows: message boxes, and the wait
// cursor while the thread is blocked in a long call. A window program gets them from its window
// layer; a console program reports the same texts on standard error.
#pragma once

#include "framework/afx_types.h"
#include "framework/cstring.h"

class IUserFeedback {
public:
    virtual ~IUserFeedback() = default;

    // A modal message box with an OK button; returns IDOK when closed.
    virtual int MessageBox(HWND owner, const CString& text, const CString& caption, UINT type) = 0;

    // The hourglass while the thread is blocked in a long call.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
};
