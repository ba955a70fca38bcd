// Connections to the chosen controller (mpr) and the system's texts for their errors.
#include "platform/win32/win32_include.h"

#include <winnetwk.h>

#include <vector>

#include "platform/win32/win32_services.h"

namespace {

// FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, in the user's default language
// (MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)).
constexpr DWORD kFormatFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
static_assert(kFormatFlags == 0x1100 && kUserDefaultLanguage == 0x0400);

} // namespace

std::uint32_t Win32NetworkConnector::AddConnection(const CString& remoteName, const CString& password,
                                                   const CString& userName)
{
    std::vector<wchar_t> remote(remoteName.begin(), remoteName.end());
    remote.push_back(L'\0');
    NETRESOURCEW resource{};
    resource.dwType = RESOURCETYPE_ANY;
    resource.lpLocalName = nullptr;
    resource.lpRemoteName = remote.data();
    resource.lpProvider = nullptr;
    // Both texts as typed: an empty password is an empty one, not the default credentials.
    return WNetAddConnection2W(&resource, WStr(password), WStr(userName), 0);
}

std::uint32_t Win32NetworkConnector::CancelConnection(const CString& remoteName, bool force)
{
    return WNetCancelConnectionW(WStr(remoteName), force ? TRUE : FALSE);
}

std::uint32_t Win32NetworkConnector::FormatMessage(std::uint32_t code, char16_t** buffer)
{
    LPWSTR text = nullptr;
    const DWORD length =
        FormatMessageW(kFormatFlags, nullptr, code, kUserDefaultLanguage, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (length == 0) {
        if (text != nullptr)
            ::LocalFree(text);
        *buffer = nullptr;
        return 0;
    }
    *buffer = reinterpret_cast<char16_t*>(text);
    return length;
}

void Win32NetworkConnector::LocalFree(char16_t* buffer)
{
    if (buffer != nullptr)
        ::LocalFree(buffer);
}
