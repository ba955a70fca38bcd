#include "controls/about_dlg.h"

#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg(IShellService& shell)
    : CDialog(IDD_ABOUTBOX), m_linkWeb(shell), m_linkSupport(shell), m_linkSales(shell)
{
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LINK_WEB, m_linkWeb);
    DDX_Control(pDX, IDC_LINK_SUPPORT, m_linkSupport);
    DDX_Control(pDX, IDC_LINK_SALES, m_linkSales);
}

BOOL CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // Without the picture there is no brush, and the box keeps its ordinary background.
    if (m_bmpBackground.LoadBitmap(IDB_BACKGROUND))
        m_brBackground.CreatePatternBrush(&m_bmpBackground);

    m_linkWeb.SetLinkUrl(kWebAddress);
    m_linkWeb.SetUnderlineMode(1);
    m_linkSupport.SetLinkUrl(CString(u"mailto:") + kSupportAddress);
    m_linkSupport.SetUnderlineMode(1);
    m_linkSales.SetLinkUrl(CString(u"mailto:") + kSalesAddress);
    m_linkSales.SetUnderlineMode(1);
    return TRUE;
}

void CAboutDlg::OnPaint()
{
    CPaintDC dc(this);
    const AfxRect client = GetClientRect();
    dc.FillRect(&client, &m_brBackground);
}

HBRUSH CAboutDlg::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor)
{
    HBRUSH brush = CDialog::OnCtlColor(dc, wnd, ctlColor);
    if (ctlColor == CTLCOLOR_STATIC) {
        // The version text and the links show the picture behind their letters.
        dc->SetBkMode(TRANSPARENT);
        return static_cast<HBRUSH>(AfxGetBackend().GetStockObject(NULL_BRUSH));
    }
    return brush;
}
