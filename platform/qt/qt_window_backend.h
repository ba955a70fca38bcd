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

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Window;
    class DialogWidget;
    friend class DialogWidget;

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

    std::unique_ptr<QApplication> m_ownedApp;
    std::map<HWND, std::unique_ptr<Window>> m_windows;
    std::vector<std::unique_ptr<QIcon>> m_icons;
    std::uintptr_t m_nextHandle = 0x1000;
    DialogBaseUnits m_baseUnits{ 6, 13 };
    int m_fontPixelSize = 11;
    std::vector<QPainter*> m_painters;
};
