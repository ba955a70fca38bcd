// Helpers of the Linux service tests: a scratch directory, the environment, a command's output and
// a DNS server on loopback.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/names/dns_resolver.h"

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // Writes text to name inside the directory and returns its path.
    std::string Write(const std::string& name, const std::string& text) const;

private:
    std::string m_path;
};

// The environment variable name set to value for the object's life, and put back as it was at its
// end. Made before the test starts its threads and ended after they have ended: the environment is
// not safe to change while another thread reads it.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_before;
};

// The standard output of a command line the test wrote itself, run by the shell (its quoting and
// redirections); standard error is dropped.
std::string CommandOutput(const std::string& commandLine);

// dnsmasq serving the given records (its options, e.g. "--srv-host=...") on 127.0.0.1 at a free
// port, answering NXDOMAIN for any other name under .test and forwarding nothing.
class DnsmasqServer {
public:
    explicit DnsmasqServer(const std::vector<std::string>& recordOptions);
    ~DnsmasqServer();
    DnsmasqServer(const DnsmasqServer&) = delete;
    DnsmasqServer& operator=(const DnsmasqServer&) = delete;

    // Whether it started and answers on its port.
    bool running() const { return m_pid > 0; }
    DnsServer server() const { return { "127.0.0.1", m_port, {} }; }

private:
    void Start(const std::vector<std::string>& recordOptions);
    TempDir m_dir;
    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
};

// A loopback port on 127.0.0.1 that nothing listens on (it was free a moment ago).
std::uint16_t UnusedLoopbackPort();
