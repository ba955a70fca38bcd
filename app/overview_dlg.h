// The domain overview: every controller of the domain in one list, refreshed in the background,
// with each controller's health checked less often, and its replication less often still, when
// the platform reads them.
// Enter or a double click on a row hands that controller to the main window. When discovery found
// none, the list's one row says so in the words the main window's Domain field uses.
#pragma once

#include <atomic>
#include <memory>

#include "app/overview.h"
#include "app/overview_refresher.h"
#include "framework/afxwin.h"

class COverviewDlg : public CDialog {
public:
    // The rows are controllers; each is read through a connection that connect makes, opened with
    // userName and password when a user name is given, and checked through health when given.
    COverviewDlg(ControllerConnectionFactory connect, const CStringArray& controllers, const CString& userName,
                 const CString& password, CWnd* pParent, std::shared_ptr<IHealthService> health = nullptr,
                 ReplicationReaderFactory replication = nullptr);
    ~COverviewDlg() override;

    BOOL OnInitDialog() override;
    // Enter: in the interval field nothing more (the interval is taken as typed); else the
    // selected row is chosen.
    void OnOK() override;
    void OnCancel() override;

    void OnTimer(UINT_PTR nIDEvent);
    void OnColumnClick(AfxNotifyHeader* pNMHDR, LRESULT* pResult);
    void OnDoubleClick(AfxNotifyHeader* pNMHDR, LRESULT* pResult);
    void OnBnClickedRefresh();
    void OnEnChangeInterval();
    LRESULT OnResults(WPARAM wParam, LPARAM lParam);

    // The workers, stopped once the window has closed: the caller keeps them until they have
    // ended (each within the engine's bounds), so that closing never waits for the network.
    std::unique_ptr<OverviewRefresher> TakeRefresher();

    const OverviewModel& Model() const { return *m_model; }
    OverviewRefresher* Refresher() { return m_refresher.get(); }

    CString m_strChosenDC; // the controller chosen with Enter or a double click (IDOK)

    // Posted by the workers when results are queued.
    static constexpr UINT WM_OVERVIEW_RESULTS = WM_APP + 0x10;
    // The ages are shown anew every second.
    static constexpr UINT_PTR kAgeTimerId = 1;
    static constexpr UINT kAgePeriodMs = 1000;
    static constexpr std::uint32_t kDefaultIntervalSeconds = 5;
    static constexpr std::uint32_t kLongestIntervalSeconds = 3600;
    // Health is checked once a minute, whatever the counters' interval (docs/directory.md).
    static constexpr std::uint32_t kHealthIntervalSeconds = 60;
    // Replication is read every 5 minutes (docs/architecture.md).
    static constexpr std::uint32_t kReplicationIntervalSeconds = 300;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()

private:
    // Writes every row in the model's order; selected (a row, or -1), read before the order
    // changed, stays selected.
    void ShowRows(int selected);
    int SelectedRow() const;
    void Choose(std::size_t row);
    void StopWork();

    ControllerConnectionFactory m_connect;
    std::shared_ptr<IHealthService> m_health;
    ReplicationReaderFactory m_replication;
    std::vector<CString> m_controllers;
    CString m_strUserName, m_strPassword;
    CListCtrl m_list;
    std::unique_ptr<OverviewModel> m_model;
    std::unique_ptr<OverviewRefresher> m_refresher;
    // A results message is on its way; cleared by its handler before it takes the results.
    std::shared_ptr<std::atomic<bool>> m_resultsPosted = std::make_shared<std::atomic<bool>>(false);
};
