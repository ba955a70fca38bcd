// A test fixture with the headless window layer and scripted services, and the main dialog on
// top of them.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/zeltor_dlg.h"
#include "res/program_resources.h"
#include "res/resource.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/fake_shell.h"
#include "tests/headless/headless_backend.h"

class HeadlessTest : public ::testing::Test {
protected:
    HeadlessTest() : services{ directory, network, counters, shell }
    {
        app.m_pBackend = &ui;
        app.m_pResources = &ProgramResources();
        app.m_strAppName = u"zeltor";
    }

    // Creates the main dialog's window (runs OnInitDialog) without a modal loop.
    CZeltorDlg& OpenMainDialog()
    {
        dlg = std::make_unique<CZeltorDlg>(services);
        app.m_pMainWnd = dlg.get();
        EXPECT_TRUE(dlg->Create());
        return *dlg;
    }

    HWND Ctl(int id) { return ui.Item(dlg->m_hWnd, id); }
    CString Text(int id) { return ui.GetWindowText(Ctl(id)); }
    bool Enabled(int id) { return ui.IsWindowEnabled(Ctl(id)) != FALSE; }
    void Click(int id) { ui.Click(Ctl(id)); }
    bool TimerRunning() { return ui.IsTimerRunning(dlg->m_hWnd, CZeltorDlg::kRefreshTimerId); }
    bool Tick() { return ui.Tick(dlg->m_hWnd, CZeltorDlg::kRefreshTimerId); }

    CWinApp app{ u"zeltor" };
    HeadlessBackend ui;
    FakeDirectoryService directory;
    FakeNetworkConnector network;
    FakeCounterSource counters;
    FakeShellService shell;
    ZeltorServices services;
    std::unique_ptr<CZeltorDlg> dlg;
};
