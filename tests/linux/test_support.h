// Helpers of the Linux service tests: a scratch directory and a DNS server on loopback.
#pragma once

#include <sys/types.h>

#include <cstdint>
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
