// The About box, reached through the system menu.
#pragma once

#include "framework/afxwin.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    BOOL OnInitDialog() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};
