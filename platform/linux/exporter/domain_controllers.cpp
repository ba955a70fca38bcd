#include "platform/linux/exporter/domain_controllers.h"

#include <algorithm>

#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"
#include "framework/cstring.h"
#include "platform/linux/directory/dc_locator.h"

DomainControllerCache::DomainControllerCache(Locate locate, Settings settings, Logger logger)
    : m_locate(std::move(locate)), m_settings(settings), m_logger(std::move(logger))
{
}

DomainControllerCache::Locate DomainControllerCache::ThroughDns(const DnsResolver& resolver)
{
    return [resolver](const std::string& domain, std::vector<std::string>* hosts, std::chrono::seconds* ttl) {
        std::vector<DsControllerInfo1> controllers;
        std::uint32_t seconds = 0;
        const std::uint32_t result = LocateDomainControllers(resolver, domain, &controllers, &seconds);
        *ttl = std::chrono::seconds(seconds);
        hosts->clear();
        for (const DsControllerInfo1& controller : controllers)
            hosts->push_back(controller.DnsHostName.ToUtf8());
        return result;
    };
}

std::vector<std::string> DomainControllerCache::Controllers(const std::string& domainName)
{
    std::string domain = AsciiLowercase(domainName);
    if (domain.ends_with('.'))
        domain.pop_back();
    std::shared_ptr<Entry> entry;
    {
        const std::lock_guard lock(m_mutex);
        std::shared_ptr<Entry>& slot = m_entries[domain];
        if (!slot)
            slot = std::make_shared<Entry>();
        entry = slot;
        if (Clock::now() < entry->nextLookup)
            return entry->hosts;
    }
    // Time for a look-up. When another is under way, the list it renews still answers; only
    // a domain with no list yet waits for it.
    std::unique_lock lookup(entry->lookup, std::try_to_lock);
    if (!lookup.owns_lock()) {
        {
            const std::lock_guard lock(m_mutex);
            if (entry->found)
                return entry->hosts;
        }
        lookup.lock();
    }
    {
        const std::lock_guard lock(m_mutex);
        if (Clock::now() < entry->nextLookup) // renewed while this one waited
            return entry->hosts;
    }
    std::vector<std::string> hosts;
    std::chrono::seconds ttl{ 0 };
    const std::uint32_t result = m_locate(domain, &hosts, &ttl);
    for (std::string& host : hosts) {
        host = AsciiLowercase(host);
        if (host.ends_with('.'))
            host.pop_back();
    }
    const std::lock_guard lock(m_mutex);
    if (result == 0 && !hosts.empty()) {
        if (hosts != entry->hosts) {
            std::string names;
            for (const std::string& host : hosts)
                names += (names.empty() ? "" : ", ") + host;
            m_logger("the controllers of " + domain + ": " + names);
        }
        entry->hosts = std::move(hosts);
        entry->found = true;
        // Renewed by the time DNS would give another answer, but not more often than a failed
        // look-up is tried again.
        Clock::duration keep = m_settings.refresh;
        if (ttl.count() > 0)
            keep = std::max<Clock::duration>(std::min<Clock::duration>(keep, ttl), m_settings.retry);
        entry->nextLookup = Clock::now() + keep;
    } else {
        std::string reason = CString(Win32ErrorText(result != 0 ? result : win32_error::kNoSuchDomain)).ToUtf8();
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
            reason.pop_back(); // the system's texts end with a line break
        m_logger("cannot find the controllers of " + domain + " (" + reason + ")" +
                 (entry->found ? "; the last ones found still serve" : ""));
        entry->nextLookup = Clock::now() + m_settings.retry;
    }
    return entry->hosts;
}
