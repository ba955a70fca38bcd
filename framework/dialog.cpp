// CDialog: a dialog from its template, modal or modeless, with OK and Cancel and the dialog
// manager's keyboard handling.
#include "framework/afxwin.h"

#include "framework/dialog_template.h"

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
