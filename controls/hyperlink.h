// A static text of a dialog that behaves as a web or mail link: link colours, underlining while
// the pointer is over it, a hand pointer, a tooltip with its target, and on a click the target
// opened (LinkOpener) or the box that says why it could not be.
#pragma once

#include "controls/link_opener.h"
#include "controls/shell.h"
#include "framework/afxwin.h"

class CHyperLink : public CStatic {
public:
    explicit CHyperLink(IShellService& shell);
    ~CHyperLink() override;

    void SetLinkUrl(CString url);
    void SetLinkVisited(BOOL visited);
    void SetUnderlineMode(int mode);

    BOOL DestroyWindow() override;
    BOOL PreTranslateMessage(AfxMsg* msg) override;

    // Moves and sizes the control to its text (when m_bFitToText is set and it has a window).
    void FitToText();
    void LoadHandCursor();
    void ShowOpenError(int code);

    HBRUSH CtlColor(CDC* dc, UINT ctlColor);
    BOOL OnSetCursor(CWnd* wnd, UINT hitTest, UINT message);
    void OnMouseMove(UINT flags, AfxPoint point);
    void OnTimer(UINT_PTR id);
    void OnLinkClicked();

    // State, for the dialog's tests and the window layers' tests.
    const CString& GetLinkUrl() const { return m_strLinkUrl; }
    BOOL IsHovering() const { return m_bHover; }
    BOOL IsLinkVisited() const { return m_bLinkVisited; }
    int GetUnderlineMode() const { return m_nUnderlineMode; }
    HFONT GetPlainFont() const { return m_fontPlain; }
    HFONT GetUnderlinedFont() const { return m_fontUnderlined; }
    HCURSOR GetHandCursor() const { return m_hHandCursor; }
    HWND GetToolTipWindow() const { return m_tipCtrl.m_hWnd; }
    // The text colour the next repaint uses.
    COLORREF GetTextColor() const;

    static constexpr COLORREF kLinkColor = 0x00EE0000;    // red 0, green 0, blue 238
    static constexpr COLORREF kVisitedColor = 0x008B1A55; // red 85, green 26, blue 139
    static constexpr COLORREF kHoverColor = 0x000000FF;   // red 255, green 0, blue 0
    static constexpr UINT kHoverTimerId = 100;
    static constexpr UINT kHoverPeriodMs = 100;
    static constexpr UINT_PTR kToolId = 1;

protected:
    void PreSubclassWindow() override;
    DECLARE_MESSAGE_MAP()

private:
    IShellService& m_shell;
    LinkOpener m_opener;

    COLORREF m_clrLink = kLinkColor;
    COLORREF m_clrVisited = kVisitedColor;
    COLORREF m_clrHover = kHoverColor;
    BOOL m_bHover = FALSE;
    BOOL m_bLinkVisited = FALSE;
    int m_nUnderlineMode = -1;
    BOOL m_bFitToText = TRUE;
    CString m_strLinkUrl;
    CFont m_fontUnderlined;
    CFont m_fontPlain;
    HCURSOR m_hHandCursor = nullptr;
    CToolTipCtrl m_tipCtrl;
    UINT m_nHoverTimerId = kHoverTimerId;
};
