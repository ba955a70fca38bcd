// Samba's client libraries as Debian builds them (libsmbclient without thread support, and the
// RPC client of the winreg calls over the same tevent and talloc) keep state for the whole process:
// two threads in them at once crash. Every call into them holds this lock; what can be done
// without them (a name's look-up, the wait for a port to answer) is done before it is taken, so
// that a machine that is not there holds no other thread.
#pragma once

#include <mutex>

// Recursive: a session that fails while it is being opened is released under the same lock.
std::recursive_mutex& SambaClientMutex();
