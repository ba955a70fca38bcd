// The command-line probe: the counters of one machine through the same engine as the window
// (the counter query and its status texts, discovery, the connection with credentials), written
// for scripts and monitoring systems. Each platform's main makes the services and the
// environment and calls ProbeMain.
#pragma once

#include <memory>
#include <vector>

#include "directory/directory_service.h"
#include "directory/health_check.h"
#include "directory/network_connector.h"
#include "directory/replication_status.h"
#include "framework/cstring.h"
#include "perf/counter_source.h"
#include "probe/probe_environment.h"

struct ProbeServices {
    IDirectoryService& directory;
    INetworkConnector& network;
    ICounterSource& counters;
    // The health checks of a domain controller (--health); none where the platform has none.
    std::shared_ptr<IHealthService> health = nullptr;
    // The replication of a domain controller (--replication); none where the platform has none.
    std::shared_ptr<IReplicationService> replication = nullptr;
};

// Exit codes; the nagios format uses the plugin states' codes (0 to 3) instead.
namespace probe_exit {
inline constexpr int kOk = 0;
inline constexpr int kOutputFailed = 1;
inline constexpr int kUsage = 2;
inline constexpr int kNoPassword = 3;
inline constexpr int kConnectionFailed = 4;
inline constexpr int kInitializeFailed = 5;
inline constexpr int kCollectFailed = 6;
inline constexpr int kNotFound = 7;
inline constexpr int kHealthFailed = 8;       // --health: a check failed
inline constexpr int kReplicationFailing = 9; // --replication: a partner's last attempt failed
inline constexpr int kInterrupted = 130;      // 128 + SIGINT, as shells report a Ctrl+C
} // namespace probe_exit

// args: the arguments after the program's name. Returns the exit code.
int ProbeMain(ProbeServices& services, IProbeEnvironment& env, const CString& exePath,
              const std::vector<CString>& args);
