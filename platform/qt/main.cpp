// The Linux program: the Qt window layer with the Linux services.
#include "app/zeltor_app.h"
#include "platform/linux/directory/linux_directory_service.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/health/linux_health_service.h"
#include "platform/linux/linux_counter_sources.h"
#include "platform/linux/replication/linux_replication_service.h"
#include "platform/linux/samba/credential_registry.h"
#include "platform/linux/shell/linux_shell.h"
#include "platform/qt/qt_window_backend.h"

int main(int argc, char** argv)
{
    QtWindowBackend ui(argc, argv);
    LinuxDirectoryService directory;
    // The counters of a controller ride the credentials of the connection Update opened to it.
    CredentialRegistry credentials;
    SmbNetworkConnector::Options networkOptions;
    networkOptions.credentials = &credentials;
    SmbNetworkConnector network(networkOptions);
    const std::unique_ptr<ICounterSource> counters = MakeLinuxCounterSource(credentials);
    // Links open through xdg-open; the sound and the hand pointer are the window layer's.
    LinuxShellOptions shellOptions;
    shellOptions.beep = [&ui](UINT) { ui.Beep(); };
    shellOptions.createHandCursor = [&ui] { return ui.CreateHandCursor(); };
    shellOptions.destroyCursor = [&ui](HCURSOR cursor) { ui.DestroyCursor(cursor); };
    LinuxShellService shell(std::move(shellOptions));
    ZeltorServices services{ directory, network, *counters, shell };
    services.health = std::make_shared<LinuxHealthService>();
    services.replication = [] { return std::make_shared<LinuxReplicationService>(); };
    // Each controller of the overview on a connection of its own: its own credentials (those the
    // overview's connection gives), its own SMB session and Remote Registry.
    services.overview = [] {
        ControllerConnection connection;
        auto own = std::make_shared<CredentialRegistry>();
        SmbNetworkConnector::Options options;
        options.credentials = own.get();
        // A controller that is not there fails at its port, not inside Samba's library, which
        // the other controllers' workers wait for.
        options.reachTimeoutMs = RemoteCounterOptions{}.reachTimeoutMs;
        connection.keep = own;
        connection.network = std::make_unique<SmbNetworkConnector>(options);
        connection.counters = MakeLinuxCounterSource(*own);
        return connection;
    };
    return ZeltorMain(ui, services, CString::FromUtf8(argv[0]));
}
