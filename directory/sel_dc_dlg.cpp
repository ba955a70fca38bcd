#include "directory/sel_dc_dlg.h"

#include "app/zeltor_dlg.h"
#include "directory/discovery.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(CSelDCdlg, CDialog)
    ON_BN_CLICKED(IDOK, &CSelDCdlg::OnBnClickedOk)
    ON_NOTIFY(LVN_ITEMCHANGED, IDC_DCLIST, &CSelDCdlg::OnLvnItemchangedDCList)
END_MESSAGE_MAP()

CSelDCdlg::CSelDCdlg(CWnd* pParent) : CDialog(IDD_SELDC, pParent) {}

CSelDCdlg::~CSelDCdlg() = default;

void CSelDCdlg::SetDCList(const CStringArray& names)
{
    m_arrDCList = names;
}

void CSelDCdlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_DCLIST, m_lstDCs);
}

BOOL CSelDCdlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    for (int i = 0; i < m_arrDCList.GetSize(); ++i)
        m_lstDCs.InsertItem(i, m_arrDCList.GetAt(i));
    // Nothing is selected, so OK stays disabled.
    return TRUE;
}

void CSelDCdlg::OnLvnItemchangedDCList(AfxNotifyHeader*, LRESULT* pResult)
{
    // Once enabled, OK stays enabled, even if the selection is cleared again.
    if (m_lstDCs.GetSelectedCount() > 0)
        GetDlgItem(IDOK)->EnableWindow(TRUE);
    *pResult = 0;
}

void CSelDCdlg::OnBnClickedOk()
{
    const int selected = m_lstDCs.GetNextItem(-1, LVNI_SELECTED);
    m_strSelectedDC = m_lstDCs.GetItemText(selected, 0);
    CDialog::OnOK();
}

void CZeltorDlg::OnBnClickedFind()
{
    if (GetDlgItemText(IDC_DOMAIN) == NotFoundMarker())
        return;
    if (m_arrDCs.IsEmpty())
        return;

    CSelDCdlg picker(this);
    picker.SetDCList(m_arrDCs);
    if (picker.DoModal() != IDOK)
        return;

    // A confirmed pick stops the monitoring of the previous controller; the new name is used from
    // the next Update on. The fields go back to the texts last read.
    KillTimer(kRefreshTimerId);
    ZeroDisplayValues();
    UpdateData(FALSE);
    m_query.Close();
    SetDlgItemText(IDC_DC, picker.m_strSelectedDC);
}
