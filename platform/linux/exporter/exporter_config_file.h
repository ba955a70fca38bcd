// zeltor-exporter's configuration file, YAML read with yaml-cpp:
//
//   listen: 127.0.0.1:9755                 # address:port, [v6address]:port
//   max_concurrent_collections: 16
//   timeout_margin_seconds: 0.5
//   refused_logon_backoff_seconds: 900
//   session_idle_seconds: 300
//   connect_timeout_seconds: 10
//   smb_port: 445
//   modules:
//     dc: { timeout_seconds: 10 }          # built in; counters may be given to replace the set
//     memory:
//       timeout_seconds: 5
//       counters: ['\Memory\Page Faults/sec', '\Memory\% Committed Bytes In Use']
//   auths:
//     monitor:
//       user: EXAMPLE\zeltor-monitor
//       password_file: /etc/zeltor-exporter/monitor.password   # or, under systemd:
//       # password_credential: auth_monitor                     # $CREDENTIALS_DIRECTORY/auth_monitor
//       targets: [dc1.example.org, dc2.example.org]
//       targets_from_domain: example.org     # and the controllers DNS names for it (one or a list)
//     kerberos:
//       keytab: /etc/zeltor-exporter/monitor.keytab             # owner-only, instead of a password
//       # keytab_credential: auth_monitor.keytab                  # or, under systemd: a credential
//       principal: zeltor-monitor@EXAMPLE.ORG
//       targets: [dc1.example.org]
//
// A key it does not know is an error, so that a misspelt bound is not silently left at its default.
#pragma once

#include <optional>
#include <string>

#include "exporter/exporter_config.h"
#include "framework/cstring.h"

class LinuxProbeEnvironment;

// Reads and completes (CompleteExporterConfig) the configuration in text: empty, or the problem,
// with its line where the YAML gives one.
std::optional<std::string> ParseExporterConfig(const std::string& text, ExporterConfig* config);

// The password of an auth: from its password_file, checked as zeltor-probe checks its own, or
// from its password_credential in credentialsDirectory (the service manager's
// $CREDENTIALS_DIRECTORY; null or empty when none was given). False with the reason otherwise.
bool ReadAuthPassword(LinuxProbeEnvironment& environment, const ExporterAuth& auth, const char* credentialsDirectory,
                      CString& password, std::string& error);

// Whether an auth's keytab may be used: a regular file of the exporter's own user that no one else
// may read or change, the rule of the password files. False with the reason otherwise; the file's
// contents are not read here.
bool CheckKeytabFile(const std::string& path, std::string& error);

// The keytab of a keytab auth: its keytab file, checked by CheckKeytabFile, or its
// keytab_credential in credentialsDirectory (as for ReadAuthPassword), checked as the service
// manager writes a credential (root's and readable by this service through an ACL, or this
// service's own; read-only either way, and no one else's to read or change). True with *path the
// file's name and, when descriptor is given, *descriptor the file that was checked, open for
// reading (the caller's to close), so that what is read later is the file checked and not
// whatever the name may point to by then; false with the reason otherwise.
bool FindAuthKeytab(const ExporterAuth& auth, const char* credentialsDirectory, std::string& path, std::string& error,
                    int* descriptor = nullptr);
