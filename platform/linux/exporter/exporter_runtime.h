// What zeltor-exporter serves with, read from its files: the configuration, the web
// configuration's users, the auths' passwords and keytabs, and the sessions made for them. Read at
// start and again on a reload (SIGHUP, POST /-/reload): a reading that fails anywhere (the YAML,
// a password file, a keytab) changes nothing, and the one before stays in force; one that
// succeeds keeps the sessions of the auths whose credentials and targets did not change, with
// their logons, and the tickets of the keytabs that did not change.
//
// A keytab is read through the descriptor that was checked (FindAuthKeytab), never again by its
// path; a new reading opens and checks it anew.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/exporter/exporter_server.h"
#include "platform/linux/exporter/keytab_ticket.h"
#include "platform/linux/remote/samba_performance_registry.h"

class LinuxProbeEnvironment;

class ExporterRuntime {
public:
    struct Files {
        std::string configPath;
        std::string webConfigPath;         // empty: none
        std::string credentialsDirectory;  // the service manager's $CREDENTIALS_DIRECTORY; empty: none
        std::string ticketParent = "/tmp"; // where the keytab auths' tickets get a directory of their own
    };
    // Makes a session's registry over its credentials, with the keytab auths' tickets in force and
    // the configuration's bounds of a connection (the program gives Samba's registry; the tests a
    // fake).
    using RegistryFactory =
        std::function<std::unique_ptr<IPerformanceRegistry>(CredentialRegistry& credentials,
                                                            const KeytabLogonRegistry::Tickets& tickets,
                                                            const RemoteCounterOptions& remote)>;

    ExporterRuntime(Files files, LinuxProbeEnvironment& environment, RegistryFactory factory, ExporterServer::Log log);
    // Removes the tickets and their directory.
    ~ExporterRuntime();
    ExporterRuntime(const ExporterRuntime&) = delete;
    ExporterRuntime& operator=(const ExporterRuntime&) = delete;

    // Reads every file: true with *state, or false with *problem (the file, and the line where the
    // YAML gives one). checkOnly: the files are read and checked, nothing is made.
    bool Read(std::shared_ptr<const ExporterState>* state, std::string* problem, bool checkOnly = false);
    // The web configuration of the last reading taken (its TLS serves until the exporter restarts).
    const WebSecurity& Web() const { return m_web; }

private:
    struct Board; // the tickets in force, for the registries of new sessions

    Files m_files;
    LinuxProbeEnvironment& m_environment;
    RegistryFactory m_factory;
    ExporterServer::Log m_log;
    std::string m_ticketDirectory;
    unsigned m_ticketsMade = 0;
    std::shared_ptr<Board> m_board;
    // The last reading taken.
    std::shared_ptr<const ExporterState> m_state;
    std::map<std::string, SmbCredentials> m_credentials; // by auth
    struct Keytab {
        std::string principal, path, bytes;
        std::shared_ptr<KeytabTicket> ticket;
    };
    std::map<std::string, Keytab> m_keytabs; // by auth
    WebSecurity m_web;
};
