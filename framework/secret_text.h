// Texts that hold a secret (a password): kept in a buffer of their own on the heap, never in the
// string's short inline buffer (which moves and copies leave behind wherever the string was), and
// wiped whole, also past their length, before that buffer is given back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

// The least capacity a secret's string is given: past every library's inline buffer, so that the
// text lives on the heap and a move hands the buffer over rather than copying the characters.
inline constexpr std::size_t kSecretTextCapacity = 64;

// Overwrites every character of text's buffer, its whole capacity, and empties it (the buffer
// is kept). The writes go through a volatile pointer, so they are not left out as dead stores.
template <class Char>
void WipeText(std::basic_string<Char>& text)
{
    text.resize(text.capacity());
    volatile Char* chars = text.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        chars[i] = Char();
    text.clear();
}

// Wipes text and gives it a heap buffer of at least chars characters, ready to receive a secret
// without growing.
template <class Char>
void PrepareSecretText(std::basic_string<Char>& text, std::size_t chars)
{
    WipeText(text);
    text.reserve(std::max(chars, kSecretTextCapacity));
}
