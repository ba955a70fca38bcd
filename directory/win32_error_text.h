// The Win32 error codes that the directory and connection services report, and the English
// texts that FormatMessageW gives for them, kept here so every platform reports the same words.
#pragma once

#include <cstdint>

namespace win32_error {

// Values from winerror.h.
inline constexpr std::uint32_t kAccessDenied = 5;                 // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kInvalidHandle = 6;                // ERROR_INVALID_HANDLE
inline constexpr std::uint32_t kNotEnoughMemory = 8;              // ERROR_NOT_ENOUGH_MEMORY
inline constexpr std::uint32_t kReadFault = 30;                   // ERROR_READ_FAULT
inline constexpr std::uint32_t kBadNetPath = 53;                  // ERROR_BAD_NETPATH
inline constexpr std::uint32_t kUnexpectedNetError = 59;          // ERROR_UNEXP_NET_ERR
inline constexpr std::uint32_t kBadNetName = 67;                  // ERROR_BAD_NET_NAME
inline constexpr std::uint32_t kInvalidPassword = 86;             // ERROR_INVALID_PASSWORD
inline constexpr std::uint32_t kInvalidParameter = 87;            // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t kSemTimeout = 121;                 // ERROR_SEM_TIMEOUT
inline constexpr std::uint32_t kInvalidLevel = 124;               // ERROR_INVALID_LEVEL
inline constexpr std::uint32_t kSessionCredentialConflict = 1219; // ERROR_SESSION_CREDENTIAL_CONFLICT
inline constexpr std::uint32_t kNoNetwork = 1222;                 // ERROR_NO_NETWORK
inline constexpr std::uint32_t kNoLogonServers = 1311;            // ERROR_NO_LOGON_SERVERS
inline constexpr std::uint32_t kLogonFailure = 1326;              // ERROR_LOGON_FAILURE
inline constexpr std::uint32_t kAccountRestriction = 1327;        // ERROR_ACCOUNT_RESTRICTION
inline constexpr std::uint32_t kInvalidLogonHours = 1328;         // ERROR_INVALID_LOGON_HOURS
inline constexpr std::uint32_t kInvalidWorkstation = 1329;        // ERROR_INVALID_WORKSTATION
inline constexpr std::uint32_t kPasswordExpired = 1330;           // ERROR_PASSWORD_EXPIRED
inline constexpr std::uint32_t kAccountDisabled = 1331;           // ERROR_ACCOUNT_DISABLED
inline constexpr std::uint32_t kNoSuchDomain = 1355;              // ERROR_NO_SUCH_DOMAIN
inline constexpr std::uint32_t kLogonTypeNotGranted = 1385;       // ERROR_LOGON_TYPE_NOT_GRANTED
inline constexpr std::uint32_t kAccountExpired = 1793;            // ERROR_ACCOUNT_EXPIRED
inline constexpr std::uint32_t kPasswordMustChange = 1907;        // ERROR_PASSWORD_MUST_CHANGE
inline constexpr std::uint32_t kAccountLockedOut = 1909;          // ERROR_ACCOUNT_LOCKED_OUT
inline constexpr std::uint32_t kNotConnected = 2250;              // ERROR_NOT_CONNECTED
// What replication between controllers reports.
inline constexpr std::uint32_t kNetNameDeleted = 64;                // ERROR_NETNAME_DELETED
inline constexpr std::uint32_t kConnectionRefused = 1225;           // ERROR_CONNECTION_REFUSED
inline constexpr std::uint32_t kTimeout = 1460;                     // ERROR_TIMEOUT
inline constexpr std::uint32_t kRpcServerUnavailable = 1722;        // RPC_S_SERVER_UNAVAILABLE
inline constexpr std::uint32_t kRpcCallFailed = 1726;               // RPC_S_CALL_FAILED
inline constexpr std::uint32_t kRpcCallFailedDidNotExecute = 1727;  // RPC_S_CALL_FAILED_DNE
inline constexpr std::uint32_t kDomainControllerNotFound = 1908;    // ERROR_DOMAIN_CONTROLLER_NOT_FOUND
inline constexpr std::uint32_t kReplicationAccessDenied = 8453;     // ERROR_DS_DRA_ACCESS_DENIED
inline constexpr std::uint32_t kDnsLookupFailure = 8524;            // ERROR_DS_DNS_LOOKUP_FAILURE
inline constexpr std::uint32_t kReplicationLifetimeExceeded = 8614; // ERROR_DS_REPL_LIFETIME_EXCEEDED

} // namespace win32_error

// Whether code is a server's refusal of the credentials themselves (a wrong or expired password,
// a disabled, expired or locked-out account, a logon not allowed here or now): trying them again
// cannot succeed and, with a password, counts towards the account's lockout.
bool IsRefusedLogon(std::uint32_t code);

// The system's English text for code, "\r\n"-terminated as FormatMessageW gives it; null for a
// code this table does not know.
const char16_t* Win32ErrorText(std::uint32_t code);
