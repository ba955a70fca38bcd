// The picker of the domain's controllers, shown by Find.
#pragma once

#include "framework/afxwin.h"

class CSelDCdlg : public CDialog {
public:
    explicit CSelDCdlg(CWnd* pParent);
    ~CSelDCdlg() override;

    // The names to offer, in order; called before DoModal.
    void SetDCList(const CStringArray& names);

    BOOL OnInitDialog() override;
    void OnBnClickedOk();
    void OnLvnItemchangedDCList(AfxNotifyHeader* pNMHDR, LRESULT* pResult);

    CListCtrl m_lstDCs;
    CString m_strSelectedDC; // the name chosen with OK
    CStringArray m_arrDCList;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};
