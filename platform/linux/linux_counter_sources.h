// The counter source of the Linux programs: this machine's counters from procfs, every other
// machine's over its Remote Registry, as the user of the connection that the network connector
// opened to it (credentials: the registry the connector was given).
#pragma once

#include <memory>

#include "perf/counter_source.h"
#include "platform/linux/remote/samba_performance_registry.h"
#include "platform/linux/samba/credential_registry.h"

std::unique_ptr<ICounterSource> MakeLinuxCounterSource(CredentialRegistry& credentials,
                                                       RemoteCounterOptions remoteOptions = {});
