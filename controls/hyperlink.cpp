#include "controls/hyperlink.h"

#include "controls/hyperlink_rules.h"

namespace {

constexpr int kInvalidateBelowPx = 10; // the hover repaint reaches below the client area

} // namespace

BEGIN_MESSAGE_MAP(CHyperLink, CStatic)
    ON_WM_CTLCOLOR_REFLECT(&CHyperLink::CtlColor)
    ON_WM_SETCURSOR()
    ON_WM_MOUSEMOVE()
    ON_WM_TIMER()
    ON_CONTROL_REFLECT(STN_CLICKED, &CHyperLink::OnLinkClicked)
END_MESSAGE_MAP()

CHyperLink::CHyperLink(IShellService& shell) : m_shell(shell), m_opener(shell) {}

CHyperLink::~CHyperLink()
{
    m_fontUnderlined.DeleteObject();
    if (m_hHandCursor != nullptr) {
        m_shell.DestroyCursor(m_hHandCursor);
        m_hHandCursor = nullptr;
    }
}

COLORREF CHyperLink::GetTextColor() const
{
    return LinkTextColor(m_bHover, m_bLinkVisited, m_clrLink, m_clrVisited, m_clrHover);
}

void CHyperLink::SetLinkUrl(CString url)
{
    m_strLinkUrl = std::move(url);
    if (m_hWnd != nullptr) {
        FitToText();
        m_tipCtrl.UpdateTipText(m_strLinkUrl, this, kToolId);
    }
}

void CHyperLink::SetLinkVisited(BOOL visited)
{
    m_bLinkVisited = visited;
    if (m_hWnd != nullptr)
        Invalidate(TRUE);
}

void CHyperLink::SetUnderlineMode(int mode)
{
    if (mode == m_nUnderlineMode)
        return;
    if (m_hWnd != nullptr) {
        SetFont(mode == 1 ? &m_fontUnderlined : &m_fontPlain, TRUE);
        Invalidate(TRUE);
    }
    m_nUnderlineMode = mode;
}

void CHyperLink::PreSubclassWindow()
{
    IWindowBackend& backend = AfxGetBackend();
    // SS_NOTIFY: the static tells its parent of clicks.
    backend.SetWindowStyle(m_hWnd, GetStyle() | SS_NOTIFY);
    // A screen reader would read it as plain text; a link's action is the click below.
    backend.SetAccessibleLink(m_hWnd);

    if (m_strLinkUrl.IsEmpty())
        m_strLinkUrl = GetWindowText();
    if (GetWindowText().IsEmpty())
        SetWindowText(m_strLinkUrl);

    HFONT font = GetFont();
    if (font == nullptr)
        font = static_cast<HFONT>(backend.GetStockObject(DEFAULT_GUI_FONT));
    if (font == nullptr)
        font = static_cast<HFONT>(backend.GetStockObject(ANSI_VAR_FONT));
    AfxLogFont lf;
    if (font != nullptr)
        backend.GetFontDescription(font, &lf);
    m_fontPlain.CreateFontIndirect(&lf);
    lf.lfUnderline = 1;
    m_fontUnderlined.CreateFontIndirect(&lf);

    FitToText();
    LoadHandCursor();
    SetUnderlineMode(-1);

    const AfxRect client = GetClientRect();
    m_tipCtrl.Create(this, 0);
    m_tipCtrl.AddTool(this, m_strLinkUrl, &client, kToolId);

    CStatic::PreSubclassWindow();
}

BOOL CHyperLink::DestroyWindow()
{
    KillTimer(m_nHoverTimerId);
    return CStatic::DestroyWindow();
}

BOOL CHyperLink::PreTranslateMessage(AfxMsg* msg)
{
    m_tipCtrl.RelayEvent(msg);
    return CStatic::PreTranslateMessage(msg);
}

void CHyperLink::FitToText()
{
    if (m_hWnd == nullptr || !m_bFitToText)
        return;
    AfxRect window = GetWindowRect();
    AfxRect client = GetClientRect();
    ClientToScreen(&client);
    if (CWnd* parent = GetParent()) {
        parent->ScreenToClient(&window);
        parent->ScreenToClient(&client);
    }
    // Measured with the underlined font whatever the mode, so that underlining never needs more room.
    const AfxSize extent = AfxGetBackend().GetTextExtent(m_hWnd, m_fontUnderlined, GetWindowText());
    const AfxRect fitted = FitRectToText(window, client, extent, GetStyle());
    SetWindowPos(nullptr, fitted.left, fitted.top, fitted.Width(), fitted.Height(), SWP_NOZORDER);
}

void CHyperLink::LoadHandCursor()
{
    if (m_hHandCursor != nullptr)
        return;
    m_hHandCursor = m_shell.LoadHandCursor();
}

HBRUSH CHyperLink::CtlColor(CDC* dc, UINT ctlColor)
{
    if (ctlColor == CTLCOLOR_STATIC)
        dc->SetTextColor(GetTextColor());
    dc->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(AfxGetBackend().GetStockObject(NULL_BRUSH));
}

BOOL CHyperLink::OnSetCursor(CWnd*, UINT, UINT)
{
    if (m_hHandCursor == nullptr)
        return FALSE;
    AfxGetBackend().SetCursor(m_hHandCursor);
    return TRUE;
}

void CHyperLink::OnMouseMove(UINT flags, AfxPoint point)
{
    if (!m_bHover) {
        m_bHover = TRUE;
        if (m_nUnderlineMode == -1)
            SetFont(&m_fontUnderlined, TRUE);
        Invalidate(TRUE);
        SetTimer(m_nHoverTimerId, kHoverPeriodMs);
    }
    CStatic::OnMouseMove(flags, point);
}

void CHyperLink::OnTimer(UINT_PTR id)
{
    const std::uint32_t pos = AfxGetBackend().GetMessagePos();
    AfxPoint pt{ static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos)) };
    ScreenToClient(&pt);
    AfxRect client = GetClientRect();
    const bool inside = pt.x >= client.left && pt.x < client.right && pt.y >= client.top && pt.y < client.bottom;
    if (!inside) {
        m_bHover = FALSE;
        KillTimer(m_nHoverTimerId);
        if (m_nUnderlineMode != 1)
            SetFont(&m_fontPlain, TRUE);
        client.bottom += kInvalidateBelowPx;
        InvalidateRect(&client, TRUE);
    }
    CStatic::OnTimer(id);
}

void CHyperLink::OnLinkClicked()
{
    // The hover timer keeps running; its next tick outside ends the hovering.
    m_bHover = FALSE;
    const int result = m_opener.OpenUrl(m_strLinkUrl, SW_SHOW);
    m_bLinkVisited = result > LinkOpener::kShellSuccessAbove ? TRUE : FALSE;
    if (m_bLinkVisited) {
        SetLinkVisited(TRUE);
    } else {
        m_shell.MessageBeep(MB_ICONEXCLAMATION);
        ShowOpenError(result);
    }
}

void CHyperLink::ShowOpenError(int code)
{
    AfxMessageBox(OpenErrorMessage(code), MB_ICONEXCLAMATION, 0);
}
