// A window backend without a display: windows and controls are records in memory, and a test
// clicks, types, presses keys and ticks timers on them. It records what the dialogs ask of it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "framework/dialog_template.h"
#include "framework/window_backend.h"

class HeadlessBackend : public IWindowBackend {
public:
    struct Window {
        HWND hwnd = nullptr;
        HWND parent = nullptr;
        int id = 0;
        bool isDialog = false;
        ControlClass cls = ControlClass::Static;
        std::uint32_t style = 0;
        std::uint32_t exStyle = 0;
        CString text;
        bool enabled = true;
        bool iconic = false;
        int check = 0;
        AfxRect client;
        IWindowEvents* events = nullptr;
        std::vector<HWND> children;
        // list view
        std::vector<CString> items;
        std::set<int> selected;
        int textWrites = 0; // how often SetWindowText changed the text
        bool modalRunning = false;
        int modalResult = 0;
        bool ended = false;
    };

    struct MessageBoxRecord {
        HWND owner;
        CString text;
        CString caption;
        UINT type;
    };

    struct MenuItem {
        UINT flags;
        UINT_PTR id;
        CString text;
    };

    HeadlessBackend();
    ~HeadlessBackend() override;

    // -- What a test drives --------------------------------------------------------------------
    // Runs while a modal loop is open (the dialog's window is given); it should end the dialog.
    // Several are used in turn, one per nested modal loop, oldest first.
    std::vector<std::function<void(HWND)>> modalScripts;
    // Runs while a message box is open, before it is closed with OK.
    std::function<void(const MessageBoxRecord&)> onMessageBox;

    HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }
    Window* Find(HWND hwnd);
    // A click: a check box toggles its tick first; the parent gets BN_CLICKED. Disabled controls
    // ignore it.
    void Click(HWND control);
    // Types into an edit field: its text becomes text and the parent gets EN_CHANGE.
    void Type(HWND edit, const CString& text);
    // A key pressed on the focused window (or the given one), offered to the pre-translation chain
    // and then, if not taken, to the control as an ordinary key (which it ignores).
    void KeyDown(UINT vk, HWND target = nullptr);
    // One tick of a running timer: FALSE when that timer is not running.
    bool Tick(HWND hwnd, UINT_PTR id);
    bool IsTimerRunning(HWND hwnd, UINT_PTR id) const;
    UINT TimerPeriod(HWND hwnd, UINT_PTR id) const;
    void SystemCommand(HWND dialog, UINT id);
    // Selects (or, with -1, clears the selection of) a list item and notifies LVN_ITEMCHANGED.
    void SelectListItem(HWND list, int index);
    void SetIconic(HWND hwnd, bool iconic, AfxRect client);
    void CloseBox(HWND dialog) { SystemCommand(dialog, SC_CLOSE); }

    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<MenuItem> systemMenu;
    std::vector<std::pair<HICON, BOOL>> iconsSet;
    std::vector<AfxPoint> iconsDrawn;
    std::vector<UINT> sentMessages;
    int waitCursorDepth = 0;
    int waitCursorCount = 0;
    std::uint32_t commonControlsClasses = 0;
    int systemIconSize = 32;

    // -- IWindowBackend ------------------------------------------------------------------------
    void InitCommonControls(std::uint32_t structSize, std::uint32_t classes) override;
    HWND CreateDialogWindow(const DialogTemplate& tpl, HWND parent, IWindowEvents* events) override;
    int RunModalLoop(HWND dialog) override;
    void EndModalLoop(HWND dialog, int result) override;
    void DestroyWindow(HWND hwnd) override;
    void SubclassWindow(HWND control, IWindowEvents* events) override;
    IWindowEvents* GetWindowEvents(HWND hwnd) override;
    LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL IsDialogMessage(HWND dialog, AfxMsg* msg) override;
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
    CString GetListItemText(HWND list, int index) override;

private:
    LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND NewWindow();
    void Destroy(HWND hwnd);

    std::map<HWND, std::unique_ptr<Window>> m_windows;
    std::map<std::pair<HWND, UINT_PTR>, UINT> m_timers;
    std::uintptr_t m_nextHandle = 0x100;
    HWND m_focus = nullptr;
    size_t m_nextScript = 0;
};
