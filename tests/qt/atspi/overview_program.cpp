// The main window with the domain overview open over it, on the Qt window layer with scripted
// controllers: DC01 answers, DC02 is silent until the engine's bound, DC03 refuses the logon and
// DC04 answers without performance data; of their health, DC01's directory does not answer; DC04
// has failed to replicate from DC05 for 3 hours.
// Run by run_atspi_overview_test.sh, which reads the window over the accessibility bus; the
// program ends when its main window closes.
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "app/zeltor_dlg.h"
#include "directory/win32_error_text.h"
#include "perf/pdh_status.h"
#include "platform/qt/qt_window_backend.h"
#include "res/program_resources.h"
#include "res/resource.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/fake_shell.h"
#include "tests/fakes/scripted_health.h"
#include "tests/fakes/scripted_replication.h"

namespace {

// How long the silent controller holds its worker before it is given up.
constexpr int kSilentBoundMs = 4000;

// A controller by its name.
class ScriptedSource : public FakeCounterSource {
public:
    PDH_STATUS ConnectMachine(const CString& machine) override
    {
        if (machine.find(u"DC02") != CString::npos) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kSilentBoundMs));
            return PdhStatusFromWin32(win32_error::kSemTimeout);
        }
        if (machine.find(u"DC03") != CString::npos)
            return PdhStatusFromWin32(win32_error::kLogonFailure);
        if (machine.find(u"DC04") != CString::npos)
            return PDH_CANNOT_READ_NAME_STRINGS;
        return FakeCounterSource::ConnectMachine(machine);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QtWindowBackend ui(argc, argv);
    CWinApp app{ u"zeltor" };
    app.m_pBackend = &ui;
    app.m_pResources = &ProgramResources();

    FakeDirectoryService directory;
    FakeNetworkConnector network;
    FakeCounterSource counters;
    FakeShellService shell;
    directory.joinStatus = NetSetupDomainName;
    directory.joinName = u"CORP";
    for (const char16_t* name : { u"DC01", u"DC02", u"DC03", u"DC04" }) {
        DsControllerInfo1 info;
        info.NetbiosName = name;
        directory.controllers.push_back(info);
    }
    ZeltorServices services{ directory, network, counters, shell };
    services.overview = [] {
        ControllerConnection c;
        c.network = std::make_unique<FakeNetworkConnector>();
        auto source = std::make_unique<ScriptedSource>();
        source->SetValue(u"\\Processor(_Total)\\% Processor Time", 95);
        source->SetValue(u"\\Memory\\% Committed Bytes In Use", 42);
        source->SetValue(u"\\LogicalDisk(_Total)\\% Free Space", 55);
        source->SetValue(u"\\Process(lsass)\\Handle Count", 1234);
        source->SetValue(u"\\Memory\\Page Faults/sec", 300);
        c.counters = std::move(source);
        return c;
    };

    const auto health = std::make_shared<ScriptedHealth>();
    health->SetDown("DC01");
    services.health = health;
    const auto replication = std::make_shared<ScriptedReplication>();
    const std::int64_t now = std::time(nullptr);
    replication->Answer("DC01", { { "DC04" } }, now);
    replication->Answer("DC04", { { "DC01" }, { "DC05", 9, 1722, 3 * 3600 + 60 } }, now);
    services.replication = [replication] { return std::shared_ptr<IReplicationService>(replication); };

    CZeltorDlg dlg(services);
    app.m_pMainWnd = &dlg;
    QTimer::singleShot(0, [&] {
        if (HWND main = ui.FindDialog(u"Zeltor"))
            ui.SendMessage(main, WM_SYSCOMMAND, ID_SYSCMD_OVERVIEW, 0);
    });
    dlg.DoModal();
    app.m_pMainWnd = nullptr;
    return 0;
}
