// What the dialog framework needs of a window system. Each platform translates these calls to its
// toolkit (Win32, Qt); the tests use a headless implementation that records them.
#pragma once

#include "framework/afx_types.h"
#include "framework/cstring.h"

struct DialogTemplate;

// Receives the messages of one window: a dialog, or a control subclassed by a framework object.
class IWindowEvents {
public:
    virtual ~IWindowEvents() = default;
    virtual LRESULT OnWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // The modal loop offers each queued input message to the target window and then to each of its
    // parents up to the dialog; TRUE means the message was handled and is not dispatched.
    virtual BOOL OnPreTranslateMessage(AfxMsg* msg) = 0;
};

class IWindowBackend {
public:
    virtual ~IWindowBackend() = default;

    // InitCommonControlsEx.
    virtual void InitCommonControls(std::uint32_t structSize, std::uint32_t classes) = 0;

    // Creates a dialog window with the controls of the template, not yet shown, owned by parent
    // (nullptr for none). Its messages go to events; WM_INITDIALOG is delivered before this returns,
    // and when its answer is nonzero the focus goes to the first tab stop. Returns nullptr when the
    // window cannot be created.
    virtual HWND CreateDialogWindow(const DialogTemplate& tpl, HWND parent, IWindowEvents* events) = 0;
    // Shows the dialog and runs its modal loop (the owner is disabled meanwhile) until
    // EndModalLoop; returns the code given there.
    virtual int RunModalLoop(HWND dialog) = 0;
    virtual void EndModalLoop(HWND dialog, int result) = 0;
    virtual void DestroyWindow(HWND hwnd) = 0;

    // Routes a control's messages to events; messages it does not handle go to DefWindowProc,
    // which gives the control its own behaviour. nullptr ends the routing.
    virtual void SubclassWindow(HWND control, IWindowEvents* events) = 0;
    virtual IWindowEvents* GetWindowEvents(HWND hwnd) = 0;

    // The default handling of a message (the dialog manager's for a dialog, the control's own for a
    // control): system commands, closing, painting, and so on.
    virtual LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // The dialog manager's keyboard handling (IsDialogMessage): Escape cancels, Enter presses the
    // default button, Tab moves the focus. TRUE when it used the message.
    virtual BOOL IsDialogMessage(HWND dialog, AfxMsg* msg) = 0;

    virtual HWND GetDlgItem(HWND dialog, int id) = 0;
    virtual int GetDlgCtrlID(HWND hwnd) = 0;
    virtual HWND GetParent(HWND hwnd) = 0;
    virtual CString GetWindowText(HWND hwnd) = 0;
    virtual void SetWindowText(HWND hwnd, const CString& text) = 0;
    virtual void EnableWindow(HWND hwnd, BOOL enable) = 0;
    virtual BOOL IsWindowEnabled(HWND hwnd) = 0;
    virtual void SetFocus(HWND hwnd) = 0;
    virtual HWND GetFocus() = 0;
    virtual BOOL IsIconic(HWND hwnd) = 0;
    virtual AfxRect GetClientRect(HWND hwnd) = 0;

    // Check boxes (BM_GETCHECK / BM_SETCHECK).
    virtual int GetCheck(HWND button) = 0;
    virtual void SetCheck(HWND button, int state) = 0;

    // Window timers; ticks arrive as WM_TIMER with the id.
    virtual UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) = 0;
    virtual BOOL KillTimer(HWND hwnd, UINT_PTR id) = 0;

    // A modal message box with an OK button; returns IDOK when closed.
    virtual int MessageBox(HWND owner, const CString& text, const CString& caption, UINT type) = 0;

    // The system menu: whether the window has one, and appending an item (MF_STRING or
    // MF_SEPARATOR) at its end.
    virtual BOOL HasSystemMenu(HWND hwnd) = 0;
    virtual void AppendSystemMenu(HWND hwnd, UINT flags, UINT_PTR id, const CString& text) = 0;

    // Icons: loaded from the icon resource; WM_SETICON.
    virtual HICON LoadIcon(UINT resourceId) = 0;
    virtual void SetIcon(HWND hwnd, HICON icon, BOOL big) = 0;

    // Painting (WM_PAINT handlers): BeginPaint / EndPaint, DrawIcon, GetSystemMetrics.
    virtual HDC BeginPaint(HWND hwnd) = 0;
    virtual void EndPaint(HWND hwnd, HDC dc) = 0;
    virtual void DrawIcon(HDC dc, int x, int y, HICON icon) = 0;
    virtual int GetSystemMetrics(int index) = 0;
    virtual LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;

    // The hourglass while the thread is blocked in a long call.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // List-view controls.
    virtual int InsertListItem(HWND list, int index, const CString& text) = 0;
    virtual int GetListSelectedCount(HWND list) = 0;
    virtual int GetListNextItem(HWND list, int start, UINT flags) = 0;
    virtual CString GetListItemText(HWND list, int index) = 0;
};
