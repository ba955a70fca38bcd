// The About box, reached through the system menu: the product, its version and the maker's
// rights over a background picture, and links to the maker's web site and mail addresses.
#pragma once

#include "controls/hyperlink.h"
#include "framework/afxwin.h"

class CAboutDlg : public CDialog {
public:
    // The links open their targets through shell.
    explicit CAboutDlg(IShellService& shell);
    ~CAboutDlg() override;

    BOOL OnInitDialog() override;
    void OnPaint();
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);

    CHyperLink& WebLink() { return m_linkWeb; }
    CHyperLink& SupportLink() { return m_linkSupport; }
    CHyperLink& SalesLink() { return m_linkSales; }
    HBRUSH GetBackgroundBrush() const { return m_brBackground; }

    static constexpr const char16_t* kWebAddress = u"https://www.zeltor.example/";
    static constexpr const char16_t* kSupportAddress = u"support@zeltor.example";
    static constexpr const char16_t* kSalesAddress = u"sales@zeltor.example";

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()

private:
    CBrush m_brBackground;
    CBitmap m_bmpBackground;
    CHyperLink m_linkWeb;
    CHyperLink m_linkSupport;
    CHyperLink m_linkSales;
};
