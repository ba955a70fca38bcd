// What the dialog framework needs of a window system. Each platform translates these calls to its
// toolkit (Win32, Qt); the tests use a headless implementation that records them.
#pragma once

#include "framework/afx_types.h"
#include "framework/cstring.h"
#include "framework/user_feedback.h"

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

// Message boxes and the wait cursor come from IUserFeedback.
class IWindowBackend : public IUserFeedback {
public:
    ~IWindowBackend() override = default;

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
    // GetKeyState during a key's handling: the high bit is set when the key (VK_SHIFT, VK_CONTROL)
    // was held with it.
    virtual short GetKeyState(int vk) = 0;

    // List-view controls.
    virtual int InsertListItem(HWND list, int index, const CString& text) = 0;
    virtual int GetListSelectedCount(HWND list) = 0;
    virtual int GetListNextItem(HWND list, int start, UINT flags) = 0;
    virtual CString GetListItemText(HWND list, int index, int subItem) = 0;
    // Report view (LVS_REPORT): LVM_INSERTCOLUMN (width in pixels; the new column's index, or -1),
    // LVM_SETITEMTEXT of a column of an item, LVM_GETITEMCOUNT, LVM_DELETEALLITEMS, the selection
    // and focus of one item (LVM_SETITEMSTATE; -1 clears the selection), and the header's sort
    // arrow (HDM_SETITEM with HDF_SORTUP / HDF_SORTDOWN; column -1 for none). A click on a heading
    // notifies LVN_COLUMNCLICK, a double click on an item NM_DBLCLK, each with an AfxNmListView.
    virtual int InsertListColumn(HWND list, int column, const CString& heading, int widthPixels) = 0;
    virtual BOOL SetListItemText(HWND list, int index, int subItem, const CString& text) = 0;
    virtual int GetListItemCount(HWND list) = 0;
    virtual BOOL DeleteAllListItems(HWND list) = 0;
    virtual void SetListSelection(HWND list, int index) = 0;
    virtual void SetListSortIndicator(HWND list, int column, BOOL ascending) = 0;

    // PostMessage: queues a message for the window, to be handled on the window's thread. The one
    // call that any thread may make; FALSE when it cannot be queued. A message for a window that
    // is gone by then is dropped.
    virtual BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) = 0;

    // -- Hyperlinks and the About box ------------------------------------------------------------
    // Each maps to one Win32 operation, named beside it.

    // GetWindowLongW / SetWindowLongW with GWL_STYLE.
    virtual std::uint32_t GetWindowStyle(HWND hwnd) = 0;
    virtual void SetWindowStyle(HWND hwnd, std::uint32_t style) = 0;
    // GetWindowRect (screen coordinates), ClientToScreen, ScreenToClient.
    virtual AfxRect GetWindowRect(HWND hwnd) = 0;
    virtual AfxPoint ClientToScreen(HWND hwnd, AfxPoint pt) = 0;
    virtual AfxPoint ScreenToClient(HWND hwnd, AfxPoint pt) = 0;
    // SetWindowPos; x and y are in the parent's client coordinates for a child window.
    virtual BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) = 0;
    // InvalidateRect; rect nullptr for the whole client area.
    virtual void InvalidateRect(HWND hwnd, const AfxRect* rect, BOOL erase) = 0;

    // Fonts: WM_GETFONT (nullptr when the window has none), WM_SETFONT, GetObjectW of a font
    // (FALSE when it cannot be read), CreateFontIndirectW (nullptr on failure).
    virtual HFONT GetWindowFont(HWND hwnd) = 0;
    virtual void SetWindowFont(HWND hwnd, HFONT font, BOOL redraw) = 0;
    virtual BOOL GetFontDescription(HFONT font, AfxLogFont* description) = 0;
    virtual HFONT CreateFontIndirect(const AfxLogFont& description) = 0;
    // The width and height in pixels of text drawn in font on the window: GetDC, SelectObject,
    // GetTextExtentPoint32W, the previous font selected back, ReleaseDC.
    virtual AfxSize GetTextExtent(HWND hwnd, HFONT font, const CString& text) = 0;
    // GetStockObject (fonts and brushes); nullptr when the system has none. DeleteObject of a
    // font, brush or bitmap the program made.
    virtual HGDIOBJ GetStockObject(int index) = 0;
    virtual BOOL DeleteObject(HGDIOBJ object) = 0;

    // Device contexts of painting and of control-colour requests: SetTextColor, SetBkMode (each
    // returns the previous value), FillRect.
    virtual COLORREF SetTextColor(HDC dc, COLORREF color) = 0;
    virtual int SetBkMode(HDC dc, int mode) = 0;
    virtual void FillRect(HDC dc, const AfxRect& rect, HBRUSH brush) = 0;
    // LoadBitmapW of the application's bitmap resource (nullptr when missing); CreatePatternBrush.
    virtual HBITMAP LoadBitmap(UINT resourceId) = 0;
    virtual HBRUSH CreatePatternBrush(HBITMAP bitmap) = 0;

    // SetCursor: makes cursor the pointer's shape; returns the previous one.
    virtual HCURSOR SetCursor(HCURSOR cursor) = 0;
    // GetMessagePos: the pointer's screen position with the current message, x in the low and y
    // in the high 16 bits.
    virtual std::uint32_t GetMessagePos() = 0;

    // Presents a static text to assistive technology as a link, still named by its text: the
    // role ROLE_SYSTEM_LINK (IAccPropServices::SetHwndProp, PROPID_ACC_ROLE). Where the
    // accessibility layer lets a control offer an action (AT-SPI), the action is a click: the
    // parent gets STN_CLICKED as from the pointer. Focus is not given to it; the mark goes with
    // the window.
    virtual void SetAccessibleLink(HWND control) = 0;

    // Tooltip controls (CToolTipCtrl::Create, TTM_ADDTOOL, TTM_UPDATETIPTEXT, TTM_RELAYEVENT).
    // A tooltip is destroyed with DestroyWindow, or with its parent.
    virtual HWND CreateToolTip(HWND parent, std::uint32_t style) = 0;
    virtual BOOL AddTool(HWND tip, HWND owner, UINT_PTR toolId, const CString& text, const AfxRect& rect) = 0;
    virtual void UpdateTipText(HWND tip, HWND owner, UINT_PTR toolId, const CString& text) = 0;
    virtual void RelayToolTipEvent(HWND tip, const AfxMsg& msg) = 0;
};
