#include "framework/afxwin.h"

#include <cstdio>
#include <cstdlib>

#include "framework/data_exchange.h"
#include "framework/dialog_template.h"

namespace {

CWinApp* g_pApp = nullptr; // the one application object, as the framework's AfxGetApp knows it

constexpr UINT kIconMask = 0xF0;
constexpr UINT kTypeMask = 0x0F;

CWnd* CWndFromEvents(IWindowEvents* events)
{
    return dynamic_cast<CWnd*>(events);
}

} // namespace

CWinApp* AfxGetApp()
{
    return g_pApp;
}

IWindowBackend& AfxGetBackend()
{
    if (g_pApp == nullptr || g_pApp->m_pBackend == nullptr) {
        std::fputs("zeltor: no window backend\n", stderr);
        std::abort();
    }
    return *g_pApp->m_pBackend;
}

IWindowBackend* AfxTryGetBackend()
{
    return g_pApp != nullptr ? g_pApp->m_pBackend : nullptr;
}

IUserFeedback& AfxGetFeedback()
{
    if (g_pApp != nullptr && g_pApp->m_pFeedback != nullptr)
        return *g_pApp->m_pFeedback;
    return AfxGetBackend();
}

const DialogTemplate* AfxFindDialogTemplate(UINT id)
{
    return g_pApp != nullptr && g_pApp->m_pResources != nullptr ? g_pApp->m_pResources->FindDialogTemplate(id) : nullptr;
}

const char16_t* AfxFindStringResource(UINT id)
{
    return g_pApp != nullptr && g_pApp->m_pResources != nullptr ? g_pApp->m_pResources->FindString(id) : nullptr;
}

std::span<const unsigned char> AfxFindImageResource(UINT id)
{
    if (g_pApp == nullptr || g_pApp->m_pResources == nullptr)
        return {};
    return g_pApp->m_pResources->FindImage(id);
}

int AfxMessageBox(const CString& text, UINT type, UINT /*helpContext*/)
{
    // As the framework does: an OK box without an icon gets the exclamation icon.
    if ((type & kIconMask) == 0 && (type & kTypeMask) == MB_OK)
        type |= MB_ICONEXCLAMATION;
    return AfxGetFeedback().MessageBox(nullptr, text, AfxGetApp()->m_strAppName, type);
}

// ---------------------------------------------------------------------------------------------
// CWnd

const AFX_MSGMAP* CWnd::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, 0, nullptr } };
    static const AFX_MSGMAP map = { nullptr, &entries[0] };
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const
{
    return GetThisMessageMap();
}

CWnd::~CWnd()
{
    if (m_subclassed && m_hWnd != nullptr && g_pApp != nullptr && g_pApp->m_pBackend != nullptr)
        g_pApp->m_pBackend->SubclassWindow(m_hWnd, nullptr);
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd)
{
    IWindowBackend* backend = AfxTryGetBackend();
    if (hwnd == nullptr || backend == nullptr)
        return nullptr;
    return CWndFromEvents(backend->GetWindowEvents(hwnd));
}

CWnd* CWnd::FromChildHandle(HWND hwnd)
{
    if (hwnd == nullptr)
        return nullptr;
    if (CWnd* permanent = FromHandlePermanent(hwnd))
        return permanent;
    auto& temp = m_tempChildren[AfxGetBackend().GetDlgCtrlID(hwnd)];
    if (!temp)
        temp = std::make_unique<CWnd>();
    temp->m_hWnd = hwnd;
    return temp.get();
}

BOOL CWnd::SubclassDlgItem(int id, CWnd* parent)
{
    HWND control = AfxGetBackend().GetDlgItem(parent->m_hWnd, id);
    if (control == nullptr)
        return FALSE;
    return SubclassWindow(control);
}

BOOL CWnd::SubclassWindow(HWND hwnd)
{
    if (hwnd == nullptr)
        return FALSE;
    m_hWnd = hwnd;
    PreSubclassWindow();
    AfxGetBackend().SubclassWindow(hwnd, this);
    m_subclassed = true;
    return TRUE;
}

HWND CWnd::UnsubclassWindow()
{
    HWND h = m_hWnd;
    if (m_subclassed && h != nullptr)
        AfxGetBackend().SubclassWindow(h, nullptr);
    m_subclassed = false;
    m_hWnd = nullptr;
    return h;
}

CWnd* CWnd::GetDlgItem(int id)
{
    HWND h = AfxGetBackend().GetDlgItem(m_hWnd, id);
    if (h == nullptr)
        return nullptr;
    if (CWnd* permanent = CWndFromEvents(AfxGetBackend().GetWindowEvents(h)))
        return permanent;
    auto& temp = m_tempChildren[id];
    if (!temp)
        temp = std::make_unique<CWnd>();
    temp->m_hWnd = h;
    return temp.get();
}

CWnd* CWnd::GetParent()
{
    HWND p = AfxGetBackend().GetParent(m_hWnd);
    if (p == nullptr)
        return nullptr;
    if (CWnd* permanent = CWndFromEvents(AfxGetBackend().GetWindowEvents(p)))
        return permanent;
    if (!m_tempParent)
        m_tempParent = std::make_unique<CWnd>();
    m_tempParent->m_hWnd = p;
    return m_tempParent.get();
}

CString CWnd::GetWindowText() const
{
    return AfxGetBackend().GetWindowText(m_hWnd);
}

void CWnd::SetWindowText(const CString& text)
{
    AfxGetBackend().SetWindowText(m_hWnd, text);
}

void CWnd::SetDlgItemText(int id, const CString& text)
{
    if (HWND h = AfxGetBackend().GetDlgItem(m_hWnd, id))
        AfxGetBackend().SetWindowText(h, text);
}

CString CWnd::GetDlgItemText(int id)
{
    HWND h = AfxGetBackend().GetDlgItem(m_hWnd, id);
    return h != nullptr ? AfxGetBackend().GetWindowText(h) : CString();
}

BOOL CWnd::EnableWindow(BOOL enable)
{
    const BOOL wasDisabled = !AfxGetBackend().IsWindowEnabled(m_hWnd);
    AfxGetBackend().EnableWindow(m_hWnd, enable);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const
{
    return AfxGetBackend().IsWindowEnabled(m_hWnd);
}

void CWnd::SetFocus()
{
    AfxGetBackend().SetFocus(m_hWnd);
}

BOOL CWnd::IsIconic() const
{
    return AfxGetBackend().IsIconic(m_hWnd);
}

AfxRect CWnd::GetClientRect() const
{
    return AfxGetBackend().GetClientRect(m_hWnd);
}

int CWnd::GetDlgCtrlID() const
{
    return AfxGetBackend().GetDlgCtrlID(m_hWnd);
}

HICON CWnd::SetIcon(HICON icon, BOOL big)
{
    AfxGetBackend().SetIcon(m_hWnd, icon, big);
    return nullptr;
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs)
{
    return AfxGetBackend().SetTimer(m_hWnd, id, elapseMs);
}

BOOL CWnd::KillTimer(UINT_PTR id)
{
    return AfxGetBackend().KillTimer(m_hWnd, id);
}

int CWnd::MessageBox(const CString& text, const CString& caption, UINT type)
{
    return AfxGetBackend().MessageBox(m_hWnd, text, caption, type);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return AfxGetBackend().SendMessage(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::HasSystemMenu() const
{
    return AfxGetBackend().HasSystemMenu(m_hWnd);
}

void CWnd::AppendSystemMenu(UINT flags, UINT_PTR id, const CString& text)
{
    AfxGetBackend().AppendSystemMenu(m_hWnd, flags, id, text);
}

std::uint32_t CWnd::GetStyle() const
{
    return AfxGetBackend().GetWindowStyle(m_hWnd);
}

BOOL CWnd::ModifyStyle(std::uint32_t remove, std::uint32_t add)
{
    const std::uint32_t style = GetStyle();
    const std::uint32_t changed = (style & ~remove) | add;
    if (changed == style)
        return FALSE;
    AfxGetBackend().SetWindowStyle(m_hWnd, changed);
    return TRUE;
}

AfxRect CWnd::GetWindowRect() const
{
    return AfxGetBackend().GetWindowRect(m_hWnd);
}

void CWnd::ClientToScreen(AfxPoint* pt) const
{
    *pt = AfxGetBackend().ClientToScreen(m_hWnd, *pt);
}

void CWnd::ClientToScreen(AfxRect* rect) const
{
    AfxPoint tl{ rect->left, rect->top };
    AfxPoint br{ rect->right, rect->bottom };
    ClientToScreen(&tl);
    ClientToScreen(&br);
    *rect = { tl.x, tl.y, br.x, br.y };
}

void CWnd::ScreenToClient(AfxPoint* pt) const
{
    *pt = AfxGetBackend().ScreenToClient(m_hWnd, *pt);
}

void CWnd::ScreenToClient(AfxRect* rect) const
{
    AfxPoint tl{ rect->left, rect->top };
    AfxPoint br{ rect->right, rect->bottom };
    ScreenToClient(&tl);
    ScreenToClient(&br);
    *rect = { tl.x, tl.y, br.x, br.y };
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    return AfxGetBackend().SetWindowPos(m_hWnd, insertAfter != nullptr ? insertAfter->m_hWnd : nullptr, x, y, cx, cy,
                                        flags);
}

HFONT CWnd::GetFont() const
{
    return AfxGetBackend().GetWindowFont(m_hWnd);
}

void CWnd::SetFont(CFont* font, BOOL redraw)
{
    AfxGetBackend().SetWindowFont(m_hWnd, font != nullptr ? static_cast<HFONT>(*font) : nullptr, redraw);
}

void CWnd::Invalidate(BOOL erase)
{
    AfxGetBackend().InvalidateRect(m_hWnd, nullptr, erase);
}

void CWnd::InvalidateRect(const AfxRect* rect, BOOL erase)
{
    AfxGetBackend().InvalidateRect(m_hWnd, rect, erase);
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return dx.m_bFailed ? FALSE : TRUE;
}

BOOL CWnd::PreTranslateMessage(AfxMsg*)
{
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (OnWndMsg(message, wParam, lParam, &result))
        return result;
    return AfxGetBackend().DefWindowProc(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    return AfxGetBackend().DefWindowProc(m_hWnd, m_current.message, m_current.wParam, m_current.lParam);
}

BOOL CWnd::DestroyWindow()
{
    if (m_hWnd == nullptr)
        return FALSE;
    AfxGetBackend().DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    m_subclassed = false;
    return TRUE;
}

void CWnd::OnSysCommand(UINT, LPARAM)
{
    Default();
}

void CWnd::OnPaint()
{
    Default();
}

void CWnd::OnTimer(UINT_PTR)
{
    Default();
}

void CWnd::OnMouseMove(UINT, AfxPoint)
{
    Default();
}

BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT)
{
    return static_cast<BOOL>(Default());
}

HBRUSH CWnd::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor)
{
    if (wnd != nullptr && wnd != this && FromHandlePermanent(wnd->m_hWnd) == wnd) {
        AfxCtlColor cc{ dc->m_hDC, wnd->m_hWnd, ctlColor };
        LRESULT brush = 0;
        if (wnd->OnChildNotify(WM_CTLCOLOR, 0, reinterpret_cast<LPARAM>(&cc), &brush) && brush != 0)
            return reinterpret_cast<HBRUSH>(brush);
    }
    return reinterpret_cast<HBRUSH>(Default());
}

LRESULT CWnd::OnWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_hWnd == nullptr)
        m_hWnd = hwnd;
    const CurrentMessage saved = m_current;
    m_current = { message, wParam, lParam };
    const LRESULT result = WindowProc(message, wParam, lParam);
    m_current = saved;
    if (message == WM_DESTROY) {
        // The window is going: detach this object and the temporary wrappers from it.
        m_hWnd = nullptr;
        m_subclassed = false;
        m_tempChildren.clear();
        m_tempParent.reset();
    }
    return result;
}

BOOL CWnd::OnPreTranslateMessage(AfxMsg* msg)
{
    return PreTranslateMessage(msg);
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    return OnWndMsg(WM_REFLECT_BASE + message, wParam, lParam, result);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    // A control's notification goes first to the control itself, if a framework object owns it.
    if (message == WM_COMMAND && lParam != 0) {
        HWND control = reinterpret_cast<HWND>(lParam);
        CWnd* child = CWndFromEvents(AfxGetBackend().GetWindowEvents(control));
        if (child != nullptr && child != this && child->OnChildNotify(message, wParam, lParam, result))
            return TRUE;
    }

    // The control-colour requests go to the map as WM_CTLCOLOR; without an entry, the default
    // handling still offers them to the control.
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        AfxCtlColor cc{ reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), message - WM_CTLCOLORMSGBOX };
        if (!OnWndMsg(WM_CTLCOLOR, 0, reinterpret_cast<LPARAM>(&cc), result)) {
            CDC dc(cc.hDC);
            *result = reinterpret_cast<LRESULT>(CWnd::OnCtlColor(&dc, FromChildHandle(cc.hWnd), cc.nCtlType));
        }
        return TRUE;
    }

    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->handler != nullptr; ++e) {
            if (e->message != message)
                continue;
            if (message == WM_COMMAND) {
                if (e->code != HIWORD(wParam) || e->id != LOWORD(wParam))
                    continue;
            } else if (message == WM_REFLECT_BASE + WM_COMMAND) {
                if (e->code != HIWORD(wParam))
                    continue;
            } else if (message == WM_NOTIFY) {
                const auto* hdr = reinterpret_cast<const AfxNotifyHeader*>(lParam);
                if (hdr == nullptr || e->code != hdr->code || e->id != hdr->idFrom)
                    continue;
            }
            *result = e->handler(this, wParam, lParam);
            return TRUE;
        }
    }
    return FALSE;
}

// ---------------------------------------------------------------------------------------------
// Drawing objects

CGdiObject::~CGdiObject()
{
    DeleteObject();
}

BOOL CGdiObject::DeleteObject()
{
    if (m_hObject == nullptr)
        return FALSE;
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    IWindowBackend* backend = AfxTryGetBackend();
    return backend != nullptr ? backend->DeleteObject(h) : FALSE;
}

BOOL CFont::CreateFontIndirect(const AfxLogFont* description)
{
    DeleteObject();
    m_hObject = AfxGetBackend().CreateFontIndirect(*description);
    return m_hObject != nullptr;
}

BOOL CFont::GetLogFont(AfxLogFont* description) const
{
    if (m_hObject == nullptr)
        return FALSE;
    return AfxGetBackend().GetFontDescription(static_cast<HFONT>(m_hObject), description);
}

BOOL CBitmap::LoadBitmap(UINT resourceId)
{
    DeleteObject();
    m_hObject = AfxGetBackend().LoadBitmap(resourceId);
    return m_hObject != nullptr;
}

BOOL CBrush::CreatePatternBrush(CBitmap* bitmap)
{
    DeleteObject();
    if (bitmap == nullptr || bitmap->m_hObject == nullptr)
        return FALSE;
    m_hObject = AfxGetBackend().CreatePatternBrush(static_cast<HBITMAP>(*bitmap));
    return m_hObject != nullptr;
}

COLORREF CDC::SetTextColor(COLORREF color)
{
    return AfxGetBackend().SetTextColor(m_hDC, color);
}

int CDC::SetBkMode(int mode)
{
    return AfxGetBackend().SetBkMode(m_hDC, mode);
}

void CDC::FillRect(const AfxRect* rect, CBrush* brush)
{
    if (brush == nullptr || brush->m_hObject == nullptr || m_hDC == nullptr)
        return;
    AfxGetBackend().FillRect(m_hDC, *rect, static_cast<HBRUSH>(*brush));
}

CPaintDC::CPaintDC(CWnd* wnd) : CDC(AfxGetBackend().BeginPaint(wnd->m_hWnd)), m_hWnd(wnd->m_hWnd) {}

CPaintDC::~CPaintDC()
{
    if (IWindowBackend* backend = AfxTryGetBackend())
        backend->EndPaint(m_hWnd, m_hDC);
}

// ---------------------------------------------------------------------------------------------
// Controls

int CButton::GetCheck() const
{
    return AfxGetBackend().GetCheck(m_hWnd);
}

void CButton::SetCheck(int state)
{
    AfxGetBackend().SetCheck(m_hWnd, state);
}

CToolTipCtrl::~CToolTipCtrl()
{
    if (m_hWnd != nullptr && AfxTryGetBackend() != nullptr)
        DestroyWindow();
}

BOOL CToolTipCtrl::Create(CWnd* parent, std::uint32_t style)
{
    HWND h = AfxGetBackend().CreateToolTip(parent != nullptr ? parent->m_hWnd : nullptr, style);
    // Its messages come here, so that the object lets go of the window when it is destroyed
    // with its parent.
    return SubclassWindow(h);
}

BOOL CToolTipCtrl::AddTool(CWnd* wnd, const CString& text, const AfxRect* rect, UINT_PTR toolId)
{
    if (m_hWnd == nullptr || wnd == nullptr)
        return FALSE;
    return AfxGetBackend().AddTool(m_hWnd, wnd->m_hWnd, toolId, text, rect != nullptr ? *rect : AfxRect{});
}

void CToolTipCtrl::UpdateTipText(const CString& text, CWnd* wnd, UINT_PTR toolId)
{
    if (m_hWnd != nullptr && wnd != nullptr)
        AfxGetBackend().UpdateTipText(m_hWnd, wnd->m_hWnd, toolId, text);
}

void CToolTipCtrl::RelayEvent(AfxMsg* msg)
{
    if (m_hWnd != nullptr && msg != nullptr)
        AfxGetBackend().RelayToolTipEvent(m_hWnd, *msg);
}

int CListCtrl::InsertItem(int index, const CString& text)
{
    return AfxGetBackend().InsertListItem(m_hWnd, index, text);
}

UINT CListCtrl::GetSelectedCount() const
{
    return static_cast<UINT>(AfxGetBackend().GetListSelectedCount(m_hWnd));
}

int CListCtrl::GetNextItem(int start, UINT flags) const
{
    return AfxGetBackend().GetListNextItem(m_hWnd, start, flags);
}

CString CListCtrl::GetItemText(int index, int /*subItem*/) const
{
    if (index < 0)
        return CString();
    return AfxGetBackend().GetListItemText(m_hWnd, index);
}

// ---------------------------------------------------------------------------------------------
// Data exchange

HWND CDataExchange::PrepareCtrl(int id)
{
    HWND h = AfxGetBackend().GetDlgItem(m_pDlgWnd->m_hWnd, id);
    if (h == nullptr)
        m_bFailed = true; // a template without the control: nothing can be exchanged
    return h;
}

void CDataExchange::Fail(HWND ctrl)
{
    m_bFailed = true;
    if (ctrl != nullptr)
        AfxGetBackend().SetFocus(ctrl);
}

namespace {

// Writes text to a field only when it differs from what the field shows, so that unchanged
// values do not flicker.
void SetFieldText(HWND ctrl, const CString& text)
{
    IWindowBackend& backend = AfxGetBackend();
    if (backend.GetWindowText(ctrl) != text)
        backend.SetWindowText(ctrl, text);
}

} // namespace

void DDX_Text(CDataExchange* pDX, int id, CString& value)
{
    if (pDX->m_bFailed)
        return;
    HWND ctrl = pDX->PrepareCtrl(id);
    if (ctrl == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        value = AfxGetBackend().GetWindowText(ctrl);
    else
        SetFieldText(ctrl, value);
}

namespace {

// A number's field: shown in its text form, read back by its parser; a field that cannot be read
// shows message and stops the exchange there.
template <typename T>
void ExchangeNumber(CDataExchange* pDX, int id, T& value, CString (*format)(T), bool (*parse)(const CString&, T&),
                    const char16_t* message)
{
    if (pDX->m_bFailed)
        return;
    HWND ctrl = pDX->PrepareCtrl(id);
    if (ctrl == nullptr)
        return;
    if (!pDX->m_bSaveAndValidate) {
        SetFieldText(ctrl, format(value));
    } else if (!parse(AfxGetBackend().GetWindowText(ctrl), value)) {
        AfxMessageBox(message);
        pDX->Fail(ctrl);
    }
}

} // namespace

void DDX_Text(CDataExchange* pDX, int id, double& value)
{
    ExchangeNumber(pDX, id, value, &AfxFormatDouble, &AfxParseDouble, u"Enter a number.");
}

void DDX_Text(CDataExchange* pDX, int id, int& value)
{
    ExchangeNumber(pDX, id, value, &AfxFormatInt, &AfxParseInt, u"Enter an integer.");
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (pDX->m_bFailed || control.m_hWnd != nullptr)
        return;
    if (!control.SubclassDlgItem(id, pDX->m_pDlgWnd))
        pDX->m_bFailed = true;
}

// ---------------------------------------------------------------------------------------------
// CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

BOOL CDialog::CreateWindowFromTemplate(CWnd* pParentWnd)
{
    const DialogTemplate* tpl = AfxFindDialogTemplate(m_nIDTemplate);
    if (tpl == nullptr)
        return FALSE;
    HWND parent = nullptr;
    if (pParentWnd != nullptr)
        parent = pParentWnd->m_hWnd;
    else if (CWnd* main = AfxGetApp()->m_pMainWnd; main != nullptr && main != this)
        parent = main->m_hWnd; // a dialog without a parent is owned by the main window
    m_bEnded = false;
    HWND h = AfxGetBackend().CreateDialogWindow(*tpl, parent, this);
    if (h == nullptr)
        return FALSE;
    m_hWnd = h;
    return TRUE;
}

int CDialog::DoModal()
{
    if (!CreateWindowFromTemplate(m_pParentWnd))
        return -1;
    m_bModal = true;
    // A dialog ended during its initialisation (a failed first exchange) never shows.
    const int result = m_bEnded ? m_nModalResult : AfxGetBackend().RunModalLoop(m_hWnd);
    m_bModal = false;
    DestroyWindow();
    return result;
}

BOOL CDialog::Create(CWnd* pParentWnd)
{
    return CreateWindowFromTemplate(pParentWnd != nullptr ? pParentWnd : m_pParentWnd);
}

void CDialog::EndDialog(int result)
{
    m_nModalResult = result;
    m_bEnded = true;
    if (m_bModal && m_hWnd != nullptr)
        AfxGetBackend().EndModalLoop(m_hWnd, result);
}

BOOL CDialog::OnInitDialog()
{
    if (!UpdateData(FALSE)) {
        EndDialog(-1);
        return FALSE;
    }
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::PreTranslateMessage(AfxMsg* msg)
{
    // The dialog manager's keyboard handling, for keys pressed in the dialog or its controls.
    if (msg->message >= WM_KEYDOWN && msg->message <= 0x0109 /* WM_KEYLAST */)
        return AfxGetBackend().IsDialogMessage(m_hWnd, msg);
    return FALSE;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    return CWnd::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------------
// CWinApp

CWinApp::CWinApp(const char16_t* appName)
{
    if (appName != nullptr)
        m_strAppName = appName;
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

HICON CWinApp::LoadIcon(UINT id) const
{
    return m_pBackend != nullptr ? m_pBackend->LoadIcon(id) : nullptr;
}

CString AfxAppNameFromPath(const CString& path)
{
    const size_t slash = path.find_last_of(u"/\\");
    CString name = slash == CString::npos ? path : CString(path.substr(slash + 1));
    const size_t dot = name.find_last_of(u'.');
    if (dot != CString::npos && dot > 0)
        name.resize(dot);
    return name;
}

int AfxWinMain(CWinApp& app, IWindowBackend& backend, const CString& exePath)
{
    app.m_pBackend = &backend;
    if (app.m_strAppName.IsEmpty())
        app.m_strAppName = AfxAppNameFromPath(exePath);
    // The program's InitInstance runs its whole life inside a modal dialog and returns FALSE, so
    // there is no message loop of the application's own.
    app.InitInstance();
    return app.ExitInstance();
}
