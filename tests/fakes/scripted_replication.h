// Controllers' replication as a reader sees it, answered at once: each controller gives the
// status set for it (an unknown one is unreachable). The password "wrong" is refused as the
// controller refuses it; every read is counted, and the refused ones apart.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "directory/replication_status.h"

class ScriptedReplication : public IReplicationService {
public:
    ReplicationStatus Read(const ReplicationTarget& target, int) override
    {
        const std::lock_guard lock(m_mutex);
        ++m_reads[target.controller];
        ReplicationStatus status;
        if (target.password.ToUtf8() == "wrong") {
            ++m_refused;
            status.refusedLogon = true;
            status.error = 1326;
            status.errorText = "The user name or password is incorrect.";
            return status;
        }
        const auto found = m_answers.find(target.controller);
        if (found == m_answers.end()) {
            status.error = 1722;
            status.errorText = "the replication interface of " + target.controller + ": " + ResultText(1722);
            return status;
        }
        return found->second;
    }

    // controller pulls from each partner named, one naming context each; a partner with a result
    // has failed that often since its success failingFor seconds before now.
    struct Partner {
        std::string name;
        std::uint32_t failures = 0;
        std::uint32_t result = 0;
        std::int64_t failingFor = 0;
    };
    void Answer(const std::string& controller, const std::vector<Partner>& partners, std::int64_t now)
    {
        ReplicationStatus status;
        status.read = true;
        status.pendingOperations = 0;
        status.tombstoneLifetime = TombstoneLifetime{ 180, true };
        for (const Partner& partner : partners) {
            ReplicationNeighbor n;
            n.namingContext = "DC=example,DC=com";
            n.partnerDsaDn = "CN=NTDS Settings,CN=" + partner.name + ",CN=Servers,CN=Site,CN=Sites,CN=Configuration";
            n.partnerGuid = "guid-of-" + partner.name;
            n.lastAttempt = now - 30;
            n.lastSuccess = now - (partner.result != 0 ? partner.failingFor : 30);
            n.consecutiveFailures = partner.failures;
            n.lastResult = partner.result;
            status.neighbors.push_back(n);
        }
        const std::lock_guard lock(m_mutex);
        m_answers[controller] = status;
    }

    int Reads(const std::string& controller)
    {
        const std::lock_guard lock(m_mutex);
        return m_reads[controller];
    }
    int Refused()
    {
        const std::lock_guard lock(m_mutex);
        return m_refused;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, ReplicationStatus> m_answers;
    std::map<std::string, int> m_reads;
    int m_refused = 0;
};
