// The controller's place and its DNS records, through the system's DNS client (dnsapi).
#include "platform/win32/win32_include.h"

#include <windns.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/win32/win32_health_parts.h"

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    while (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

std::string Dotted(IP4_ADDRESS address) // in network order
{
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

bool ParseIpv4(const std::string& text, IP4_ADDRESS* address)
{
    unsigned char bytes[4] = {};
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        unsigned value = 0;
        std::size_t digits = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3; ++at, ++digits)
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
        if (digits == 0 || value > 255 || (i < 3 && (at >= text.size() || text[at++] != '.')))
            return false;
        bytes[i] = static_cast<unsigned char>(value);
    }
    std::copy(bytes, bytes + 4, reinterpret_cast<unsigned char*>(address));
    return at == text.size();
}

// The records of one name and type, from server (none: the system's own servers).
struct Answer {
    DNS_STATUS status = 0;
    std::vector<std::string> names;  // the records' owner names
    std::vector<std::string> values; // the targets of SRV records, the addresses of A records
};

Answer Query(const std::string& name, WORD type, IP4_ARRAY* server)
{
    Answer answer;
    PDNS_RECORD records = nullptr;
    const CString wide = CString::FromUtf8(name);
    const DWORD options = server != nullptr ? DNS_QUERY_BYPASS_CACHE | DNS_QUERY_NO_HOSTS_FILE : DNS_QUERY_STANDARD;
    answer.status = DnsQuery_W(WStr(wide), type, options, server, &records, nullptr);
    for (PDNS_RECORD r = answer.status == 0 ? records : nullptr; r != nullptr; r = r->pNext) {
        if (r->wType != type || r->Flags.S.Section != DnsSectionAnswer)
            continue;
        answer.names.push_back(Lower(FromWStr(r->pName).ToUtf8()));
        answer.values.push_back(type == DNS_TYPE_SRV ? Lower(FromWStr(r->Data.SRV.pNameTarget).ToUtf8())
                                                     : Dotted(r->Data.A.IpAddress));
    }
    if (records != nullptr)
        DnsRecordListFree(records, DnsFreeRecordList);
    if (answer.status == 0 && answer.values.empty())
        answer.status = DNS_INFO_NO_RECORDS;
    return answer;
}

std::string DnsFailure(DNS_STATUS status, const std::string& name, const std::string& server)
{
    return status == DNS_ERROR_RCODE_NAME_ERROR || status == DNS_INFO_NO_RECORDS
               ? "the DNS server at " + server + " has no " + name
               : "the DNS server at " + server + " did not answer for " + name + ": " + SystemText(status);
}

} // namespace

bool LocateController(const HealthTarget& target, ControllerPlace* place, std::string* error)
{
    IP4_ADDRESS ignored = 0;
    place->host = Lower(target.controller);
    if (ParseIpv4(target.controller, &ignored)) {
        place->address = target.controller;
    } else {
        // The system's client completes a short name with the domain's suffix: the answer's
        // owner is the controller's DNS name.
        const Answer answer = Query(target.controller, DNS_TYPE_A, nullptr);
        if (answer.status == 0) {
            place->host = answer.names.front();
            place->address = answer.values.front();
        }
    }
    if (!target.address.empty())
        place->address = target.address;
    if (place->address.empty()) {
        *error = "no address found for " + target.controller;
        return false;
    }
    // A name the system found without its domain (NetBIOS, LLMNR) is taken to be in this
    // machine's own.
    wchar_t own[256];
    auto size = static_cast<DWORD>(std::size(own));
    if (place->host.find('.') == std::string::npos && !ParseIpv4(place->host, &ignored) &&
        GetComputerNameExW(ComputerNameDnsDomain, own, &size) && size != 0)
        place->host += "." + Lower(FromWStr(own, size).ToUtf8());
    place->domain = target.Domain();
    if (const std::size_t dot = place->host.find('.');
        place->domain.empty() && dot != std::string::npos && !ParseIpv4(place->host, &ignored))
        place->domain = place->host.substr(dot + 1);
    return true;
}

HealthProbe CheckControllerRecords(const ControllerPlace& place)
{
    IP4_ARRAY server{};
    server.AddrCount = 1;
    if (!ParseIpv4(place.address, &server.AddrArray[0]))
        return { false, "the controller's DNS server is asked at an IPv4 address, not at " + place.address };
    const std::string& host = place.host;
    for (const std::string& name : { "_ldap._tcp.dc._msdcs." + place.domain, "_kerberos._tcp." + place.domain }) {
        const Answer answer = Query(name, DNS_TYPE_SRV, &server);
        if (answer.status != 0)
            return { false, DnsFailure(answer.status, name, place.address) };
        if (std::find(answer.values.begin(), answer.values.end(), host) == answer.values.end())
            return { false, std::string(name).append(" does not list ").append(host) };
    }
    const Answer own = Query(host, DNS_TYPE_A, &server);
    if (own.status != 0)
        return { false, DnsFailure(own.status, host + " A", place.address) };
    if (std::find(own.values.begin(), own.values.end(), place.address) == own.values.end())
        return { false, "the A records of " + host + " do not hold " + place.address };
    return { true, "_ldap._tcp.dc._msdcs." + place.domain + ", _kerberos._tcp." + place.domain + " and " + host +
                       " A " + place.address };
}
