// zeltor-exporter's server scraped over HTTP against the standalone smbd peer (run_smbd.sh) that
// zeltor-perfd fills: the thirteen as Prometheus series that promtool accepts, one logon kept
// between scrapes, a refused password sent once, and a target outside the auth's list refused
// with 403 before anything is sent to it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <string>
#include <thread>

#include "platform/linux/exporter/exporter_server.h"
#include "platform/linux/exporter/target_sessions.h"
#include "platform/linux/remote/samba_performance_registry.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/child_process.h"

namespace {

// Passes every logon on to the real registry and counts them by machine.
class LogonCounter : public IPerformanceRegistry {
public:
    LogonCounter(std::unique_ptr<IPerformanceRegistry> real, std::map<std::string, std::atomic<int>>& opens)
        : m_real(std::move(real)), m_opens(opens)
    {
    }
    std::uint32_t Open(const std::string& machine, std::unique_ptr<IPerformanceKey>* key) override
    {
        ++m_opens[machine];
        return m_real->Open(machine, key);
    }

private:
    std::unique_ptr<IPerformanceRegistry> m_real;
    std::map<std::string, std::atomic<int>>& m_opens;
};

struct HttpAnswer {
    int status = 0;
    std::string body;
};

// One GET over HTTP/1.0 to the exporter on loopback.
HttpAnswer Get(std::uint16_t port, const std::string& target, const std::string& headers = {})
{
    HttpAnswer answer;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return answer;
    }
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: localhost\r\n" + headers + "\r\n";
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        close(fd);
        return answer;
    }
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        reply.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    if (reply.starts_with("HTTP/1."))
        answer.status = std::stoi(reply.substr(9, 3));
    const auto bodyStart = reply.find("\r\n\r\n");
    if (bodyStart != std::string::npos)
        answer.body = reply.substr(bodyStart + 4);
    return answer;
}

// The value of the one sample of series (name and labels) in an exposition; NaN when absent.
double Value(const std::string& text, const std::string& series)
{
    const std::string start = series + " ";
    for (std::size_t at = 0; (at = text.find(start, at)) != std::string::npos; at += start.size()) {
        if (at == 0 || text[at - 1] == '\n')
            return std::stod(text.substr(at + start.size()));
    }
    return std::nan("");
}

// The address that drops every packet (silent_address.sh, the remote_peers fixture).
constexpr char kSilent[] = "127.0.0.9";

class ExporterPeerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { peer = ReadPeerState("ZELTOR_SMBD_STATE"); }

    void SetUp() override
    {
        ASSERT_FALSE(peer["perfmon"].empty()) << "no smbd state";
        config.listenAddress = "127.0.0.1";
        config.listenPort = 0;
        config.smbPort = static_cast<std::uint16_t>(std::stoi(peer["port"]));
        config.auths.push_back(
            { "peer", peer["user"], "", "/unused", { peer["address"], kSilent }, {}, {}, {}, {}, {} });
        config.auths.push_back({ "stale", peer["user"], "", "/unused", { peer["address"] }, {}, {}, {}, {}, {} });
        ASSERT_FALSE(CompleteExporterConfig(config));

        std::map<std::string, SmbCredentials> credentials;
        credentials.emplace("peer", SmbCredentials({}, peer["user"], peer["password"]));
        credentials.emplace("stale", SmbCredentials({}, peer["user"], peer["password"] + "-old"));
        RemoteCounterOptions remote;
        remote.smbPort = config.smbPort;
        TargetSessions::Settings settings;
        settings.refusedLogonBackoff = std::chrono::hours(1);
        sessions = std::make_unique<TargetSessions>(
            settings, std::move(credentials),
            [this, remote](CredentialRegistry& registry) {
                return std::make_unique<LogonCounter>(std::make_unique<SambaPerformanceRegistry>(registry, remote),
                                                      opens);
            },
            [](const std::string& line) { std::fprintf(stderr, "exporter: %s\n", line.c_str()); });
        server = std::make_unique<ExporterServer>(config, *sessions, "test");
        const std::optional<std::string> problem = server->Start();
        ASSERT_FALSE(problem) << *problem;
        port = server->Port();
        ASSERT_NE(port, 0);
    }

    void TearDown() override
    {
        server.reset();
        sessions.reset();
    }

    std::string Probe(const std::string& auth, const std::string& module = "dc")
    {
        const HttpAnswer answer = Get(port, "/probe?target=" + peer["address"] + "&module=" + module + "&auth=" + auth,
                                      "X-Prometheus-Scrape-Timeout-Seconds: 10\r\n");
        EXPECT_EQ(answer.status, 200) << answer.body;
        return answer.body;
    }

    static bool PromtoolAccepts(const std::string& text)
    {
        return RunScript("/usr/bin/promtool", { "check", "metrics" }, text);
    }

    static inline std::map<std::string, std::string> peer;
    ExporterConfig config;
    std::map<std::string, std::atomic<int>> opens;
    std::unique_ptr<TargetSessions> sessions;
    std::unique_ptr<ExporterServer> server;
    std::uint16_t port = 0;
};

} // namespace

TEST_F(ExporterPeerTest, TheThirteenAreScrapedAsTypedSeriesOverOneKeptLogon)
{
    ChildProcess lsass(StandInLsassName(), 7);
    ASSERT_TRUE(lsass.Running());
    CommittedPercentWatch commit;
    PerfdRunner perfd(peer["dir"] + "/state", StandInLsassName());
    ASSERT_TRUE(perfd.Running());

    // Right after the peer starts, its winreg server may still answer with the data the fixture
    // left (the oldest smbd as lsass) for a moment; each scrape is a new collection.
    std::string first = Probe("peer");
    int scrapes = 1;
    for (; scrapes < 10 && Value(first, "zeltor_process_handles{pdh_instance=\"lsass\"}") != 7; ++scrapes) {
        usleep(500'000);
        first = Probe("peer");
    }
    std::fprintf(stderr, "scrapes until the provider's data: %d\n", scrapes);
    EXPECT_EQ(Value(first, "zeltor_probe_success"), 1) << first;
    EXPECT_GT(Value(first, "zeltor_probe_duration_seconds"), 0);
    EXPECT_EQ(Value(first, "zeltor_process_handles{pdh_instance=\"lsass\"}"), 7) << first;
    // The peer has no ntfrs: said so, with no value.
    EXPECT_EQ(Value(first, "zeltor_probe_path_available{path=\"\\\\Process(ntfrs)\\\\Handle Count\"}"), 0);
    EXPECT_EQ(first.find("pdh_instance=\"ntfrs\""), std::string::npos);
    for (const char* series :
         { "zeltor_processor_processor_time_inverse_seconds_total{pdh_instance=\"_Total\"}",
           "zeltor_processor_interrupt_time_seconds_total{pdh_instance=\"_Total\"}",
           "zeltor_logicaldisk_free_space_numerator{pdh_instance=\"_Total\"}",
           "zeltor_logicaldisk_free_space_denominator{pdh_instance=\"_Total\"}",
           "zeltor_system_file_read_operations_total", "zeltor_system_file_write_operations_total",
           "zeltor_memory_page_faults_total", "zeltor_memory_pages_input_total", "zeltor_memory_pages_output_total",
           "zeltor_memory_page_reads_total", "zeltor_memory_page_writes_total" })
        EXPECT_GE(Value(first, series), 0) << series;
    EXPECT_GT(Value(first, "zeltor_processor_processor_time_inverse_seconds_total{pdh_instance=\"_Total\"}"), 0);
    // The fraction's two parts give the window's figure: this kernel's commit charge of the same
    // stretch of time.
    const double committed = 100 * Value(first, "zeltor_memory_committed_bytes_in_use_numerator") /
                             Value(first, "zeltor_memory_committed_bytes_in_use_denominator");
    EXPECT_NEAR(committed, commit.Nearest(static_cast<int>(committed)), 2);
    EXPECT_TRUE(PromtoolAccepts(first)) << first;

    // The next scrape uses the same logon; the cumulative counts only grow.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string second = Probe("peer");
    EXPECT_EQ(Value(second, "zeltor_probe_success"), 1);
    EXPECT_GE(Value(second, "zeltor_memory_page_faults_total"), Value(first, "zeltor_memory_page_faults_total"));
    EXPECT_EQ(opens[peer["address"]].load(), 1);

    const HttpAnswer metrics = Get(port, "/metrics");
    EXPECT_EQ(metrics.status, 200);
    EXPECT_EQ(Value(metrics.body, "zeltor_exporter_probes_total{module=\"dc\",outcome=\"success\"}"), 2)
        << metrics.body;
    EXPECT_EQ(Value(metrics.body, "zeltor_exporter_sessions"), 1);
    EXPECT_TRUE(PromtoolAccepts(metrics.body)) << metrics.body;
}

TEST_F(ExporterPeerTest, ARefusedPasswordIsSentOnceAndAForeignTargetGetsNoPacket)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    // Something listens where a forbidden target's SMB port would be: it must see no connection.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(config.smbPort);
    inet_pton(AF_INET, "127.0.0.5", &address.sin_addr);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    const HttpAnswer forbidden = Get(port, "/probe?target=127.0.0.5&module=dc&auth=peer");
    EXPECT_EQ(forbidden.status, 403);
    EXPECT_EQ(forbidden.body, "target \"127.0.0.5\" is not one auth peer may be used with\n");
    EXPECT_LT(accept(listener, nullptr, nullptr), 0);
    EXPECT_EQ(errno, EAGAIN);
    close(listener);
    EXPECT_EQ(opens.count("127.0.0.5"), 0u);

    const HttpAnswer twice = Get(port, "/probe?target=" + peer["address"] + "&target=127.0.0.5&module=dc&auth=peer");
    EXPECT_EQ(twice.status, 400);
    EXPECT_EQ(twice.body, "parameter target given 2 times\n");
    EXPECT_EQ(Get(port, "/probe?target=" + peer["address"] + "&module=dc&auth=nobody").status, 400);

    // A password the peer refuses: one refused logon at the peer however often it is scraped.
    const int refusedBefore = RefusedLogons(peer["dir"]);
    for (int i = 0; i < 3; ++i) {
        const std::string text = Probe("stale");
        EXPECT_EQ(Value(text, "zeltor_probe_success"), 0) << text;
        EXPECT_NE(
            text.find(
                "zeltor_probe_failure_info{status=\"0x8007052E\",text=\"The user name or password is incorrect.\"} 1"),
            std::string::npos)
            << text;
        EXPECT_EQ(text.find(peer["password"]), std::string::npos);
    }
    EXPECT_EQ(RefusedLogons(peer["dir"]), refusedBefore + 1);
    const HttpAnswer metrics = Get(port, "/metrics");
    EXPECT_EQ(Value(metrics.body, "zeltor_exporter_refused_logons_total"), 1) << metrics.body;
    EXPECT_EQ(
        Value(
            metrics.body,
            "zeltor_exporter_requests_refused_total{code=\"403\",reason=\"target_not_allowed\",auth=\"peer\",module=\"dc\"}"),
        1);
    EXPECT_EQ(Value(metrics.body, "zeltor_exporter_requests_refused_total{code=\"400\",reason=\"bad_parameter\"}"), 1);
    EXPECT_EQ(Value(metrics.body, "zeltor_exporter_requests_refused_total{code=\"400\",reason=\"unknown_auth\"}"), 1);
    EXPECT_EQ(metrics.body.find(peer["password"]), std::string::npos);
    // The index page names the target's last probe and why it failed, never the password.
    const HttpAnswer index = Get(port, "/");
    EXPECT_EQ(index.status, 200);
    EXPECT_NE(index.body.find(
                  "<tr><td>" + peer["address"] +
                  "</td><td>dc</td><td>stale</td><td class=\"failure\">The user name or password is incorrect.</td>"),
              std::string::npos)
        << index.body;
    EXPECT_EQ(index.body.find(peer["password"]), std::string::npos);
    EXPECT_EQ(index.body.find("127.0.0.5"), std::string::npos); // refused requests are not probes
    // The right credentials of the same target are a session of their own, not held by the refusal;
    // the page counts the counters the probe gave, as its series say.
    const std::string served = Probe("peer");
    EXPECT_EQ(Value(served, "zeltor_probe_success"), 1);
    int available = 0;
    for (std::size_t at = 0; (at = served.find("\nzeltor_probe_path_available{", at)) != std::string::npos; ++at)
        available += served.compare(served.find("} ", at), 4, "} 1\n") == 0 ? 1 : 0;
    EXPECT_GE(available, 10);
    EXPECT_NE(Get(port, "/").body.find("<tr><td>" + peer["address"] +
                                       "</td><td>dc</td><td>peer</td><td>success</td><td class=\"n\">" +
                                       std::to_string(available) + " of 13</td>"),
              std::string::npos)
        << Get(port, "/").body;
}

TEST_F(ExporterPeerTest, ASilentTargetEndsItsScrapeInTimeAndHoldsNoOther)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    // The peer's session first (its logon and name table), so that what follows is steady state.
    EXPECT_EQ(Value(Probe("peer"), "zeltor_probe_success"), 1);
    // Prometheus allows 3 s: the silent target's scrape answers within 2.5 s.
    HttpAnswer silent;
    double silentSeconds = 0;
    std::thread scrape([&] {
        const auto start = std::chrono::steady_clock::now();
        silent = Get(port, std::string("/probe?target=") + kSilent + "&module=dc&auth=peer",
                     "X-Prometheus-Scrape-Timeout-Seconds: 3\r\n");
        silentSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    // Meanwhile the peer is scraped as quickly as ever (a scrape held by the silent one would take
    // its 2.5 s).
    usleep(200'000);
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Value(Probe("peer"), "zeltor_probe_success"), 1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
    scrape.join();
    EXPECT_EQ(silent.status, 200);
    EXPECT_EQ(Value(silent.body, "zeltor_probe_success"), 0) << silent.body;
    EXPECT_NE(silent.body.find("text=\"The semaphore timeout period has expired.\""), std::string::npos) << silent.body;
    EXPECT_GE(silentSeconds, 2.4);
    EXPECT_LT(silentSeconds, 2.8);
}

TEST_F(ExporterPeerTest, ThePeerLacksTheDirectorysCountersAndSaysSoWithoutAZero)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    // The peer has no NTDS object nor the security statistics: the probe reaches it, and every
    // counter of the module is unavailable, with no value at all.
    const std::string text = Probe("peer", "ntds");
    EXPECT_EQ(Value(text, "zeltor_probe_success"), 1) << text;
    const ExporterModule ntds = DirectoryServiceModule();
    for (const std::string& path : ntds.paths) {
        std::string escaped;
        for (char c : path)
            escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
        EXPECT_EQ(Value(text, "zeltor_probe_path_available{path=\"" + escaped + "\"}"), 0) << path << "\n" << text;
    }
    EXPECT_EQ(text.find("zeltor_ntds_"), std::string::npos) << text;
    EXPECT_EQ(text.find("zeltor_security_"), std::string::npos) << text;
    // Why: the target publishes neither object, while the probe's sentinel object is there.
    EXPECT_EQ(Value(text, "zeltor_probe_object_available{object=\"NTDS\"}"), 0) << text;
    EXPECT_EQ(Value(text, "zeltor_probe_object_available{object=\"Security System-Wide Statistics\"}"), 0) << text;
    EXPECT_TRUE(PromtoolAccepts(text)) << text;
    const std::string ntdsRow =
        "<tr><td>" + peer["address"] +
        "</td><td>ntds</td><td>peer</td><td class=\"none\">no counters: the "
        "target answers but publishes no NTDS or Security System-Wide Statistics object</td><td class=\"n\">0 of 16</td>";
    EXPECT_NE(Get(port, "/").body.find(ntdsRow), std::string::npos) << Get(port, "/").body;
    // The same session serves the window's counters next, on the same logon; the page keeps a row
    // for each module of the target.
    const std::string dc = Probe("peer", "dc");
    EXPECT_EQ(Value(dc, "zeltor_probe_success"), 1);
    EXPECT_EQ(Value(dc, "zeltor_probe_object_available{object=\"Memory\"}"), 1) << dc;
    EXPECT_EQ(opens[peer["address"]].load(), 1);
    const std::string page = Get(port, "/").body;
    EXPECT_NE(page.find(ntdsRow), std::string::npos) << page;
    EXPECT_NE(page.find("<tr><td>" + peer["address"] + "</td><td>dc</td><td>peer</td><td>success</td>"),
              std::string::npos)
        << page;
}

TEST_F(ExporterPeerTest, ManySessionsCollectAtOnceOverSambasLibraries)
{
    ASSERT_TRUE(FillPerfmon(peer["perfmon"]));
    // Sixteen auths with the peer's credentials: sixteen sessions of one target, each with its
    // own connection, collected from sixteen threads at once, as many targets are.
    constexpr int kSessions = 16, kScrapes = 6;
    std::map<std::string, SmbCredentials> credentials;
    ExporterConfig many;
    for (int i = 0; i < kSessions; ++i) {
        const std::string name = "a" + std::to_string(i);
        credentials.emplace(name, SmbCredentials({}, peer["user"], peer["password"]));
        many.auths.push_back({ name, peer["user"], "", "/unused", { peer["address"] }, {}, {}, {}, {}, {} });
    }
    ASSERT_FALSE(CompleteExporterConfig(many));
    RemoteCounterOptions remote;
    remote.smbPort = config.smbPort;
    TargetSessions::Settings settings;
    settings.maxConcurrent = kSessions;
    TargetSessions concurrent(
        settings, std::move(credentials),
        [this, remote](CredentialRegistry& registry) {
            return std::make_unique<LogonCounter>(std::make_unique<SambaPerformanceRegistry>(registry, remote), opens);
        },
        [](const std::string&) {});
    // The peer's RPC server starts on its first pipe (samba-dcerpcd on demand); a burst of first
    // binds races that start and loses some. One session first, as the exporter's first scrape
    // of a controller would be.
    ASSERT_TRUE(concurrent
                    .Probe(peer["address"], *many.FindModule("dc"), many.auths[0],
                           TargetSessions::Clock::now() + std::chrono::seconds(20))
                    .success);
    std::atomic<int> succeeded = 0;
    std::vector<std::thread> scrapers;
    scrapers.reserve(kSessions);
    for (int i = 0; i < kSessions; ++i) {
        scrapers.emplace_back([&, i] {
            for (int n = 0; n < kScrapes; ++n) {
                const ProbeOutcome outcome = concurrent.Probe(peer["address"], *many.FindModule("dc"), many.auths[i],
                                                              TargetSessions::Clock::now() + std::chrono::seconds(20));
                succeeded += outcome.success ? 1 : 0;
            }
        });
    }
    for (std::thread& scraper : scrapers)
        scraper.join();
    EXPECT_EQ(succeeded.load(), kSessions * kScrapes);
    EXPECT_EQ(opens[peer["address"]].load(), kSessions); // one logon each, kept
}
