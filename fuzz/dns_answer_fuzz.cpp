// The DNS answers a server sends back for the controllers' SRV records and their addresses.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/linux/names/dns_resolver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<unsigned char> answer(data, data + size);
    std::vector<SrvRecord> records;
    if (ParseSrvAnswer(answer, &records) == DnsStatus::NotFound && !records.empty())
        std::abort();
    std::vector<std::string> addresses;
    ParseIpv4Answer(answer, &addresses);
    for (const std::string& address : addresses) {
        unsigned char bytes[4];
        if (inet_pton(AF_INET, address.c_str(), bytes) != 1)
            std::abort();
    }
    return 0;
}
