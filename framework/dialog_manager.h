// The dialog manager of the window layers that have none of their own (Qt, and the headless layer
// of the tests): the window table and the routing of messages, the keyboard handling of dialogs
// (Tab, Escape, Enter and the default push button), and the default handling of a dialog's system
// commands and closing. A layer derives from it and keeps only its translation to the toolkit.
// The Win32 layer uses the system's own dialog manager instead.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "framework/dialog_template.h"
#include "framework/window_backend.h"

class DialogManager : public IWindowBackend {
public:
    // One window of the table: a dialog, one of its controls, or a tooltip. A layer derives its
    // own record with what its toolkit needs.
    struct Window {
        virtual ~Window() = default;
        HWND hwnd = nullptr;
        HWND parent = nullptr; // the owner of a dialog, the parent of a control
        int id = 0;
        bool isDialog = false;
        ControlClass cls = ControlClass::Static;
        std::uint32_t style = 0;
        IWindowEvents* events = nullptr;
        std::vector<HWND> children; // in template order, which is the tab order
        bool ended = false;         // EndModalLoop has run ...
        int modalResult = 0;        // ... with this code
    };

    DialogManager() = default;
    DialogManager(const DialogManager&) = delete;
    DialogManager& operator=(const DialogManager&) = delete;

    // -- IWindowBackend: what every managed layer does alike --------------------------------------
    void EndModalLoop(HWND dialog, int result) override;
    void DestroyWindow(HWND hwnd) override;
    void SubclassWindow(HWND control, IWindowEvents* events) override;
    IWindowEvents* GetWindowEvents(HWND hwnd) override;
    // SC_CLOSE → WM_CLOSE → IDCANCEL, minimising, moving, and the system's control colours.
    LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    // Escape presses IDCANCEL; Enter the focused push button, else the default push button, else
    // IDOK (a disabled one only beeps); Tab and Shift+Tab move the focus along the tab stops.
    BOOL IsDialogMessage(HWND dialog, AfxMsg* msg) override;
    HWND GetDlgItem(HWND dialog, int id) override;
    int GetDlgCtrlID(HWND hwnd) override;
    HWND GetParent(HWND hwnd) override;
    BOOL HasSystemMenu(HWND hwnd) override;
    std::uint32_t GetWindowStyle(HWND hwnd) override;
    // Shift and Ctrl as held with the key being handled.
    short GetKeyState(int vk) override;
    void SetWindowStyle(HWND hwnd, std::uint32_t style) override;

protected:
    Window* Find(HWND hwnd) const;
    const std::map<HWND, std::unique_ptr<Window>>& Windows() const { return m_windows; }
    // Enters a window into the table under a new handle; a control (or tooltip) becomes the last
    // child of its parent. Returns the handle.
    HWND AddWindow(std::unique_ptr<Window> window);
    // The dialog a window belongs to (itself for a dialog), or nullptr.
    HWND DialogOf(HWND hwnd) const;

    // A message to a window: to its framework object, else the default handling.
    LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // A control's notification to its parent (WM_COMMAND with the control's id and handle).
    void Notify(HWND control, UINT code);
    // Sends WM_INITDIALOG; when its answer is nonzero, the focus goes to the first enabled tab
    // stop. FALSE when the dialog was destroyed meanwhile.
    BOOL InitDialog(HWND dialog);
    // Offers a queued input message to its window and each parent up to the dialog
    // (PreTranslateMessage); true when one of them took it.
    bool PreTranslate(AfxMsg& msg);
    // A key pressed on target: offered to the pre-translation chain (whose dialog passes it to
    // IsDialogMessage); F1 that nobody took asks the dialog for help. shift tells whether Shift
    // was held with the key. True when the key was used.
    bool KeyDown(HWND target, UINT vk, bool shift, bool ctrl = false);

    // -- What the layer translates ---------------------------------------------------------------
    // The modal loop of the dialog is to return (EndModalLoop has recorded the result).
    virtual void ExitModalLoop(Window& dialog) = 0;
    // The window is leaving the table: release what the toolkit holds for it.
    virtual void ReleaseWindow(Window& window) = 0;
    virtual void Minimize(Window& window) = 0;
    virtual void BeginMove(Window& window) = 0;
    // The system's colours on dc for a control of window; returns the system's brush.
    virtual HBRUSH SystemColors(Window& window, HDC dc) = 0;
    // The dialog manager refused a key (Enter on a disabled button).
    virtual void Beep() = 0;

private:
    HWND NextTabStop(HWND dialog, HWND from, bool backwards);
    void Destroy(HWND hwnd);

    std::map<HWND, std::unique_ptr<Window>> m_windows;
    std::uintptr_t m_nextHandle = 0x1000;
    bool m_shiftWithKey = false; // Shift was held with the key being handled
    bool m_ctrlWithKey = false;  // and Ctrl
};
