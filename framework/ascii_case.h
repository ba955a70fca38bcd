// Case folding and comparisons without regard to case for names the system and the protocols
// define (counter paths, host and domain names, configuration keys): ASCII letters only, whatever
// the locale.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

inline char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string AsciiLowercase(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
    return out;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

inline bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}
