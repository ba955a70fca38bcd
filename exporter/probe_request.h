// A request for /probe, checked before anything is sent anywhere: which target, module and auth,
// or why not (HTTP 400 for a malformed request, 403 for a target the auth may not be sent to).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "exporter/exporter_config.h"

struct ProbeRequest {
    int httpStatus = 200; // 200: go ahead; else 400 or 403 with reason
    std::string reason;   // one line
    // The refusal's kind, a word for a metric's label: bad_parameter, unknown_module, unknown_auth,
    // target_not_allowed.
    std::string refusal;
    std::string target;
    const ExporterModule* module = nullptr; // also on a 403: whose request it was
    const ExporterAuth* auth = nullptr;
};

// The query's arguments in their order, each occurrence apart (target=a&target=b is two).
using QueryArguments = std::vector<std::pair<std::string, std::string>>;

// The controllers of a domain as discovery finds them (DNS host names), for the auths whose
// targets are a domain's controllers.
class IDomainControllers {
public:
    virtual ~IDomainControllers() = default;
    // The host names of domain's controllers; empty when none are known (discovery failed and
    // never found any).
    virtual std::vector<std::string> Controllers(const std::string& domain) = 0;
};

// controllers is asked only for an auth with target domains and a target not listed by name.
ProbeRequest CheckProbeRequest(const ExporterConfig& config, const QueryArguments& arguments,
                               IDomainControllers* controllers = nullptr);
