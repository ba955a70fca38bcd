#include "app/zeltor_app.h"

#include "app/zeltor_dlg.h"
#include "res/program_resources.h"

namespace {

// INITCOMMONCONTROLSEX: its size, and the eight classic classes (list view, tree view, bars,
// tabs, up-down, progress, hot key, animation).
constexpr std::uint32_t kInitCommonControlsSize = 8;
constexpr std::uint32_t kClassicControlClasses = 0xFF;

} // namespace

CZeltorApp::CZeltorApp(ZeltorServices& services) : CWinApp(nullptr), m_services(services)
{
    m_pResources = &ProgramResources();
}

CZeltorApp::~CZeltorApp() = default;

BOOL CZeltorApp::InitInstance()
{
    AfxGetBackend().InitCommonControls(kInitCommonControlsSize, kClassicControlClasses);
    CWinApp::InitInstance();
    AfxEnableControlContainer();

    {
        CZeltorDlg dlg(m_services);
        m_pMainWnd = &dlg;
        dlg.DoModal();
        // The connections go while the dialog, and with it the open counter query, still exists.
        dlg.DisconnectAll();
        m_pMainWnd = nullptr;
    }
    return FALSE;
}

int CZeltorApp::ExitInstance()
{
    return CWinApp::ExitInstance();
}

int ZeltorMain(IWindowBackend& backend, ZeltorServices& services, const CString& exePath)
{
    CZeltorApp app(services);
    return AfxWinMain(app, backend, exePath);
}
