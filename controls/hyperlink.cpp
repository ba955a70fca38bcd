#include "controls/hyperlink.h"

#include <algorithm>
#include <climits>

#include "controls/hyperlink_rules.h"

namespace {

constexpr size_t kCommandBufferChars = 520; // twice MAX_PATH, the terminator included
constexpr size_t kValueBufferChars = 260;   // MAX_PATH, the terminator included
constexpr int kShellSuccessAbove = 32;       // ShellExecute: greater than 32 is success
constexpr int kOutOfMemory = 8;              // SE_ERR_OOM
constexpr int kOutOfResources = 0;
constexpr int kInvalidateBelowPx = 10;       // the hover repaint reaches below the client area

} // namespace

BEGIN_MESSAGE_MAP(CHyperLink, CStatic)
    ON_WM_CTLCOLOR_REFLECT(&CHyperLink::CtlColor)
    ON_WM_SETCURSOR()
    ON_WM_MOUSEMOVE()
    ON_WM_TIMER()
    ON_CONTROL_REFLECT(STN_CLICKED, &CHyperLink::OnLinkClicked)
END_MESSAGE_MAP()

CHyperLink::CHyperLink(IShellService& shell) : m_shell(shell) {}

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
    const int result = OpenUrl(m_strLinkUrl, SW_SHOW);
    m_bLinkVisited = result > kShellSuccessAbove ? TRUE : FALSE;
    if (m_bLinkVisited) {
        SetLinkVisited(TRUE);
    } else {
        m_shell.MessageBeep(MB_ICONEXCLAMATION);
        ShowOpenError(result);
    }
}

int CHyperLink::OpenUrl(const CString& url, int showCommand)
{
    const std::intptr_t shellResult = m_shell.ShellOpen(url, showCommand);
    const int result = static_cast<int>(std::clamp<std::intptr_t>(shellResult, INT_MIN, INT_MAX));
    if (result > kShellSuccessAbove)
        return result;

    // The registered handler of web documents: its class, then the class's open command.
    CString className;
    if (ReadKeyDefaultValue(HKEY_CLASSES_ROOT, u".htm", className) != ERROR_SUCCESS)
        return result;
    CString commandTemplate;
    if (ReadKeyDefaultValue(HKEY_CLASSES_ROOT, className + u"\\shell\\open\\command", commandTemplate) != ERROR_SUCCESS)
        return result;

    const CString command = ComposeHandlerCommand(commandTemplate, url);
    // The command buffer holds 519 characters and the terminator; a longer command is not run.
    if (command.size() >= kCommandBufferChars)
        return kOutOfMemory;
    std::string narrow;
    if (!m_shell.ToAnsiCodePage(command, &narrow))
        return kOutOfResources;
    return static_cast<int>(m_shell.WinExec(narrow, showCommand));
}

std::int32_t CHyperLink::ReadKeyDefaultValue(HKEY root, const CString& subKey, CString& value)
{
    HKEY key = nullptr;
    std::int32_t error = m_shell.RegOpenKey(root, subKey, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS)
        return error;
    char16_t data[kValueBufferChars] = {};
    std::int32_t bytes = static_cast<std::int32_t>(sizeof(data));
    error = m_shell.RegQueryDefaultValue(key, data, &bytes);
    if (error == ERROR_SUCCESS) {
        // The value must end inside the buffer; one that does not is unreadable.
        const char16_t* end = std::find(data, data + kValueBufferChars, u'\0');
        if (end == data + kValueBufferChars)
            error = ERROR_MORE_DATA;
        else
            value.assign(data, static_cast<size_t>(end - data));
    }
    m_shell.RegCloseKey(key);
    return error;
}

void CHyperLink::ShowOpenError(int code)
{
    AfxMessageBox(OpenErrorMessage(code), MB_ICONEXCLAMATION, 0);
}
