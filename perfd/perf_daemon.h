// The provider's life: open Samba's performance databases, write a sample of this machine at
// every interval until SIGTERM, SIGINT or SIGHUP, then empty the databases and end.
#pragma once

#include <cstdio>
#include <string>

#include "perfd/perfd_options.h"

// Exit statuses: 0 after a stop by signal, 1 when the databases could not be opened or written
// at the start. Failures after the start are logged (once each, and the recovery) and tried
// again at the next update.
int RunPerfd(const PerfdOptions& options, const std::string& stateDirectory, std::FILE* log);
