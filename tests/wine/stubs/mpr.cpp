// Stand-in for mpr.dll: network connections that succeed or fail as the scenario says.
//   mpr.add.result     what WNetAddConnection2W returns (0)
//   mpr.cancel.result  what WNetCancelConnectionW returns (0)
#include "stub_common.h"

#include <winnetwk.h>

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): winnetwk.h names them its own way
extern "C" DWORD WINAPI WNetAddConnection2W(LPNETRESOURCEW resource, LPCWSTR password, LPCWSTR user, DWORD flags)
{
    if (resource == nullptr) {
        stub::Log(L"WNetAddConnection2W|(null)");
        return ERROR_INVALID_PARAMETER;
    }
    stub::Log(L"WNetAddConnection2W|type=" + stub::Num(resource->dwType) + L"|local=" +
              stub::Quote(resource->lpLocalName) + L"|remote=" + stub::Quote(resource->lpRemoteName) + L"|provider=" +
              stub::Quote(resource->lpProvider) + L"|password=" + stub::Quote(password) + L"|user=" +
              stub::Quote(user) + L"|flags=" + stub::Num(flags));
    return static_cast<DWORD>(stub::Number(L"mpr.add.result", 0));
}

extern "C" DWORD WINAPI WNetCancelConnectionW(LPCWSTR name, BOOL force)
{
    stub::Log(L"WNetCancelConnectionW|" + stub::Quote(name) + L"|" + stub::Num(static_cast<unsigned long long>(force)));
    return static_cast<DWORD>(stub::Number(L"mpr.cancel.result", 0));
}
