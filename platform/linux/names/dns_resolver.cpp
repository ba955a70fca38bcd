#include "platform/linux/names/dns_resolver.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <cstdio>
#include <cstring>
#include <functional>

namespace {

// Per try: one second to wait for an answer, two tries per server, so a dead server costs a
// few seconds at most.
constexpr int kRetransmitSeconds = 1;
constexpr int kTries = 2;
constexpr size_t kMaxAnswer = 65535;

// Walks the answer section, handing each record of the given type to visit.
DnsStatus ForEachAnswer(const std::vector<unsigned char>& answer, int type,
                        const std::function<bool(const ns_msg&, const ns_rr&)>& visit)
{
    ns_msg msg;
    if (ns_initparse(answer.data(), static_cast<int>(answer.size()), &msg) != 0)
        return DnsStatus::Failed;
    bool any = false;
    for (int i = 0; i < ns_msg_count(msg, ns_s_an); ++i) {
        ns_rr rr;
        if (ns_parserr(&msg, ns_s_an, i, &rr) != 0)
            return DnsStatus::Failed;
        if (ns_rr_type(rr) != type)
            continue; // e.g. the CNAME records of an alias
        if (!visit(msg, rr))
            return DnsStatus::Failed;
        any = true;
    }
    return any ? DnsStatus::Ok : DnsStatus::NotFound;
}

} // namespace

DnsResolver::DnsResolver(std::optional<DnsServer> server) : m_server(std::move(server)) {}

DnsStatus DnsResolver::Query(const std::string& name, int type, bool search, std::vector<unsigned char>* answer) const
{
    struct __res_state state;
    std::memset(&state, 0, sizeof state);
    if (res_ninit(&state) != 0)
        return DnsStatus::Failed;
    state.retrans = kRetransmitSeconds;
    state.retry = kTries;
    state.options |= RES_USE_EDNS0;
    if (m_server) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_server->port);
        if (inet_pton(AF_INET, m_server->address.c_str(), &address.sin_addr) != 1) {
            res_nclose(&state);
            return DnsStatus::Failed;
        }
        state.nsaddr_list[0] = address;
        state.nscount = 1;
        std::snprintf(state.defdname, sizeof state.defdname, "%s", m_server->searchDomain.c_str());
        state.dnsrch[0] = m_server->searchDomain.empty() ? nullptr : state.defdname;
        state.dnsrch[1] = nullptr;
    }
    answer->resize(kMaxAnswer);
    const int length = search ? res_nsearch(&state, name.c_str(), ns_c_in, type, answer->data(), kMaxAnswer)
                              : res_nquery(&state, name.c_str(), ns_c_in, type, answer->data(), kMaxAnswer);
    const int herror = state.res_h_errno;
    res_nclose(&state);
    if (length < 0) {
        answer->clear();
        return herror == HOST_NOT_FOUND || herror == NO_DATA ? DnsStatus::NotFound : DnsStatus::Failed;
    }
    answer->resize(static_cast<size_t>(length) < kMaxAnswer ? static_cast<size_t>(length) : kMaxAnswer);
    return DnsStatus::Ok;
}

DnsStatus ParseSrvAnswer(const std::vector<unsigned char>& answer, std::vector<SrvRecord>* records)
{
    records->clear();
    return ForEachAnswer(answer, ns_t_srv, [records](const ns_msg& msg, const ns_rr& rr) {
        // RFC 2782: priority, weight and port, then the target's name.
        if (ns_rr_rdlen(rr) < 7)
            return false;
        const unsigned char* data = ns_rr_rdata(rr);
        char target[NS_MAXDNAME];
        if (dn_expand(ns_msg_base(msg), ns_msg_end(msg), data + 6, target, sizeof target) < 0)
            return false;
        records->push_back({ static_cast<std::uint16_t>(ns_get16(data)), static_cast<std::uint16_t>(ns_get16(data + 2)),
                             static_cast<std::uint16_t>(ns_get16(data + 4)), target, ns_rr_ttl(rr) });
        return true;
    });
}

DnsStatus ParseIpv4Answer(const std::vector<unsigned char>& answer, std::vector<std::string>* addresses)
{
    addresses->clear();
    return ForEachAnswer(answer, ns_t_a, [addresses](const ns_msg&, const ns_rr& rr) {
        char text[INET_ADDRSTRLEN];
        if (ns_rr_rdlen(rr) != 4 || inet_ntop(AF_INET, ns_rr_rdata(rr), text, sizeof text) == nullptr)
            return false;
        addresses->push_back(text);
        return true;
    });
}

DnsStatus DnsResolver::QuerySrv(const std::string& name, std::vector<SrvRecord>* records) const
{
    records->clear();
    std::vector<unsigned char> answer;
    if (DnsStatus status = Query(name, ns_t_srv, false, &answer); status != DnsStatus::Ok)
        return status;
    return ParseSrvAnswer(answer, records);
}

DnsStatus DnsResolver::QueryIpv4(const std::string& host, std::vector<std::string>* addresses) const
{
    addresses->clear();
    std::vector<unsigned char> answer;
    if (DnsStatus status = Query(host, ns_t_a, true, &answer); status != DnsStatus::Ok)
        return status;
    return ParseIpv4Answer(answer, addresses);
}
