// zeltor-probe.exe: the probe with the system's services, the same ones as the window's.
#include "platform/win32/win32_include.h"

#include <memory>
#include <vector>

#include "platform/win32/probe/win32_probe_environment.h"
#include "platform/win32/win32_health.h"
#include "platform/win32/win32_replication.h"
#include "platform/win32/win32_services.h"
#include "probe/probe_main.h"

int wmain(int argc, wchar_t** argv)
{
    Win32ProbeEnvironment env;
    Win32DirectoryService directory;
    Win32NetworkConnector network;
    Win32CounterSource counters;
    ProbeServices services{ directory, network, counters, std::make_shared<Win32HealthService>() };
    services.replication = std::make_shared<Win32ReplicationService>();
    std::vector<CString> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(FromWStr(argv[i]));
    return ProbeMain(services, env, FromWStr(argv[0]), args);
}
