#include "platform/linux/exporter/web_config.h"

#include <crypt.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <yaml-cpp/yaml.h>

#include "platform/linux/exporter/yaml_config.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace {

using yaml_config::Fail;

std::string Text(const YAML::Node& node, const std::string& what)
{
    if (!node.IsScalar() || node.Scalar().empty())
        Fail(node, what + " must be a single value");
    return node.Scalar();
}

std::string Resolve(const std::string& path, const std::string& folder)
{
    if (path.starts_with('/') || folder.empty())
        return path;
    return folder + "/" + path;
}

// What libxcrypt writes for a bcrypt hash: $2a$, $2b$ or $2y$, a two-digit cost, 53 characters.
bool IsBcryptHash(const std::string& hash)
{
    return hash.size() == 60 && (hash.starts_with("$2a$") || hash.starts_with("$2b$") || hash.starts_with("$2y$")) &&
           hash[6] == '$';
}

void Read(const YAML::Node& root, const std::string& folder, WebConfig* config)
{
    if (root.IsNull())
        return; // an empty file: plain HTTP, no authentication, as the exporters' toolkit takes it
    yaml_config::OnlyKeys(root, "the web configuration", { "tls_server_config", "basic_auth_users" }, true);
    if (const YAML::Node tls = root["tls_server_config"]) {
        yaml_config::OnlyKeys(tls, "tls_server_config", { "cert_file", "key_file", "min_version" }, true);
        if (const YAML::Node node = tls["cert_file"])
            config->certFile = Resolve(Text(node, "cert_file"), folder);
        if (const YAML::Node node = tls["key_file"])
            config->keyFile = Resolve(Text(node, "key_file"), folder);
        if (config->certFile.empty() != config->keyFile.empty())
            Fail(tls, "tls_server_config needs both cert_file and key_file");
        if (config->certFile.empty())
            Fail(tls, "tls_server_config needs cert_file and key_file");
        if (const YAML::Node node = tls["min_version"]) {
            config->minVersion = Text(node, "min_version");
            if (config->minVersion != "TLS12" && config->minVersion != "TLS13")
                Fail(node, "min_version must be TLS12 or TLS13");
        }
    }
    if (const YAML::Node users = root["basic_auth_users"]) {
        if (!users.IsMap())
            Fail(users, "basic_auth_users must be a mapping of user names to bcrypt hashes");
        for (const auto& entry : users) {
            const std::string name = Text(entry.first, "a basic_auth_users name");
            if (name.find(':') != std::string::npos)
                Fail(entry.first, "a basic_auth_users name cannot hold ':'");
            const std::string hash = Text(entry.second, "the hash of " + name);
            if (!IsBcryptHash(hash))
                Fail(entry.second, "the hash of " + name + " is not a bcrypt hash ($2y$, $2b$ or $2a$, 60 characters)");
            config->basicAuthUsers[name] = hash;
        }
    }
}

// Compared in a time that does not depend on where they differ.
bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

// The cost of a bcrypt hash ("$2y$12$..." is 12).
int BcryptCost(const std::string& hash)
{
    return (hash[4] - '0') * 10 + (hash[5] - '0');
}

constexpr std::size_t kRemembered = 256;

} // namespace

std::optional<std::string> ParseWebConfig(const std::string& text, const std::string& folder, WebConfig* config)
{
    WebConfig read;
    if (std::optional<std::string> problem =
            yaml_config::Parse(text, [&](const YAML::Node& root) { Read(root, folder, &read); }))
        return problem;
    *config = std::move(read);
    return std::nullopt;
}

std::optional<std::string> LoadWebSecurity(const std::string& path, WebSecurity* security)
{
    const auto readFile = [](const std::string& name, std::string* text) {
        std::ifstream file(name, std::ios::binary);
        if (!file)
            return false;
        std::stringstream content;
        content << file.rdbuf();
        *text = content.str();
        return !file.bad();
    };
    std::string text;
    if (!readFile(path, &text))
        return "cannot read the web configuration " + path;
    const auto slash = path.rfind('/');
    WebConfig config;
    if (std::optional<std::string> problem = ParseWebConfig(text,
                                                            slash == std::string::npos ? "."
                                                            : slash == 0               ? "/"
                                                                                       : path.substr(0, slash),
                                                            &config))
        return path + ": " + *problem;
    WebSecurity read;
    if (config.Tls()) {
        if (!readFile(config.certFile, &read.certPem) || read.certPem.empty())
            return "cannot read the certificate " + config.certFile;
        if (!readFile(config.keyFile, &read.keyPem) || read.keyPem.empty())
            return "cannot read the key " + config.keyFile;
        read.tlsPriorities = TlsPriorities(config);
    }
    read.basicAuthUsers = config.basicAuthUsers;
    *security = std::move(read);
    return std::nullopt;
}

std::string TlsPriorities(const WebConfig& config)
{
    return config.minVersion == "TLS13" ? "NORMAL:-VERS-ALL:+VERS-TLS1.3"
                                        : "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";
}

bool BcryptMatches(const std::string& password, const std::string& hash)
{
    auto data = std::make_unique<crypt_data>();
    const char* computed = crypt_rn(password.c_str(), hash.c_str(), data.get(), sizeof(crypt_data));
    // A failure gives NULL or a string starting with '*', which never equals a hash.
    const bool match = computed != nullptr && SameText(computed, hash);
    explicit_bzero(data.get(), sizeof(crypt_data));
    return match;
}

BasicAuthCheck::BasicAuthCheck(std::map<std::string, std::string> users) : m_users(std::move(users))
{
    if (gnutls_rnd(GNUTLS_RND_KEY, m_key, sizeof m_key) != 0)
        throw std::runtime_error("no random key for the basic authentication's memory");
    // A hash no password gives, of the dearest cost among the users': its salt is drawn now, its
    // digest part is a run of one letter that bcrypt never writes.
    int cost = 4;
    for (const auto& [name, hash] : m_users) {
        if (IsBcryptHash(hash))
            cost = std::max(cost, BcryptCost(hash));
    }
    unsigned char salt[16];
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (gnutls_rnd(GNUTLS_RND_NONCE, salt, sizeof salt) != 0 ||
        crypt_gensalt_rn("$2b$", static_cast<unsigned long>(cost), reinterpret_cast<const char*>(salt), sizeof salt,
                         setting, sizeof setting) == nullptr)
        throw std::runtime_error("no salt for the basic authentication's unknown users");
    m_unknownUserHash = std::string(setting) + std::string(31, 'O');
}

BasicAuthCheck::~BasicAuthCheck()
{
    explicit_bzero(m_key, sizeof m_key);
}

std::string BasicAuthCheck::Digest(const std::string& user, const std::string& password) const
{
    std::string message = user;
    message += '\0';
    message += password;
    unsigned char digest[32];
    const int result = gnutls_hmac_fast(GNUTLS_MAC_SHA256, m_key, sizeof m_key, message.data(), message.size(), digest);
    explicit_bzero(message.data(), message.size());
    if (result != 0)
        return {};
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

bool BasicAuthCheck::Remembers(const std::string& user, const std::string& password) const
{
    if (!m_users.contains(user))
        return false;
    const std::string digest = Digest(user, password);
    const std::lock_guard lock(m_mutex);
    return !digest.empty() && m_passed.contains(digest);
}

bool BasicAuthCheck::Allows(const std::string& user, const std::string& password)
{
    const auto found = m_users.find(user);
    const std::string digest = Digest(user, password);
    if (found != m_users.end() && !digest.empty()) {
        const std::lock_guard lock(m_mutex);
        if (m_passed.contains(digest))
            return true;
    }
    {
        const std::lock_guard lock(m_mutex);
        ++m_hashChecks;
    }
    const bool match =
        BcryptMatches(password, found != m_users.end() ? found->second : m_unknownUserHash) && found != m_users.end();
    if (match && !digest.empty()) {
        const std::lock_guard lock(m_mutex);
        if (m_passed.size() >= kRemembered)
            m_passed.clear();
        m_passed.insert(digest);
    }
    return match;
}

std::uint64_t BasicAuthCheck::HashChecks() const
{
    const std::lock_guard lock(m_mutex);
    return m_hashChecks;
}
