// zeltor-perfd: fills Samba's performance databases with this machine's counters.
// docs/perfd.md says how to install and start it.
#include <cstdio>
#include <string>

#include "perfd/perf_daemon.h"
#include "perfd/perfd_options.h"

int main(int argc, char** argv)
{
    PerfdOptions options;
    std::string message;
    switch (ParsePerfdOptions(argc, argv, &options, &message)) {
    case PerfdCommand::Help:
        std::fputs(message.c_str(), stdout);
        return 0;
    case PerfdCommand::Version:
        std::printf("zeltor-perfd %s\n", ZELTOR_VERSION);
        return 0;
    case PerfdCommand::Error:
        std::fprintf(stderr, "zeltor-perfd: %s\nTry 'zeltor-perfd --help'.\n", message.c_str());
        return 2;
    case PerfdCommand::Run:
        break;
    }
    std::string stateDirectory;
    if (!ResolveStateDirectory(options, &stateDirectory, &message)) {
        std::fprintf(stderr, "zeltor-perfd: %s\n", message.c_str());
        return 1;
    }
    return RunPerfd(options, stateDirectory, stderr);
}
