// Reading the configuration again, as SIGHUP and POST /-/reload do: what a new reading keeps, what
// it closes, and that a reading that cannot be used changes nothing; the command line, the log's
// lines and the exporter's own process figures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <mutex>
#include <thread>

#include "directory/win32_error_text.h"
#include "exporter/exporter_options.h"
#include "platform/linux/exporter/exporter_log.h"
#include "platform/linux/exporter/exporter_runtime.h"
#include "platform/linux/exporter/process_figures.h"
#include "platform/linux/probe/linux_probe_environment.h"
#include "tests/linux/test_support.h"

namespace {

// Each logon the sessions' connections attempt, with the credentials they were given; every one
// refused as access denied (not a refused logon: no backoff).
struct Logons {
    std::mutex mutex;
    int registries = 0;            // one per session made
    std::vector<std::string> seen; // "machine user password"
};

class RecordingRegistry : public IPerformanceRegistry {
public:
    RecordingRegistry(Logons& logons, CredentialRegistry& credentials) : m_logons(logons), m_credentials(credentials) {}
    std::uint32_t Open(const std::string& machine, std::unique_ptr<IPerformanceKey>*) override
    {
        const std::optional<CredentialRegistry::Entry> entry = m_credentials.Find(machine);
        const std::lock_guard lock(m_logons.mutex);
        m_logons.seen.push_back(machine + " " +
                                (entry ? entry->credentials.user + " " + entry->credentials.password : "-"));
        return win32_error::kAccessDenied;
    }

private:
    Logons& m_logons;
    CredentialRegistry& m_credentials;
};

std::string Secret(const TempDir& dir, const std::string& name, const std::string& password)
{
    std::string path = dir.Write(name, password + "\n");
    chmod(path.c_str(), 0600);
    return path;
}

QueryArguments ProbeOf(const std::string& target, const std::string& auth)
{
    return { { "target", target }, { "module", "dc" }, { "auth", auth } };
}

double Value(const std::string& text, const std::string& series)
{
    const auto at = text.find("\n" + series + " ");
    return at == std::string::npos ? -1 : std::stod(text.substr(at + series.size() + 2));
}

} // namespace

TEST(ExporterReloadTest, ANewReadingKeepsTheUnchangedAuthsSessionsAndABadOneChangesNothing)
{
    TempDir dir;
    Secret(dir, "a.password", "pa-1");
    Secret(dir, "b.password", "pb-1");
    const auto configuration = [&](const std::string& extra) {
        return "auths:\n"
               "  a: {user: ua, password_file: " +
               dir.path() +
               "/a.password, targets: [dc1]}\n"
               "  b: {user: ub, password_file: " +
               dir.path() + "/b.password, targets: [dc1]}\n" + extra;
    };
    const std::string path = dir.Write("exporter.yml", configuration(""));
    LinuxProbeEnvironment environment;
    Logons logons;
    std::vector<std::string> log;
    std::mutex logMutex;
    const ExporterServer::Log record = [&](LogLevel level, const std::string& message,
                                           const ExporterLog::Fields& fields) {
        std::string line = std::to_string(static_cast<int>(level)) + " " + message;
        for (const auto& [key, value] : fields)
            line.append(" ").append(key).append("=").append(value);
        const std::lock_guard lock(logMutex);
        log.push_back(line);
    };
    ExporterRuntime runtime(
        { path, "", "", dir.path() }, environment,
        [&](CredentialRegistry& credentials, const KeytabLogonRegistry::Tickets&, const RemoteCounterOptions&) {
            const std::lock_guard lock(logons.mutex);
            ++logons.registries;
            return std::make_unique<RecordingRegistry>(logons, credentials);
        },
        record);
    std::shared_ptr<const ExporterState> state;
    std::string problem;
    ASSERT_TRUE(runtime.Read(&state, &problem)) << problem;
    ExporterServer server(state, "test", nullptr, record, {});
    server.SetReloader(
        [&](std::shared_ptr<const ExporterState>* read, std::string* why) { return runtime.Read(read, why); });
    const auto lastLogon = [&](const std::string& user) {
        const std::lock_guard lock(logons.mutex);
        for (auto it = logons.seen.rbegin(); it != logons.seen.rend(); ++it) {
            if (it->find(" " + user + " ") != std::string::npos)
                return *it;
        }
        return std::string();
    };

    EXPECT_EQ(server.Handle("/probe", ProbeOf("dc1", "a"), std::nullopt).status, 200);
    EXPECT_EQ(server.Handle("/probe", ProbeOf("dc1", "b"), std::nullopt).status, 200);
    EXPECT_EQ(logons.registries, 2);
    EXPECT_EQ(lastLogon("ub"), "dc1 ub pb-1");
    EXPECT_EQ(server.Handle("/probe", ProbeOf("dc2", "c"), std::nullopt).status, 400);

    // b's password changes and an auth c comes: a's session stays, b's is made anew with the new
    // password, c's targets are served.
    Secret(dir, "b.password", "pb-2");
    Secret(dir, "c.password", "pc-1");
    dir.Write("exporter.yml",
              configuration("  c: {user: uc, password_file: " + dir.path() + "/c.password, targets: [dc2]}\n"));
    const ExporterServer::Response reloaded = server.Handle("POST", "/-/reload", {}, std::nullopt);
    EXPECT_EQ(reloaded.status, 200) << reloaded.body;
    EXPECT_EQ(server.Handle("/probe", ProbeOf("dc1", "a"), std::nullopt).status, 200);
    EXPECT_EQ(server.Handle("/probe", ProbeOf("dc1", "b"), std::nullopt).status, 200);
    EXPECT_EQ(server.Handle("/probe", ProbeOf("dc2", "c"), std::nullopt).status, 200);
    EXPECT_EQ(logons.registries, 4); // b's and c's
    EXPECT_EQ(lastLogon("ub"), "dc1 ub pb-2");
    EXPECT_EQ(lastLogon("ua"), "dc1 ua pa-1");
    EXPECT_EQ(server.State()->sessions->SessionCount(), 3u);
    const double taken = Value(server.Handle("/metrics", {}, std::nullopt).body,
                               "zeltor_exporter_config_last_reload_success_timestamp_seconds");
    EXPECT_NEAR(taken, static_cast<double>(std::time(nullptr)), 5);

    // A file YAML cannot read, then a password file others may read: each refused with where it
    // went wrong, and what was read before serves on.
    dir.Write("exporter.yml", configuration("  c: [unclosed\n"));
    ExporterServer::Response refused = server.Handle("POST", "/-/reload", {}, std::nullopt);
    EXPECT_EQ(refused.status, 500);
    EXPECT_NE(refused.body.find(path + ": yaml-cpp: error at line 5"), std::string::npos) << refused.body;
    dir.Write("exporter.yml", configuration(""));
    chmod((dir.path() + "/b.password").c_str(), 0644);
    EXPECT_TRUE(server.Reload("SIGHUP")); // the problem
    chmod((dir.path() + "/b.password").c_str(), 0600);
    EXPECT_EQ(server.Handle("/probe", ProbeOf("dc2", "c"), std::nullopt).status, 200);
    const std::string figures = server.Handle("/metrics", {}, std::nullopt).body;
    EXPECT_EQ(Value(figures, "zeltor_exporter_config_last_reload_successful"), 0) << figures;
    EXPECT_EQ(Value(figures, "zeltor_exporter_config_last_reload_success_timestamp_seconds"), taken);
    EXPECT_EQ(logons.registries, 4);
    {
        const std::lock_guard lock(logMutex);
        const std::string last = log.back();
        EXPECT_NE(last.find("the configuration was not reloaded"), std::string::npos) << last;
        EXPECT_NE(last.find("trigger=SIGHUP"), std::string::npos) << last;
        EXPECT_NE(last.find("b.password can be read or changed by others"), std::string::npos) << last;
    }
    // Taken again: c's auth gone, its session with it; GET does not reload.
    EXPECT_EQ(server.Handle("/-/reload", {}, std::nullopt).status, 405);
    EXPECT_FALSE(server.Reload("SIGHUP")); // no problem
    EXPECT_EQ(server.State()->sessions->SessionCount(), 2u);
    EXPECT_EQ(server.Handle("/probe", ProbeOf("dc2", "c"), std::nullopt).status, 400);
    EXPECT_EQ(Value(server.Handle("/metrics", {}, std::nullopt).body, "zeltor_exporter_config_last_reload_successful"),
              1);
}

TEST(ExporterOptionsTest, PrometheusFormsAndAnUnknownOptionIsNamed)
{
    ExporterOptions options;
    ASSERT_FALSE(
        ParseExporterOptions({ "--config", "/c.yml", "--web.listen-address=:9756", "--web.listen-address", "[::1]:9757",
                               "--web.listen-address=127.0.0.2:0", "--log.level=debug", "--log.format", "json" },
                             &options));
    EXPECT_EQ(options.configPath, "/c.yml");
    EXPECT_EQ(options.listen, (std::vector<ListenAddress>{ { "", 9756 }, { "::1", 9757 }, { "127.0.0.2", 0 } }));
    EXPECT_EQ(options.logLevel, "debug");
    EXPECT_EQ(options.logFormat, "json");
    for (const auto& [arguments, problem] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             { { "--web.listen-adress=:9756" }, "unknown option --web.listen-adress" },
             { { "--config" }, "option --config needs a value" },
             { { "--web.listen-address", "9756" },
               "option --web.listen-address: \"9756\" is not address:port, [v6address]:port or :port" },
             { { "--log.level=verbose" }, "option --log.level: \"verbose\" is not debug, info, warn or error" },
             { { "--check-config=yes" }, "option --check-config takes no value" },
             { { "extra" }, "unexpected argument \"extra\"" } }) {
        EXPECT_EQ(ParseExporterOptions(arguments, &options).value_or("(accepted)"), problem);
    }
}

TEST(ExporterLogTest, LogfmtAndJsonLinesAsPrometheusExportersWriteThem)
{
    std::vector<std::string> lines;
    const ExporterLog logfmt(LogLevel::Info, ExporterLog::Format::Logfmt,
                             [&](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(
        logfmt.Line(1796817600.25, LogLevel::Warn, "probe refused",
                    { { "reason", "target \"x\" is not\nallowed" }, { "code", "403" } }),
        "ts=2026-12-09T12:00:00.250Z level=warn msg=\"probe refused\" reason=\"target \\\"x\\\" is not\\nallowed\" code=403\n");
    const ExporterLog json(LogLevel::Info, ExporterLog::Format::Json);
    EXPECT_EQ(
        json.Line(1796817600, LogLevel::Info, "listening", { { "address", "[::]:9755" } }),
        "{\"ts\":\"2026-12-09T12:00:00.000Z\",\"level\":\"info\",\"msg\":\"listening\",\"address\":\"[::]:9755\"}\n");
    logfmt(LogLevel::Debug, "left out");
    logfmt(LogLevel::Error, "kept");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" level=error msg=kept\n"), std::string::npos) << lines[0];
}

TEST(ProcessFiguresTest, AProcessFiguresAreReadFromItsProcfs)
{
    // A child holding seven descriptors (0 to 6) that has used 0.3 s of CPU, then waits.
    const auto started = static_cast<double>(std::time(nullptr));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int done = fcntl(ready[1], F_DUPFD, 100);
        close_range(3, 99, 0);
        close_range(101, ~0U, 0);
        for (int fd = 3; fd <= 5; ++fd)
            open("/dev/null", O_RDONLY);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::clock() < CLOCKS_PER_SEC * 3 / 10 && std::chrono::steady_clock::now() < until) {}
        dup2(done, 6); // the seventh
        close(done);
        if (write(6, "x", 1) != 1)
            _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    const std::optional<ProcessFigures> figures = ReadProcessFigures("/proc/" + std::to_string(child));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(figures);
    EXPECT_EQ(figures->openDescriptors, 7);
    EXPECT_GE(figures->cpuSeconds, 0.29);
    EXPECT_LT(figures->cpuSeconds, 5);
    EXPECT_NEAR(figures->startTimeSeconds, started, 2);
    EXPECT_GT(figures->residentBytes, 0);
    EXPECT_GT(figures->virtualBytes, figures->residentBytes);
    EXPECT_GT(figures->maxDescriptors, 7);
    EXPECT_FALSE(ReadProcessFigures("/proc/0"));
}
