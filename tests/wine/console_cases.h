// The cases of the console program zeltor-probe.exe: run with the stand-ins, beside the window.
#pragma once

#include "driver_support.h"

// The window's figures, then the probe's in each format, for one scenario.
void ProbeShowsTheWindowsFigures(const Paths& paths, Check& check);
// A refused connection, counters that cannot be set up, a password on the command line and an
// unavailable counter: the window's texts on standard error, distinct exit codes.
void ProbeFailuresSayTheWindowsTexts(const Paths& paths, Check& check);
// A password file only its owner can read is used, one others can read is refused; the
// connection is cancelled before the query is closed.
void ProbePasswordFileAndConnection(const Paths& paths, Check& check);
// --health: a controller whose checks all pass, one missing from its SRV record (a table, the
// plugin's line, exit codes), and a bind's refused password that spares the shares' logons; the
// KDC is asked with this logon's ticket, never with the password.
void ProbeChecksAControllersHealth(const Paths& paths, Check& check);
// zeltor-probe.exe --replication through the stand-in ntdsapi: a failing partner in the table
// and the plugin's line, the binding's credentials and answers released, a refused logon.
void ProbeReadsTheReplicationThroughNtdsapi(const Paths& paths, Check& check);
