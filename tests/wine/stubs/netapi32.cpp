// Stand-in for netapi32.dll: the domain membership the scenario gives.
//   join.result  the status NetGetJoinInformation returns (0)
//   join.status  NETSETUP_JOIN_STATUS (2, a workgroup)
//   join.name    the workgroup or domain name ("WORKGROUP")
#include <set>

#include "stub_common.h"

namespace {

std::set<void*>& Buffers()
{
    static std::set<void*> buffers;
    return buffers;
}

} // namespace

extern "C" DWORD WINAPI NetGetJoinInformation(LPCWSTR server, LPWSTR* name, int* status)
{
    stub::Log(L"NetGetJoinInformation|" + stub::Quote(server));
    const auto result = static_cast<DWORD>(stub::Number(L"join.result", 0));
    if (result != 0)
        return result;
    const std::wstring text = stub::Value(L"join.name", L"WORKGROUP");
    auto* buffer = new wchar_t[text.size() + 1];
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
    Buffers().insert(buffer);
    *name = buffer;
    *status = static_cast<int>(stub::Number(L"join.status", 2));
    return 0;
}

extern "C" DWORD WINAPI NetApiBufferFree(LPVOID buffer)
{
    const bool known = Buffers().erase(buffer) != 0;
    stub::Log(std::wstring(L"NetApiBufferFree|") + (known ? L"released" : L"unknown"));
    if (known)
        delete[] static_cast<wchar_t*>(buffer);
    return 0;
}
