// DNS look-ups through the system's resolver library (libresolv), optionally sent to one given
// server instead of those of /etc/resolv.conf.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A DNS server at an IPv4 address and UDP/TCP port, and the domain that short names are tried
// under (the search list of resolv.conf; none when empty).
struct DnsServer {
    std::string address;
    std::uint16_t port = 53;
    std::string searchDomain;
};

struct SrvRecord {
    std::uint16_t priority = 0;
    std::uint16_t weight = 0;
    std::uint16_t port = 0;
    std::string target;    // without the trailing dot
    std::uint32_t ttl = 0; // seconds the answer may be kept
};

enum class DnsStatus {
    Ok,
    NotFound, // the name does not exist or has no records of the type asked for
    Failed,   // no server answered, or the answer was unusable
};

// The SRV (RFC 2782) or A records of the answer section of a DNS message as a server sent it:
// NotFound when it has none of that type, Failed when it cannot be parsed.
DnsStatus ParseSrvAnswer(const std::vector<unsigned char>& answer, std::vector<SrvRecord>* records);
DnsStatus ParseIpv4Answer(const std::vector<unsigned char>& answer, std::vector<std::string>* addresses);

class DnsResolver {
public:
    // With no server, the servers, search list and options of /etc/resolv.conf.
    explicit DnsResolver(std::optional<DnsServer> server = std::nullopt);

    bool HasServer() const { return m_server.has_value(); }

    // The SRV records of name, taken as fully qualified.
    DnsStatus QuerySrv(const std::string& name, std::vector<SrvRecord>* records) const;
    // The IPv4 addresses of host in dotted form; a name without enough dots tries the search list.
    DnsStatus QueryIpv4(const std::string& host, std::vector<std::string>* addresses) const;

private:
    DnsStatus Query(const std::string& name, int type, bool search, std::vector<unsigned char>* answer) const;

    std::optional<DnsServer> m_server;
};
