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
    { win32_error::kAccountRestriction,
      u"Account restrictions are preventing this user from signing in. For example: blank passwords aren't "
      u"allowed, sign-in times are limited, or a policy restriction has been enforced.\r\n" },
    { win32_error::kInvalidLogonHours,
      u"Your account has time restrictions that keep you from signing in right now.\r\n" },
    { win32_error::kInvalidWorkstation, u"This user isn't allowed to sign in to this computer.\r\n" },
    { win32_error::kPasswordExpired, u"The password for this account has expired.\r\n" },
    { win32_error::kAccountDisabled, u"This user can't sign in because this account is currently disabled.\r\n" },
    { win32_error::kLogonTypeNotGranted,
      u"Logon failure: the user has not been granted the requested logon type at this computer.\r\n" },
    { win32_error::kAccountExpired, u"The user's account has expired.\r\n" },
    { win32_error::kPasswordMustChange, u"The user's password must be changed before signing in.\r\n" },
    { win32_error::kAccountLockedOut,
      u"The referenced account is currently locked out and may not be logged on to.\r\n" },
    { win32_error::kNoSuchDomain, u"The specified domain either does not exist or could not be contacted.\r\n" },
    { win32_error::kNotConnected, u"This network connection does not exist.\r\n" },
    { win32_error::kNetNameDeleted, u"The specified network name is no longer available.\r\n" },
    { win32_error::kConnectionRefused, u"The remote computer refused the network connection.\r\n" },
    { win32_error::kTimeout, u"This operation returned because the timeout period expired.\r\n" },
    { win32_error::kRpcServerUnavailable, u"The RPC server is unavailable.\r\n" },
    { win32_error::kRpcCallFailed, u"The remote procedure call failed.\r\n" },
    { win32_error::kRpcCallFailedDidNotExecute, u"The remote procedure call failed and did not execute.\r\n" },
    { win32_error::kDomainControllerNotFound, u"Could not find the domain controller for this domain.\r\n" },
    { win32_error::kReplicationAccessDenied, u"Replication access was denied.\r\n" },
    { win32_error::kDnsLookupFailure, u"The DSA operation is unable to proceed because of a DNS lookup failure.\r\n" },
    { win32_error::kReplicationLifetimeExceeded,
      u"The directory service cannot replicate with this server because the time since the last replication "
      u"with this server has exceeded the tombstone lifetime.\r\n" },
};

} // namespace

bool IsRefusedLogon(std::uint32_t code)
{
    switch (code) {
    case win32_error::kInvalidPassword:
    case win32_error::kLogonFailure:
    case win32_error::kAccountRestriction:
    case win32_error::kInvalidLogonHours:
    case win32_error::kInvalidWorkstation:
    case win32_error::kPasswordExpired:
    case win32_error::kAccountDisabled:
    case win32_error::kLogonTypeNotGranted:
    case win32_error::kAccountExpired:
    case win32_error::kPasswordMustChange:
    case win32_error::kAccountLockedOut:
        return true;
    default:
        return false;
    }
}

const char16_t* Win32ErrorText(std::uint32_t code)
{
    for (const ErrorText& entry : kTexts) {
        if (entry.code == code)
            return entry.text;
    }
    return nullptr;
}
