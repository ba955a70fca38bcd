// A domain's controllers as the health checks see them, each exchange answered at once: the
// rootDSE with this machine's clock (a catalog where asked), the KDC and the DNS records of every
// controller; the bind and the shares take the password "right" or none (the user's own ticket)
// and refuse any other, each counted as a logon.
// A controller named in ldapDown gives no rootDSE.
#pragma once

#include <chrono>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "directory/health_check.h"

class ScriptedHealth : public IHealthService {
public:
    RootDseReading ReadRootDse(const HealthTarget& target, std::uint16_t port, int) override
    {
        RootDseReading reading;
        if (IsDown(target.controller)) {
            reading.probe = { false, "no answer from " + target.controller };
            return reading;
        }
        reading.probe = { port == 389, port == 389 ? "read" : "connecting: Connection refused" };
        reading.sentUnixMs = reading.receivedUnixMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        const std::time_t now = reading.sentUnixMs / 1000;
        std::tm utc{};
        gmtime_r(&now, &utc);
        char text[32];
        std::strftime(text, sizeof text, "%Y%m%d%H%M%S.0Z", &utc);
        reading.currentTime = text;
        reading.isSynchronized = "TRUE";
        reading.isGlobalCatalogReady = "FALSE";
        reading.highestCommittedUSN = "4242";
        return reading;
    }
    HealthProbe BindAndReadDomain(const HealthTarget& target, int) override { return Logon(target); }
    HealthProbe AskKdc(const HealthTarget&, int) override { return { true, "answers" }; }
    HealthProbe CheckDnsRecords(const HealthTarget&, int) override { return { true, "listed" }; }
    HealthProbe ReachShare(const HealthTarget& target, const std::string&, int) override { return Logon(target); }

    void SetDown(const std::string& controller)
    {
        const std::lock_guard lock(m_mutex);
        m_down.insert(controller);
    }
    // The logons that reached controller (all of them without a name).
    int Logons(const std::string& controller = {})
    {
        const std::lock_guard lock(m_mutex);
        if (!controller.empty())
            return m_logons[controller];
        int all = 0;
        for (const auto& [name, count] : m_logons)
            all += count;
        return all;
    }

private:
    bool IsDown(const std::string& controller)
    {
        const std::lock_guard lock(m_mutex);
        return m_down.contains(controller);
    }
    HealthProbe Logon(const HealthTarget& target)
    {
        {
            const std::lock_guard lock(m_mutex);
            ++m_logons[target.controller];
        }
        return target.password.IsEmpty() || target.password == u"right"
                   ? HealthProbe{ true, "bound" }
                   : HealthProbe{ false, "Preauthentication failed", true };
    }

    std::mutex m_mutex;
    std::set<std::string> m_down;
    std::map<std::string, int> m_logons;
};
