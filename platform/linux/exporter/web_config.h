// The web configuration file of Prometheus' own exporters (--web.config.file): TLS for the
// listener and HTTP basic authentication with bcrypt hashes, in the same YAML:
//
//   tls_server_config:
//     cert_file: /etc/zeltor-exporter/tls.crt   # PEM; a relative path is read from the file's folder
//     key_file: /etc/zeltor-exporter/tls.key
//     min_version: TLS12                       # or TLS13 (default TLS12)
//   basic_auth_users:
//     prometheus: $2y$10$...                   # bcrypt, as htpasswd -nBC 10 writes it
//
// A key it does not know is an error: a setting the exporter cannot honour (client certificates,
// say) is never silently dropped.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

struct WebConfig {
    std::string certFile, keyFile; // both or neither
    std::string minVersion = "TLS12";
    std::map<std::string, std::string> basicAuthUsers; // name, bcrypt hash

    bool Tls() const { return !certFile.empty(); }
};

// What the HTTP server is given of a web configuration: the PEM texts themselves, read at start.
struct WebSecurity {
    std::string certPem, keyPem; // empty: plain HTTP
    std::string tlsPriorities;
    std::map<std::string, std::string> basicAuthUsers;
};

// Reads the web configuration file at path, and the certificate and key it names. Empty, or the
// problem.
std::optional<std::string> LoadWebSecurity(const std::string& path, WebSecurity* security);

// Reads text; relative paths are taken from folder. Empty, or the problem with its line.
std::optional<std::string> ParseWebConfig(const std::string& text, const std::string& folder, WebConfig* config);

// GnuTLS' priority string for the configuration's lowest TLS version.
std::string TlsPriorities(const WebConfig& config);

// Checks a user and password against the configuration's bcrypt hashes. A check of a user that
// does not exist is made against a hash of the dearest cost among the users', so that it takes as
// long as the slowest known user's and the time does not tell which users exist (users of one
// cost are told from none). A pair that passed is remembered (as a keyed digest, never the
// password) so that a Prometheus scraping every few seconds does not spend a bcrypt on each
// request.
class BasicAuthCheck {
public:
    explicit BasicAuthCheck(std::map<std::string, std::string> users);
    ~BasicAuthCheck();
    BasicAuthCheck(const BasicAuthCheck&) = delete;
    BasicAuthCheck& operator=(const BasicAuthCheck&) = delete;

    bool Enabled() const { return !m_users.empty(); }
    bool Allows(const std::string& user, const std::string& password);
    // Whether the pair passed before (no hash is computed).
    bool Remembers(const std::string& user, const std::string& password) const;
    // bcrypt settings of the hash an unknown user is checked against (its cost and salt).
    const std::string& UnknownUserHash() const { return m_unknownUserHash; }
    // bcrypt checks made so far (those the memory spared are not counted).
    std::uint64_t HashChecks() const;

private:
    std::string Digest(const std::string& user, const std::string& password) const;

    std::map<std::string, std::string> m_users;
    std::string m_unknownUserHash;
    unsigned char m_key[32];
    mutable std::mutex m_mutex;
    std::set<std::string> m_passed;
    std::uint64_t m_hashChecks = 0;
};

// Whether password matches a bcrypt hash ($2a$, $2b$, $2y$), with libxcrypt.
bool BcryptMatches(const std::string& password, const std::string& hash);
