// zeltor-exporter: every controller's counters for Prometheus, from one Linux machine, over the
// controllers' Remote Registry (docs/exporter.md).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "platform/linux/exporter/domain_controllers.h"
#include "platform/linux/exporter/exporter_config_file.h"
#include "platform/linux/exporter/exporter_server.h"
#include "platform/linux/exporter/keytab_ticket.h"
#include "platform/linux/exporter/target_sessions.h"
#include "platform/linux/probe/linux_probe_environment.h"
#include "platform/linux/remote/samba_performance_registry.h"

namespace {

constexpr char kDefaultConfig[] = "/etc/zeltor-exporter/zeltor-exporter.yml";
constexpr char kUsage[] =
    "Usage: zeltor-exporter [--config FILE] [--web.config.file FILE] [--check-config]\n"
    "Serves the performance counters of Windows domain controllers to Prometheus:\n"
    "GET /probe?target=HOST&module=NAME&auth=NAME, and the exporter's own figures on /metrics.\n\n"
    "  --config FILE   the configuration (default /etc/zeltor-exporter/zeltor-exporter.yml)\n"
    "  --web.config.file FILE\n"
    "                  TLS and basic authentication, as Prometheus' exporters take them\n"
    "  --check-config  read the configuration, the password files and keytabs and the web configuration,\n"
    "                  then end\n"
    "  --version       show the version\n";

void Log(const std::string& line)
{
    std::fprintf(stderr, "zeltor-exporter: %s\n", line.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    std::string configPath = kDefaultConfig;
    std::string webConfigPath;
    bool checkOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--config" && i + 1 < argc) {
            configPath = argv[++i];
        } else if (argument == "--web.config.file" && i + 1 < argc) {
            webConfigPath = argv[++i];
        } else if (argument.starts_with("--web.config.file=")) {
            webConfigPath = argument.substr(std::strlen("--web.config.file="));
        } else if (argument == "--check-config") {
            checkOnly = true;
        } else if (argument == "--version") {
            std::printf("zeltor-exporter %s\n", ZELTOR_VERSION);
            return 0;
        } else if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    std::ifstream file(configPath);
    if (!file) {
        Log("cannot read the configuration " + configPath);
        return 1;
    }
    std::stringstream text;
    text << file.rdbuf();
    ExporterConfig config;
    if (const std::optional<std::string> problem = ParseExporterConfig(text.str(), &config)) {
        Log(configPath + ": " + *problem);
        return 1;
    }

    // The signals end the service; the password files are checked as the probe checks its own.
    LinuxProbeEnvironment environment;
    std::map<std::string, SmbCredentials> credentials;
    // The tickets of the keytab auths, each in a cache file of a directory only this process's
    // user may enter, removed when the exporter ends.
    std::string ticketDirectory;
    KeytabLogonRegistry::Tickets tickets;
    const char* credentialsDirectory = std::getenv("CREDENTIALS_DIRECTORY");
    for (const ExporterAuth& auth : config.auths) {
        if (auth.principal.empty())
            continue;
        std::string keytab;
        std::string error;
        if (!FindAuthKeytab(auth, credentialsDirectory, keytab, error)) {
            Log("auth " + auth.name + ": " + error);
            return 1;
        }
        if (checkOnly)
            continue;
        if (ticketDirectory.empty()) {
            const char* temporary = std::getenv("TMPDIR");
            std::string pattern = std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
                                  "/zeltor-exporter.XXXXXX";
            if (mkdtemp(pattern.data()) == nullptr) {
                Log("cannot make a directory for the keytab auths' tickets: " + std::string(std::strerror(errno)));
                return 1;
            }
            ticketDirectory = pattern;
        }
        auto ticket = std::make_shared<KeytabTicket>(auth.principal, keytab, ticketDirectory + "/" + auth.name);
        SmbCredentials kerberos(std::string(), auth.principal, std::string_view());
        kerberos.ticketCache = ticket->CacheName();
        credentials.emplace(auth.name, kerberos);
        tickets.emplace(ticket->CacheName(), std::move(ticket));
    }
    const struct RemoveTicketDirectory {
        const std::string& path;
        KeytabLogonRegistry::Tickets& tickets;
        ~RemoveTicketDirectory()
        {
            tickets.clear(); // each removes its cache file
            if (!path.empty())
                rmdir(path.c_str());
        }
    } removeTicketDirectory{ ticketDirectory, tickets };
    for (const ExporterAuth& auth : config.auths) {
        if (!auth.principal.empty())
            continue;
        CString password;
        std::string error;
        if (!ReadAuthPassword(environment, auth, credentialsDirectory, password, error)) {
            Log("auth " + auth.name + ": " + error);
            return 1;
        }
        // Converted straight into the credentials' own buffer, which is wiped when they go.
        credentials.emplace(auth.name, SmbCredentials(auth.workgroup, auth.user, password));
    }
    WebSecurity web;
    if (!webConfigPath.empty()) {
        if (const std::optional<std::string> problem = LoadWebSecurity(webConfigPath, &web)) {
            Log(*problem);
            return 1;
        }
    }
    if (checkOnly) {
        std::printf("%s: %zu modules, %zu auths\n", configPath.c_str(), config.modules.size(), config.auths.size());
        return 0;
    }

    RemoteCounterOptions remote;
    remote.smbPort = config.smbPort;
    remote.connectTimeoutMs = static_cast<int>(config.connectTimeoutSeconds * 1000);
    remote.reachTimeoutMs = std::min(remote.reachTimeoutMs, remote.connectTimeoutMs);
    TargetSessions::Settings settings;
    settings.refusedLogonBackoff = std::chrono::duration_cast<TargetSessions::Clock::duration>(
        std::chrono::duration<double>(config.refusedLogonBackoffSeconds));
    settings.maxConcurrent = config.maxConcurrentCollections;
    settings.sessionIdle = std::chrono::duration_cast<TargetSessions::Clock::duration>(
        std::chrono::duration<double>(config.sessionIdleSeconds));
    TargetSessions sessions(
        settings, std::move(credentials),
        [remote, tickets](CredentialRegistry& registry) {
            return std::make_unique<KeytabLogonRegistry>(std::make_unique<SambaPerformanceRegistry>(registry, remote), tickets,
                                                         registry, Log);
        },
        Log);
    // The controllers of the auths' domains, looked up once now so that the log says what was
    // found before the first scrape.
    DomainControllerCache controllers(DomainControllerCache::ThroughDns(DnsResolver()), {}, Log);
    for (const ExporterAuth& auth : config.auths) {
        for (const std::string& domain : auth.targetDomains)
            controllers.Controllers(domain);
    }
    ExporterServer server(config, sessions, ZELTOR_VERSION, &controllers);
    if (const std::optional<std::string> problem = server.Start(web)) {
        Log(*problem);
        return 1;
    }
    Log("listening on " + config.listenAddress + " port " + std::to_string(server.Port()) +
        (web.certPem.empty() ? " (HTTP)" : " (HTTPS)") + (web.basicAuthUsers.empty() ? "" : " with basic authentication"));
    while (!environment.Interrupted())
        environment.Wait(60 * 1000);
    Log("stopping");
    server.Stop();
    return 0;
}
