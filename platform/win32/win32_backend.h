// The window backend on Win32: dialogs made by the system's dialog manager from the shared
// templates, their messages routed to the framework, and the system's own message boxes, timers,
// menus, icons and list views.
#pragma once

#include "platform/win32/win32_include.h"

#include "platform/win32/win32_accessibility.h"

#include <map>
#include <vector>

#include "framework/window_backend.h"

class Win32WindowBackend : public IWindowBackend {
public:
    // instance: the module that holds the icon and bitmap resources (the executable).
    explicit Win32WindowBackend(HINSTANCE instance);
    ~Win32WindowBackend() override;
    Win32WindowBackend(const Win32WindowBackend&) = delete;
    Win32WindowBackend& operator=(const Win32WindowBackend&) = delete;

    void InitCommonControls(std::uint32_t structSize, std::uint32_t classes) override;
    HWND CreateDialogWindow(const DialogTemplate& tpl, HWND parent, IWindowEvents* events) override;
    int RunModalLoop(HWND dialog) override;
    void EndModalLoop(HWND dialog, int result) override;
    void DestroyWindow(HWND hwnd) override;
    void SubclassWindow(HWND control, IWindowEvents* events) override;
    IWindowEvents* GetWindowEvents(HWND hwnd) override;
    LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL IsDialogMessage(HWND dialog, AfxMsg* afx) override;
    HWND GetDlgItem(HWND dialog, int id) override;
    int GetDlgCtrlID(HWND hwnd) override;
    HWND GetParent(HWND hwnd) override;
    CString GetWindowText(HWND hwnd) override;
    void SetWindowText(HWND hwnd, const CString& text) override;
    void EnableWindow(HWND hwnd, BOOL enable) override;
    BOOL IsWindowEnabled(HWND hwnd) override;
    void SetFocus(HWND hwnd) override;
    HWND GetFocus() override;
    BOOL IsIconic(HWND hwnd) override;
    AfxRect GetClientRect(HWND hwnd) override;
    int GetCheck(HWND button) override;
    void SetCheck(HWND button, int state) override;
    UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) override;
    BOOL KillTimer(HWND hwnd, UINT_PTR id) override;
    int MessageBox(HWND owner, const CString& text, const CString& caption, UINT type) override;
    BOOL HasSystemMenu(HWND hwnd) override;
    void AppendSystemMenu(HWND hwnd, UINT flags, UINT_PTR id, const CString& text) override;
    HICON LoadIcon(UINT resourceId) override;
    void SetIcon(HWND hwnd, HICON icon, BOOL big) override;
    HDC BeginPaint(HWND hwnd) override;
    void EndPaint(HWND hwnd, HDC dc) override;
    void DrawIcon(HDC dc, int x, int y, HICON icon) override;
    int GetSystemMetrics(int index) override;
    LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    int InsertListItem(HWND list, int index, const CString& text) override;
    int GetListSelectedCount(HWND list) override;
    int GetListNextItem(HWND list, int start, UINT flags) override;
    CString GetListItemText(HWND list, int index, int subItem) override;
    int InsertListColumn(HWND list, int column, const CString& heading, int widthPixels) override;
    BOOL SetListItemText(HWND list, int index, int subItem, const CString& text) override;
    int GetListItemCount(HWND list) override;
    BOOL DeleteAllListItems(HWND list) override;
    void SetListSelection(HWND list, int index) override;
    void SetListSortIndicator(HWND list, int column, BOOL ascending) override;
    BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    short GetKeyState(int vk) override;
    std::uint32_t GetWindowStyle(HWND hwnd) override;
    void SetWindowStyle(HWND hwnd, std::uint32_t style) override;
    AfxRect GetWindowRect(HWND hwnd) override;
    AfxPoint ClientToScreen(HWND hwnd, AfxPoint pt) override;
    AfxPoint ScreenToClient(HWND hwnd, AfxPoint pt) override;
    BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override;
    void InvalidateRect(HWND hwnd, const AfxRect* rect, BOOL erase) override;
    HFONT GetWindowFont(HWND hwnd) override;
    void SetWindowFont(HWND hwnd, HFONT font, BOOL redraw) override;
    BOOL GetFontDescription(HFONT font, AfxLogFont* description) override;
    HFONT CreateFontIndirect(const AfxLogFont& description) override;
    AfxSize GetTextExtent(HWND hwnd, HFONT font, const CString& text) override;
    HGDIOBJ GetStockObject(int index) override;
    BOOL DeleteObject(HGDIOBJ object) override;
    COLORREF SetTextColor(HDC dc, COLORREF color) override;
    int SetBkMode(HDC dc, int mode) override;
    void FillRect(HDC dc, const AfxRect& rect, HBRUSH brush) override;
    HBITMAP LoadBitmap(UINT resourceId) override;
    HBRUSH CreatePatternBrush(HBITMAP bitmap) override;
    HCURSOR SetCursor(HCURSOR cursor) override;
    std::uint32_t GetMessagePos() override;
    void SetAccessibleLink(HWND control) override;
    HWND CreateToolTip(HWND parent, std::uint32_t style) override;
    BOOL AddTool(HWND tip, HWND owner, UINT_PTR toolId, const CString& text, const AfxRect& rect) override;
    void UpdateTipText(HWND tip, HWND owner, UINT_PTR toolId, const CString& text) override;
    void RelayToolTipEvent(HWND tip, const AfxMsg& afx) override;

private:
    // A window whose messages go to the framework.
    struct Routed {
        IWindowEvents* events = nullptr;
        WNDPROC original = nullptr;   // the procedure it had before (the dialog manager's, a control's)
        std::vector<HBITMAP> bitmaps; // pictures of a dialog's controls, deleted with it
    };
    struct ModalState {
        HWND dialog;
        bool ended = false;
        int result = 0;
    };
    struct CreateContext {
        Win32WindowBackend* backend;
        const DialogTemplate* tpl;
        IWindowEvents* events;
    };
    struct LoadedIcon {
        UINT resourceId;
        HICON smallIcon; // the same image at the small icon size
    };

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK RoutedWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    void Route(HWND hwnd, IWindowEvents* events);
    void Unroute(HWND hwnd);
    void SetPictures(HWND dialog, const DialogTemplate& tpl);
    bool PreTranslate(HWND dialog, MSG& msg);
    HWND ActiveModalDialog() const;

    HINSTANCE m_instance;
    Win32Accessibility m_accessibility;
    std::map<HWND, Routed> m_routed;
    std::vector<ModalState*> m_modal; // innermost last
    std::map<HICON, LoadedIcon> m_icons;
    std::map<HDC, PAINTSTRUCT> m_paints;
    const MSG* m_pretranslating = nullptr; // the queued message being offered, with its time and point
    const AfxMsg* m_pretranslatingAfx = nullptr;
    int m_waitDepth = 0;
    HCURSOR m_cursorBeforeWait = nullptr;
};
