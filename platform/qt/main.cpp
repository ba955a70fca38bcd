// The Linux program: the Qt window layer with the Linux services.
#include "app/zeltor_app.h"
#include "platform/linux/linux_counter_source.h"
#include "platform/linux/linux_directory_service.h"
#include "platform/linux/linux_shell.h"
#include "platform/linux/smb_network_connector.h"
#include "platform/qt/qt_window_backend.h"

int main(int argc, char** argv)
{
    QtWindowBackend ui(argc, argv);
    LinuxDirectoryService directory;
    SmbNetworkConnector network;
    LinuxCounterSource counters;
    // Links open through xdg-open; the sound and the hand pointer are the window layer's.
    LinuxShellOptions shellOptions;
    shellOptions.beep = [&ui](UINT) { ui.Beep(); };
    shellOptions.createHandCursor = [&ui] { return ui.CreateHandCursor(); };
    shellOptions.destroyCursor = [&ui](HCURSOR cursor) { ui.DestroyCursor(cursor); };
    LinuxShellService shell(std::move(shellOptions));
    ZeltorServices services{ directory, network, counters, shell };
    return ZeltorMain(ui, services, CString::FromUtf8(argv[0]));
}
