// The system's own words for a Win32 error code, as every Windows service of the program gives
// them in its failures.
#pragma once

#include <cstdint>
#include <string>

// The system's text for code on one line (its line ends as spaces, none at the end), or the
// shared table's (ResultText) when the system has none.
std::string SystemText(std::uint32_t code);
