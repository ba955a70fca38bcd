#include "platform/win32/win32_include.h"

#include <lm.h>

#include "platform/win32/win32_netapi.h"

std::uint32_t SystemNetGetJoinInformation(const wchar_t* server, wchar_t** name, int* status)
{
    LPWSTR buffer = nullptr;
    NETSETUP_JOIN_STATUS joinStatus = NetSetupUnknownStatus;
    const NET_API_STATUS result = NetGetJoinInformation(server, &buffer, &joinStatus);
    if (result == NERR_Success) {
        *name = buffer;
        *status = static_cast<int>(joinStatus);
    }
    return result;
}

void SystemNetApiBufferFree(void* buffer)
{
    NetApiBufferFree(buffer);
}
