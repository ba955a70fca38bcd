#include "platform/linux/exporter/exporter_runtime.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/linux/exporter/exporter_config_file.h"
#include "platform/linux/health/linux_health_service.h"
#include "platform/linux/probe/linux_probe_environment.h"
#include "platform/linux/replication/linux_replication_service.h"

struct ExporterRuntime::Board {
    std::mutex mutex;
    KeytabLogonRegistry::Tickets tickets;
};

namespace {

// The whole file a descriptor holds, read from its start without moving its offset.
bool ReadWhole(int fd, std::string* bytes)
{
    bytes->clear();
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes->append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
}

bool SameCredentials(const SmbCredentials& a, const SmbCredentials& b)
{
    return a.workgroup == b.workgroup && a.user == b.user && a.password == b.password && a.ticketCache == b.ticketCache;
}

// What the sessions are made with: a change makes new sessions for every auth.
bool SameBounds(const ExporterConfig& a, const ExporterConfig& b)
{
    return a.maxConcurrentCollections == b.maxConcurrentCollections &&
           a.refusedLogonBackoffSeconds == b.refusedLogonBackoffSeconds &&
           a.sessionIdleSeconds == b.sessionIdleSeconds && a.connectTimeoutSeconds == b.connectTimeoutSeconds &&
           a.smbPort == b.smbPort;
}

} // namespace

ExporterRuntime::ExporterRuntime(Files files, LinuxProbeEnvironment& environment, RegistryFactory factory,
                                 ExporterServer::Log log)
    : m_files(std::move(files)), m_environment(environment), m_factory(std::move(factory)), m_log(std::move(log)),
      m_board(std::make_shared<Board>())
{
}

ExporterRuntime::~ExporterRuntime()
{
    // The sessions first, then the tickets (each removes its cache file), then their directory.
    m_state.reset();
    {
        const std::lock_guard lock(m_board->mutex);
        m_board->tickets.clear();
    }
    m_keytabs.clear();
    if (!m_ticketDirectory.empty())
        rmdir(m_ticketDirectory.c_str());
}

bool ExporterRuntime::Read(std::shared_ptr<const ExporterState>* state, std::string* problem, bool checkOnly)
{
    std::ifstream file(m_files.configPath);
    if (!file) {
        *problem = "cannot read the configuration " + m_files.configPath;
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    ExporterConfig config;
    if (const std::optional<std::string> wrong = ParseExporterConfig(text.str(), &config)) {
        *problem = m_files.configPath + ": " + *wrong;
        return false;
    }
    WebSecurity web;
    if (!m_files.webConfigPath.empty()) {
        if (const std::optional<std::string> wrong = LoadWebSecurity(m_files.webConfigPath, &web)) {
            *problem = *wrong;
            return false;
        }
    }
    const char* credentialsDirectory =
        m_files.credentialsDirectory.empty() ? nullptr : m_files.credentialsDirectory.c_str();

    // The keytabs, each opened and checked once; a keytab the same as the last reading's (its
    // principal, name and bytes) keeps its ticket.
    std::map<std::string, Keytab> keytabs;
    std::map<std::string, SmbCredentials> credentials;
    for (const ExporterAuth& auth : config.auths) {
        if (auth.principal.empty())
            continue;
        Keytab keytab{ auth.principal, {}, {}, nullptr };
        std::string error;
        int fd = -1;
        if (!FindAuthKeytab(auth, credentialsDirectory, keytab.path, error, &fd)) {
            *problem = "auth " + auth.name + ": " + error;
            return false;
        }
        const bool read = ReadWhole(fd, &keytab.bytes);
        if (!read || checkOnly) {
            close(fd);
            if (!read) {
                *problem = "auth " + auth.name + ": cannot read the keytab " + keytab.path + ": " +
                           std::generic_category().message(errno);
                return false;
            }
            continue;
        }
        const auto last = m_keytabs.find(auth.name);
        if (last != m_keytabs.end() && last->second.principal == keytab.principal && last->second.path == keytab.path &&
            last->second.bytes == keytab.bytes) {
            close(fd);
            keytab.ticket = last->second.ticket;
        } else {
            if (m_ticketDirectory.empty()) {
                // A directory only this process's user may enter, removed when the exporter ends.
                std::string pattern = m_files.ticketParent + "/zeltor-exporter.XXXXXX";
                if (mkdtemp(pattern.data()) == nullptr) {
                    close(fd);
                    *problem = "cannot make a directory for the keytab auths' tickets: " +
                               std::generic_category().message(errno);
                    return false;
                }
                m_ticketDirectory = pattern;
            }
            keytab.ticket = std::make_shared<KeytabTicket>(auth.principal, keytab.path,
                                                           m_ticketDirectory + "/" + auth.name + "." +
                                                               std::to_string(++m_ticketsMade),
                                                           fd);
        }
        SmbCredentials kerberos(std::string(), auth.principal, std::string_view());
        kerberos.ticketCache = keytab.ticket->CacheName();
        credentials.emplace(auth.name, kerberos);
        keytabs.emplace(auth.name, std::move(keytab));
    }
    for (const ExporterAuth& auth : config.auths) {
        if (!auth.principal.empty())
            continue;
        CString password;
        std::string error;
        if (!ReadAuthPassword(m_environment, auth, credentialsDirectory, password, error)) {
            *problem = "auth " + auth.name + ": " + error;
            return false;
        }
        // Converted straight into the credentials' own buffer, which is wiped when they go.
        credentials.emplace(auth.name, SmbCredentials(auth.workgroup, auth.user, password));
    }
    if (checkOnly) {
        auto checked = std::make_shared<ExporterState>();
        checked->config = std::move(config);
        *state = std::move(checked);
        return true;
    }

    // Taken: nothing below fails.
    auto made = std::make_shared<ExporterState>();
    {
        const std::lock_guard lock(m_board->mutex);
        m_board->tickets.clear();
        for (const auto& [name, keytab] : keytabs)
            m_board->tickets.emplace(keytab.ticket->CacheName(), keytab.ticket);
    }
    if (m_state && SameBounds(m_state->config, config)) {
        std::set<std::string> renewed;
        for (const ExporterAuth& before : m_state->config.auths) {
            const ExporterAuth* now = config.FindAuth(before.name);
            const auto given = credentials.find(before.name);
            const auto had = m_credentials.find(before.name);
            if (now == nullptr || given == credentials.end() || had == m_credentials.end() ||
                !SameCredentials(given->second, had->second) || now->targets != before.targets ||
                now->targetDomains != before.targetDomains)
                renewed.insert(before.name);
        }
        made->sessions = m_state->sessions;
        made->sessions->Renew(credentials, renewed);
        if (!renewed.empty()) {
            std::string names;
            for (const std::string& name : renewed)
                names += (names.empty() ? "" : ",") + name;
            m_log(LogLevel::Info, "sessions of changed auths closed", { { "auths", names } });
        }
    } else {
        if (m_state)
            m_log(LogLevel::Info, "the sessions' bounds changed: every session is made anew", {});
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
        // The health checks with the system's resolver, to the controllers' SMB port as the counters.
        LinuxHealthService::Options health;
        health.smbPort = config.smbPort;
        settings.health = std::make_shared<LinuxHealthService>(health);
        // Each session's replication reader, with the system's resolver.
        settings.replication = [] { return std::make_shared<LinuxReplicationService>(); };
        settings.connectionBound = std::chrono::duration_cast<TargetSessions::Clock::duration>(
            std::chrono::duration<double>(config.connectTimeoutSeconds));
        const ExporterServer::Log log = m_log;
        made->sessions = std::make_shared<TargetSessions>(
            settings, credentials,
            [factory = m_factory, board = m_board, remote](CredentialRegistry& registry) {
                KeytabLogonRegistry::Tickets tickets;
                {
                    const std::lock_guard lock(board->mutex);
                    tickets = board->tickets;
                }
                return factory(registry, tickets, remote);
            },
            [log](const std::string& line) { log(LogLevel::Warn, line, {}); });
    }
    if (m_state && web.basicAuthUsers == m_web.basicAuthUsers)
        made->basicAuth = m_state->basicAuth; // what passed stays remembered
    else if (!web.basicAuthUsers.empty())
        made->basicAuth = std::make_shared<BasicAuthCheck>(web.basicAuthUsers);
    if (m_state &&
        (web.certPem != m_web.certPem || web.keyPem != m_web.keyPem || web.tlsPriorities != m_web.tlsPriorities))
        m_log(LogLevel::Warn,
              "the web configuration's TLS is taken when the exporter restarts; its users are taken now", {});
    if (m_state &&
        (config.listenAddress != m_state->config.listenAddress || config.listenPort != m_state->config.listenPort ||
         config.maxConnectionsPerAddress != m_state->config.maxConnectionsPerAddress))
        m_log(LogLevel::Warn, "listen and max_connections_per_address are taken when the exporter restarts", {});
    made->config = std::move(config);
    // TLS is the first reading's until a restart.
    if (!m_state)
        m_web = std::move(web);
    else
        m_web.basicAuthUsers = web.basicAuthUsers;
    m_credentials = std::move(credentials);
    m_keytabs = std::move(keytabs);
    m_state = made;
    *state = std::move(made);
    return true;
}
