// Domain discovery: the local computer's join status.
#pragma once

#include "directory/directory_service.h"
#include "framework/cstring.h"

// The join status of the named computer (3 = member of a domain), with the name that the query
// reported in domain; 0 and an empty name when the query fails.
int GetJoinedDomain(IDirectoryService& service, CString computerName, CString& domain);

// The Domain field's text when the computer is in no domain.
inline constexpr const char16_t* kNotFoundMarker = u"<Not Found>";
