// The platform's services that the program uses, made by the platform's start-up and handed to
// the application; tests hand scripted ones.
#pragma once

class IDirectoryService;
class INetworkConnector;
class ICounterSource;
class IShellService;

struct ZeltorServices {
    IDirectoryService& directory;
    INetworkConnector& network;
    ICounterSource& counters;
    IShellService& shell;
};
