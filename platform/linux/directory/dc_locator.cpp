#include "platform/linux/directory/dc_locator.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"

namespace {

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

} // namespace

std::uint32_t LocateDomainControllers(const DnsResolver& dns, const std::string& domain,
                                      std::vector<DsControllerInfo1>* controllers, std::uint32_t* ttlSeconds)
{
    controllers->clear();
    if (ttlSeconds != nullptr)
        *ttlSeconds = 0;
    std::string name = domain;
    while (!name.empty() && name.back() == '.')
        name.pop_back();
    if (name.empty())
        return win32_error::kNoSuchDomain;

    std::vector<SrvRecord> records;
    if (dns.QuerySrv("_ldap._tcp.dc._msdcs." + name, &records) != DnsStatus::Ok)
        return win32_error::kNoSuchDomain;
    std::sort(records.begin(), records.end(), [](const SrvRecord& a, const SrvRecord& b) {
        return std::make_tuple(a.priority, -static_cast<int>(a.weight), AsciiLowercase(a.target)) <
               std::make_tuple(b.priority, -static_cast<int>(b.weight), AsciiLowercase(b.target));
    });

    // The PDC record is a refinement: without it the list stands, with no controller marked.
    std::vector<SrvRecord> pdc;
    dns.QuerySrv("_ldap._tcp.pdc._msdcs." + name, &pdc);

    if (ttlSeconds != nullptr && !records.empty()) {
        *ttlSeconds = std::min_element(records.begin(), records.end(), [](const SrvRecord& a, const SrvRecord& b) {
                          return a.ttl < b.ttl;
                      })->ttl;
    }
    std::vector<std::string> seen;
    for (const SrvRecord& record : records) {
        const std::string host = AsciiLowercase(record.target);
        // "." as target means the service is decidedly not available there (RFC 2782).
        if (host.empty() || host == "." || std::find(seen.begin(), seen.end(), host) != seen.end())
            continue;
        seen.push_back(host);
        DsControllerInfo1 info;
        info.NetbiosName = CString::FromUtf8(Upper(record.target.substr(0, record.target.find('.'))));
        info.DnsHostName = CString::FromUtf8(record.target);
        info.fIsPdc =
            std::any_of(pdc.begin(), pdc.end(), [&](const SrvRecord& p) { return AsciiLowercase(p.target) == host; });
        info.fDsEnabled = true;
        controllers->push_back(std::move(info));
    }
    return controllers->empty() ? win32_error::kNoSuchDomain : 0;
}
