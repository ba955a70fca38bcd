// The drawing objects (fonts, bitmaps, brushes) and device contexts, over the window layer's handles.
#include "framework/afxwin.h"

CGdiObject::~CGdiObject()
{
    DeleteObject();
}

BOOL CGdiObject::DeleteObject()
{
    if (m_hObject == nullptr)
        return FALSE;
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    IWindowBackend* backend = AfxTryGetBackend();
    return backend != nullptr ? backend->DeleteObject(h) : FALSE;
}

BOOL CFont::CreateFontIndirect(const AfxLogFont* description)
{
    DeleteObject();
    m_hObject = AfxGetBackend().CreateFontIndirect(*description);
    return m_hObject != nullptr;
}

BOOL CFont::GetLogFont(AfxLogFont* description) const
{
    if (m_hObject == nullptr)
        return FALSE;
    return AfxGetBackend().GetFontDescription(static_cast<HFONT>(m_hObject), description);
}

BOOL CBitmap::LoadBitmap(UINT resourceId)
{
    DeleteObject();
    m_hObject = AfxGetBackend().LoadBitmap(resourceId);
    return m_hObject != nullptr;
}

BOOL CBrush::CreatePatternBrush(CBitmap* bitmap)
{
    DeleteObject();
    if (bitmap == nullptr || bitmap->m_hObject == nullptr)
        return FALSE;
    m_hObject = AfxGetBackend().CreatePatternBrush(static_cast<HBITMAP>(*bitmap));
    return m_hObject != nullptr;
}

COLORREF CDC::SetTextColor(COLORREF color)
{
    return AfxGetBackend().SetTextColor(m_hDC, color);
}

int CDC::SetBkMode(int mode)
{
    return AfxGetBackend().SetBkMode(m_hDC, mode);
}

void CDC::FillRect(const AfxRect* rect, CBrush* brush)
{
    if (brush == nullptr || brush->m_hObject == nullptr || m_hDC == nullptr)
        return;
    AfxGetBackend().FillRect(m_hDC, *rect, static_cast<HBRUSH>(*brush));
}

CPaintDC::CPaintDC(CWnd* wnd) : CDC(AfxGetBackend().BeginPaint(wnd->m_hWnd)), m_hWnd(wnd->m_hWnd) {}

CPaintDC::~CPaintDC()
{
    if (IWindowBackend* backend = AfxTryGetBackend())
        backend->EndPaint(m_hWnd, m_hDC);
}
