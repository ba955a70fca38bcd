// zeltor-exporter: every controller's counters for Prometheus, from one Linux machine, over the
// controllers' Remote Registry (docs/exporter.md).
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exporter/exporter_options.h"
#include "platform/linux/exporter/domain_controllers.h"
#include "platform/linux/exporter/exporter_log.h"
#include "platform/linux/exporter/exporter_runtime.h"
#include "platform/linux/exporter/exporter_server.h"
#include "platform/linux/exporter/keytab_ticket.h"
#include "platform/linux/probe/linux_probe_environment.h"
#include "platform/linux/remote/samba_performance_registry.h"

namespace {

void LookUpDomains(const ExporterConfig& config, DomainControllerCache& controllers)
{
    for (const ExporterAuth& auth : config.auths) {
        for (const std::string& domain : auth.targetDomains)
            controllers.Controllers(domain);
    }
}

// Every thread's stack, instead of glibc's default of the stack's limit (8 MiB): a scrape's
// threads are many and short (a health check makes seven), and glibc keeps 40 MiB of freed stacks
// for the next threads. At 8 MiB, the sixth thread at once no longer fits: each check would map,
// zero and unmap new stacks, about a third of the exporter's CPU. The libraries a thread calls
// into (Samba's, libldap, MIT Kerberos) need a small part of this.
constexpr std::size_t kThreadStackBytes = std::size_t{ 2 } * 1024 * 1024;

void UseSmallerThreadStacks()
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return;
    if (pthread_attr_setstacksize(&attributes, kThreadStackBytes) == 0)
        pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);
}

} // namespace

int main(int argc, char** argv)
{
    ExporterOptions options;
    if (const std::optional<std::string> problem =
            ParseExporterOptions(std::vector<std::string>(argv + 1, argv + argc), &options)) {
        std::fprintf(stderr, "zeltor-exporter: %s\n", problem->c_str());
        std::fputs(kExporterUsage, stderr);
        return 2;
    }
    if (options.help) {
        std::fputs(kExporterUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("zeltor-exporter %s\n", ZELTOR_VERSION);
        return 0;
    }
    UseSmallerThreadStacks();
    const ExporterLog logger(*ExporterLog::LevelNamed(options.logLevel), *ExporterLog::FormatNamed(options.logFormat));
    const ExporterServer::Log log = [&logger](LogLevel level, const std::string& message,
                                              const ExporterLog::Fields& fields) { logger(level, message, fields); };

    // The signals are taken here, one at a time, by this thread alone (every thread made later
    // has them blocked): SIGHUP reads the configuration again, SIGTERM and SIGINT end the service.
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : { SIGHUP, SIGTERM, SIGINT })
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    // The password files are checked as the probe checks its own.
    LinuxProbeEnvironment environment;
    ExporterRuntime::Files files;
    files.configPath = options.configPath;
    files.webConfigPath = options.webConfigPath;
    if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY"))
        files.credentialsDirectory = credentials;
    if (const char* temporary = std::getenv("TMPDIR"); temporary != nullptr && *temporary != '\0')
        files.ticketParent = temporary;
    ExporterRuntime runtime(
        files, environment,
        [&log](CredentialRegistry& registry, const KeytabLogonRegistry::Tickets& tickets,
               const RemoteCounterOptions& remote) {
            return std::make_unique<KeytabLogonRegistry>(std::make_unique<SambaPerformanceRegistry>(registry, remote),
                                                         tickets, registry, [&log](const std::string& line) {
                                                             log(LogLevel::Warn, line, {});
                                                         });
        },
        log);
    std::shared_ptr<const ExporterState> state;
    std::string problem;
    if (options.checkConfig) {
        if (!runtime.Read(&state, &problem, true)) {
            std::fprintf(stderr, "zeltor-exporter: %s\n", problem.c_str());
            return 1;
        }
        std::printf("%s: %zu modules, %zu auths\n", options.configPath.c_str(), state->config.modules.size(),
                    state->config.auths.size());
        return 0;
    }
    if (!runtime.Read(&state, &problem)) {
        log(LogLevel::Error, "the configuration cannot be used", { { "err", problem } });
        return 1;
    }

    // The controllers of the auths' domains, looked up once now so that the log says what was
    // found before the first scrape.
    DomainControllerCache controllers(DomainControllerCache::ThroughDns(DnsResolver()), {},
                                      [&log](const std::string& line) {
                                          // Its lines say what was found, or that nothing could be.
                                          log(line.starts_with("cannot ") ? LogLevel::Warn : LogLevel::Info, line, {});
                                      });
    LookUpDomains(state->config, controllers);
    ExporterServer server(state, ZELTOR_VERSION, &controllers, log, ExporterServer::Limits{});
    server.SetReloader([&](std::shared_ptr<const ExporterState>* read, std::string* why) {
        if (!runtime.Read(read, why))
            return false;
        LookUpDomains((*read)->config, controllers);
        return true;
    });
    if (const std::optional<std::string> failed = server.Start(runtime.Web(), options.listen)) {
        log(LogLevel::Error, "cannot serve", { { "err", *failed } });
        return 1;
    }
    const WebSecurity& web = runtime.Web();
    for (const ListenAddress& address : server.Listening()) {
        log(LogLevel::Info, "listening",
            { { "address", ListenAddressText(address) },
              { "tls", web.certPem.empty() ? "false" : "true" },
              { "basic_auth", web.basicAuthUsers.empty() ? "false" : "true" } });
    }
    for (;;) {
        const int signal = sigwaitinfo(&signals, nullptr);
        if (signal == SIGHUP)
            server.Reload("SIGHUP");
        else if (signal == SIGTERM || signal == SIGINT)
            break;
    }
    log(LogLevel::Info, "stopping", {});
    server.Stop();
    return 0;
}
