// Domain discovery: the local computer's join status and the controllers of its domain.
#pragma once

#include <cstdint>

#include "directory/directory_service.h"
#include "framework/cstring.h"

// The buffer for the local computer's name: MAX_PATH, far longer than any computer name.
inline constexpr std::uint32_t kComputerNameChars = 260;

// The join status of the named computer (3 = member of a domain), with the name that the query
// reported in domain; 0 and an empty name when the query fails.
int GetJoinedDomain(IDirectoryService& service, const CString& computerName, CString& domain);

// Binds to domain's directory (with the user name and password when a user name is given),
// appends the NetBIOS name of each controller it lists to controllers, in its order, and returns
// the first one's; the empty string on any failure or when none is listed. Every handle it
// acquires is released before it returns. status, when given, receives the Win32 status of the
// call that failed (a refused logon is the bind's ERROR_LOGON_FAILURE), 0 when none did.
// hostNames, when given, receives each controller's DNS host name in the same order (its NetBIOS
// name where the directory gives none): the name other programs reach it by.
CString EnumDomainControllers(IDirectoryService& ds, const CString& domain, const CString& userName,
                              const CString& password, CStringArray& controllers, std::uint32_t* status = nullptr,
                              CStringArray* hostNames = nullptr);

// What discovery found nothing says, from the string table (IDS_NOT_FOUND): the Domain field's
// text when the computer is in no domain, which keeps Find from opening the picker, and the
// overview's one row when there is no controller to show.
CString NotFoundMarker();
