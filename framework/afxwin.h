// The dialog framework: application, windows, dialogs, controls, message maps and data exchange.
// Portable: everything a toolkit does goes through IWindowBackend.
#pragma once

#include <map>
#include <memory>

#include "framework/afx_types.h"
#include "framework/cstring.h"
#include "framework/data_exchange.h"
#include "framework/resources.h"
#include "framework/window_backend.h"

class CWnd;
class CDataExchange;

// ---------------------------------------------------------------------------------------------
// Message maps: a static table per class, chained to the base class's table.

struct AFX_MSGMAP_ENTRY {
    UINT message; // window message, or WM_REFLECT_BASE + message for reflected ones
    UINT code;    // notification code for WM_COMMAND / WM_NOTIFY
    UINT id;      // control id for WM_COMMAND / WM_NOTIFY; 0 with code 0 and id 0 for any
    LRESULT (*handler)(CWnd* self, WPARAM wParam, LPARAM lParam);
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Messages a parent reflects back to the control they are about.
constexpr UINT WM_REFLECT_BASE = 0xBC00;

// The message-map macros are laid out by hand: an entry's message and ids on its first line, its
// handler on the next.
// clang-format off
#define DECLARE_MESSAGE_MAP()                                                                    \
protected:                                                                                       \
    static const AFX_MSGMAP* GetThisMessageMap();                                                \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                   \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }            \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                              \
    {                                                                                            \
        using ThisClass [[maybe_unused]] = theClass;                                             \
        using TheBaseClass = baseClass;                                                          \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                        \
    { 0, 0, 0, nullptr }                                                                         \
    }                                                                                            \
    ;                                                                                            \
    static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, &_messageEntries[0] }; \
    return &messageMap;                                                                          \
    }

#define AFX_SELF(w) (static_cast<ThisClass*>(w))

#define ON_COMMAND(id, memberFxn)                                                                \
    { WM_COMMAND, 0, (UINT)(id),                                                                 \
      [](CWnd* w, WPARAM, LPARAM) -> LRESULT { (AFX_SELF(w)->*(memberFxn))(); return 0; } },
#define ON_CONTROL(code, id, memberFxn)                                                          \
    { WM_COMMAND, (UINT)(code), (UINT)(id),                                                      \
      [](CWnd* w, WPARAM, LPARAM) -> LRESULT { (AFX_SELF(w)->*(memberFxn))(); return 0; } },
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) ON_CONTROL(EN_CHANGE, id, memberFxn)
#define ON_NOTIFY(code, id, memberFxn)                                                           \
    { WM_NOTIFY, (UINT)(code), (UINT)(id),                                                       \
      [](CWnd* w, WPARAM, LPARAM l) -> LRESULT {                                                 \
          LRESULT result = 0;                                                                    \
          (AFX_SELF(w)->*(memberFxn))(reinterpret_cast<AfxNotifyHeader*>(l), &result);           \
          return result; } },
#define ON_CONTROL_REFLECT(code, memberFxn)                                                      \
    { WM_REFLECT_BASE + WM_COMMAND, (UINT)(code), 0,                                             \
      [](CWnd* w, WPARAM, LPARAM) -> LRESULT { (AFX_SELF(w)->*(memberFxn))(); return 1; } },
// A message of the program's own (WM_APP and above): LRESULT handler(WPARAM, LPARAM).
#define ON_MESSAGE(message, memberFxn)                                                           \
    { (UINT)(message), 0, 0,                                                                     \
      [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT { return (AFX_SELF(w)->*(memberFxn))(wp, lp); } },
#define ON_WM_SYSCOMMAND()                                                                       \
    { WM_SYSCOMMAND, 0, 0,                                                                       \
      [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT { AFX_SELF(w)->OnSysCommand((UINT)wp, lp); return 0; } },
#define ON_WM_PAINT()                                                                            \
    { WM_PAINT, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT { AFX_SELF(w)->OnPaint(); return 0; } },
#define ON_WM_QUERYDRAGICON()                                                                    \
    { WM_QUERYDRAGICON, 0, 0,                                                                    \
      [](CWnd* w, WPARAM, LPARAM) -> LRESULT { return (LRESULT)AFX_SELF(w)->OnQueryDragIcon(); } },
#define ON_WM_TIMER()                                                                            \
    { WM_TIMER, 0, 0,                                                                            \
      [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT { AFX_SELF(w)->OnTimer((UINT_PTR)wp); return 0; } },
#define ON_WM_SETCURSOR()                                                                        \
    { WM_SETCURSOR, 0, 0,                                                                        \
      [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                                             \
          return AFX_SELF(w)->OnSetCursor(CWnd::FromHandlePermanent(reinterpret_cast<HWND>(wp)),  \
                                          LOWORD(lp), HIWORD(lp)); } },
#define ON_WM_MOUSEMOVE()                                                                        \
    { WM_MOUSEMOVE, 0, 0,                                                                        \
      [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                                             \
          AFX_SELF(w)->OnMouseMove((UINT)wp, AfxPoint{ GET_X_LPARAM(lp), GET_Y_LPARAM(lp) });    \
          return 0; } },
// The control-colour requests (WM_CTLCOLORMSGBOX .. WM_CTLCOLORSTATIC) reach ON_WM_CTLCOLOR as
// WM_CTLCOLOR with an AfxCtlColor; a control gets its own through ON_WM_CTLCOLOR_REFLECT when the
// parent's handling offers it back.
#define ON_WM_CTLCOLOR()                                                                         \
    { WM_CTLCOLOR, 0, 0,                                                                         \
      [](CWnd* w, WPARAM, LPARAM lp) -> LRESULT {                                                \
          const auto* cc = reinterpret_cast<const AfxCtlColor*>(lp);                             \
          CDC dc(cc->hDC);                                                                       \
          return reinterpret_cast<LRESULT>(                                                      \
              AFX_SELF(w)->OnCtlColor(&dc, w->FromChildHandle(cc->hWnd), cc->nCtlType)); } },
#define ON_WM_CTLCOLOR_REFLECT(memberFxn)                                                        \
    { WM_REFLECT_BASE + WM_CTLCOLOR, 0, 0,                                                       \
      [](CWnd* w, WPARAM, LPARAM lp) -> LRESULT {                                                \
          const auto* cc = reinterpret_cast<const AfxCtlColor*>(lp);                             \
          CDC dc(cc->hDC);                                                                       \
          return reinterpret_cast<LRESULT>((AFX_SELF(w)->*(memberFxn))(&dc, cc->nCtlType)); } },
#define ON_WM_HELPINFO()                                                                         \
    { WM_HELP, 0, 0,                                                                             \
      [](CWnd* w, WPARAM, LPARAM lp) -> LRESULT {                                                \
          return AFX_SELF(w)->OnHelpInfo(reinterpret_cast<AfxHelpInfo*>(lp)); } },
// clang-format on

// What WM_HELP carries (HELPINFO); the program looks at none of it.
struct AfxHelpInfo {
    UINT cbSize = sizeof(AfxHelpInfo);
    int iContextType = 0;
    int iCtrlId = 0;
};

// ---------------------------------------------------------------------------------------------

class CWinApp;
CWinApp* AfxGetApp();
IWindowBackend& AfxGetBackend();
// The backend, or nullptr once the application or its backend is gone (for destructors).
IWindowBackend* AfxTryGetBackend();
// Where message boxes and the wait cursor go: the application's m_pFeedback when it has one,
// else the window backend.
IUserFeedback& AfxGetFeedback();

// ---------------------------------------------------------------------------------------------
// Drawing objects. Each owns its handle and deletes it when destroyed.

class CGdiObject {
public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    virtual ~CGdiObject();

    HGDIOBJ m_hObject = nullptr;
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL DeleteObject();
};

class CFont : public CGdiObject {
public:
    BOOL CreateFontIndirect(const AfxLogFont* description);
    // GetObjectW of this font; FALSE without a font.
    BOOL GetLogFont(AfxLogFont* description) const;
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class CBitmap : public CGdiObject {
public:
    BOOL LoadBitmap(UINT resourceId);
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

class CBrush : public CGdiObject {
public:
    BOOL CreatePatternBrush(CBitmap* bitmap);
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

// A device context the caller does not own (as the framework's temporary CDC of a handle).
class CDC {
public:
    CDC() = default;
    explicit CDC(HDC dc) : m_hDC(dc) {}
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    virtual ~CDC() = default;

    HDC m_hDC = nullptr;
    HDC GetSafeHdc() const { return m_hDC; }
    COLORREF SetTextColor(COLORREF color);
    int SetBkMode(int mode);
    // Nothing happens without a brush.
    void FillRect(const AfxRect* rect, CBrush* brush);
};

// BeginPaint for its lifetime, EndPaint when it goes.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC() override;

private:
    HWND m_hWnd;
};

// A message box titled with the application's name; returns its result.
int AfxMessageBox(const CString& text, UINT type = MB_OK, UINT helpContext = 0);

class CWnd : public IWindowEvents {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    ~CWnd() override;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The framework object that owns a window's messages, or nullptr.
    static CWnd* FromHandlePermanent(HWND hwnd);
    // A child window of this one: its own object, or a temporary one owned by this window.
    CWnd* FromChildHandle(HWND hwnd);

    // Attaches this object to a control of parent's window and routes its messages here.
    BOOL SubclassDlgItem(int id, CWnd* parent);
    BOOL SubclassWindow(HWND hwnd);
    virtual void PreSubclassWindow() {}

    // A window of the dialog by id, wrapped in an object owned by this window (like a temporary
    // CWnd of the framework's handle map); nullptr when there is no such control.
    CWnd* GetDlgItem(int id);
    CWnd* GetParent();

    CString GetWindowText() const;
    void SetWindowText(const CString& text);
    void SetDlgItemText(int id, const CString& text);
    CString GetDlgItemText(int id);
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    void SetFocus();
    BOOL IsIconic() const;
    AfxRect GetClientRect() const;
    int GetDlgCtrlID() const;
    HICON SetIcon(HICON icon, BOOL big);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs);
    BOOL KillTimer(UINT_PTR id);
    int MessageBox(const CString& text, const CString& caption, UINT type = MB_OK);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Any thread may post to a window (see IWindowBackend::PostMessage).
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // System menu (GetSystemMenu(FALSE) and AppendMenu).
    BOOL HasSystemMenu() const;
    void AppendSystemMenu(UINT flags, UINT_PTR id, const CString& text);

    // Style (GWL_STYLE), placement, fonts and repainting.
    std::uint32_t GetStyle() const;
    BOOL ModifyStyle(std::uint32_t remove, std::uint32_t add);
    AfxRect GetWindowRect() const;
    void ClientToScreen(AfxRect* rect) const;
    void ClientToScreen(AfxPoint* pt) const;
    void ScreenToClient(AfxRect* rect) const;
    void ScreenToClient(AfxPoint* pt) const;
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    HFONT GetFont() const;
    void SetFont(CFont* font, BOOL redraw = TRUE);
    void Invalidate(BOOL erase = TRUE);
    void InvalidateRect(const AfxRect* rect, BOOL erase = TRUE);

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange*) {}

    virtual BOOL PreTranslateMessage(AfxMsg* msg);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default();
    virtual BOOL DestroyWindow();

    // Default handlers that message-map entries of derived classes may chain to.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    void OnTimer(UINT_PTR id);
    BOOL OnHelpInfo(AfxHelpInfo*) { return FALSE; }
    void OnMouseMove(UINT flags, AfxPoint point);
    BOOL OnSetCursor(CWnd* wnd, UINT hitTest, UINT message);
    // Offers the request to the control it is about (its reflected handler), else the default
    // handling gives the system's colours.
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    // IWindowEvents
    LRESULT OnWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnPreTranslateMessage(AfxMsg* msg) override;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    // Offers a message to the message map chain; TRUE with *result set when an entry took it.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // A child's notification reflected back to it; TRUE when its map handled it.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

private:
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    CurrentMessage m_current{};
    bool m_subclassed = false;
    std::map<int, std::unique_ptr<CWnd>> m_tempChildren;
    std::unique_ptr<CWnd> m_tempParent;
};

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int state);
};

class CStatic : public CWnd {};

// A tooltip window for the tools of one owner window.
class CToolTipCtrl : public CWnd {
public:
    ~CToolTipCtrl() override;
    BOOL Create(CWnd* parent, std::uint32_t style = 0);
    BOOL AddTool(CWnd* wnd, const CString& text, const AfxRect* rect, UINT_PTR toolId);
    void UpdateTipText(const CString& text, CWnd* wnd, UINT_PTR toolId);
    void RelayEvent(AfxMsg* msg);
};

class CListCtrl : public CWnd {
public:
    int InsertItem(int index, const CString& text);
    UINT GetSelectedCount() const;
    int GetNextItem(int start, UINT flags) const;
    CString GetItemText(int index, int subItem) const;
    // Report view.
    int InsertColumn(int column, const CString& heading, int widthPixels);
    BOOL SetItemText(int index, int subItem, const CString& text);
    int GetItemCount() const;
    BOOL DeleteAllItems();
    // Selects and focuses one item; -1 clears the selection.
    void SelectItem(int index);
    void SetSortIndicator(int column, BOOL ascending);
};

// ---------------------------------------------------------------------------------------------

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    virtual int DoModal();
    // Creates the window without a modal loop (a modeless dialog); TRUE on success.
    BOOL Create(CWnd* pParentWnd = nullptr);
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    BOOL PreTranslateMessage(AfxMsg* msg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Whether EndDialog has run since the window was created.
    bool IsEnded() const { return m_bEnded; }
    int GetEndCode() const { return m_nModalResult; }

    DECLARE_MESSAGE_MAP()

private:
    BOOL CreateWindowFromTemplate(CWnd* pParentWnd);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    bool m_bModal = false;
    bool m_bEnded = false;
    int m_nModalResult = 0;
};

// ---------------------------------------------------------------------------------------------

class CWinApp {
public:
    // appName: the application's name, or nullptr to take the executable's name (AfxWinMain).
    explicit CWinApp(const char16_t* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }

    HICON LoadIcon(UINT id) const;

    CString m_strAppName;
    CWnd* m_pMainWnd = nullptr;
    IWindowBackend* m_pBackend = nullptr;
    // A program without a window layer (the console probe) sets where AfxMessageBox and the wait
    // cursor go; null in the window program, whose backend shows them.
    IUserFeedback* m_pFeedback = nullptr;
    const IResourceTable* m_pResources = nullptr; // the program's, handed in at its start
};

// The executable's file name without its extension, from its path ('/' or '\\' separated).
CString AfxAppNameFromPath(const CString& path);

// The framework's start-up: takes the application name from the executable's path when the
// application has none, runs InitInstance and, when it returns FALSE, ExitInstance; returns the
// exit code.
int AfxWinMain(CWinApp& app, IWindowBackend& backend, const CString& exePath);

// Shows the wait cursor for its lifetime, while the thread is blocked in a long call.
class CWaitCursor {
public:
    CWaitCursor() { AfxGetFeedback().BeginWaitCursor(); }
    ~CWaitCursor() { AfxGetFeedback().EndWaitCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// AfxEnableControlContainer: no template of this program hosts an ActiveX control.
inline void AfxEnableControlContainer() {}
