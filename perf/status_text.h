// The table of PDH status codes and the message texts the user sees for them.
#pragma once

#include <cstdint>
#include <span>

#include "framework/cstring.h"

struct PdhStatusText {
    std::uint32_t code;
    const char16_t* text;
};

// Every code with a text, each once.
std::span<const PdhStatusText> PdhStatusTexts();

// What a failure says to the user: the table's text ("Unknown Error." for a code it lacks), or,
// for a Win32 error passed on as a status (a refused logon), the system's text for it without
// its line break.
CString PdhStatusMessage(std::uint32_t status);
