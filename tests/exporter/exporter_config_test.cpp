// The configuration file and the checks of a probe request: what is accepted, and the one-line
// reason for what is not.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "exporter/probe_request.h"
#include "platform/linux/exporter/exporter_config_file.h"
#include "platform/linux/exporter/exporter_server.h"

namespace {

constexpr char kConfig[] = R"(
listen: '[::1]:9100'
max_concurrent_collections: 4
refused_logon_backoff_seconds: 60
session_idle_seconds: 120
smb_port: 4450
modules:
  dc: { timeout_seconds: 7 }
  health: { timeout_seconds: 20 }
  memory:
    counters: ['\Memory\Page Faults/sec', '\Process(lsass#1)\Handle Count']
auths:
  monitor:
    user: 'EXAMPLE\zeltor'
    password_file: /etc/zeltor-exporter/monitor.password
    targets: [dc1.example.org, 192.0.2.7]
  other:
    user: reader@example.org
    password_file: /run/credentials/other
    targets: [dc2.example.org]
)";

ExporterConfig Parsed(const std::string& text)
{
    ExporterConfig config;
    const std::optional<std::string> problem = ParseExporterConfig(text, &config);
    EXPECT_FALSE(problem) << *problem;
    return config;
}

std::string Problem(const std::string& text)
{
    ExporterConfig config;
    return ParseExporterConfig(text, &config).value_or("(accepted)");
}

} // namespace

TEST(ExporterConfigTest, AFileIsReadWithTheBuiltInModuleAndItsDefaults)
{
    const ExporterConfig config = Parsed(kConfig);
    EXPECT_EQ(config.listenAddress, "::1");
    EXPECT_EQ(config.listenPort, 9100);
    EXPECT_EQ(config.maxConcurrentCollections, 4u);
    EXPECT_EQ(config.refusedLogonBackoffSeconds, 60);
    EXPECT_EQ(config.smbPort, 4450);
    EXPECT_EQ(config.sessionIdleSeconds, 120);
    EXPECT_EQ(config.timeoutMarginSeconds, 0.5); // the default
    // dc keeps the window's thirteen counters when only its timeout is given.
    const ExporterModule* dc = config.FindModule("dc");
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(dc->paths.size(), 13u);
    EXPECT_EQ(dc->paths[0], "\\Processor(_Total)\\% Processor Time");
    EXPECT_EQ(dc->timeoutSeconds, 7);
    EXPECT_FALSE(dc->health);
    // health keeps its checks (and no counters) when only its timeout is given.
    const ExporterModule* health = config.FindModule("health");
    ASSERT_NE(health, nullptr);
    EXPECT_TRUE(health->health);
    EXPECT_TRUE(health->paths.empty());
    EXPECT_EQ(health->timeoutSeconds, 20);
    ASSERT_NE(config.FindModule("memory"), nullptr);
    EXPECT_EQ(config.FindModule("memory")->paths.size(), 2u);
    EXPECT_EQ(config.FindModule("memory")->timeoutSeconds, 10);
    const ExporterAuth* monitor = config.FindAuth("monitor");
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->user, "EXAMPLE\\zeltor");
    EXPECT_EQ(monitor->targets, (std::vector<std::string>{ "dc1.example.org", "192.0.2.7" }));
    EXPECT_EQ(config.FindAuth("other")->passwordFile, "/run/credentials/other");

    // Without a modules section, dc is there all the same.
    const ExporterConfig minimal = Parsed("auths: {a: {user: u, password_file: /p, targets: [h]}}\n");
    ASSERT_NE(minimal.FindModule("dc"), nullptr);
    EXPECT_EQ(minimal.FindModule("dc")->paths.size(), 13u);
    ASSERT_NE(minimal.FindModule("health"), nullptr);
    EXPECT_TRUE(minimal.FindModule("health")->health);
    EXPECT_EQ(minimal.listenAddress, "127.0.0.1");
}

TEST(ExporterConfigTest, TheDocumentedExampleIsAValidConfiguration)
{
    std::ifstream file(ZELTOR_SOURCE_DIR "/docs/exporter.md");
    std::stringstream text;
    text << file.rdbuf();
    const std::string doc = text.str();
    const auto start = doc.find("```yaml\nlisten:");
    ASSERT_NE(start, std::string::npos);
    const auto end = doc.find("```", start + 7);
    const ExporterConfig config = Parsed(doc.substr(start + 8, end - start - 8));
    EXPECT_EQ(config.listenPort, 9755);
    EXPECT_EQ(config.sessionIdleSeconds, 300);
    EXPECT_EQ(config.FindModule("dc")->paths.size(), 13u);
    EXPECT_EQ(config.FindModule("memory")->paths.size(), 3u);
    EXPECT_EQ(config.FindAuth("monitor")->targets.size(), 3u);
}

TEST(ExporterConfigTest, MistakesAreNamedWithTheirLine)
{
    const std::string auth = "auths: {a: {user: u, password_file: /p, targets: [h]}}\n";
    EXPECT_EQ(Problem(auth + "listen_address: 1.2.3.4:9\n"), "line 2: unknown key listen_address in the configuration");
    EXPECT_EQ(Problem(auth + "max_concurrent_collections: many\n"),
              "line 2: max_concurrent_collections must be a whole number up to 4096, not \"many\"");
    EXPECT_EQ(Problem(auth + "max_concurrent_collections: 0\n"), "max_concurrent_collections must be at least 1");
    EXPECT_EQ(Problem(auth + "timeout_margin_seconds: 1s\n"),
              "line 2: timeout_margin_seconds must be a number, not \"1s\"");
    EXPECT_EQ(Problem(auth + "listen: 9100\n"), "line 2: listen must be address:port, [address]:port or :port");
    EXPECT_EQ(Problem(auth + "listen: '::1:9100'\n"), "line 2: listen must be address:port, [address]:port or :port");
    EXPECT_EQ(Problem(auth + "listen: 1.2.3.4:70000\n"),
              "line 2: listen must be address:port, [address]:port or :port");
    EXPECT_EQ(Problem(auth + "modules: {m: {counters: ['Memory\\Pages/sec']}}\n"),
              "module m: \"Memory\\Pages/sec\" is not a counter path (\\object(instance)\\counter)");
    EXPECT_EQ(Problem(auth + "modules: {m: {counters: ['\\\\host\\Memory\\Pages/sec']}}\n"),
              "module m: \"\\\\host\\Memory\\Pages/sec\" is not a counter path (\\object(instance)\\counter)");
    EXPECT_EQ(Problem(auth + "modules: {m: {}}\n"), "module m lists no counters");
    EXPECT_EQ(Problem(auth + "modules: {m: {counters: ['\\Memory\\Pages/sec'], timeout_seconds: 0}}\n"),
              "module m: timeout_seconds must be above 0 and at most 300");
    EXPECT_EQ(Problem(auth + "modules: {'a b': {counters: ['\\Memory\\Pages/sec']}}\n"),
              "module \"a b\": a name is 1 to 64 letters, digits, '_', '-' or '.'");
    EXPECT_EQ(Problem("modules: {}\n"), "no auths: the exporter would have nothing to log on with");
    EXPECT_EQ(Problem("auths: {a: {user: u, password_file: /p}}\n"),
              "auth a lists no targets: its credentials would go nowhere");
    EXPECT_EQ(Problem("auths: {a: {user: u, password_file: /p, targets: ['\\\\evil\\share']}}\n"),
              "auth a: \"\\\\evil\\share\" is not a host name or address");
    EXPECT_EQ(Problem("auths: {a: {password_file: /p, targets: [h]}}\n"), "auth a names no user");
    EXPECT_EQ(Problem("auths: {a: {user: u, password: secret, targets: [h]}}\n"),
              "line 1: unknown key password in auth a");
    EXPECT_EQ(Problem("auths: {a: {user: u, password_file: /p, targets: h}}\n"),
              "line 1: auth a targets must be a list");
    EXPECT_EQ(Problem(""), "the configuration is empty");
    EXPECT_NE(Problem("auths: [unclosed\n").find("line"), std::string::npos) << Problem("auths: [unclosed\n");
}

TEST(ProbeRequestTest, ARequestNamesOneTargetAKnownModuleAndAnAuthThatMayGoThere)
{
    const ExporterConfig config = Parsed(kConfig);
    const auto check = [&](const QueryArguments& arguments) { return CheckProbeRequest(config, arguments); };

    const ProbeRequest ok = check({ { "module", "dc" }, { "target", "DC1.Example.org." }, { "auth", "monitor" } });
    EXPECT_EQ(ok.httpStatus, 200) << ok.reason;
    EXPECT_EQ(ok.target, "DC1.Example.org.");
    EXPECT_EQ(ok.module, config.FindModule("dc"));
    EXPECT_EQ(ok.auth, config.FindAuth("monitor"));
    EXPECT_EQ(check({ { "target", "192.0.2.7" }, { "module", "memory" }, { "auth", "monitor" }, { "extra", "1" } })
                  .httpStatus,
              200);

    const struct {
        QueryArguments arguments;
        int status;
        const char* reason;
    } refused[] = {
        { { { "module", "dc" }, { "auth", "monitor" } }, 400, "missing parameter target" },
        { { { "target", "dc1.example.org" },
            { "target", "dc2.example.org" },
            { "module", "dc" },
            { "auth", "monitor" } },
          400,
          "parameter target given 2 times" },
        { { { "target", "" }, { "module", "dc" }, { "auth", "monitor" } },
          400,
          "target \"\" is not a host name or address" },
        { { { "target", "\\\\dc1\\ipc$" }, { "module", "dc" }, { "auth", "monitor" } },
          400,
          "target \"\\\\dc1\\ipc$\" is not a host name or address" },
        { { { "target", "dc1\nX: y" }, { "module", "dc" }, { "auth", "monitor" } },
          400,
          "target \"dc1?X: y\" is not a host name or address" },
        { { { "target", "dc1.example.org" }, { "auth", "monitor" } }, 400, "missing parameter module" },
        { { { "target", "dc1.example.org" }, { "module", "DC" }, { "auth", "monitor" } },
          400,
          "unknown module \"DC\"" },
        { { { "target", "dc1.example.org" }, { "module", "dc" } }, 400, "missing parameter auth" },
        { { { "target", "dc1.example.org" }, { "module", "dc" }, { "auth", "nobody" } },
          400,
          "unknown auth \"nobody\"" },
        { { { "target", "dc1.example.org" }, { "module", "dc" }, { "auth", "other" } },
          403,
          "target \"dc1.example.org\" is not one auth other may be used with" },
        { { { "target", "attacker.example.net" }, { "module", "dc" }, { "auth", "monitor" } },
          403,
          "target \"attacker.example.net\" is not one auth monitor may be used with" },
        { { { "target", "dc1.example.org.evil" }, { "module", "dc" }, { "auth", "monitor" } },
          403,
          "target \"dc1.example.org.evil\" is not one auth monitor may be used with" },
    };
    for (const auto& r : refused) {
        const ProbeRequest request = check(r.arguments);
        EXPECT_EQ(request.httpStatus, r.status) << r.reason;
        EXPECT_EQ(request.reason, r.reason);
        // A 403 names whose request it refused (its auth and module, for the refusal's count);
        // a 400 names none, and nothing refused is given a target.
        EXPECT_EQ(request.auth != nullptr, r.status == 403) << r.reason;
        EXPECT_EQ(request.refusal, r.status == 403                                       ? "target_not_allowed"
                                   : std::string(r.reason).starts_with("unknown module") ? "unknown_module"
                                   : std::string(r.reason).starts_with("unknown auth")   ? "unknown_auth"
                                                                                         : "bad_parameter")
            << r.reason;
        EXPECT_EQ(request.target, "") << r.reason;
    }
}

TEST(ProbeRequestTest, AScrapeTakesPrometheusTimeoutLessTheMarginWithinTheModules)
{
    EXPECT_DOUBLE_EQ(ScrapeBudgetSeconds("10", 0.5, 30), 9.5);
    EXPECT_DOUBLE_EQ(ScrapeBudgetSeconds("10", 0.5, 4), 4); // the module's is smaller
    EXPECT_DOUBLE_EQ(ScrapeBudgetSeconds(std::nullopt, 0.5, 4), 4);
    EXPECT_DOUBLE_EQ(ScrapeBudgetSeconds("ten", 0.5, 4), 4); // not a number: ignored
    EXPECT_DOUBLE_EQ(ScrapeBudgetSeconds("2.5x", 0.5, 4), 4);
    EXPECT_DOUBLE_EQ(ScrapeBudgetSeconds("0.3", 0.5, 4), 0.1); // never nothing
    EXPECT_DOUBLE_EQ(ScrapeBudgetSeconds("inf", 0.5, 4), 4);
}
