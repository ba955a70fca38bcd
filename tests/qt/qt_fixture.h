// Runs a dialog of the program on the Qt window layer and lets a test act while its modal loop
// runs.
#pragma once

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

#include "app/zeltor_dlg.h"
#include "platform/qt/qt_window_backend.h"
#include "res/program_resources.h"
#include "res/resource.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/fake_shell.h"

class QtDialogTest : public ::testing::Test {
protected:
    QtDialogTest() : ui(argc, argv), services{ directory, network, counters, shell }
    {
        app.m_pBackend = &ui;
        app.m_pResources = &ProgramResources();
    }

    // Runs the main dialog modally (with the given services, else the scripted ones); script
    // runs once its window is shown.
    int RunMainDialog(std::function<void(HWND)> script, ZeltorServices* with = nullptr)
    {
        CZeltorDlg dlg(with != nullptr ? *with : services);
        app.m_pMainWnd = &dlg;
        QTimer::singleShot(0, [&] {
            HWND h = ui.FindDialog(u"Zeltor");
            EXPECT_NE(h, nullptr);
            if (h != nullptr)
                script(h);
        });
        // The dialog must end within a bound, whatever the script did.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] { dlg.EndDialog(-99); });
        guard.start(20000);
        const int result = dlg.DoModal();
        app.m_pMainWnd = nullptr;
        return result;
    }

    // Waits (processing events) until pred holds or the bound passes.
    static bool WaitFor(const std::function<bool()>& pred, int boundMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!pred() && t.elapsed() < boundMs)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return pred();
    }

    // The message box open now, or nullptr.
    static QMessageBox* OpenMessageBox()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible())
                return box;
        }
        return nullptr;
    }

    static void SaveScreenshot(QWidget* window, const QString& name)
    {
        QDir().mkpath(QStringLiteral(ZELTOR_SCREENSHOT_DIR));
        window->grab().save(QStringLiteral(ZELTOR_SCREENSHOT_DIR "/") + name);
    }

    template <typename W>
    W* Control(HWND dialog, int id)
    {
        return qobject_cast<W*>(ui.Widget(ui.GetDlgItem(dialog, id)));
    }

    int argc = 1;
    char arg0[7] = "zeltor";
    char* argv[2] = { arg0, nullptr };
    CWinApp app{ u"zeltor" };
    QtWindowBackend ui;
    FakeDirectoryService directory;
    FakeNetworkConnector network;
    FakeCounterSource counters;
    FakeShellService shell;
    ZeltorServices services;
};
