// CWinApp and the framework's global state: the one application, its window layer, its user
// feedback and resources, message boxes, and the start-up.
#include "framework/afxwin.h"

#include <cstdio>
#include <cstdlib>

namespace {

CWinApp* g_pApp = nullptr; // the one application object, as the framework's AfxGetApp knows it

constexpr UINT kIconMask = 0xF0;
constexpr UINT kTypeMask = 0x0F;

} // namespace

CWinApp* AfxGetApp()
{
    return g_pApp;
}

IWindowBackend& AfxGetBackend()
{
    if (g_pApp == nullptr || g_pApp->m_pBackend == nullptr) {
        std::fputs("zeltor: no window backend\n", stderr);
        std::abort();
    }
    return *g_pApp->m_pBackend;
}

IWindowBackend* AfxTryGetBackend()
{
    return g_pApp != nullptr ? g_pApp->m_pBackend : nullptr;
}

IUserFeedback& AfxGetFeedback()
{
    if (g_pApp != nullptr && g_pApp->m_pFeedback != nullptr)
        return *g_pApp->m_pFeedback;
    return AfxGetBackend();
}

const DialogTemplate* AfxFindDialogTemplate(UINT id)
{
    return g_pApp != nullptr && g_pApp->m_pResources != nullptr ? g_pApp->m_pResources->FindDialogTemplate(id)
                                                                : nullptr;
}

const char16_t* AfxFindStringResource(UINT id)
{
    return g_pApp != nullptr && g_pApp->m_pResources != nullptr ? g_pApp->m_pResources->FindString(id) : nullptr;
}

std::span<const unsigned char> AfxFindImageResource(UINT id)
{
    if (g_pApp == nullptr || g_pApp->m_pResources == nullptr)
        return {};
    return g_pApp->m_pResources->FindImage(id);
}

int AfxMessageBox(const CString& text, UINT type, UINT /*helpContext*/)
{
    // As the framework does: an OK box without an icon gets the exclamation icon.
    if ((type & kIconMask) == 0 && (type & kTypeMask) == MB_OK)
        type |= MB_ICONEXCLAMATION;
    return AfxGetFeedback().MessageBox(nullptr, text, AfxGetApp()->m_strAppName, type);
}

CWinApp::CWinApp(const char16_t* appName)
{
    if (appName != nullptr)
        m_strAppName = appName;
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

HICON CWinApp::LoadIcon(UINT id) const
{
    return m_pBackend != nullptr ? m_pBackend->LoadIcon(id) : nullptr;
}

CString AfxAppNameFromPath(const CString& path)
{
    const size_t slash = path.find_last_of(u"/\\");
    CString name = slash == CString::npos ? path : CString(path.substr(slash + 1));
    const size_t dot = name.find_last_of(u'.');
    if (dot != CString::npos && dot > 0)
        name.resize(dot);
    return name;
}

int AfxWinMain(CWinApp& app, IWindowBackend& backend, const CString& exePath)
{
    app.m_pBackend = &backend;
    if (app.m_strAppName.IsEmpty())
        app.m_strAppName = AfxAppNameFromPath(exePath);
    // The program's InitInstance runs its whole life inside a modal dialog and returns FALSE, so
    // there is no message loop of the application's own.
    app.InitInstance();
    return app.ExitInstance();
}
