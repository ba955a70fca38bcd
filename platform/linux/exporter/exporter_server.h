// zeltor-exporter's HTTP side, with libmicrohttpd: /probe (one target's counters), /metrics (the
// exporter's own figures) and / (a page naming the modules and auths). Each connection is served
// on a thread of its own, so that a scrape waiting for a slow target holds no other.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "exporter/exporter_config.h"
#include "exporter/exporter_metrics.h"
#include "exporter/probe_request.h"
#include "exporter/status_page.h"
#include "platform/linux/exporter/target_sessions.h"
#include "platform/linux/exporter/web_config.h"

struct MHD_Daemon;

class ExporterServer {
public:
    // controllers: for the auths whose targets include a domain's controllers (may be null when none does).
    ExporterServer(const ExporterConfig& config, TargetSessions& sessions, std::string version,
                   IDomainControllers* controllers = nullptr);
    ~ExporterServer();
    ExporterServer(const ExporterServer&) = delete;
    ExporterServer& operator=(const ExporterServer&) = delete;

    // Listens on the configuration's address, with TLS and basic authentication when web gives
    // them; empty, or why it cannot.
    std::optional<std::string> Start(const WebSecurity& web = {});
    // The port it listens on (the one the system chose for port 0).
    std::uint16_t Port() const;
    void Stop();

    struct Response {
        int status = 200;
        std::string contentType;
        std::string body;
    };
    // One request: path without the query, its arguments, and Prometheus' scrape timeout header.
    Response Handle(const std::string& path, const QueryArguments& arguments,
                    const std::optional<std::string>& scrapeTimeout);
    // Whether a request with these basic credentials (null when it has none) may be served;
    // a refusal is counted.
    bool Authorized(const char* user, const char* password);

private:
    Response Probe(const QueryArguments& arguments, const std::optional<std::string>& scrapeTimeout);
    Response Metrics();
    Response Index();

    const ExporterConfig& m_config;
    TargetSessions& m_sessions;
    IDomainControllers* m_controllers;
    std::string m_version;
    MHD_Daemon* m_daemon = nullptr;
    std::string m_certPem, m_keyPem, m_tlsPriorities; // held while the daemon runs
    std::unique_ptr<BasicAuthCheck> m_basicAuth;       // none: no authentication

    std::mutex m_mutex;
    ExporterFigures m_figures;
    LastProbes m_lastProbes; // for the index page; only targets some auth allows get here
};

// What a scrape may take: Prometheus' timeout (seconds, the header's text) less the margin,
// within the module's own timeout; the module's when the header is absent or not a number. Never
// less than a tenth of a second.
double ScrapeBudgetSeconds(const std::optional<std::string>& header, double marginSeconds, double moduleTimeoutSeconds);
