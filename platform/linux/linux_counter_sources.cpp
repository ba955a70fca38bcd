#include "platform/linux/linux_counter_sources.h"

#include "platform/linux/counters/linux_counter_source.h"
#include "platform/linux/remote/remote_counter_source.h"
#include "platform/linux/routing_counter_source.h"

std::unique_ptr<ICounterSource> MakeLinuxCounterSource(CredentialRegistry& credentials,
                                                       RemoteCounterOptions remoteOptions)
{
    auto registry = std::make_unique<SambaPerformanceRegistry>(credentials, std::move(remoteOptions));
    return std::make_unique<
        RoutingCounterSource>(std::make_unique<LinuxCounterSource>(),
                              std::make_unique<RemoteCounterSource>(std::move(registry),
                                                                    LinuxCounterSource::SleepMilliseconds));
}
