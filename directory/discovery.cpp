#include "directory/discovery.h"

#include "framework/resources.h"
#include "res/resource.h"

int GetJoinedDomain(IDirectoryService& service, const CString& computerName, CString& domain)
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

CString NotFoundMarker()
{
    const char16_t* text = AfxFindStringResource(IDS_NOT_FOUND);
    return text != nullptr ? CString(text) : CString();
}
