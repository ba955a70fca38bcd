// CWnd: a window's framework object, its message map, and the calls it passes to the window layer.
#include "framework/afxwin.h"

namespace {

CWnd* CWndFromEvents(IWindowEvents* events)
{
    return dynamic_cast<CWnd*>(events);
}

} // namespace

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
    if (IWindowBackend* backend = AfxTryGetBackend(); m_subclassed && m_hWnd != nullptr && backend != nullptr)
        backend->SubclassWindow(m_hWnd, nullptr);
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

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return AfxGetBackend().PostMessage(m_hWnd, message, wParam, lParam);
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
