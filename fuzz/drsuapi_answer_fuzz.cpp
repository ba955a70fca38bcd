// The answers of DsReplicaGetInfo a domain controller sends back: its neighbours and its pending
// operations (tests/linux/drsuapi_answers.py writes well-formed ones).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/linux/replication/drsuapi_client.h"

namespace {

void Check(void*, const drsuapi_neighbor* neighbor)
{
    // Every text is there and ends; the GUID is always its 36 characters.
    if (neighbor->naming_context_dn == nullptr || neighbor->source_dsa_dn == nullptr ||
        neighbor->source_dsa_address == nullptr || std::strlen(neighbor->source_dsa_guid) != 36)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t werror = 0, count = 0;
    drsuapi_parse_neighbors(data, size, Check, nullptr, &werror);
    if (drsuapi_parse_pending_operations(data, size, &count, &werror) != 0 && count != 0)
        std::abort();
    return 0;
}
