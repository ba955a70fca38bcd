#include "directory/discovery.h"

int GetJoinedDomain(IDirectoryService& service, CString computerName, CString& domain)
{
    const char16_t* nameBuffer = nullptr;
    int status = NetSetupUnknownStatus;
    if (service.NetGetJoinInformation(computerName, &nameBuffer, &status) != 0) {
        domain.Empty();
        return 0;
    }
    domain = nameBuffer != nullptr ? CString(nameBuffer) : CString();
    service.NetApiBufferFree(nameBuffer);
    return status;
}
