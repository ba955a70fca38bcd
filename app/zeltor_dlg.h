// The main window: discovery at start, the credentials, and the thirteen values of the chosen
// domain controller, refreshed once per Update or every second.
#pragma once

#include <memory>
#include <vector>

#include "app/zeltor_services.h"
#include "framework/afxwin.h"
#include "perf/counter_query.h"

class CZeltorDlg : public CDialog {
public:
    explicit CZeltorDlg(ZeltorServices& services, CWnd* pParent = nullptr);
    ~CZeltorDlg() override;

    // Discovery: the controllers of the domain shown in the Domain field; the first one's name,
    // or empty when none could be listed.
    CString EnumDomainControllers();

    // The network connection to the chosen controller, opened on Update when a user name is given.
    BOOL ConnectToDC();
    // Cancels every connection opened during the run (at exit).
    void DisconnectAll();

    // The monitoring cycle.
    BOOL SetupCounters();
    void RefreshValues();

    BOOL OnInitDialog() override;
    void OnOK() override;
    BOOL PreTranslateMessage(AfxMsg* msg) override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnBnClickedAutoUpdate();
    void OnBnClickedFind();
    void OnTimer(UINT_PTR nIDEvent);
    void OnBnClickedUpdate();
    BOOL OnHelpInfo(AfxHelpInfo* pHelpInfo);
    // The domain overview (the system menu's item and Ctrl+D): a row chosen there becomes the
    // Domain Controller and is updated at once.
    void OpenOverview();
    bool HasOverview() const { return static_cast<bool>(m_services.overview); }

    const CStringArray& GetConnections() const { return m_arrConnections; }
    const CStringArray& GetDCs() const { return m_arrDCs; }
    const CCounterQuery& GetQuery() const { return m_query; }

    // The refresh timer: id 1, every second.
    static constexpr UINT_PTR kRefreshTimerId = 1;
    static constexpr UINT kRefreshPeriodMs = 1000;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()

private:
    void ZeroDisplayValues();

    // One row of the counter set (kCounterSetPaths): the handle member, the display member (a
    // double or an integer one) and its control.
    struct CounterSetRow {
        int CZeltorDlg::*handle;
        double CZeltorDlg::*doubleValue;
        int CZeltorDlg::*intValue;
        int control;
    };
    static const CounterSetRow kCounterSet[13];

    ZeltorServices& m_services;
    // True while a timer tick's refresh runs: a tick that arrives inside its error box is dropped,
    // so that a failing collection shows one box at a time.
    bool m_bInTimerRefresh = false;

    HICON m_hIcon;
    CStringArray m_arrConnections;
    CStringArray m_arrDCs;
    CString m_strDC;
    CString m_strUserName;
    CString m_strPassword;
    double m_dCPUUsage = 0.0;
    double m_dMemoryUsage = 0.0;
    double m_dDiskUsage = 0.0;
    CButton m_chkAutoUpdate;
    double m_dPageReads = 0.0;
    double m_dPageWrites = 0.0;
    int m_nNTFRSHandles = 0;
    int m_nFileReads = 0;
    int m_nFileWrites = 0;
    int m_nInterruptTime = 0;
    int m_nLSASSHandles = 0;
    int m_nPageFaults = 0;
    int m_nPagesInput = 0;
    int m_nPagesOutput = 0;
    CCounterQuery m_query;
    int m_nCPUUsageCounter = -1;
    int m_nMemoryUsageCounter = -1;
    int m_nDiskUsageCounter = -1;
    int m_nPageReadsCounter = -1;
    int m_nPageWritesCounter = -1;
    int m_nNTFRSHandlesCounter = -1;
    int m_nFileReadsCounter = -1;
    int m_nFileWritesCounter = -1;
    int m_nInterruptTimeCounter = -1;
    int m_nLSASSHandlesCounter = -1;
    int m_nPageFaultsCounter = -1;
    int m_nPagesInputCounter = -1;
    int m_nPagesOutputCounter = -1;
    // The workers of closed overviews, until they have ended (at the latest with the dialog).
    std::vector<std::unique_ptr<OverviewRefresher>> m_closedOverviews;
};
