#include "app/overview_dlg.h"

#include <chrono>
#include <string>

#include "directory/discovery.h"
#include "res/resource.h"

BEGIN_MESSAGE_MAP(COverviewDlg, CDialog)
    ON_WM_TIMER()
    ON_NOTIFY(LVN_COLUMNCLICK, IDC_OVERVIEW_LIST, &COverviewDlg::OnColumnClick)
    ON_NOTIFY(NM_DBLCLK, IDC_OVERVIEW_LIST, &COverviewDlg::OnDoubleClick)
    ON_BN_CLICKED(IDC_OVERVIEW_REFRESH, &COverviewDlg::OnBnClickedRefresh)
    ON_EN_CHANGE(IDC_OVERVIEW_INTERVAL, &COverviewDlg::OnEnChangeInterval)
    ON_MESSAGE(COverviewDlg::WM_OVERVIEW_RESULTS, &COverviewDlg::OnResults)
END_MESSAGE_MAP()

COverviewDlg::COverviewDlg(ControllerConnectionFactory connect, const CStringArray& controllers,
                           const CString& userName, const CString& password, CWnd* pParent,
                           std::shared_ptr<IHealthService> health, ReplicationReaderFactory replication)
    : CDialog(IDD_OVERVIEW, pParent), m_connect(std::move(connect)), m_health(std::move(health)),
      m_replication(std::move(replication)), m_controllers(controllers.begin(), controllers.end()),
      m_strUserName(userName), m_strPassword(password)
{
    m_model = std::make_unique<OverviewModel>(m_controllers);
}

COverviewDlg::~COverviewDlg()
{
    StopWork();
    std::fill(m_strPassword.begin(), m_strPassword.end(), u'\0');
}

void COverviewDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_OVERVIEW_LIST, m_list);
}

BOOL COverviewDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // The columns share the list's width in the proportions of their widths in dialog units.
    int totalDlu = 0;
    for (const OverviewColumnInfo& column : kOverviewColumns)
        totalDlu += column.widthDlu;
    // (Less a little for the border and the vertical scroll bar.)
    const int width = m_list.GetClientRect().Width() * 24 / 25;
    for (int i = 0; i < kOverviewColumnCount; ++i) {
        const int dlu = kOverviewColumns[static_cast<std::size_t>(i)].widthDlu;
        m_list.InsertColumn(i, kOverviewColumns[static_cast<std::size_t>(i)].heading,
                            width > 0 ? width * dlu / totalDlu : dlu * 3 / 2);
    }
    for (std::size_t i = 0; i < m_controllers.size(); ++i)
        m_list.InsertItem(static_cast<int>(i), CString());
    // Without controllers one row, which no one can choose, says that none was found.
    if (m_controllers.empty())
        m_list.InsertItem(0, NotFoundMarker());
    m_list.SetSortIndicator(m_model->SortColumn(), m_model->SortAscending() ? TRUE : FALSE);
    ShowRows(-1);

    // The workers tell the window's thread through a posted message, one at a time.
    OverviewRefresher::Settings settings;
    settings.connect = m_connect;
    settings.userName = m_strUserName;
    settings.password = m_strPassword;
    settings.intervalMs = kDefaultIntervalSeconds * 1000;
    settings.health = m_health;
    settings.healthIntervalMs = kHealthIntervalSeconds * 1000;
    settings.replication = m_replication;
    settings.replicationIntervalMs = kReplicationIntervalSeconds * 1000;
    IWindowBackend* backend = &AfxGetBackend();
    const HWND hwnd = m_hWnd;
    const std::shared_ptr<std::atomic<bool>> posted = m_resultsPosted;
    m_refresher = std::make_unique<OverviewRefresher>(m_controllers, std::move(settings), [backend, hwnd, posted] {
        if (!posted->exchange(true))
            backend->PostMessage(hwnd, WM_OVERVIEW_RESULTS, 0, 0);
    });
    SetDlgItemText(IDC_OVERVIEW_INTERVAL, CString::FromUtf8(std::to_string(kDefaultIntervalSeconds)));
    SetTimer(kAgeTimerId, kAgePeriodMs);

    // The list has the focus, on its first row.
    if (!m_controllers.empty())
        m_list.SelectItem(0);
    m_list.SetFocus();
    return FALSE;
}

void COverviewDlg::StopWork()
{
    if (m_refresher)
        m_refresher->Stop();
}

std::unique_ptr<OverviewRefresher> COverviewDlg::TakeRefresher()
{
    StopWork();
    return std::move(m_refresher);
}

LRESULT COverviewDlg::OnResults(WPARAM, LPARAM)
{
    m_resultsPosted->store(false);
    if (!m_refresher)
        return 0;
    const int selected = SelectedRow();
    for (const auto& [row, sample] : m_refresher->TakeResults())
        m_model->Apply(row, sample);
    for (const auto& [row, report] : m_refresher->TakeHealthResults())
        m_model->ApplyHealth(row, report);
    const std::int64_t unixNow =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    for (const auto& [row, status] : m_refresher->TakeReplicationResults())
        m_model->ApplyReplication(row, status, unixNow, OverviewRefresher::NowMs());
    ShowRows(selected);
    return 0;
}

int COverviewDlg::SelectedRow() const
{
    const int position = m_list.GetNextItem(-1, LVNI_SELECTED);
    if (position < 0 || static_cast<std::size_t>(position) >= m_model->Order().size())
        return -1;
    return static_cast<int>(m_model->Order()[static_cast<std::size_t>(position)]);
}

void COverviewDlg::ShowRows(int selected)
{
    const std::int64_t now = OverviewRefresher::NowMs();
    const std::vector<std::size_t>& order = m_model->Order();
    for (std::size_t position = 0; position < order.size(); ++position) {
        for (int column = 0; column < kOverviewColumnCount; ++column)
            m_list.SetItemText(static_cast<int>(position), column, m_model->CellText(order[position], column, now));
    }
    if (selected >= 0 && m_list.GetNextItem(-1, LVNI_SELECTED) !=
                             static_cast<int>(m_model->PositionOf(static_cast<std::size_t>(selected))))
        m_list.SelectItem(static_cast<int>(m_model->PositionOf(static_cast<std::size_t>(selected))));
}

void COverviewDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == kAgeTimerId)
        ShowRows(SelectedRow());
    CDialog::OnTimer(nIDEvent);
}

void COverviewDlg::OnColumnClick(AfxNotifyHeader* pNMHDR, LRESULT* pResult)
{
    const auto* nm = reinterpret_cast<const AfxNmListView*>(pNMHDR);
    // A second click on the sorted column turns its order round.
    const bool ascending = nm->iSubItem == m_model->SortColumn() ? !m_model->SortAscending() : true;
    const int selected = SelectedRow();
    m_model->SortBy(nm->iSubItem, ascending);
    m_list.SetSortIndicator(m_model->SortColumn(), m_model->SortAscending() ? TRUE : FALSE);
    ShowRows(selected);
    *pResult = 0;
}

void COverviewDlg::OnDoubleClick(AfxNotifyHeader* pNMHDR, LRESULT* pResult)
{
    const auto* nm = reinterpret_cast<const AfxNmListView*>(pNMHDR);
    if (nm->iItem >= 0 && static_cast<std::size_t>(nm->iItem) < m_model->Order().size())
        Choose(m_model->Order()[static_cast<std::size_t>(nm->iItem)]);
    *pResult = 0;
}

void COverviewDlg::OnOK()
{
    CWnd* interval = GetDlgItem(IDC_OVERVIEW_INTERVAL);
    if (interval != nullptr && AfxGetBackend().GetFocus() == interval->m_hWnd)
        return;
    if (const int row = SelectedRow(); row >= 0)
        Choose(static_cast<std::size_t>(row));
}

void COverviewDlg::Choose(std::size_t row)
{
    m_strChosenDC = m_model->Row(row).name;
    StopWork();
    KillTimer(kAgeTimerId);
    EndDialog(IDOK);
}

void COverviewDlg::OnCancel()
{
    StopWork();
    KillTimer(kAgeTimerId);
    CDialog::OnCancel();
}

void COverviewDlg::OnBnClickedRefresh()
{
    if (!m_refresher)
        return;
    // The selected controller, else all of them; a refused logon is tried again since the user
    // asked.
    const int selected = SelectedRow();
    for (std::size_t row = 0; row < m_model->RowCount(); ++row) {
        if (selected >= 0 && row != static_cast<std::size_t>(selected))
            continue;
        m_model->MarkReading(row);
        m_refresher->RefreshNow(row);
    }
    ShowRows(selected);
}

void COverviewDlg::OnEnChangeInterval()
{
    if (!m_refresher)
        return;
    // Whole seconds from 1 to an hour; anything else leaves the interval as it was.
    const CString text = GetDlgItemText(IDC_OVERVIEW_INTERVAL);
    if (text.empty() || text.size() > 4)
        return;
    std::uint32_t seconds = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9')
            return;
        seconds = seconds * 10 + static_cast<std::uint32_t>(c - u'0');
    }
    if (seconds < 1 || seconds > kLongestIntervalSeconds)
        return;
    m_refresher->SetInterval(seconds * 1000);
}
