// The exporter's page "/": its modules and auths, and the last probe of each target, module and
// auth, each its own row (one target is often scraped by several jobs: the dc and the ntds module,
// or two auths).
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "exporter/exporter_config.h"
#include "exporter/exporter_metrics.h"

struct LastProbe {
    std::string target, module, auth;
    bool success = false;
    std::string statusText;
    std::size_t available = 0, counters = 0; // counters read, of the module's
    // A success that read nothing: the objects the target does not publish (a Samba controller's
    // NTDS), in the module's order.
    std::vector<std::string> missingObjects;
    double seconds = 0;
    std::chrono::steady_clock::time_point at;
    // The health or replication module's: available of counters are the checks passed of those
    // made, or the partners replicating of those the controller pulls from.
    bool checked = false;
};

// What the page keeps of a probe.
LastProbe LastProbeOf(const std::string& target, const std::string& module, const std::string& auth,
                      std::size_t moduleCounters, const ProbeOutcome& outcome,
                      std::chrono::steady_clock::time_point at);

// The last probes by target (lower case, as targets compare), module and auth.
class LastProbes {
public:
    void Note(LastProbe probe);
    const std::map<std::tuple<std::string, std::string, std::string>, LastProbe>& Rows() const { return m_rows; }

private:
    std::map<std::tuple<std::string, std::string, std::string>, LastProbe> m_rows;
};

// A probe's state in the page's words: "success", the failure's text, or, when the target answered
// and published none of the module's counters, which objects it lacks.
std::string ProbeState(const LastProbe& probe);

std::string RenderStatusPage(const std::string& version, const ExporterConfig& config, const LastProbes& probes,
                             std::chrono::steady_clock::time_point now);
