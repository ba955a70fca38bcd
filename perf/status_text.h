// The table of PDH status codes and the message texts the user sees for them.
#pragma once

#include <cstdint>
#include <span>

struct PdhStatusText {
    std::uint32_t code;
    const char16_t* text;
};

// Every code with a text, each once.
std::span<const PdhStatusText> PdhStatusTexts();
