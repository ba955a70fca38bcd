// The application: runs the main window modally and cleans up after it.
#pragma once

#include "app/zeltor_services.h"
#include "framework/afxwin.h"

class CZeltorApp : public CWinApp {
public:
    // The services come from the platform's start-up (or a test); the application keeps only
    // this reference.
    explicit CZeltorApp(ZeltorServices& services);
    ~CZeltorApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    ZeltorServices& m_services;
};

// The program: the platform's main() makes its window layer and services and calls this with the
// executable's path. Returns the exit code.
int ZeltorMain(IWindowBackend& backend, ZeltorServices& services, const CString& exePath);
