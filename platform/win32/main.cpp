// The Windows program: the Win32 window layer and the system's services under the shared
// application.
#include "platform/win32/win32_include.h"

#include <vector>

#include "app/zeltor_app.h"
#include "app/zeltor_services.h"
#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_health.h"
#include "platform/win32/win32_replication.h"
#include "platform/win32/win32_services.h"
#include "platform/win32/win32_shell.h"

namespace {

// The executable's full path, however long.
CString ModulePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return CString();
        if (length < buffer.size())
            return FromWStr(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    Win32WindowBackend backend(instance);
    Win32DirectoryService directory;
    Win32NetworkConnector network;
    Win32CounterSource counters;
    Win32ShellService shell;
    ZeltorServices services{ directory, network, counters, shell };
    services.health = std::make_shared<Win32HealthService>();
    // The system's counter library and connections serve any thread; each controller of the
    // overview still gets objects of its own.
    services.overview = [] {
        ControllerConnection connection;
        connection.network = std::make_unique<Win32NetworkConnector>();
        connection.counters = std::make_unique<Win32CounterSource>();
        return connection;
    };
    // Each controller's replication through a binding of its own.
    services.replication = [] { return std::make_shared<Win32ReplicationService>(); };
    return ZeltorMain(backend, services, ModulePath());
}
