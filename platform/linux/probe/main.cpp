// zeltor-probe on Linux: the probe with the Linux services, the same ones as the window's.
#include "platform/linux/linux_counter_source.h"
#include "platform/linux/linux_directory_service.h"
#include "platform/linux/probe/linux_probe_environment.h"
#include "platform/linux/smb_network_connector.h"
#include "probe/probe_main.h"

int main(int argc, char** argv)
{
    LinuxProbeEnvironment env;
    LinuxDirectoryService directory;
    SmbNetworkConnector network;
    LinuxCounterSource counters;
    ProbeServices services{ directory, network, counters };
    std::vector<CString> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(CString::FromUtf8(argv[i]));
    return ProbeMain(services, env, CString::FromUtf8(argv[0]), args);
}
