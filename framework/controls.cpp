// The control classes: buttons, tooltips and list views.
#include "framework/afxwin.h"

int CButton::GetCheck() const
{
    return AfxGetBackend().GetCheck(m_hWnd);
}

void CButton::SetCheck(int state)
{
    AfxGetBackend().SetCheck(m_hWnd, state);
}

CToolTipCtrl::~CToolTipCtrl()
{
    if (m_hWnd != nullptr && AfxTryGetBackend() != nullptr)
        DestroyWindow();
}

BOOL CToolTipCtrl::Create(CWnd* parent, std::uint32_t style)
{
    HWND h = AfxGetBackend().CreateToolTip(parent != nullptr ? parent->m_hWnd : nullptr, style);
    // Its messages come here, so that the object lets go of the window when it is destroyed
    // with its parent.
    return SubclassWindow(h);
}

BOOL CToolTipCtrl::AddTool(CWnd* wnd, const CString& text, const AfxRect* rect, UINT_PTR toolId)
{
    if (m_hWnd == nullptr || wnd == nullptr)
        return FALSE;
    return AfxGetBackend().AddTool(m_hWnd, wnd->m_hWnd, toolId, text, rect != nullptr ? *rect : AfxRect{});
}

void CToolTipCtrl::UpdateTipText(const CString& text, CWnd* wnd, UINT_PTR toolId)
{
    if (m_hWnd != nullptr && wnd != nullptr)
        AfxGetBackend().UpdateTipText(m_hWnd, wnd->m_hWnd, toolId, text);
}

void CToolTipCtrl::RelayEvent(AfxMsg* msg)
{
    if (m_hWnd != nullptr && msg != nullptr)
        AfxGetBackend().RelayToolTipEvent(m_hWnd, *msg);
}

int CListCtrl::InsertItem(int index, const CString& text)
{
    return AfxGetBackend().InsertListItem(m_hWnd, index, text);
}

UINT CListCtrl::GetSelectedCount() const
{
    return static_cast<UINT>(AfxGetBackend().GetListSelectedCount(m_hWnd));
}

int CListCtrl::GetNextItem(int start, UINT flags) const
{
    return AfxGetBackend().GetListNextItem(m_hWnd, start, flags);
}

CString CListCtrl::GetItemText(int index, int subItem) const
{
    if (index < 0)
        return CString();
    return AfxGetBackend().GetListItemText(m_hWnd, index, subItem);
}

int CListCtrl::InsertColumn(int column, const CString& heading, int widthPixels)
{
    return AfxGetBackend().InsertListColumn(m_hWnd, column, heading, widthPixels);
}

BOOL CListCtrl::SetItemText(int index, int subItem, const CString& text)
{
    return AfxGetBackend().SetListItemText(m_hWnd, index, subItem, text);
}

int CListCtrl::GetItemCount() const
{
    return AfxGetBackend().GetListItemCount(m_hWnd);
}

BOOL CListCtrl::DeleteAllItems()
{
    return AfxGetBackend().DeleteAllListItems(m_hWnd);
}

void CListCtrl::SelectItem(int index)
{
    AfxGetBackend().SetListSelection(m_hWnd, index);
}

void CListCtrl::SetSortIndicator(int column, BOOL ascending)
{
    AfxGetBackend().SetListSortIndicator(m_hWnd, column, ascending);
}
