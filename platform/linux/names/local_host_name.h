// Facts of the local Linux machine that several services use.
#pragma once

#include <string>

// The local computer's name: its host name as the kernel reports it (uname), or "localhost".
std::string LocalHostName();
