// What zeltor-exporter serves: its modules (named counter sets), its auths (who it logs on as,
// and to which controllers), and the bounds of its collections. Read from a YAML file by the
// platform; the rules about the values are here, shared by every reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ExporterModule {
    std::string name;
    std::vector<std::string> paths; // counter paths without a machine: \object(instance)\counter
    double timeoutSeconds = 10;     // a scrape of the module ends within this, whatever Prometheus allows
    // Instead of counters: the controller's health checks (its LDAP, Kerberos, DNS, clock and
    // shares), each exchange a client would make, beside the counters' session.
    bool health = false;
    // Instead of counters: the controller's replication with each partner (DRSUAPI), its
    // connection kept between scrapes beside the counters' session.
    bool replication = false;
};

struct ExporterAuth {
    std::string name;
    std::string user;                 // "user", "DOMAIN\user" or "user@dns.domain"
    std::string workgroup;            // empty: the user name's own domain part
    std::string passwordFile;         // owner-only, its first line is the password
    std::vector<std::string> targets; // the controllers these credentials may be sent to
    // Domains (DNS names) whose controllers, as discovery finds them, these credentials may also
    // be sent to.
    std::vector<std::string> targetDomains;
    // Instead of passwordFile: the name of a systemd credential (LoadCredential=) whose first line
    // is the password, read from the directory the service manager gives ($CREDENTIALS_DIRECTORY).
    std::string passwordCredential;
    // Instead of a user and a password: a Kerberos keytab (owner-only) holding the key of
    // principal ("name@REALM"), whose ticket the logons use.
    std::string keytab;
    std::string principal;
    // Instead of keytab: the name of a systemd credential that is the keytab, in the directory
    // the service manager gives ($CREDENTIALS_DIRECTORY).
    std::string keytabCredential;
};

struct ExporterConfig {
    std::string listenAddress = "127.0.0.1";
    std::uint16_t listenPort = 9755;
    // Connections one client address may hold at once (the others are refused as they come).
    unsigned maxConnectionsPerAddress = 64;
    std::vector<ExporterModule> modules;
    std::vector<ExporterAuth> auths;
    unsigned maxConcurrentCollections = 16;
    // What a scrape keeps of Prometheus' timeout for the answer to travel.
    double timeoutMarginSeconds = 0.5;
    // How long a target and auth whose logon was refused are left alone.
    double refusedLogonBackoffSeconds = 900;
    // A session no scrape has used this long is closed (its logon ends at the target).
    double sessionIdleSeconds = 300;
    std::uint16_t smbPort = 445;
    double connectTimeoutSeconds = 10;

    const ExporterModule* FindModule(std::string_view name) const;
    const ExporterAuth* FindAuth(std::string_view name) const;
};

// The built-in module "dc": the counters the main window shows.
ExporterModule DomainControllerModule();
// The built-in module "ntds": the directory service's own health counters (LDAP, replication,
// directory reads, writes and searches, its threads) and the controller's Kerberos and NTLM
// authentications.
ExporterModule DirectoryServiceModule();
// The built-in module "health": the controller's health checks.
ExporterModule HealthModule();
// The built-in module "replication": the controller's replication status.
ExporterModule ReplicationModule();
// The built-in module of that name, or one with no paths.
ExporterModule BuiltInModule(std::string_view name);

// Completes a configuration as read: adds the built-in modules it does not define itself, and
// checks what a reader cannot (counter paths, names, targets, bounds). Empty, or the first problem.
std::optional<std::string> CompleteExporterConfig(ExporterConfig& config);

// Whether text is a host name or an address a target may be: letters, digits, '-', '.', ':' (IPv6),
// at most 253 characters. Anything else (a backslash, a slash, a space) could change the meaning of
// the counter path or the connection the name goes into.
bool IsTargetName(std::string_view text);
