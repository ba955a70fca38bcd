// The window layer on Qt 6 Widgets: dialogs built from the shared templates with absolute
// geometry, their controls, timers, message boxes, and a stand-in for the system menu.
#pragma once

#include <QObject>
#include <QPointer>

#include <map>
#include <memory>
#include <vector>

#include "framework/dialog_template.h"
#include "framework/dialog_units.h"
#include "framework/window_backend.h"

class QApplication;
class QCursor;
class QEventLoop;
class QIcon;
class QMenu;
class QPainter;
class QTimer;
class QWidget;

class QtWindowBackend : public QObject, public IWindowBackend {
public:
    // Makes the QApplication unless one exists already (tests make their own).
    QtWindowBackend(int& argc, char** argv);
    ~QtWindowBackend() override;

    // -- For tests and the start-up ------------------------------------------------------------
    QWidget* Widget(HWND hwnd) const;
    HWND Handle(const QWidget* widget) const;
    // The dialog window whose title is title, or nullptr.
    HWND FindDialog(const CString& title) const;
    // The dialog's base units in pixels, from its font.
    DialogBaseUnits BaseUnits() const { return m_baseUnits; }
    // The items of a window's system menu, the window's own first.
    struct MenuItem {
        UINT flags;
        UINT_PTR id;
        CString text;
    };
    std::vector<MenuItem> SystemMenuItems(HWND hwnd) const;
    // Opens the stand-in system menu at the given point of the window (right click, Alt+Space).
    void PopupSystemMenu(HWND hwnd, const QPoint& at);
    // The pointing-hand cursor as a cursor handle of this layer (released with DestroyCursor),
    // and the desktop's bell: what the Linux shell service hands out for the hand pointer and
    // the exclamation sound.
    HCURSOR CreateHandCursor();
    void DestroyCursor(HCURSOR cursor);
    void Beep();
    // The tooltip text a control shows, as its tools set it.
    QString ToolTipText(HWND control) const;

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
    HWND CreateToolTip(HWND parent, std::uint32_t style) override;
    BOOL AddTool(HWND tip, HWND owner, UINT_PTR toolId, const CString& text, const AfxRect& rect) override;
    void UpdateTipText(HWND tip, HWND owner, UINT_PTR toolId, const CString& text) override;
    void RelayToolTipEvent(HWND tip, const AfxMsg& msg) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Window;
    struct GdiObject;
    struct Dc;
    class DialogWidget;
    class StaticLabel;
    friend class DialogWidget;
    friend class StaticLabel;

    Window* Find(HWND hwnd) const;
    Window* FindByWidget(const QObject* object) const;
    HWND NewHandle();
    QWidget* CreateControl(const ControlTemplate& c, QWidget* dialog);
    LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Notify(HWND control, UINT code);
    HWND DialogOf(HWND hwnd) const;
    // Offers a key to the pre-translation chain; true when it was taken.
    bool PreTranslateKey(HWND target, UINT vk);
    void Destroy(HWND hwnd);
    // Offers a mouse message of a control to the pre-translation chain; true when it was taken.
    bool PreTranslateMouse(HWND target, UINT message, const QPoint& pos);
    // A static text's mouse moves, clicks and painting.
    void StaticMouseMove(HWND control, QWidget* label, const QPoint& pos);
    void StaticClicked(HWND control, const QPoint& pos, bool inside);
    void PaintStatic(HWND control, StaticLabel* label);
    HGDIOBJ NewObject(std::unique_ptr<GdiObject> object);
    GdiObject* FindObject(HGDIOBJ object) const;
    Dc* FindDc(HDC dc) const;
    QFont FontFor(const AfxLogFont& lf) const;

    std::unique_ptr<QApplication> m_ownedApp;
    std::map<HWND, std::unique_ptr<Window>> m_windows;
    std::vector<std::unique_ptr<QIcon>> m_icons;
    std::uintptr_t m_nextHandle = 0x1000;
    DialogBaseUnits m_baseUnits{ 6, 13 };
    int m_fontPixelSize = 11;
    std::vector<std::unique_ptr<Dc>> m_dcs;
    std::map<HGDIOBJ, std::unique_ptr<GdiObject>> m_objects;
    std::map<int, HGDIOBJ> m_stock;
    HFONT m_dialogFont = nullptr;
    HBRUSH m_systemBrush = nullptr;
    std::uintptr_t m_nextObject = 0x40000;
    std::map<HCURSOR, std::unique_ptr<QCursor>> m_cursors;
    HCURSOR m_currentCursor = nullptr;
    QPointer<QWidget> m_cursorTarget; // the control whose WM_SETCURSOR runs
};
