#include "exporter/exporter_config.h"

#include <algorithm>
#include <utility>

#include "app/counter_set.h"
#include "framework/ascii_case.h"
#include "framework/cstring.h"
#include "perf/counter_path.h"

namespace {

template <typename T>
const T* FindNamed(const std::vector<T>& items, std::string_view name)
{
    const auto found = std::find_if(items.begin(), items.end(), [&](const T& item) { return item.name == name; });
    return found == items.end() ? nullptr : &*found;
}

// Module and auth names go into URLs and labels: a conservative alphabet.
bool IsPlainName(std::string_view name)
{
    if (name.empty() || name.size() > 64)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.';
    });
}

} // namespace

const ExporterModule* ExporterConfig::FindModule(std::string_view name) const
{
    return FindNamed(modules, name);
}

const ExporterAuth* ExporterConfig::FindAuth(std::string_view name) const
{
    return FindNamed(auths, name);
}

ExporterModule DomainControllerModule()
{
    ExporterModule module;
    module.name = "dc";
    for (const char16_t* path : kCounterSetPaths)
        module.paths.push_back(CString(path).ToUtf8());
    return module;
}

ExporterModule DirectoryServiceModule()
{
    ExporterModule module;
    module.name = "ntds";
    module.paths = {
        // LDAP: the load clients put on the controller, and how many wait for it.
        "\\NTDS\\LDAP Searches/sec",
        "\\NTDS\\LDAP Writes/sec",
        "\\NTDS\\LDAP Successful Binds/sec",
        "\\NTDS\\LDAP Client Sessions",
        "\\NTDS\\LDAP Active Threads",
        // Replication: what comes in and goes out, and the backlog.
        "\\NTDS\\DRA Inbound Bytes Total/sec",
        "\\NTDS\\DRA Outbound Bytes Total/sec",
        "\\NTDS\\DRA Inbound Objects/sec",
        "\\NTDS\\DRA Outbound Objects/sec",
        "\\NTDS\\DRA Pending Replication Synchronizations",
        // The directory itself, whoever asks.
        "\\NTDS\\DS Directory Reads/sec",
        "\\NTDS\\DS Directory Writes/sec",
        "\\NTDS\\DS Directory Searches/sec",
        "\\NTDS\\DS Threads in Use",
        // Logons the controller serves.
        "\\Security System-Wide Statistics\\Kerberos Authentications",
        "\\Security System-Wide Statistics\\NTLM Authentications",
    };
    return module;
}

ExporterModule HealthModule()
{
    ExporterModule module;
    module.name = "health";
    module.health = true;
    return module;
}

ExporterModule ReplicationModule()
{
    ExporterModule module;
    module.name = "replication";
    module.replication = true;
    return module;
}

ExporterModule BuiltInModule(std::string_view name)
{
    if (name == "replication")
        return ReplicationModule();
    if (name == "health")
        return HealthModule();
    if (name == "dc")
        return DomainControllerModule();
    if (name == "ntds")
        return DirectoryServiceModule();
    ExporterModule none;
    none.name = std::string(name);
    return none;
}

bool IsTargetName(std::string_view text)
{
    if (text.empty() || text.size() > 253)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
               c == ':';
    });
}

std::optional<std::string> CompleteExporterConfig(ExporterConfig& config)
{
    if (!config.FindModule("replication"))
        config.modules.insert(config.modules.begin(), ReplicationModule());
    if (!config.FindModule("health"))
        config.modules.insert(config.modules.begin(), HealthModule());
    if (!config.FindModule("ntds"))
        config.modules.insert(config.modules.begin(), DirectoryServiceModule());
    if (!config.FindModule("dc"))
        config.modules.insert(config.modules.begin(), DomainControllerModule());
    for (std::size_t i = 0; i < config.modules.size(); ++i) {
        const ExporterModule& module = config.modules[i];
        if (!IsPlainName(module.name))
            return "module \"" + module.name + "\": a name is 1 to 64 letters, digits, '_', '-' or '.'";
        if (config.FindModule(module.name) != &module)
            return "module \"" + module.name + "\" is defined twice";
        if (module.paths.empty() && !module.health && !module.replication)
            return "module " + module.name + " lists no counters";
        if (!(module.timeoutSeconds > 0 && module.timeoutSeconds <= 300))
            return "module " + module.name + ": timeout_seconds must be above 0 and at most 300";
        for (const std::string& path : module.paths) {
            if (!path.starts_with('\\') || path.starts_with("\\\\") || !ParseCounterPath("\\\\m" + path))
                return "module " + module.name + ": \"" + path +
                       "\" is not a counter path (\\object(instance)\\counter)";
        }
    }
    for (const ExporterAuth& auth : config.auths) {
        if (!IsPlainName(auth.name))
            return "auth \"" + auth.name + "\": a name is 1 to 64 letters, digits, '_', '-' or '.'";
        if (config.FindAuth(auth.name) != &auth)
            return "auth \"" + auth.name + "\" is defined twice";
        if (!auth.keytab.empty() || !auth.keytabCredential.empty() || !auth.principal.empty()) {
            if (!auth.keytab.empty() && !auth.keytabCredential.empty())
                return "auth " + auth.name + " must name one of keytab and keytab_credential";
            if (auth.principal.empty() && !auth.keytabCredential.empty())
                return "auth " + auth.name + ": keytab_credential and principal go together";
            if (auth.principal.empty() || (auth.keytab.empty() && auth.keytabCredential.empty()))
                return "auth " + auth.name + ": keytab and principal go together";
            if (!auth.user.empty() || !auth.workgroup.empty() || !auth.passwordFile.empty() ||
                !auth.passwordCredential.empty())
                return "auth " + auth.name + ": a keytab auth names no user, workgroup or password";
            // name@REALM, nothing that could end a line of a log or start an option.
            const std::size_t at = auth.principal.rfind('@');
            if (at == std::string::npos || at == 0 || at + 1 == auth.principal.size() ||
                auth.principal.starts_with('-') ||
                std::any_of(auth.principal.begin(), auth.principal.end(),
                            [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; }))
                return "auth " + auth.name + ": principal \"" + auth.principal + "\" is not name@REALM";
        } else if (auth.user.empty()) {
            return "auth " + auth.name + " names no user";
        } else if (auth.passwordFile.empty() == auth.passwordCredential.empty())
            return "auth " + auth.name + " must name one of password_file and password_credential";
        // A credential is a file of the service's credential directory: a name, never a path.
        for (const auto& [key, credential] :
             { std::pair<const char*, const std::string&>{ "password_credential", auth.passwordCredential },
               std::pair<const char*, const std::string&>{ "keytab_credential", auth.keytabCredential } }) {
            if (!credential.empty() && (!IsPlainName(credential) || credential == "." || credential == ".."))
                return "auth " + auth.name + ": " + key + " \"" + credential +
                       "\" is not a credential's name (1 to 64 letters, digits, '_', '-' or '.')";
        }
        if (auth.targets.empty() && auth.targetDomains.empty())
            return "auth " + auth.name + " lists no targets: its credentials would go nowhere";
        for (const std::string& target : auth.targets) {
            if (!IsTargetName(target))
                return "auth " + auth.name + ": \"" + target + "\" is not a host name or address";
        }
        for (const std::string& domain : auth.targetDomains) {
            // A DNS domain: at least two labels, and not an address (no top-level label is all digits).
            const std::string_view bare =
                domain.ends_with('.') ? std::string_view(domain).substr(0, domain.size() - 1) : domain;
            const std::string_view last = bare.substr(bare.rfind('.') + 1);
            if (!IsTargetName(domain) || bare.find(':') != std::string::npos || bare.find('.') == std::string::npos ||
                bare.starts_with('.') || bare.find("..") != std::string::npos ||
                std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return "auth " + auth.name + ": \"" + domain + "\" is not a DNS domain name";
        }
    }
    if (config.auths.empty())
        return "no auths: the exporter would have nothing to log on with";
    if (config.maxConcurrentCollections == 0)
        return "max_concurrent_collections must be at least 1";
    if (config.maxConnectionsPerAddress == 0)
        return "max_connections_per_address must be at least 1";
    if (!(config.timeoutMarginSeconds >= 0 && config.timeoutMarginSeconds < 60))
        return "timeout_margin_seconds must be from 0 to under 60";
    if (!(config.refusedLogonBackoffSeconds >= 1))
        return "refused_logon_backoff_seconds must be at least 1";
    if (!(config.sessionIdleSeconds >= 1))
        return "session_idle_seconds must be at least 1";
    if (!(config.connectTimeoutSeconds > 0 && config.connectTimeoutSeconds <= 300))
        return "connect_timeout_seconds must be above 0 and at most 300";
    return std::nullopt;
}
