// The window layer on Qt 6 Widgets: dialogs built from the shared templates with absolute
// geometry, their controls, timers, message boxes, a stand-in for the system menu, and the
// drawing handles. The dialog manager (the window table, keyboard, default handling) is the
// framework's; this layer translates.
#pragma once

#include <QObject>
#include <QPointer>

#include <map>
#include <memory>
#include <vector>

#include "framework/dialog_manager.h"
#include "framework/dialog_units.h"
#include "platform/qt/qt_drawing_objects.h"
#include "platform/qt/qt_widgets.h"

class QApplication;
class QCursor;
class QEventLoop;
class QIcon;
class QTimer;

class QtWindowBackend : public QObject, public DialogManager, private QtWidgetEvents {
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
    void Beep() override;
    // The tooltip text a control shows, as its tools set it.
    QString ToolTipText(HWND control) const;

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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The dialog manager's record with the widget and what the layer keeps for the window.
    struct Window : DialogManager::Window {
        QPointer<QWidget> widget;
        std::vector<MenuItem> menu; // the items the program appended to the system menu
        std::unique_ptr<QEventLoop> loop;
        std::map<UINT_PTR, std::unique_ptr<QTimer>> timers;
        HFONT font = nullptr;
        bool isToolTip = false;
        QString tipText; // a tooltip's text for its owner
    };

    Window* Find(HWND hwnd) const;
    Window* FindByWidget(const QObject* object) const;
    // Offers a mouse message of a control to the pre-translation chain; true when it was taken.
    bool PreTranslateMouse(HWND target, UINT message, const QPoint& pos);
    // A click on a static text, by the pointer or by assistive technology: STN_CLICKED.
    void StaticClicked(HWND control);
    void ConnectNotifications(HWND control, QWidget* widget);

    // DialogManager
    void ExitModalLoop(DialogManager::Window& dialog) override;
    void ReleaseWindow(DialogManager::Window& window) override;
    void Minimize(DialogManager::Window& window) override;
    void BeginMove(DialogManager::Window& window) override;
    HBRUSH SystemColors(DialogManager::Window& window, HDC dc) override;

    // QtWidgetEvents
    void DialogCloseRequested(QWidget* dialog) override;
    void DialogPaint(QWidget* dialog) override;
    void DialogContextMenu(QWidget* dialog, const QPoint& at) override;
    bool StaticPaint(QtStaticLabel* label) override;
    void StaticMouseMove(QtStaticLabel* label, const QPoint& pos) override;
    void StaticPressed(QtStaticLabel* label, const QPoint& pos) override;
    void StaticReleased(QtStaticLabel* label, const QPoint& pos, bool inside) override;
    void StaticActivated(QtStaticLabel* label) override;
    QPixmap Bitmap(UINT resourceId) override;

    // Drawing objects (qt_drawing_objects.cpp).
    void MakeStockObjects();
    HGDIOBJ NewObject(std::unique_ptr<QtGdiObject> object);
    QtGdiObject* FindObject(HGDIOBJ object) const;
    QtDeviceContext* FindDc(HDC dc) const;
    QFont FontFor(const AfxLogFont& lf) const;
    // Paints a static text in the colours its parent gives for it (WM_CTLCOLORSTATIC).
    void PaintStatic(HWND control, QtStaticLabel* label);

    std::unique_ptr<QApplication> m_ownedApp;
    std::vector<std::unique_ptr<QIcon>> m_icons;
    DialogBaseUnits m_baseUnits{ 6, 13 };
    int m_fontPixelSize = 11;
    std::vector<std::unique_ptr<QtDeviceContext>> m_dcs;
    std::map<HGDIOBJ, std::unique_ptr<QtGdiObject>> m_objects;
    std::map<int, HGDIOBJ> m_stock;
    HFONT m_dialogFont = nullptr;
    HBRUSH m_systemBrush = nullptr;
    std::uintptr_t m_nextObject = 0x40000;
    std::map<HCURSOR, std::unique_ptr<QCursor>> m_cursors;
    HCURSOR m_currentCursor = nullptr;
    QPointer<QWidget> m_cursorTarget; // the control whose WM_SETCURSOR runs
};
