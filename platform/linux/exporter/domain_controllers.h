// The controllers of the auths' domains, found as the program finds a domain's controllers (the
// DNS SRV records every Active Directory controller registers) and kept for a while (the refresh,
// or the records' TTL when it is shorter, but never under the retry), so that a
// scrape rarely waits for DNS and never for long: a look-up is bounded by the resolver's own
// timeouts, one at a time per domain, and while a domain's list is being renewed the last one
// found still answers. A look-up that fails keeps the last list (a DNS outage does not stop the
// monitoring) and is tried again sooner.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "exporter/probe_request.h"
#include "platform/linux/names/dns_resolver.h"

class DomainControllerCache : public IDomainControllers {
public:
    using Clock = std::chrono::steady_clock;
    // The host names of a domain's controllers and how long they may be kept (0: as long as the
    // refresh): 0, or the Win32 error of the look-up.
    using Locate = std::function<std::uint32_t(const std::string& domain, std::vector<std::string>* hosts,
                                               std::chrono::seconds* ttl)>;
    using Logger = std::function<void(const std::string& line)>;

    struct Settings {
        Clock::duration refresh = std::chrono::minutes(5); // a list found is used this long
        Clock::duration retry = std::chrono::seconds(30);  // after a failed look-up
    };

    DomainControllerCache(Locate locate, Settings settings, Logger logger);

    std::vector<std::string> Controllers(const std::string& domain) override;

    // Look-ups through DNS SRV records, with the system's resolver configuration.
    static Locate ThroughDns(const DnsResolver& resolver);

private:
    struct Entry {
        std::mutex lookup; // held by the one look-up under way
        std::vector<std::string> hosts;
        Clock::time_point nextLookup; // the epoch: never looked up
        bool found = false;           // some look-up found controllers
    };

    Locate m_locate;
    Settings m_settings;
    Logger m_logger;
    std::mutex m_mutex;                                      // the table and each entry's hosts, nextLookup and found
    std::map<std::string, std::shared_ptr<Entry>> m_entries; // by lower-case domain
};
