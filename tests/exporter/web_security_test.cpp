// The web configuration: its refusals of what the exporter cannot honour, bcrypt basic
// authentication, and the server over TLS with a certificate made for the test, spoken to by a
// GnuTLS client that checks it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <vector>

#include "platform/linux/exporter/exporter_server.h"
#include "platform/linux/exporter/web_config.h"
#include "tests/linux/test_support.h"

namespace {

// bcrypt of kPassword at cost 5, made once with libxcrypt (crypt_gensalt "$2y$", as htpasswd -B writes).
constexpr char kHash[] = "$2y$05$wQ2oCdSixkDDMvVTQN97M.dKhEbmE54fAGH2QPhW.2TpuG.wbzDV2";
constexpr char kPassword[] = "s3cret:with colon";

std::string Pem(gnutls_datum_t datum)
{
    std::string text(reinterpret_cast<const char*>(datum.data), datum.size);
    gnutls_free(datum.data);
    return text;
}

// A self-signed certificate for "localhost" and its key, both PEM.
void MakeCertificate(std::string* certPem, std::string* keyPem)
{
    gnutls_x509_privkey_t key;
    ASSERT_EQ(gnutls_x509_privkey_init(&key), 0);
    ASSERT_EQ(gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA, GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0), 0);
    gnutls_x509_crt_t crt;
    ASSERT_EQ(gnutls_x509_crt_init(&crt), 0);
    const unsigned char serial[] = { 1 };
    gnutls_x509_crt_set_version(crt, 3);
    gnutls_x509_crt_set_serial(crt, serial, sizeof serial);
    gnutls_x509_crt_set_activation_time(crt, std::time(nullptr) - 60);
    gnutls_x509_crt_set_expiration_time(crt, std::time(nullptr) + 3600);
    gnutls_x509_crt_set_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0, "localhost", 9);
    gnutls_x509_crt_set_subject_alt_name(crt, GNUTLS_SAN_DNSNAME, "localhost", 9, GNUTLS_FSAN_SET);
    gnutls_x509_crt_set_key(crt, key);
    gnutls_x509_crt_set_basic_constraints(crt, 0, -1);
    gnutls_x509_crt_set_key_usage(crt, GNUTLS_KEY_DIGITAL_SIGNATURE);
    ASSERT_EQ(gnutls_x509_crt_sign2(crt, crt, key, GNUTLS_DIG_SHA256, 0), 0);
    gnutls_datum_t out;
    ASSERT_EQ(gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_PEM, &out), 0);
    *certPem = Pem(out);
    ASSERT_EQ(gnutls_x509_privkey_export2(key, GNUTLS_X509_FMT_PEM, &out), 0);
    *keyPem = Pem(out);
    gnutls_x509_crt_deinit(crt);
    gnutls_x509_privkey_deinit(key);
}

int Connect(std::uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout { 5, 0 };
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string Request(const std::string& path, const std::string& headers)
{
    return "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n" + headers + "\r\n";
}

// The whole reply to one request in plain HTTP.
std::string PlainGet(std::uint16_t port, const std::string& path, const std::string& headers = {})
{
    const int fd = Connect(port);
    if (fd < 0)
        return {};
    const std::string request = Request(path, headers);
    std::string reply;
    if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
            reply.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return reply;
}

// The whole reply over TLS, the server's certificate checked against trustedPem for "localhost";
// empty when the handshake or the check fails.
std::string TlsGet(std::uint16_t port, const std::string& trustedPem, const std::string& path, const std::string& headers = {})
{
    const int fd = Connect(port);
    if (fd < 0)
        return {};
    gnutls_certificate_credentials_t credentials;
    gnutls_certificate_allocate_credentials(&credentials);
    gnutls_datum_t trusted { reinterpret_cast<unsigned char*>(const_cast<char*>(trustedPem.data())),
                             static_cast<unsigned>(trustedPem.size()) };
    gnutls_certificate_set_x509_trust_mem(credentials, &trusted, GNUTLS_X509_FMT_PEM);
    gnutls_session_t session;
    gnutls_init(&session, GNUTLS_CLIENT);
    gnutls_set_default_priority(session);
    gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, credentials);
    gnutls_server_name_set(session, GNUTLS_NAME_DNS, "localhost", 9);
    gnutls_session_set_verify_cert(session, "localhost", 0);
    gnutls_transport_set_int(session, fd);
    gnutls_handshake_set_timeout(session, 5000);
    int result;
    do
        result = gnutls_handshake(session);
    while (result < 0 && gnutls_error_is_fatal(result) == 0);
    std::string reply;
    if (result == 0) {
        const std::string request = Request(path, headers);
        if (gnutls_record_send(session, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = gnutls_record_recv(session, buffer, sizeof buffer)) != 0;) {
                if (n > 0)
                    reply.append(buffer, static_cast<std::size_t>(n));
                else if (gnutls_error_is_fatal(static_cast<int>(n)) != 0)
                    break;
            }
        }
        gnutls_bye(session, GNUTLS_SHUT_WR);
    }
    gnutls_deinit(session);
    gnutls_certificate_free_credentials(credentials);
    close(fd);
    return reply;
}

int StatusOf(const std::string& reply)
{
    return reply.starts_with("HTTP/1.") && reply.size() > 12 ? std::stoi(reply.substr(9, 3)) : 0;
}

std::string BasicHeader(const std::string& user, const std::string& password)
{
    // Base64 of user:password.
    const std::string plain = user + ":" + password;
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < plain.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(plain[i]) << 16;
        if (i + 1 < plain.size())
            value |= static_cast<unsigned char>(plain[i + 1]) << 8;
        if (i + 2 < plain.size())
            value |= static_cast<unsigned char>(plain[i + 2]);
        out += kAlphabet[(value >> 18) & 63];
        out += kAlphabet[(value >> 12) & 63];
        out += i + 1 < plain.size() ? kAlphabet[(value >> 6) & 63] : '=';
        out += i + 2 < plain.size() ? kAlphabet[value & 63] : '=';
    }
    return "Authorization: Basic " + out + "\r\n";
}

double Value(const std::string& text, const std::string& series)
{
    const auto at = text.find("\n" + series + " ");
    return at == std::string::npos ? -1 : std::stod(text.substr(at + series.size() + 2));
}

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        config.listenAddress = "127.0.0.1";
        config.listenPort = 0;
        config.auths.push_back({ "a", "user", "", "/unused", { "dc1.example.org" }, {}, {}, {}, {}, {} });
        ASSERT_FALSE(CompleteExporterConfig(config));
        sessions = std::make_unique<TargetSessions>(
            TargetSessions::Settings {}, std::map<std::string, SmbCredentials> {},
            [](CredentialRegistry&) -> std::unique_ptr<IPerformanceRegistry> { return nullptr; },
            [](const std::string&) {});
        server = std::make_unique<ExporterServer>(config, *sessions, "test");
    }

    void Start(const std::string& webConfig)
    {
        const std::string path = dir.Write("web.yml", webConfig);
        WebSecurity web;
        const std::optional<std::string> problem = LoadWebSecurity(path, &web);
        ASSERT_FALSE(problem) << *problem;
        const std::optional<std::string> failed = server->Start(web);
        ASSERT_FALSE(failed) << *failed;
        port = server->Port();
    }

    TempDir dir;
    ExporterConfig config;
    std::unique_ptr<TargetSessions> sessions;
    std::unique_ptr<ExporterServer> server;
    std::uint16_t port = 0;
};

} // namespace

TEST(WebConfigTest, RefusesWhatItCannotHonourAndReadsPathsFromItsFolder)
{
    WebConfig config;
    for (const auto& [text, problem] : std::vector<std::pair<std::string, std::string>> {
             { "tls_server_config:\n  cert_file: a.crt\n  key_file: a.key\n  client_ca_file: ca.crt\n",
               "line 4: unknown key client_ca_file in tls_server_config" },
             { "tls_server_config:\n  cert_file: a.crt\n", "line 2: tls_server_config needs both cert_file and key_file" },
             { "tls_server_config:\n  cert_file: a.crt\n  key_file: a.key\n  min_version: TLS10\n",
               "line 4: min_version must be TLS12 or TLS13" },
             { "basic_auth_users:\n  prometheus: s3cret\n", "line 2: the hash of prometheus is not a bcrypt hash" },
             { "basic_auth_users:\n  prometheus: $1$abc$0123456789012345678901\n", "line 2: the hash of prometheus is not a bcrypt hash" },
             { "http_server_config:\n  http2: false\n", "line 1: unknown key http_server_config" },
         }) {
        const std::optional<std::string> found = ParseWebConfig(text, "/etc/x", &config);
        ASSERT_TRUE(found) << text;
        EXPECT_TRUE(found->starts_with(problem)) << *found;
    }

    ASSERT_FALSE(ParseWebConfig("tls_server_config:\n  cert_file: a.crt\n  key_file: /k/a.key\n  min_version: TLS13\n"
                                "basic_auth_users:\n  prometheus: " + std::string(kHash) + "\n",
                                "/etc/x", &config));
    EXPECT_EQ(config.certFile, "/etc/x/a.crt");
    EXPECT_EQ(config.keyFile, "/k/a.key");
    EXPECT_EQ(TlsPriorities(config), "NORMAL:-VERS-ALL:+VERS-TLS1.3");
    EXPECT_EQ(config.basicAuthUsers.at("prometheus"), kHash);
    // An empty file is plain HTTP with no authentication.
    ASSERT_FALSE(ParseWebConfig("", "/etc/x", &config));
    EXPECT_FALSE(config.Tls());
    EXPECT_TRUE(config.basicAuthUsers.empty());
}

TEST(WebConfigTest, BasicAuthChecksBcryptAndRemembersOnlyWhatPassed)
{
    EXPECT_TRUE(BcryptMatches(kPassword, kHash));
    EXPECT_FALSE(BcryptMatches("s3cret", kHash));
    EXPECT_FALSE(BcryptMatches(kPassword, "$2y$05$invalid"));

    BasicAuthCheck check(std::map<std::string, std::string> { { "prometheus", kHash } });
    EXPECT_FALSE(check.Allows("prometheus", "wrong"));
    EXPECT_FALSE(check.Allows("nobody", kPassword));
    EXPECT_FALSE(check.Allows("Prometheus", kPassword));
    EXPECT_EQ(check.HashChecks(), 3u); // an unknown user costs a bcrypt as well
    EXPECT_TRUE(check.Allows("prometheus", kPassword));
    EXPECT_TRUE(check.Allows("prometheus", kPassword));
    EXPECT_EQ(check.HashChecks(), 4u); // the second time from memory
    // What passed once does not let another password, or another user, through.
    EXPECT_FALSE(check.Allows("prometheus", "wrong"));
    EXPECT_FALSE(check.Allows("prometheus", std::string(kPassword) + " "));
    EXPECT_FALSE(check.Allows("nobody", kPassword));
}

TEST_F(WebServerTest, TlsWithBasicAuthRefusesPlainHttpAndWrongCredentials)
{
    std::string certPem, keyPem;
    ASSERT_NO_FATAL_FAILURE(MakeCertificate(&certPem, &keyPem));
    dir.Write("tls.crt", certPem);
    dir.Write("tls.key", keyPem);
    ASSERT_NO_FATAL_FAILURE(Start("tls_server_config:\n  cert_file: tls.crt\n  key_file: tls.key\n"
                                  "basic_auth_users:\n  prometheus: " + std::string(kHash) + "\n"));

    // Plain HTTP to the TLS listener gets no HTTP answer, with or without credentials.
    const std::string plain = PlainGet(port, "/metrics", BasicHeader("prometheus", kPassword));
    EXPECT_EQ(StatusOf(plain), 0) << plain;
    EXPECT_EQ(plain.find("zeltor_exporter"), std::string::npos);

    for (const char* path : { "/metrics", "/", "/probe?target=dc1.example.org&module=dc&auth=a" }) {
        const std::string none = TlsGet(port, certPem, path);
        EXPECT_EQ(StatusOf(none), 401) << none;
        EXPECT_NE(none.find("WWW-Authenticate: Basic realm=\"zeltor-exporter\""), std::string::npos) << none;
    }
    EXPECT_EQ(StatusOf(TlsGet(port, certPem, "/metrics", BasicHeader("prometheus", "s3cret"))), 401);
    EXPECT_EQ(StatusOf(TlsGet(port, certPem, "/metrics", BasicHeader("other", kPassword))), 401);
    EXPECT_EQ(StatusOf(TlsGet(port, certPem, "/metrics", "Authorization: Bearer abc\r\n")), 401);

    const std::string served = TlsGet(port, certPem, "/metrics", BasicHeader("prometheus", kPassword));
    EXPECT_EQ(StatusOf(served), 200) << served;
    EXPECT_EQ(Value(served, "zeltor_exporter_refused_requests_total{code=\"401\"}"), 6) << served;
    EXPECT_EQ(served.find(kPassword), std::string::npos);
    // A client that does not trust this certificate does not get through the handshake.
    std::string otherCert, otherKey;
    ASSERT_NO_FATAL_FAILURE(MakeCertificate(&otherCert, &otherKey));
    EXPECT_EQ(TlsGet(port, otherCert, "/metrics", BasicHeader("prometheus", kPassword)), "");
}

TEST_F(WebServerTest, BasicAuthWithoutTlsAndNoWebConfigurationAtAll)
{
    ASSERT_NO_FATAL_FAILURE(Start("basic_auth_users:\n  prometheus: " + std::string(kHash) + "\n"));
    EXPECT_EQ(StatusOf(PlainGet(port, "/")), 401);
    EXPECT_EQ(StatusOf(PlainGet(port, "/", BasicHeader("prometheus", "nope"))), 401);
    EXPECT_EQ(StatusOf(PlainGet(port, "/", BasicHeader("prometheus", kPassword))), 200);
    server->Stop();

    // Without a web configuration the listener is plain HTTP and open.
    ExporterServer open(config, *sessions, "test");
    ASSERT_FALSE(open.Start());
    EXPECT_EQ(StatusOf(PlainGet(open.Port(), "/metrics")), 200);
}

TEST_F(WebServerTest, AConnectionIsKeptForTheNextRequestAsPrometheusKeepsIt)
{
    // Requests one after the other on one connection, the last asking for its end: a server that
    // closes after the first answers only one. Refused and served requests alike keep it, a body
    // included.
    ASSERT_NO_FATAL_FAILURE(Start("basic_auth_users:\n  prometheus: " + std::string(kHash) + "\n"));
    const int fd = Connect(port);
    ASSERT_GE(fd, 0);
    const std::string requests = "GET /metrics HTTP/1.1\r\nHost: localhost\r\n\r\n"
                                 "POST /metrics HTTP/1.1\r\nHost: localhost\r\nContent-Length: 5\r\n" +
                                 BasicHeader("prometheus", kPassword) + "\r\nhello"
                                 "GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
                                 BasicHeader("prometheus", kPassword) + "\r\n";
    ASSERT_EQ(write(fd, requests.data(), requests.size()), static_cast<ssize_t>(requests.size()));
    std::string replies;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        replies.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    std::vector<int> statuses;
    for (std::size_t at = replies.find("HTTP/1.1 "); at != std::string::npos; at = replies.find("HTTP/1.1 ", at + 1))
        statuses.push_back(std::stoi(replies.substr(at + 9, 3)));
    EXPECT_EQ(statuses, (std::vector<int> { 401, 405, 200 })) << replies;
}

