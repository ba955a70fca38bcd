// The dialog framework: application, windows, dialogs, controls, message maps and data exchange.
// Portable: everything a toolkit does goes through IWindowBackend.
#pragma once

#include <map>
#include <memory>

#include "framework/afx_types.h"
#include "framework/cstring.h"
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

#define AFX_SELF(w) static_cast<ThisClass*>(w)

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
#define ON_WM_HELPINFO()                                                                         \
    { WM_HELP, 0, 0,                                                                             \
      [](CWnd* w, WPARAM, LPARAM lp) -> LRESULT {                                                \
          return AFX_SELF(w)->OnHelpInfo(reinterpret_cast<AfxHelpInfo*>(lp)); } },

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

    // Attaches this object to a control of parent's window and routes its messages here.
    BOOL SubclassDlgItem(int id, CWnd* parent);
    HWND UnsubclassWindow();
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

    // System menu (GetSystemMenu(FALSE) and AppendMenu).
    BOOL HasSystemMenu() const;
    void AppendSystemMenu(UINT flags, UINT_PTR id, const CString& text);

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

class CStatic : public CWnd {
};

class CListCtrl : public CWnd {
public:
    int InsertItem(int index, const CString& text);
    UINT GetSelectedCount() const;
    int GetNextItem(int start, UINT flags) const;
    CString GetItemText(int index, int subItem) const;
};

// ---------------------------------------------------------------------------------------------
// Data exchange

class CDataExchange {
public:
    CDataExchange(CWnd* dlg, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(dlg) {}

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    // Set by the first entry that cannot be read; every later entry then does nothing, so the
    // exchange stops there without throwing.
    bool m_bFailed = false;

    HWND PrepareCtrl(int id);
    void Fail(HWND ctrl);
};

void DDX_Text(CDataExchange* pDX, int id, CString& value);
void DDX_Text(CDataExchange* pDX, int id, double& value);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

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

    UINT GetTemplateId() const { return m_nIDTemplate; }
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

    void SetRegistryKey(const char16_t* key) { m_strRegistryKey = key; }
    HICON LoadIcon(UINT id) const;

    CString m_strAppName;
    CString m_strRegistryKey;
    CWnd* m_pMainWnd = nullptr;
    IWindowBackend* m_pBackend = nullptr;
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
    CWaitCursor() { AfxGetBackend().BeginWaitCursor(); }
    ~CWaitCursor() { AfxGetBackend().EndWaitCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// AfxEnableControlContainer: no template of this program hosts an ActiveX control.
inline void AfxEnableControlContainer() {}
