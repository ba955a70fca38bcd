// A window backend without a display: windows and controls are records in memory, and a test
// clicks, types, presses keys and ticks timers on them. It records what the dialogs ask of it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "framework/dialog_manager.h"

class HeadlessBackend : public DialogManager {
public:
    // The dialog manager's record, and what the tests read of each window.
    struct Window : DialogManager::Window {
        std::uint32_t exStyle = 0;
        CString text;
        bool enabled = true;
        bool iconic = false;
        int check = 0;
        AfxRect client;
        // list view: the items' texts (column 0), the other columns' texts of each item, the
        // headings, and the sort arrow (column, ascending; -1 for none)
        std::vector<CString> items;
        std::vector<std::vector<CString>> subItems;
        std::vector<CString> columns;
        std::pair<int, BOOL> sortIndicator{ -1, TRUE };
        std::set<int> selected;
        int focusedItem = -1;
        int textWrites = 0; // how often SetWindowText changed the text
        // Placement: the window rectangle in screen coordinates and the border around the client
        // area (1 pixel for WS_BORDER, the frame and caption for a dialog).
        AfxRect window;
        int borderX = 0, borderTop = 0, borderBottom = 0;
        HFONT font = nullptr;
        std::vector<HFONT> fontsSet; // every WM_SETFONT, in order
        struct Invalidation {
            bool whole;
            AfxRect rect;
            BOOL erase;
        };
        std::vector<Invalidation> invalidations;
        std::vector<AfxRect> moves; // every SetWindowPos, as window rectangles in parent coordinates
        // tooltips
        bool isToolTip = false;
        struct Tool {
            HWND owner;
            UINT_PTR id;
            CString text;
            AfxRect rect;
        };
        std::vector<Tool> tools;
        int relayed = 0;
        bool modalRunning = false;
        bool accessibleLink = false; // SetAccessibleLink
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

    // What a control-colour request gave: the brush and what was set on the device context.
    struct CtlColorAnswer {
        HBRUSH brush;
        COLORREF textColor;
        int bkMode;
    };

    struct FillRecord {
        HDC dc;
        AfxRect rect;
        HBRUSH brush;
        UINT bitmapId; // of the pattern brush, 0 for another brush
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
    // and then, if not taken, to the control as an ordinary key (which it ignores). shift: Shift
    // is held with it.
    void KeyDown(UINT vk, HWND target = nullptr, bool shift = false, bool ctrl = false);
    // How often the dialog manager refused a key with a beep.
    int beeps = 0;
    // One tick of a running timer: FALSE when that timer is not running.
    bool Tick(HWND hwnd, UINT_PTR id);
    bool IsTimerRunning(HWND hwnd, UINT_PTR id) const;
    UINT TimerPeriod(HWND hwnd, UINT_PTR id) const;
    void SystemCommand(HWND dialog, UINT id);
    // Selects (or, with -1, clears the selection of) a list item and notifies LVN_ITEMCHANGED.
    void SelectListItem(HWND list, int index);
    // A click on a column's heading (LVN_COLUMNCLICK) and a double click on an item (NM_DBLCLK).
    void ClickListColumn(HWND list, int column);
    void DoubleClickListItem(HWND list, int index);
    // Delivers the messages posted so far (from any thread) on this thread, in order; how many.
    int DeliverPostedMessages();
    // Waits up to timeoutMs for a message to be posted; true when one is queued.
    bool WaitForPostedMessage(int timeoutMs);
    void SetIconic(HWND hwnd, bool iconic, AfxRect client);
    void CloseBox(HWND dialog) { SystemCommand(dialog, SC_CLOSE); }
    // The pointer moves to a point of the control (client coordinates): the move is offered to
    // the pre-translation chain, then the control gets WM_SETCURSOR and WM_MOUSEMOVE.
    void MouseMove(HWND control, AfxPoint client);
    // The pointer moves to a screen point without any window being told (it left the control).
    void MovePointerTo(AfxPoint screen) { pointer = screen; }
    // Asks the control's parent for the control's colours, as the control does before drawing.
    CtlColorAnswer RequestCtlColor(HWND control);
    // Sends WM_PAINT, as a window that needs repainting gets it.
    void Paint(HWND hwnd) { Send(hwnd, WM_PAINT, 0, 0); }
    // The tooltip windows whose parent is owner.
    std::vector<Window*> ToolTipsOf(HWND owner);
    // A font's description, or nullptr for a handle that is not a live font.
    const AfxLogFont* FontDescription(HFONT font) const;
    bool IsLiveObject(HGDIOBJ object) const { return m_objects.contains(object); }
    int LiveObjectCount() const { return static_cast<int>(m_objects.size()); }

    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<MenuItem> systemMenu;
    std::vector<std::pair<HICON, BOOL>> iconsSet;
    std::vector<AfxPoint> iconsDrawn;
    std::vector<UINT> sentMessages;
    int waitCursorDepth = 0;
    int waitCursorCount = 0;
    std::uint32_t commonControlsClasses = 0;
    int systemIconSize = 32;

    // Scripted answers.
    bool controlsHaveFont = true;      // WM_GETFONT of a control gives the dialog's font
    bool stockGuiFontAvailable = true; // GetStockObject(DEFAULT_GUI_FONT)
    bool bitmapsAvailable = true;      // LoadBitmap finds the resources
    int textCharWidth = 6;             // text extents: this many pixels a character ...
    int textHeight = 13;               // ... and this high
    AfxPoint pointer{ 0, 0 };          // the pointer's screen position (GetMessagePos)
    // Records.
    std::vector<HFONT> extentFonts; // the font of each GetTextExtent
    std::vector<HCURSOR> cursorsSet;
    HCURSOR currentCursor = nullptr;
    std::vector<FillRecord> fills;
    int fontsCreated = 0;
    HBRUSH systemBrush = nullptr; // what the default handling of a colour request gives

    // -- IWindowBackend ------------------------------------------------------------------------
    void InitCommonControls(std::uint32_t structSize, std::uint32_t classes) override;
    HWND CreateDialogWindow(const DialogTemplate& tpl, HWND parent, IWindowEvents* events) override;
    int RunModalLoop(HWND dialog) override;
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
    void RelayToolTipEvent(HWND tip, const AfxMsg& msg) override;

private:
    struct GdiObject {
        enum Kind { Font, Bitmap, Brush } kind;
        AfxLogFont font;
        UINT bitmapId = 0;
    };
    struct DcState {
        COLORREF text = 0;
        int bkMode = OPAQUE;
    };
    HGDIOBJ NewObject(GdiObject object);
    HGDIOBJ NewSystemObject(GdiObject object);
    const GdiObject* FindObject(HGDIOBJ object) const;
    AfxPoint ClientOrigin(const Window* w) const;

    // DialogManager
    void ExitModalLoop(DialogManager::Window& dialog) override;
    void ReleaseWindow(DialogManager::Window& window) override;
    void Minimize(DialogManager::Window& window) override;
    void BeginMove(DialogManager::Window& window) override;
    HBRUSH SystemColors(DialogManager::Window& window, HDC dc) override;
    void Beep() override { ++beeps; }

    // A new window record in the table (a control when parent is given, else a dialog's).
    Window* NewWindow(HWND parent, bool isDialog);

    std::map<std::pair<HWND, UINT_PTR>, UINT> m_timers;
    std::mutex m_postedMutex;
    std::condition_variable m_posted;
    std::deque<AfxMsg> m_postedMessages;
    HWND m_focus = nullptr;
    size_t m_nextScript = 0;
    std::map<HGDIOBJ, GdiObject> m_objects;       // what the program made and has not deleted
    std::map<int, HGDIOBJ> m_stock;               // GetStockObject by index
    std::map<HGDIOBJ, GdiObject> m_systemObjects; // stock objects and the dialog font
    std::map<HDC, DcState> m_dcs;
    std::uintptr_t m_nextObject = 0x7000;
    HFONT m_dialogFont = nullptr;
};
