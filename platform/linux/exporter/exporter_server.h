// zeltor-exporter's HTTP side, with libmicrohttpd: /probe (one target's counters), /metrics (the
// exporter's own figures), /sd (an auth's targets for Prometheus' HTTP discovery), /-/healthy,
// /-/ready, /-/reload, and / (a page naming the modules and auths). Each connection is served on
// a thread of its own, so that a scrape waiting for a slow target holds no other.
//
// The connections are bounded before anything is read of them: at most maxConnections in all and
// the configuration's max_connections_per_address from one client address, so that one client
// holding many idle or slow connections leaves the others room; a connection that sends nothing
// for idleSeconds is closed, one whose client was authorised may wait keptSeconds for its next
// request (Prometheus keeps its connections between scrapes). An unauthorised request is answered
// before its body is read. Failed authentications are limited per client address: after a burst,
// one per failureInterval; beyond that a request is answered 429 with Retry-After, without a
// password being checked.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "exporter/exporter_config.h"
#include "exporter/exporter_metrics.h"
#include "exporter/exporter_options.h"
#include "exporter/failure_limit.h"
#include "exporter/probe_request.h"
#include "exporter/status_page.h"
#include "platform/linux/exporter/exporter_log.h"
#include "platform/linux/exporter/target_sessions.h"
#include "platform/linux/exporter/web_config.h"

struct MHD_Daemon;
struct MHD_Connection;

// What one reading of the configuration serves with: the configuration, the sessions made for
// it, and the web configuration's users (none: no authentication).
struct ExporterState {
    ExporterConfig config;
    std::shared_ptr<TargetSessions> sessions;
    std::shared_ptr<BasicAuthCheck> basicAuth;
};

class ExporterServer {
public:
    using Clock = std::chrono::steady_clock;
    using Log = std::function<void(LogLevel level, const std::string& message, const ExporterLog::Fields& fields)>;
    // Reads the configuration again: true with *state the new one, or false with *problem.
    using Reloader = std::function<bool(std::shared_ptr<const ExporterState>* state, std::string* problem)>;

    struct Limits {
        unsigned maxConnections = 512;
        unsigned idleSeconds = 15;  // a connection that sends nothing this long is closed
        unsigned keptSeconds = 120; // once its client was authorised
        unsigned failureBurst = 5;
        Clock::duration failureInterval = std::chrono::seconds(2);
    };

    // controllers: for the auths whose targets include a domain's controllers (may be null when none does).
    ExporterServer(std::shared_ptr<const ExporterState> state, std::string version, IDomainControllers* controllers,
                   Log log, Limits limits);
    // A server over sessions the caller keeps, with the default limits and no log.
    ExporterServer(const ExporterConfig& config, TargetSessions& sessions, std::string version,
                   IDomainControllers* controllers = nullptr);
    ~ExporterServer();
    ExporterServer(const ExporterServer&) = delete;
    ExporterServer& operator=(const ExporterServer&) = delete;

    // Listens on each of listen (none: the configuration's listen), with TLS when web gives it;
    // web's users serve when the state has none of its own. Empty, or why it cannot.
    std::optional<std::string> Start(const WebSecurity& web = {}, const std::vector<ListenAddress>& listen = {});
    // The port of the first address it listens on (the one the system chose for port 0).
    std::uint16_t Port() const;
    // What it listens on, with the ports the system chose.
    std::vector<ListenAddress> Listening() const;
    void Stop();

    // Reading the configuration again, for SIGHUP and POST /-/reload: one at a time; what it gives
    // replaces the state, a refusal keeps the old one. Logged, and counted in the figures.
    void SetReloader(Reloader reloader);
    std::optional<std::string> Reload(const std::string& trigger);
    void Replace(std::shared_ptr<const ExporterState> state);
    std::shared_ptr<const ExporterState> State() const;

    struct Response {
        int status = 200;
        std::string contentType;
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
    };
    // One GET request: path without the query, its arguments, and Prometheus' scrape timeout header.
    Response Handle(const std::string& path, const QueryArguments& arguments,
                    const std::optional<std::string>& scrapeTimeout);
    Response Handle(const std::string& method, const std::string& path, const QueryArguments& arguments,
                    const std::optional<std::string>& scrapeTimeout);

    // Whether a request from address with these basic credentials (null when it has none) may be
    // served: none when it may, else the refusal (401, or 429 with Retry-After), counted.
    std::optional<Response> Authorize(const char* user, const char* password, const std::string& address);
    // Counts a refusal.
    void Refused(int status, const std::string& reason, const std::string& auth = {}, const std::string& module = {});
    const Limits& GetLimits() const { return m_limits; }

private:
    Response Probe(const QueryArguments& arguments, const std::optional<std::string>& scrapeTimeout);
    Response Discovery(const QueryArguments& arguments);
    Response Metrics();
    Response Index();
    void Say(LogLevel level, const std::string& message, const ExporterLog::Fields& fields = {}) const;

    std::shared_ptr<const ExporterState> m_state; // under m_mutex
    std::string m_version;
    IDomainControllers* m_controllers;
    Log m_log;
    Limits m_limits;
    FailureLimiter m_failures;
    std::vector<MHD_Daemon*> m_daemons;
    std::string m_certPem, m_keyPem, m_tlsPriorities; // held while the daemons run
    bool m_stopping = false;

    std::mutex m_reloadMutex;
    Reloader m_reloader;

    mutable std::mutex m_mutex;
    ExporterFigures m_figures;
    // Whether each target, module and auth answered its last probe: an outage and a recovery are
    // logged once each.
    std::map<std::tuple<std::string, std::string, std::string>, bool> m_answering;
    LastProbes m_lastProbes; // for the index page; only targets some auth allows get here
};

// What a scrape may take: Prometheus' timeout (seconds, the header's text) less the margin,
// within the module's own timeout; the module's when the header is absent or not a number. Never
// less than a tenth of a second.
double ScrapeBudgetSeconds(const std::optional<std::string>& header, double marginSeconds, double moduleTimeoutSeconds);
