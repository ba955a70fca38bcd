// zeltor-probe on Linux: the probe with the Linux services, made as the window's are.
#include "platform/linux/directory/linux_directory_service.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/health/linux_health_service.h"
#include "platform/linux/linux_counter_sources.h"
#include "platform/linux/probe/linux_probe_environment.h"
#include "platform/linux/replication/linux_replication_service.h"
#include "platform/linux/samba/credential_registry.h"
#include "probe/probe_main.h"

int main(int argc, char** argv)
{
    LinuxProbeEnvironment env;
    LinuxDirectoryService directory;
    // The counters of another machine ride the credentials of the connection opened to it.
    CredentialRegistry credentials;
    SmbNetworkConnector::Options networkOptions;
    networkOptions.credentials = &credentials;
    SmbNetworkConnector network(networkOptions);
    const std::unique_ptr<ICounterSource> counters = MakeLinuxCounterSource(credentials);
    ProbeServices services{ directory, network, *counters, std::make_shared<LinuxHealthService>(),
                            std::make_shared<LinuxReplicationService>() };
    std::vector<CString> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(CString::FromUtf8(argv[i]));
    return ProbeMain(services, env, CString::FromUtf8(argv[0]), args);
}
