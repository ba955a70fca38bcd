#include "platform/linux/exporter/exporter_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <strings.h>

#include "framework/ascii_case.h"

namespace {

constexpr char kTextFormat[] = "text/plain; version=0.0.4; charset=utf-8";
constexpr char kPlainText[] = "text/plain; charset=utf-8";

ExporterServer::Response Plain(int status, const std::string& line)
{
    return { status, kPlainText, line + "\n" };
}

MHD_Result CollectArgument(void* cls, MHD_ValueKind, const char* key, const char* value)
{
    static_cast<QueryArguments*>(cls)->emplace_back(key != nullptr ? key : "", value != nullptr ? value : "");
    return MHD_YES;
}

MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, std::size_t* bodySize, void** request)
{
    // The first call only says that a request's head has come; answered then, libmicrohttpd closes
    // the connection after the answer instead of keeping it for the client's next request. A body
    // (nothing served takes one) is passed over; the answer comes once it has been.
    static int headRead;
    if (*request == nullptr) {
        *request = &headRead;
        return MHD_YES;
    }
    if (*bodySize != 0) {
        *bodySize = 0;
        return MHD_YES;
    }
    auto* server = static_cast<ExporterServer*>(cls);
    ExporterServer::Response response;
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    const bool authorized = server->Authorized(user, password);
    if (password != nullptr) {
        explicit_bzero(password, std::strlen(password));
        MHD_free(password);
    }
    if (user != nullptr)
        MHD_free(user);
    if (!authorized) {
        response = Plain(MHD_HTTP_UNAUTHORIZED, "unauthorized");
        MHD_Response* reply = MHD_create_response_from_buffer(response.body.size(), response.body.data(), MHD_RESPMEM_MUST_COPY);
        if (reply == nullptr)
            return MHD_NO;
        MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
        const MHD_Result queued = MHD_queue_basic_auth_fail_response(connection, "zeltor-exporter", reply);
        MHD_destroy_response(reply);
        return queued;
    }
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
        response = Plain(MHD_HTTP_METHOD_NOT_ALLOWED, "only GET is served");
    } else {
        QueryArguments arguments;
        MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, CollectArgument, &arguments);
        std::optional<std::string> timeout;
        if (const char* header = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Prometheus-Scrape-Timeout-Seconds"))
            timeout = header;
        response = server->Handle(url, arguments, timeout);
    }
    MHD_Response* reply = MHD_create_response_from_buffer(response.body.size(), response.body.data(), MHD_RESPMEM_MUST_COPY);
    if (reply == nullptr)
        return MHD_NO;
    MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
    const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(response.status), reply);
    MHD_destroy_response(reply);
    return queued;
}

} // namespace

double ScrapeBudgetSeconds(const std::optional<std::string>& header, double marginSeconds, double moduleTimeoutSeconds)
{
    double budget = moduleTimeoutSeconds;
    if (header) {
        double prometheus = 0;
        const auto result = std::from_chars(header->data(), header->data() + header->size(), prometheus);
        if (result.ec == std::errc() && result.ptr == header->data() + header->size() && std::isfinite(prometheus))
            budget = std::min(budget, prometheus - marginSeconds);
    }
    return std::max(budget, 0.1);
}

ExporterServer::ExporterServer(const ExporterConfig& config, TargetSessions& sessions, std::string version,
                               IDomainControllers* controllers)
    : m_config(config), m_sessions(sessions), m_controllers(controllers), m_version(std::move(version))
{
    m_figures.version = m_version;
}

ExporterServer::~ExporterServer()
{
    Stop();
}

std::optional<std::string> ExporterServer::Start(const WebSecurity& web)
{
    sockaddr_storage address {};
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION;
    m_basicAuth = web.basicAuthUsers.empty() ? nullptr : std::make_unique<BasicAuthCheck>(web.basicAuthUsers);
    m_certPem = web.certPem;
    m_keyPem = web.keyPem;
    m_tlsPriorities = web.tlsPriorities;
    const bool tls = !m_certPem.empty();
    if (tls) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
            return "this libmicrohttpd has no TLS";
        flags |= MHD_USE_TLS;
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, m_config.listenAddress.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(m_config.listenPort);
    } else if (inet_pton(AF_INET6, m_config.listenAddress.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(m_config.listenPort);
        flags |= MHD_USE_IPv6;
    } else {
        return "listen: \"" + m_config.listenAddress + "\" is not an IPv4 or IPv6 address";
    }
    // The TLS options come last, so that without TLS the list ends before them.
    m_daemon = MHD_start_daemon(flags, m_config.listenPort, nullptr, nullptr, &Answer, this, MHD_OPTION_SOCK_ADDR,
                                reinterpret_cast<sockaddr*>(&address), MHD_OPTION_CONNECTION_LIMIT, 512u,
                                MHD_OPTION_CONNECTION_TIMEOUT, 120u,
                                tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, m_certPem.c_str(),
                                MHD_OPTION_HTTPS_MEM_KEY, m_keyPem.c_str(), MHD_OPTION_HTTPS_PRIORITIES,
                                m_tlsPriorities.c_str(), MHD_OPTION_END);
    if (m_daemon == nullptr)
        return "cannot listen on " + m_config.listenAddress + " port " + std::to_string(m_config.listenPort) + ": " +
               std::strerror(errno);
    return std::nullopt;
}

std::uint16_t ExporterServer::Port() const
{
    if (m_daemon == nullptr)
        return 0;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info != nullptr ? info->port : 0;
}

void ExporterServer::Stop()
{
    if (m_daemon != nullptr)
        MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    explicit_bzero(m_keyPem.data(), m_keyPem.size());
    m_keyPem.clear();
}

bool ExporterServer::Authorized(const char* user, const char* password)
{
    if (!m_basicAuth)
        return true;
    if (user != nullptr && password != nullptr && m_basicAuth->Allows(user, password))
        return true;
    const std::lock_guard lock(m_mutex);
    ++m_figures.refusedRequests["401"];
    return false;
}

ExporterServer::Response ExporterServer::Handle(const std::string& path, const QueryArguments& arguments,
                                                const std::optional<std::string>& scrapeTimeout)
{
    if (path == "/probe")
        return Probe(arguments, scrapeTimeout);
    if (path == "/metrics")
        return Metrics();
    if (path == "/")
        return Index();
    return Plain(404, "not found: the exporter serves /probe, /metrics and /");
}

ExporterServer::Response ExporterServer::Probe(const QueryArguments& arguments, const std::optional<std::string>& scrapeTimeout)
{
    const ProbeRequest request = CheckProbeRequest(m_config, arguments, m_controllers);
    if (request.httpStatus != 200) {
        const std::lock_guard lock(m_mutex);
        ++m_figures.refusedRequests[std::to_string(request.httpStatus)];
        return Plain(request.httpStatus, request.reason);
    }
    const double budget = ScrapeBudgetSeconds(scrapeTimeout, m_config.timeoutMarginSeconds, request.module->timeoutSeconds);
    const auto deadline = TargetSessions::Clock::now() +
                          std::chrono::duration_cast<TargetSessions::Clock::duration>(std::chrono::duration<double>(budget));
    const ProbeOutcome outcome = m_sessions.Probe(request.target, *request.module, *request.auth, deadline);
    {
        const std::lock_guard lock(m_mutex);
        ++m_figures.probes[request.module->name][outcome.success ? "success" : "failure"];
        m_figures.probeSeconds[request.module->name] += outcome.durationSeconds;
        m_lastProbes.Note(LastProbeOf(request.target, request.module->name, request.auth->name, request.module->paths.size(),
                                      outcome, std::chrono::steady_clock::now()));
    }
    return { 200, kTextFormat, RenderProbe(outcome) };
}

ExporterServer::Response ExporterServer::Metrics()
{
    ExporterFigures figures;
    {
        const std::lock_guard lock(m_mutex);
        figures = m_figures;
    }
    figures.refusedLogons = m_sessions.RefusedLogons();
    figures.sessions = m_sessions.SessionCount();
    figures.collectionsInFlight = m_sessions.CollectionsInFlight();
    return { 200, kTextFormat, RenderExporterFigures(figures) };
}

ExporterServer::Response ExporterServer::Index()
{
    const std::lock_guard lock(m_mutex);
    return { 200, "text/html; charset=utf-8", RenderStatusPage(m_version, m_config, m_lastProbes, std::chrono::steady_clock::now()) };
}
