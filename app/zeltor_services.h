// The platform's services that the program uses, made by the platform's start-up and handed to
// the application; tests hand scripted ones.
#pragma once

#include "app/overview_refresher.h"

class IDirectoryService;
class INetworkConnector;
class ICounterSource;
class IShellService;

struct ZeltorServices {
    IDirectoryService& directory;
    INetworkConnector& network;
    ICounterSource& counters;
    IShellService& shell;
    // A connection of its own for each controller of the domain overview, which reads them all at
    // once on workers of its own; without it the main window offers no overview.
    ControllerConnectionFactory overview = {};
    // The health checks of the overview's controllers; without them its Health column stays empty.
    std::shared_ptr<IHealthService> health = nullptr;
    // A replication reader for each controller of the overview; without it its Replication column
    // stays empty.
    ReplicationReaderFactory replication = nullptr;
};
