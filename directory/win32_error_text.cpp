#include "directory/win32_error_text.h"

namespace {

struct ErrorText {
    std::uint32_t code;
    const char16_t* text;
};

// The texts of the English (United States) system message table.
constexpr ErrorText kTexts[] = {
    { win32_error::kAccessDenied, u"Access is denied.\r\n" },
    { win32_error::kInvalidHandle, u"The handle is invalid.\r\n" },
    { win32_error::kNotEnoughMemory, u"Not enough memory resources are available to process this command.\r\n" },
    { win32_error::kReadFault, u"The system cannot read from the specified device.\r\n" },
    { win32_error::kBadNetPath, u"The network path was not found.\r\n" },
    { win32_error::kUnexpectedNetError, u"An unexpected network error occurred.\r\n" },
    { win32_error::kBadNetName, u"The network name cannot be found.\r\n" },
    { win32_error::kInvalidPassword, u"The specified network password is not correct.\r\n" },
    { win32_error::kInvalidParameter, u"The parameter is incorrect.\r\n" },
    { win32_error::kSemTimeout, u"The semaphore timeout period has expired.\r\n" },
    { win32_error::kInvalidLevel, u"The system call level is not correct.\r\n" },
    { win32_error::kSessionCredentialConflict,
      u"Multiple connections to a server or shared resource by the same user, using more than one user name, "
      u"are not allowed. Disconnect all previous connections to the server or shared resource and try again.\r\n" },
    { win32_error::kNoNetwork, u"The network is not present or not started.\r\n" },
    // The wording of Windows 10 and later; older releases said "There are currently no logon
    // servers available to service the logon request."
    { win32_error::kNoLogonServers,
      u"We can't sign you in with this credential because your domain isn't available. Make sure your device is "
      u"connected to your organization's network and try again. If you previously signed in on this device with "
      u"another credential, you can sign in with that credential.\r\n" },
    { win32_error::kLogonFailure, u"The user name or password is incorrect.\r\n" },
    { win32_error::kNoSuchDomain, u"The specified domain either does not exist or could not be contacted.\r\n" },
    { win32_error::kNotConnected, u"This network connection does not exist.\r\n" },
};

} // namespace

const char16_t* Win32ErrorText(std::uint32_t code)
{
    for (const ErrorText& entry : kTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return nullptr;
}
