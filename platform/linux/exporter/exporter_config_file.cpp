#include "platform/linux/exporter/exporter_config_file.h"

#include <yaml-cpp/yaml.h>

#include "exporter/exporter_options.h"
#include "platform/linux/exporter/yaml_config.h"

#include "platform/linux/probe/linux_probe_environment.h"

#include <unistd.h>

#include <charconv>
#include <set>
#include <utility>

namespace {

using yaml_config::Fail;

std::string Text(const YAML::Node& node, const std::string& what)
{
    if (!node.IsScalar())
        Fail(node, what + " must be a single value");
    return node.as<std::string>();
}

double Number(const YAML::Node& node, const std::string& what)
{
    if (!node.IsScalar())
        Fail(node, what + " must be a number");
    const std::string& text = node.Scalar();
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size())
        Fail(node, what + " must be a number, not \"" + text + "\"");
    return value;
}

unsigned long Whole(const YAML::Node& node, const std::string& what, unsigned long largest)
{
    if (!node.IsScalar())
        Fail(node, what + " must be a whole number");
    const std::string& text = node.Scalar();
    unsigned long value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value > largest)
        Fail(node, what + " must be a whole number up to " + std::to_string(largest) + ", not \"" + text + "\"");
    return value;
}

std::vector<std::string> List(const YAML::Node& node, const std::string& what)
{
    if (!node.IsSequence())
        Fail(node, what + " must be a list");
    std::vector<std::string> items;
    for (const auto& item : node)
        items.push_back(Text(item, what + " entry"));
    return items;
}

// "address:port", "[v6address]:port" or ":port".
void ReadListen(const YAML::Node& node, ExporterConfig* config)
{
    const std::string text = Text(node, "listen");
    std::string problem;
    const std::optional<ListenAddress> address = ParseListenAddress(text, &problem);
    if (!address)
        Fail(node, "listen must be address:port, [address]:port or :port");
    config->listenAddress = address->host;
    config->listenPort = address->port;
}

void Read(const YAML::Node& root, ExporterConfig* config)
{
    if (root.IsNull())
        Fail(root, "the configuration is empty");
    yaml_config::OnlyKeys(root, "the configuration",
                          { "listen", "max_connections_per_address", "max_concurrent_collections",
                            "timeout_margin_seconds", "refused_logon_backoff_seconds", "session_idle_seconds",
                            "connect_timeout_seconds", "smb_port", "modules", "auths" });
    if (const YAML::Node node = root["listen"])
        ReadListen(node, config);
    if (const YAML::Node node = root["max_connections_per_address"])
        config->maxConnectionsPerAddress = static_cast<unsigned>(Whole(node, "max_connections_per_address", 512));
    if (const YAML::Node node = root["max_concurrent_collections"])
        config->maxConcurrentCollections = static_cast<unsigned>(Whole(node, "max_concurrent_collections", 4096));
    if (const YAML::Node node = root["timeout_margin_seconds"])
        config->timeoutMarginSeconds = Number(node, "timeout_margin_seconds");
    if (const YAML::Node node = root["refused_logon_backoff_seconds"])
        config->refusedLogonBackoffSeconds = Number(node, "refused_logon_backoff_seconds");
    if (const YAML::Node node = root["session_idle_seconds"])
        config->sessionIdleSeconds = Number(node, "session_idle_seconds");
    if (const YAML::Node node = root["connect_timeout_seconds"])
        config->connectTimeoutSeconds = Number(node, "connect_timeout_seconds");
    if (const YAML::Node node = root["smb_port"])
        config->smbPort = static_cast<std::uint16_t>(Whole(node, "smb_port", 65535));
    if (const YAML::Node modules = root["modules"]) {
        if (!modules.IsMap())
            Fail(modules, "modules must be a mapping of names to modules");
        for (const auto& entry : modules) {
            ExporterModule module;
            module.name = entry.first.as<std::string>();
            const std::string what = "module " + module.name;
            const YAML::Node body = entry.second;
            if (!body.IsNull())
                yaml_config::OnlyKeys(body, what, { "counters", "timeout_seconds" });
            if (const YAML::Node node = body.IsNull() ? YAML::Node() : body["timeout_seconds"])
                module.timeoutSeconds = Number(node, what + " timeout_seconds");
            if (const YAML::Node node = body.IsNull() ? YAML::Node() : body["counters"])
                module.paths = List(node, what + " counters");
            else {
                // A built-in module's own counters or checks; none for a module of its own: refused later.
                const ExporterModule builtIn = BuiltInModule(module.name);
                module.paths = builtIn.paths;
                module.health = builtIn.health;
                module.replication = builtIn.replication;
            }
            config->modules.push_back(std::move(module));
        }
    }
    if (const YAML::Node auths = root["auths"]) {
        if (!auths.IsMap())
            Fail(auths, "auths must be a mapping of names to auths");
        for (const auto& entry : auths) {
            ExporterAuth auth;
            auth.name = entry.first.as<std::string>();
            const std::string what = "auth " + auth.name;
            const YAML::Node body = entry.second;
            yaml_config::OnlyKeys(body, what,
                                  { "user", "workgroup", "password_file", "password_credential", "keytab",
                                    "keytab_credential", "principal", "targets", "targets_from_domain" });
            using TextKey = std::pair<const char*, std::string ExporterAuth::*>;
            for (const auto& [key, field] :
                 { TextKey{ "user", &ExporterAuth::user }, TextKey{ "workgroup", &ExporterAuth::workgroup },
                   TextKey{ "password_file", &ExporterAuth::passwordFile },
                   TextKey{ "password_credential", &ExporterAuth::passwordCredential },
                   TextKey{ "keytab", &ExporterAuth::keytab },
                   TextKey{ "keytab_credential", &ExporterAuth::keytabCredential },
                   TextKey{ "principal", &ExporterAuth::principal } }) {
                if (const YAML::Node node = body[key])
                    auth.*field = Text(node, what + " " + key);
            }
            if (const YAML::Node node = body["targets"])
                auth.targets = List(node, what + " targets");
            if (const YAML::Node node = body["targets_from_domain"])
                auth.targetDomains = node.IsSequence()
                                         ? List(node, what + " targets_from_domain")
                                         : std::vector<std::string>{ Text(node, what + " targets_from_domain") };
            config->auths.push_back(std::move(auth));
        }
    }
}

} // namespace

std::optional<std::string> ParseExporterConfig(const std::string& text, ExporterConfig* config)
{
    ExporterConfig read;
    if (std::optional<std::string> problem =
            yaml_config::Parse(text, [&](const YAML::Node& root) { Read(root, &read); }))
        return problem;
    if (std::optional<std::string> problem = CompleteExporterConfig(read))
        return problem;
    *config = std::move(read);
    return std::nullopt;
}

namespace {

// "$CREDENTIALS_DIRECTORY is not set", said of the auth's key that names a credential.
std::string NoCredentials(const std::string& key, const std::string& name)
{
    return key + " " + name +
           ": no credentials were given to the exporter ($CREDENTIALS_DIRECTORY is not set: it is set by "
           "systemd's LoadCredential=)";
}

// The keytab at path, checked by the rule of a password file or, for a credential, of what the
// service manager writes; handed on open when descriptor is given, else closed.
bool CheckKeytab(const std::string& path, bool credential, std::string& error, int* descriptor = nullptr)
{
    const int fd = LinuxProbeEnvironment::OpenSecretFile(path, "keytab", credential, error);
    if (fd >= 0 && descriptor != nullptr)
        *descriptor = fd;
    else if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

} // namespace

bool ReadAuthPassword(LinuxProbeEnvironment& environment, const ExporterAuth& auth, const char* credentialsDirectory,
                      CString& password, std::string& error)
{
    if (auth.passwordCredential.empty())
        return environment.ReadPasswordFile(CString::FromUtf8(auth.passwordFile), password, error);
    if (credentialsDirectory == nullptr || *credentialsDirectory == '\0') {
        error = NoCredentials("password_credential", auth.passwordCredential);
        return false;
    }
    return environment.ReadCredentialFile(CString::FromUtf8(std::string(credentialsDirectory) + "/" +
                                                            auth.passwordCredential),
                                          password, error);
}

bool CheckKeytabFile(const std::string& path, std::string& error)
{
    return CheckKeytab(path, false, error);
}

bool FindAuthKeytab(const ExporterAuth& auth, const char* credentialsDirectory, std::string& path, std::string& error,
                    int* descriptor)
{
    if (auth.keytabCredential.empty()) {
        path = auth.keytab;
        return CheckKeytab(path, false, error, descriptor);
    }
    if (credentialsDirectory == nullptr || *credentialsDirectory == '\0') {
        error = NoCredentials("keytab_credential", auth.keytabCredential);
        return false;
    }
    path = std::string(credentialsDirectory) + "/" + auth.keytabCredential;
    return CheckKeytab(path, true, error, descriptor);
}
