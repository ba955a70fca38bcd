#include "platform/linux/names/host_lookup.h"

#include <netdb.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>

#include "framework/worker_threads.h"

namespace {

std::vector<HostAddress> Addresses(const addrinfo* found)
{
    std::vector<HostAddress> addresses;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        HostAddress address{};
        std::memcpy(&address.address, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        addresses.push_back(address);
    }
    return addresses;
}

} // namespace

int LookUpHostWithin(const std::string& host, std::uint16_t port, int timeoutMs, std::vector<HostAddress>* addresses)
{
    // An address needs no resolver, nor a thread to wait for it.
    addrinfo numeric{};
    numeric.ai_socktype = SOCK_STREAM;
    numeric.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &numeric, &found) == 0) {
        *addresses = Addresses(found);
        freeaddrinfo(found);
        return 0;
    }
    struct LookUp {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        int result = EAI_AGAIN;
        std::vector<HostAddress> addresses;
    };
    auto lookUp = std::make_shared<LookUp>();
    try {
        RunOnWorkerThread([lookUp, host, port] {
            addrinfo hints{};
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const int result = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
            std::vector<HostAddress> addresses = Addresses(result == 0 ? found : nullptr);
            if (found != nullptr)
                freeaddrinfo(found);
            const std::lock_guard lock(lookUp->mutex);
            lookUp->finished = true;
            lookUp->result = result;
            lookUp->addresses = std::move(addresses);
            lookUp->done.notify_all();
        });
    } catch (const std::system_error&) {
        return EAI_SYSTEM;
    }
    std::unique_lock lock(lookUp->mutex);
    if (!lookUp->done.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                               [&] { return lookUp->finished; }))
        return EAI_AGAIN;
    *addresses = std::move(lookUp->addresses);
    return lookUp->result;
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}
