#include "platform/linux/exporter/exporter_server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <strings.h>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <system_error>

#include "framework/ascii_case.h"
#include "platform/linux/exporter/process_figures.h"

namespace {

constexpr char kTextFormat[] = "text/plain; version=0.0.4; charset=utf-8";
constexpr char kPlainText[] = "text/plain; charset=utf-8";

ExporterServer::Response Plain(int status, const std::string& line)
{
    return { status, kPlainText, line + "\n", {} };
}

std::string Json(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
            out += code;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

double EpochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

MHD_Result CollectArgument(void* cls, MHD_ValueKind, const char* key, const char* value)
{
    static_cast<QueryArguments*>(cls)->emplace_back(key != nullptr ? key : "", value != nullptr ? value : "");
    return MHD_YES;
}

// The client's address in text ("127.0.0.1", "::1"); empty when it is not IP.
std::string ClientAddress(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    std::string result = text;
    if (result.starts_with("::ffff:") && result.find('.') != std::string::npos)
        result.erase(0, 7); // an IPv4 client of a dual-stack listener
    return result;
}

// Whether the request announces a body.
bool HasBody(MHD_Connection* connection)
{
    if (MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr)
        return true;
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return length != nullptr && std::strspn(length, "0 \t") != std::strlen(length);
}

MHD_Result Send(MHD_Connection* connection, const ExporterServer::Response& response, bool challenge)
{
    MHD_Response* reply = MHD_create_response_from_buffer(response.body.size(), const_cast<char*>(response.body.data()),
                                                          MHD_RESPMEM_MUST_COPY);
    if (reply == nullptr)
        return MHD_NO;
    MHD_add_response_header(reply, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
    for (const auto& [name, value] : response.headers)
        MHD_add_response_header(reply, name.c_str(), value.c_str());
    const MHD_Result queued = challenge ? MHD_queue_basic_auth_fail_response(connection, "zeltor-exporter", reply)
                                        : MHD_queue_response(connection, static_cast<unsigned>(response.status), reply);
    MHD_destroy_response(reply);
    return queued;
}

// What a request has come to, kept between libmicrohttpd's calls for it.
int g_headRead;   // its head has come
int g_authorised; // its head has come and its client was authorised

MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*, const char*,
                  std::size_t* bodySize, void** request)
{
    auto* server = static_cast<ExporterServer*>(cls);
    const auto authorise = [&]() -> std::optional<MHD_Result> {
        char* password = nullptr;
        char* user = MHD_basic_auth_get_username_password(connection, &password);
        const std::optional<ExporterServer::Response> refusal =
            server->Authorize(user, password, ClientAddress(connection));
        if (password != nullptr) {
            explicit_bzero(password, std::strlen(password));
            MHD_free(password);
        }
        if (user != nullptr)
            MHD_free(user);
        if (refusal)
            return Send(connection, *refusal, refusal->status == MHD_HTTP_UNAUTHORIZED);
        *request = &g_authorised;
        // Known now: it may keep its connection between requests as Prometheus does.
        MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, server->GetLimits().keptSeconds);
        return std::nullopt;
    };
    // The first call only says that a request's head has come. Answered then, libmicrohttpd
    // closes the connection after the answer instead of keeping it for the client's next request:
    // that is done only for a request with a body whose client is not authorised, so that its body
    // is never read.
    if (*request == nullptr) {
        *request = &g_headRead;
        if (!HasBody(connection))
            return MHD_YES;
        if (const std::optional<MHD_Result> refused = authorise())
            return *refused;
        return MHD_YES; // the body next
    }
    if (*request == &g_headRead) {
        if (const std::optional<MHD_Result> refused = authorise())
            return *refused;
    }
    // A body (nothing served takes one) is passed over; the answer comes once it has been.
    if (*bodySize != 0) {
        *bodySize = 0;
        return MHD_YES;
    }
    QueryArguments arguments;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, CollectArgument, &arguments);
    std::optional<std::string> timeout;
    if (const char* header =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Prometheus-Scrape-Timeout-Seconds"))
        timeout = header;
    return Send(connection, server->Handle(method, url, arguments, timeout), false);
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

ExporterServer::ExporterServer(std::shared_ptr<const ExporterState> state, std::string version,
                               IDomainControllers* controllers, Log log, Limits limits)
    : m_state(std::move(state)), m_version(std::move(version)), m_controllers(controllers), m_log(std::move(log)),
      m_limits(limits), m_failures(limits.failureBurst, limits.failureInterval)
{
    m_figures.version = m_version;
    m_figures.configReloadSuccessSeconds = EpochSeconds();
}

ExporterServer::ExporterServer(const ExporterConfig& config, TargetSessions& sessions, std::string version,
                               IDomainControllers* controllers)
    : ExporterServer(std::make_shared<const ExporterState>(ExporterState{
                         config, std::shared_ptr<TargetSessions>(&sessions, [](TargetSessions*) {}), nullptr }),
                     std::move(version), controllers, {}, Limits{})
{
}

ExporterServer::~ExporterServer()
{
    Stop();
}

void ExporterServer::Say(LogLevel level, const std::string& message, const ExporterLog::Fields& fields) const
{
    if (m_log)
        m_log(level, message, fields);
}

std::optional<std::string> ExporterServer::Start(const WebSecurity& web, const std::vector<ListenAddress>& listen)
{
    const std::shared_ptr<const ExporterState> state = State();
    if (!state->basicAuth && !web.basicAuthUsers.empty()) {
        auto withUsers = std::make_shared<ExporterState>(*state);
        withUsers->basicAuth = std::make_shared<BasicAuthCheck>(web.basicAuthUsers);
        Replace(withUsers);
    }
    m_certPem = web.certPem;
    m_keyPem = web.keyPem;
    m_tlsPriorities = web.tlsPriorities;
    const bool tls = !m_certPem.empty();
    if (tls && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
        return "this libmicrohttpd has no TLS";
    std::vector<ListenAddress> addresses = listen;
    if (addresses.empty())
        addresses.push_back({ state->config.listenAddress, state->config.listenPort });
    for (const ListenAddress& wanted : addresses) {
        // poll, not select: the process's descriptors (its targets' connections) may number more
        // than select can watch.
        unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL;
        if (tls)
            flags |= MHD_USE_TLS;
        sockaddr_storage address{};
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        if (wanted.host.empty()) {
            // Every address: IPv6 and IPv4 on one socket where the machine has IPv6.
            v6->sin6_family = AF_INET6;
            v6->sin6_addr = in6addr_any;
            v6->sin6_port = htons(wanted.port);
            flags |= MHD_USE_DUAL_STACK;
        } else if (inet_pton(AF_INET, wanted.host.c_str(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(wanted.port);
        } else if (inet_pton(AF_INET6, wanted.host.c_str(), &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(wanted.port);
            flags |= MHD_USE_IPv6;
        } else {
            Stop();
            return "listen: \"" + wanted.host + "\" is not an IPv4 or IPv6 address";
        }
        const auto start = [&](unsigned startFlags) {
            // The TLS options come last, so that without TLS the list ends before them.
            return MHD_start_daemon(startFlags, wanted.port, nullptr, nullptr, &Answer, this, MHD_OPTION_SOCK_ADDR,
                                    reinterpret_cast<sockaddr*>(&address), MHD_OPTION_CONNECTION_LIMIT,
                                    m_limits.maxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                                    state->config.maxConnectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT,
                                    m_limits.idleSeconds, tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END,
                                    m_certPem.c_str(), MHD_OPTION_HTTPS_MEM_KEY, m_keyPem.c_str(),
                                    MHD_OPTION_HTTPS_PRIORITIES, m_tlsPriorities.c_str(), MHD_OPTION_END);
        };
        MHD_Daemon* daemon = start(flags);
        if (daemon == nullptr && wanted.host.empty()) {
            // A machine without IPv6: every IPv4 address.
            address = {};
            v4->sin_family = AF_INET;
            v4->sin_addr.s_addr = htonl(INADDR_ANY);
            v4->sin_port = htons(wanted.port);
            daemon = start(flags & ~static_cast<unsigned>(MHD_USE_DUAL_STACK));
        }
        if (daemon == nullptr) {
            const int error = errno;
            Stop();
            return "cannot listen on " + ListenAddressText(wanted) + ": " + std::generic_category().message(error);
        }
        m_daemons.push_back(daemon);
    }
    return std::nullopt;
}

std::vector<ListenAddress> ExporterServer::Listening() const
{
    std::vector<ListenAddress> addresses;
    for (MHD_Daemon* daemon : m_daemons) {
        ListenAddress address;
        const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_LISTEN_FD);
        sockaddr_storage bound{};
        socklen_t size = sizeof bound;
        if (info != nullptr && getsockname(info->listen_fd, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
            char text[INET6_ADDRSTRLEN] = {};
            if (bound.ss_family == AF_INET) {
                const auto* v4 = reinterpret_cast<const sockaddr_in*>(&bound);
                inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
                address.port = ntohs(v4->sin_port);
            } else {
                const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&bound);
                inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
                address.port = ntohs(v6->sin6_port);
            }
            address.host = text;
        }
        addresses.push_back(address);
    }
    return addresses;
}

std::uint16_t ExporterServer::Port() const
{
    if (m_daemons.empty())
        return 0;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemons.front(), MHD_DAEMON_INFO_BIND_PORT);
    return info != nullptr ? info->port : 0;
}

void ExporterServer::Stop()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    for (MHD_Daemon* daemon : m_daemons)
        MHD_stop_daemon(daemon);
    m_daemons.clear();
    explicit_bzero(m_keyPem.data(), m_keyPem.size());
    m_keyPem.clear();
}

void ExporterServer::SetReloader(Reloader reloader)
{
    const std::lock_guard reloading(m_reloadMutex);
    m_reloader = std::move(reloader);
}

std::optional<std::string> ExporterServer::Reload(const std::string& trigger)
{
    const std::lock_guard reloading(m_reloadMutex);
    std::shared_ptr<const ExporterState> state;
    std::string problem = "the exporter cannot read its configuration again";
    const bool taken = m_reloader && m_reloader(&state, &problem);
    if (taken)
        Replace(std::move(state));
    {
        const std::lock_guard lock(m_mutex);
        m_figures.configReloadSuccessful = taken;
        if (taken)
            m_figures.configReloadSuccessSeconds = EpochSeconds();
    }
    if (!taken) {
        Say(LogLevel::Error, "the configuration was not reloaded; the last one stays in force",
            { { "trigger", trigger }, { "err", problem } });
        return problem;
    }
    Say(LogLevel::Info, "configuration reloaded", { { "trigger", trigger } });
    return std::nullopt;
}

void ExporterServer::Replace(std::shared_ptr<const ExporterState> state)
{
    std::shared_ptr<const ExporterState> old;
    const std::lock_guard lock(m_mutex);
    old = std::move(m_state); // let go of after the lock: the last hold ends its sessions
    m_state = std::move(state);
}

std::shared_ptr<const ExporterState> ExporterServer::State() const
{
    const std::lock_guard lock(m_mutex);
    return m_state;
}

void ExporterServer::Refused(int status, const std::string& reason, const std::string& auth, const std::string& module)
{
    const std::lock_guard lock(m_mutex);
    ++m_figures.refusedRequests[{ std::to_string(status), reason, auth, module }];
}

std::optional<ExporterServer::Response> ExporterServer::Authorize(const char* user, const char* password,
                                                                  const std::string& address)
{
    const std::shared_ptr<const ExporterState> state = State();
    BasicAuthCheck* check = state->basicAuth.get();
    if (check == nullptr)
        return std::nullopt;
    const bool given = user != nullptr && password != nullptr;
    // A user and password that passed before are known without a hash, and never held back.
    if (given && check->Remembers(user, password))
        return std::nullopt;
    Clock::duration wait{};
    if (!m_failures.Allows(address, Clock::now(), &wait)) {
        Refused(429, "rate_limited");
        const auto seconds = std::max<long long>(1, std::chrono::ceil<std::chrono::seconds>(wait).count());
        Response response = Plain(429, "too many failed authentications from " + address + "; try again in " +
                                           std::to_string(seconds) + " s");
        response.headers.emplace_back("Retry-After", std::to_string(seconds));
        Say(LogLevel::Debug, "request refused", { { "code", "429" }, { "address", address } });
        return response;
    }
    if (given && check->Allows(user, password))
        return std::nullopt;
    // A request without credentials costs no hash: it is not held against the address.
    if (given)
        m_failures.Failed(address, Clock::now());
    Refused(401, "unauthorized");
    // A request without credentials is how a browser first asks: not worth a warning.
    Say(given ? LogLevel::Warn : LogLevel::Debug, "request refused",
        { { "code", "401" },
          { "address", address },
          { "reason", given ? "wrong user or password" : "no basic authentication" } });
    return Plain(401, "unauthorized");
}

ExporterServer::Response ExporterServer::Handle(const std::string& path, const QueryArguments& arguments,
                                                const std::optional<std::string>& scrapeTimeout)
{
    return Handle(MHD_HTTP_METHOD_GET, path, arguments, scrapeTimeout);
}

ExporterServer::Response ExporterServer::Handle(const std::string& method, const std::string& path,
                                                const QueryArguments& arguments,
                                                const std::optional<std::string>& scrapeTimeout)
{
    const bool get = method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD;
    if (path == "/-/reload") {
        if (method != MHD_HTTP_METHOD_POST && method != MHD_HTTP_METHOD_PUT) {
            Refused(405, "method_not_allowed");
            Response response = Plain(405, "/-/reload takes POST");
            response.headers.emplace_back("Allow", "POST, PUT");
            return response;
        }
        if (const std::optional<std::string> problem = Reload("POST /-/reload"))
            return Plain(500, "the configuration was not reloaded: " + *problem);
        return Plain(200, "configuration reloaded");
    }
    if (!get) {
        Refused(405, "method_not_allowed");
        Response response = Plain(405, "only GET is served");
        response.headers.emplace_back("Allow", "GET, HEAD");
        return response;
    }
    if (path == "/probe")
        return Probe(arguments, scrapeTimeout);
    if (path == "/metrics")
        return Metrics();
    if (path == "/sd")
        return Discovery(arguments);
    if (path == "/-/healthy")
        return Plain(200, "zeltor-exporter is healthy.");
    if (path == "/-/ready") {
        const std::lock_guard lock(m_mutex);
        return m_stopping ? Plain(503, "zeltor-exporter is stopping.") : Plain(200, "zeltor-exporter is ready.");
    }
    if (path == "/")
        return Index();
    Refused(404, "not_found");
    return Plain(404, "not found: the exporter serves /probe, /metrics, /sd, /-/healthy, /-/ready, /-/reload and /");
}

ExporterServer::Response ExporterServer::Probe(const QueryArguments& arguments,
                                               const std::optional<std::string>& scrapeTimeout)
{
    // The configuration of this scrape, held to its end whatever a reload does meanwhile.
    const std::shared_ptr<const ExporterState> state = State();
    const ProbeRequest request = CheckProbeRequest(state->config, arguments, m_controllers);
    if (request.httpStatus != 200) {
        const std::string auth = request.auth != nullptr ? request.auth->name : "";
        const std::string module = request.module != nullptr ? request.module->name : "";
        Refused(request.httpStatus, request.refusal, auth, module);
        ExporterLog::Fields fields{ { "code", std::to_string(request.httpStatus) }, { "reason", request.reason } };
        if (!auth.empty())
            fields.emplace_back("auth", auth);
        if (!module.empty())
            fields.emplace_back("module", module);
        Say(LogLevel::Warn, "probe refused", fields);
        return Plain(request.httpStatus, request.reason);
    }
    const double budget =
        ScrapeBudgetSeconds(scrapeTimeout, state->config.timeoutMarginSeconds, request.module->timeoutSeconds);
    const auto deadline = TargetSessions::Clock::now() + std::chrono::duration_cast<TargetSessions::Clock::duration>(
                                                             std::chrono::duration<double>(budget));
    const ProbeOutcome outcome = state->sessions->Probe(request.target, *request.module, *request.auth, deadline);
    std::optional<bool> wasAnswering;
    {
        const std::lock_guard lock(m_mutex);
        ++m_figures.probes[request.module->name][outcome.success ? "success" : "failure"];
        m_figures.probeSeconds[request.module->name] += outcome.durationSeconds;
        m_lastProbes.Note(LastProbeOf(request.target, request.module->name, request.auth->name,
                                      request.module->paths.size(), outcome, std::chrono::steady_clock::now()));
        auto [entry, added] =
            m_answering.try_emplace({ AsciiLowercase(request.target), request.module->name, request.auth->name },
                                    outcome.success);
        if (!added)
            wasAnswering = entry->second;
        entry->second = outcome.success;
    }
    const ExporterLog::Fields fields{ { "target", request.target },
                                      { "module", request.module->name },
                                      { "auth", request.auth->name } };
    if (!outcome.success && wasAnswering.value_or(true)) {
        ExporterLog::Fields failed = fields;
        failed.emplace_back("err", outcome.statusText);
        Say(LogLevel::Warn, "target cannot be read", failed);
    } else if (outcome.success && wasAnswering == false) {
        Say(LogLevel::Info, "target read again", fields);
    }
    return { 200, kTextFormat, RenderProbe(outcome), {} };
}

ExporterServer::Response ExporterServer::Discovery(const QueryArguments& arguments)
{
    const std::shared_ptr<const ExporterState> state = State();
    std::string name;
    int given = 0;
    for (const auto& [key, value] : arguments) {
        if (key == "auth") {
            name = value;
            ++given;
        }
    }
    const ExporterAuth* auth = given == 1 ? state->config.FindAuth(name) : nullptr;
    if (auth == nullptr) {
        const std::string reason = given == 0  ? "missing parameter auth"
                                   : given > 1 ? "parameter auth given " + std::to_string(given) + " times"
                                               : "unknown auth";
        Refused(400, given == 1 ? "unknown_auth" : "bad_parameter");
        Say(LogLevel::Warn, "discovery refused", { { "code", "400" }, { "reason", reason } });
        return Plain(400, reason);
    }
    // Prometheus' HTTP service discovery: a list of target groups, each with its labels.
    const auto group = [&](const std::vector<std::string>& targets, const std::string& domain) {
        std::string text = "{\"targets\":[";
        for (std::size_t i = 0; i < targets.size(); ++i)
            text += (i == 0 ? "" : ",") + Json(targets[i]);
        text += "],\"labels\":{\"__meta_zeltor_auth\":" + Json(auth->name);
        if (!domain.empty())
            text += ",\"__meta_zeltor_domain\":" + Json(domain);
        return text + "}}";
    };
    std::vector<std::string> groups;
    if (!auth->targets.empty())
        groups.push_back(group(auth->targets, ""));
    for (const std::string& domain : auth->targetDomains) {
        const std::vector<std::string> found =
            m_controllers != nullptr ? m_controllers->Controllers(domain) : std::vector<std::string>();
        if (!found.empty())
            groups.push_back(group(found, domain));
    }
    std::string body = "[";
    for (std::size_t i = 0; i < groups.size(); ++i)
        body += (i == 0 ? "" : ",\n") + groups[i];
    return { 200, "application/json; charset=utf-8", body + "]\n", {} };
}

ExporterServer::Response ExporterServer::Metrics()
{
    const std::shared_ptr<const ExporterState> state = State();
    ExporterFigures figures;
    {
        const std::lock_guard lock(m_mutex);
        figures = m_figures;
    }
    figures.refusedLogons = state->sessions->RefusedLogons();
    figures.sessions = state->sessions->SessionCount();
    figures.collectionsInFlight = state->sessions->CollectionsInFlight();
    figures.process = ReadProcessFigures();
    return { 200, kTextFormat, RenderExporterFigures(figures), {} };
}

ExporterServer::Response ExporterServer::Index()
{
    const std::shared_ptr<const ExporterState> state = State();
    const std::lock_guard lock(m_mutex);
    return { 200,
             "text/html; charset=utf-8",
             RenderStatusPage(m_version, state->config, m_lastProbes, std::chrono::steady_clock::now()),
             {} };
}
