// The authenticated connection to a controller, opened before its counters are read and
// cancelled when the program ends, and the system's text for a failed connection.
#pragma once

#include <cstdint>

#include "directory/network_connector.h"
#include "framework/afx_types.h"
#include "framework/cstring.h"

// Shows "Error:<code>\n<the system's text>" in a stop box titled with the application's name,
// followed by step (the connector's LastFailureStep) on a line of its own when there is one.
void ShowSystemError(INetworkConnector& network, std::uint32_t code, const CString& step = CString());

// With a user name: opens a connection to "\\" + machine with the user name and password as
// given and appends its remote name to connections; a failure is shown (ShowSystemError) and
// gives FALSE. Without a user name: nothing to open, TRUE.
BOOL ConnectToDC(INetworkConnector& network, const CString& machine, const CString& userName, const CString& password,
                 CStringArray& connections);

// Cancels every connection in connections, forced, ignoring failures, and empties the list.
void DisconnectAll(INetworkConnector& network, CStringArray& connections);
