#include "exporter/probe_request.h"

#include <algorithm>

#include "framework/ascii_case.h"

namespace {

ProbeRequest Refuse(int status, std::string refusal, std::string reason)
{
    ProbeRequest request;
    request.httpStatus = status;
    request.refusal = std::move(refusal);
    request.reason = std::move(reason);
    return request;
}

// The one value of the argument name: false with the reason when it is missing or repeated.
bool OneValue(const QueryArguments& arguments, const std::string& name, std::string* value, std::string* reason)
{
    int count = 0;
    for (const auto& [key, text] : arguments) {
        if (key == name) {
            ++count;
            *value = text;
        }
    }
    if (count == 1)
        return true;
    *reason =
        count == 0 ? "missing parameter " + name : "parameter " + name + " given " + std::to_string(count) + " times";
    return false;
}

// What a refusal may repeat of the request: no more than a line of plain characters.
std::string Quoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text.substr(0, 80))
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out + (text.size() > 80 ? "...\"" : "\"");
}

} // namespace

ProbeRequest CheckProbeRequest(const ExporterConfig& config, const QueryArguments& arguments,
                               IDomainControllers* controllers)
{
    std::string target, moduleName, authName, reason;
    if (!OneValue(arguments, "target", &target, &reason))
        return Refuse(400, "bad_parameter", reason);
    if (!IsTargetName(target))
        return Refuse(400, "bad_parameter", "target " + Quoted(target) + " is not a host name or address");
    if (!OneValue(arguments, "module", &moduleName, &reason))
        return Refuse(400, "bad_parameter", reason);
    const ExporterModule* module = config.FindModule(moduleName);
    if (module == nullptr)
        return Refuse(400, "unknown_module", "unknown module " + Quoted(moduleName));
    if (!OneValue(arguments, "auth", &authName, &reason))
        return Refuse(400, "bad_parameter", reason);
    const ExporterAuth* auth = config.FindAuth(authName);
    if (auth == nullptr)
        return Refuse(400, "unknown_auth", "unknown auth " + Quoted(authName));
    // Host names ignore case; a trailing dot names the same host.
    const auto bare = [](std::string_view name) {
        return name.ends_with('.') ? name.substr(0, name.size() - 1) : name;
    };
    const auto listed = [&](const std::vector<std::string>& names) {
        return std::any_of(names.begin(), names.end(),
                           [&](const std::string& name) { return EqualsIgnoringCase(bare(name), bare(target)); });
    };
    bool allowed = listed(auth->targets);
    std::string unknownDomains;
    for (std::size_t i = 0; !allowed && i < auth->targetDomains.size(); ++i) {
        const std::vector<std::string> found =
            controllers != nullptr ? controllers->Controllers(auth->targetDomains[i]) : std::vector<std::string>();
        allowed = listed(found);
        if (found.empty())
            unknownDomains += (unknownDomains.empty() ? "" : ", ") + auth->targetDomains[i];
    }
    if (!allowed) {
        // The module and auth go with the refusal: they are the configuration's, and say which job
        // asked.
        ProbeRequest refused =
            Refuse(403, "target_not_allowed",
                   "target " + Quoted(target) + " is not one auth " + auth->name + " may be used with" +
                       (unknownDomains.empty() ? "" : " (no controllers found for " + unknownDomains + ")"));
        refused.module = module;
        refused.auth = auth;
        return refused;
    }
    ProbeRequest request;
    request.target = target;
    request.module = module;
    request.auth = auth;
    return request;
}
