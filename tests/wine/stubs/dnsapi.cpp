// Stand-in for dnsapi.dll: the scenario's hosts and service records, from any server.
//   dns.host  "NAME FQDN ADDRESS": a host found by its short or its DNS name, with one A record
//   dns.srv   "NAME TARGET": an SRV record of NAME (port 389) naming TARGET; repeated
// Any other name does not exist (DNS_ERROR_RCODE_NAME_ERROR).
#include "stub_common.h"

#include <windns.h>

#include <cwctype>
#include <sstream>

namespace {

// A record with the texts it points at.
struct Owned {
    DNS_RECORDW record;
    std::wstring name;
    std::wstring target;
};

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring Server(const IP4_ARRAY* servers)
{
    if (servers == nullptr || servers->AddrCount == 0)
        return L"(system)";
    const auto* b = reinterpret_cast<const unsigned char*>(&servers->AddrArray[0]);
    return std::to_wstring(b[0]) + L"." + std::to_wstring(b[1]) + L"." + std::to_wstring(b[2]) + L"." +
           std::to_wstring(b[3]);
}

Owned* Record(const std::wstring& name, WORD type, Owned* next)
{
    auto* owned = new Owned{};
    owned->name = name;
    owned->record.pNext = next != nullptr ? &next->record : nullptr;
    owned->record.pName = owned->name.data();
    owned->record.wType = type;
    owned->record.Flags.S.Section = DnsSectionAnswer;
    owned->record.dwTtl = 600;
    return owned;
}

} // namespace

extern "C" DNS_STATUS WINAPI DnsQuery_W(PCWSTR name, WORD type, DWORD options, PIP4_ARRAY servers, PDNS_RECORD* results,
                                        PVOID* reserved)
{
    stub::Log(L"DnsQuery_W|" + stub::Quote(name) + L"|" + stub::Num(type) + L"|" + stub::Num(options) + L"|" +
              Server(servers));
    if (reserved != nullptr)
        *reserved = nullptr;
    *results = nullptr;
    const std::wstring asked = Lower(name != nullptr ? name : L"");
    Owned* first = nullptr;
    if (type == DNS_TYPE_A) {
        for (const std::wstring& line : stub::Values(L"dns.host")) {
            std::wistringstream fields(line);
            std::wstring shortName, fqdn, address;
            fields >> shortName >> fqdn >> address;
            if (asked != Lower(shortName) && asked != Lower(fqdn))
                continue;
            unsigned b[4] = {};
            if (swscanf(address.c_str(), L"%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]) != 4)
                continue;
            first = Record(fqdn, DNS_TYPE_A, first);
            auto* bytes = reinterpret_cast<unsigned char*>(&first->record.Data.A.IpAddress);
            for (int i = 0; i < 4; ++i)
                bytes[i] = static_cast<unsigned char>(b[i]);
            first->record.wDataLength = sizeof(DNS_A_DATA);
        }
    } else if (type == DNS_TYPE_SRV) {
        for (const std::wstring& line : stub::Values(L"dns.srv")) {
            std::wistringstream fields(line);
            std::wstring owner, target;
            fields >> owner >> target;
            if (asked != Lower(owner))
                continue;
            first = Record(owner, DNS_TYPE_SRV, first);
            first->target = target;
            first->record.Data.SRV.pNameTarget = first->target.data();
            first->record.Data.SRV.wPort = 389;
            first->record.wDataLength = sizeof(DNS_SRV_DATAW);
        }
    }
    if (first == nullptr)
        return DNS_ERROR_RCODE_NAME_ERROR;
    *results = reinterpret_cast<PDNS_RECORD>(&first->record);
    return 0;
}

extern "C" VOID WINAPI DnsFree(PVOID data, DNS_FREE_TYPE type)
{
    stub::Log(L"DnsFree|" + stub::Num(static_cast<unsigned long long>(type)));
    auto* record = static_cast<DNS_RECORDW*>(data);
    while (record != nullptr) {
        DNS_RECORDW* next = record->pNext;
        delete reinterpret_cast<Owned*>(record);
        record = next;
    }
}
