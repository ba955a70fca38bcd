#include "app/zeltor_dlg.h"

#include <iterator>

#include "app/counter_set.h"
#include "app/overview_dlg.h"
#include "controls/about_dlg.h"
#include "directory/directory_service.h"
#include "directory/discovery.h"
#include "directory/remote_connection.h"
#include "framework/dialog_template.h"
#include "framework/dialog_units.h"
#include "res/resource.h"

// The display of each row of the counter set, in the order of kCounterSetPaths.
const CZeltorDlg::CounterSetRow CZeltorDlg::kCounterSet[13] = {
    { &CZeltorDlg::m_nCPUUsageCounter, &CZeltorDlg::m_dCPUUsage, nullptr, IDC_CPUUSAGE },
    { &CZeltorDlg::m_nMemoryUsageCounter, &CZeltorDlg::m_dMemoryUsage, nullptr, IDC_MEMORYUSAGE },
    { &CZeltorDlg::m_nDiskUsageCounter, &CZeltorDlg::m_dDiskUsage, nullptr, IDC_DISKUSAGE },
    { &CZeltorDlg::m_nFileReadsCounter, nullptr, &CZeltorDlg::m_nFileReads, IDC_FILEREADS },
    { &CZeltorDlg::m_nFileWritesCounter, nullptr, &CZeltorDlg::m_nFileWrites, IDC_FILEWRITES },
    { &CZeltorDlg::m_nInterruptTimeCounter, nullptr, &CZeltorDlg::m_nInterruptTime, IDC_INTERRUPTTIME },
    { &CZeltorDlg::m_nLSASSHandlesCounter, nullptr, &CZeltorDlg::m_nLSASSHandles, IDC_LSASSHANDLES },
    { &CZeltorDlg::m_nNTFRSHandlesCounter, nullptr, &CZeltorDlg::m_nNTFRSHandles, IDC_NTFRSHANDLES },
    { &CZeltorDlg::m_nPageFaultsCounter, nullptr, &CZeltorDlg::m_nPageFaults, IDC_PAGEFAULTS },
    { &CZeltorDlg::m_nPagesInputCounter, nullptr, &CZeltorDlg::m_nPagesInput, IDC_PAGESINPUT },
    { &CZeltorDlg::m_nPagesOutputCounter, nullptr, &CZeltorDlg::m_nPagesOutput, IDC_PAGESOUTPUT },
    { &CZeltorDlg::m_nPageReadsCounter, &CZeltorDlg::m_dPageReads, nullptr, IDC_PAGEREADS },
    { &CZeltorDlg::m_nPageWritesCounter, &CZeltorDlg::m_dPageWrites, nullptr, IDC_PAGEWRITES },
};

BEGIN_MESSAGE_MAP(CZeltorDlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_AUTOUPDATE, &CZeltorDlg::OnBnClickedAutoUpdate)
    ON_BN_CLICKED(IDC_FIND, &CZeltorDlg::OnBnClickedFind)
    ON_WM_TIMER()
    ON_BN_CLICKED(IDC_UPDATE, &CZeltorDlg::OnBnClickedUpdate)
    ON_WM_HELPINFO()
END_MESSAGE_MAP()

CZeltorDlg::CZeltorDlg(ZeltorServices& services, CWnd* pParent)
    : CDialog(IDD_ZELTOR_DIALOG, pParent), m_services(services), m_query(services.counters)
{
    m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

CZeltorDlg::~CZeltorDlg() = default;

void CZeltorDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_DC, m_strDC);
    DDX_Text(pDX, IDC_USERNAME, m_strUserName);
    DDX_Text(pDX, IDC_PASSWORD, m_strPassword);
    DDX_Text(pDX, IDC_CPUUSAGE, m_dCPUUsage);
    DDX_Text(pDX, IDC_MEMORYUSAGE, m_dMemoryUsage);
    DDX_Text(pDX, IDC_DISKUSAGE, m_dDiskUsage);
    DDX_Control(pDX, IDC_AUTOUPDATE, m_chkAutoUpdate);
    DDX_Text(pDX, IDC_PAGEREADS, m_dPageReads);
    DDX_Text(pDX, IDC_PAGEWRITES, m_dPageWrites);
    DDX_Text(pDX, IDC_NTFRSHANDLES, m_nNTFRSHandles);
    DDX_Text(pDX, IDC_FILEREADS, m_nFileReads);
    DDX_Text(pDX, IDC_FILEWRITES, m_nFileWrites);
    DDX_Text(pDX, IDC_INTERRUPTTIME, m_nInterruptTime);
    DDX_Text(pDX, IDC_LSASSHANDLES, m_nLSASSHandles);
    DDX_Text(pDX, IDC_PAGEFAULTS, m_nPageFaults);
    DDX_Text(pDX, IDC_PAGESINPUT, m_nPagesInput);
    DDX_Text(pDX, IDC_PAGESOUTPUT, m_nPagesOutput);
}

BOOL CZeltorDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // The About item at the end of the system menu; the system's own commands lie at 0xF000 and
    // above, and OnSysCommand masks the low four bits.
    static_assert((ID_SYSCMD_ABOUT & 0xFFF0) == ID_SYSCMD_ABOUT);
    if (HasSystemMenu()) {
        // The overview's item goes above the About item's separator, so About stays the last.
        static_assert((ID_SYSCMD_OVERVIEW & 0xFFF0) == ID_SYSCMD_OVERVIEW);
        const char16_t* overview = AfxFindStringResource(IDS_OVERVIEW);
        if (HasOverview() && overview != nullptr && *overview != u'\0')
            AppendSystemMenu(MF_STRING, ID_SYSCMD_OVERVIEW, overview);
        const char16_t* about = AfxFindStringResource(IDS_ABOUTBOX);
        if (about != nullptr && *about != u'\0') {
            AppendSystemMenu(MF_SEPARATOR, 0, CString());
            AppendSystemMenu(MF_STRING, ID_SYSCMD_ABOUT, about);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
    SetWindowText(u"Zeltor");

    // Discovery. EnumDomainControllers reads the domain back from its field, so the field is
    // filled first.
    const CString computerName = m_services.directory.GetComputerName(kComputerNameChars);
    CString domain;
    if (GetJoinedDomain(m_services.directory, computerName, domain) == NetSetupDomainName) {
        SetDlgItemText(IDC_DOMAIN, domain);
        SetDlgItemText(IDC_DC, EnumDomainControllers());
    } else {
        SetDlgItemText(IDC_DOMAIN, NotFoundMarker());
        SetDlgItemText(IDC_DC, computerName);
    }

    // Ticked but disabled until an Update has set up the counters.
    m_chkAutoUpdate.SetCheck(BST_CHECKED);
    m_chkAutoUpdate.EnableWindow(FALSE);
    return TRUE;
}

void CZeltorDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    if ((nID & 0xFFF0) == ID_SYSCMD_ABOUT) {
        CAboutDlg dlgAbout(m_services.shell);
        dlgAbout.DoModal();
    } else if ((nID & 0xFFF0) == ID_SYSCMD_OVERVIEW && HasOverview()) {
        OpenOverview();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void CZeltorDlg::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    IWindowBackend& backend = AfxGetBackend();
    HDC dc = backend.BeginPaint(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const AfxPoint at = AfxCenteredIconPosition(GetClientRect(), backend.GetSystemMetrics(SM_CXICON),
                                                backend.GetSystemMetrics(SM_CYICON));
    backend.DrawIcon(dc, at.x, at.y, m_hIcon);
    backend.EndPaint(m_hWnd, dc);
}

HCURSOR CZeltorDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

BOOL CZeltorDlg::PreTranslateMessage(AfxMsg* msg)
{
    // Escape and Enter go to the focused control as ordinary keys: they neither cancel the dialog
    // nor press a button.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN))
        return FALSE;
    if (msg->message == WM_KEYDOWN && msg->wParam == 'D' && HasOverview() &&
        (AfxGetBackend().GetKeyState(VK_CONTROL) & 0x8000) != 0) {
        OpenOverview();
        return TRUE;
    }
    return CDialog::PreTranslateMessage(msg);
}

void CZeltorDlg::OnOK()
{
    OnBnClickedUpdate();
}

BOOL CZeltorDlg::OnHelpInfo(AfxHelpInfo*)
{
    return FALSE;
}

void CZeltorDlg::OpenOverview()
{
    // The controllers the picker offers, none when the computer is in no domain (the overview
    // then says so); the credentials as typed now (the fields are read without touching what the
    // last Update read).
    const CStringArray controllers = GetDlgItemText(IDC_DOMAIN) == NotFoundMarker() ? CStringArray() : m_arrDCs;
    // Workers of earlier overviews that have ended are let go.
    std::erase_if(m_closedOverviews, [](const auto& r) { return r->HasEnded(); });
    CString userName = GetDlgItemText(IDC_USERNAME);
    CString password = GetDlgItemText(IDC_PASSWORD);
    COverviewDlg overview(m_services.overview, controllers, userName, password, this, m_services.health,
                          m_services.replication);
    std::fill(password.begin(), password.end(), u'\0');
    const int result = overview.DoModal();
    if (std::unique_ptr<OverviewRefresher> workers = overview.TakeRefresher())
        m_closedOverviews.push_back(std::move(workers));
    if (result != IDOK || overview.m_strChosenDC.IsEmpty())
        return;
    SetDlgItemText(IDC_DC, overview.m_strChosenDC);
    OnBnClickedUpdate();
}

// ---------------------------------------------------------------------------------------------
// Discovery and the connection, through the directory's shared operations

CString CZeltorDlg::EnumDomainControllers()
{
    UpdateData(TRUE);
    return ::EnumDomainControllers(m_services.directory, GetDlgItemText(IDC_DOMAIN), m_strUserName, m_strPassword,
                                   m_arrDCs);
}

BOOL CZeltorDlg::ConnectToDC()
{
    return ::ConnectToDC(m_services.network, m_strDC, m_strUserName, m_strPassword, m_arrConnections);
}

void CZeltorDlg::DisconnectAll()
{
    ::DisconnectAll(m_services.network, m_arrConnections);
}

// ---------------------------------------------------------------------------------------------
// The monitoring cycle

void CZeltorDlg::ZeroDisplayValues()
{
    for (const CounterSetRow& row : kCounterSet) {
        if (row.doubleValue != nullptr)
            this->*row.doubleValue = 0.0;
        else
            this->*row.intValue = 0;
    }
}

BOOL CZeltorDlg::SetupCounters()
{
    if (!m_query.Initialize(m_strDC))
        return FALSE;
    static_assert(std::size(kCounterSet) == kCounterSetPaths.size());
    // A counter that cannot be added keeps -1 and reads as 0 at every refresh.
    for (std::size_t i = 0; i < kCounterSetPaths.size(); ++i)
        this->*kCounterSet[i].handle = m_query.AddCounter(kCounterSetPaths[i]);
    return TRUE;
}

void CZeltorDlg::RefreshValues()
{
    if (!m_query.Collect())
        return;
    for (const CounterSetRow& row : kCounterSet) {
        const int value = m_query.GetCounterValue(this->*row.handle);
        if (row.doubleValue != nullptr)
            this->*row.doubleValue = static_cast<double>(value);
        else
            this->*row.intValue = value;
    }
    UpdateData(FALSE);
}

void CZeltorDlg::OnBnClickedUpdate()
{
    KillTimer(kRefreshTimerId);
    UpdateData(TRUE);
    ZeroDisplayValues();
    UpdateData(FALSE);

    if (!ConnectToDC()) {
        m_chkAutoUpdate.EnableWindow(FALSE);
        return;
    }
    m_query.Close();
    if (!SetupCounters()) {
        m_chkAutoUpdate.EnableWindow(FALSE);
        return;
    }

    if (m_chkAutoUpdate.GetCheck() == BST_CHECKED) {
        // The zeros stay until the first tick.
        SetTimer(kRefreshTimerId, kRefreshPeriodMs);
        GetDlgItem(IDC_DC)->EnableWindow(FALSE);
    } else {
        RefreshValues();
        GetDlgItem(IDC_DC)->EnableWindow(TRUE);
    }
    m_chkAutoUpdate.EnableWindow(TRUE);
}

void CZeltorDlg::OnBnClickedAutoUpdate()
{
    // The box has already changed its tick. The query is set up on the controller the last
    // Update read, over whatever connection it opened.
    if (m_chkAutoUpdate.GetCheck() == BST_CHECKED) {
        m_query.Close();
        if (!SetupCounters())
            return;
        SetTimer(kRefreshTimerId, kRefreshPeriodMs);
        GetDlgItem(IDC_DC)->EnableWindow(FALSE);
    } else {
        KillTimer(kRefreshTimerId);
        GetDlgItem(IDC_DC)->EnableWindow(TRUE);
    }
}

void CZeltorDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (!m_bInTimerRefresh) {
        m_bInTimerRefresh = true;
        RefreshValues();
        m_bInTimerRefresh = false;
    }
    CDialog::OnTimer(nIDEvent);
}
