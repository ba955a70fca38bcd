// What the stand-in system libraries share: the scenario the test wrote (the file named by
// ZELTOR_STUB_SCENARIO) and the record of the calls they received (appended to the file named by
// ZELTOR_STUB_LOG, one call a line, as UTF-8).
//
// A scenario line is "key=value"; a key may repeat; '#' starts a comment line. A log line is the
// function's name and its arguments, separated by '|'. Texts are quoted ("..."), and a null
// pointer is (null), so that an empty text and none differ.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <vector>

namespace stub {

// Every value of the key, in file order.
std::vector<std::wstring> Values(const wchar_t* key);
// The last value of the key, or fallback.
std::wstring Value(const wchar_t* key, const std::wstring& fallback);
// The last value as a number (decimal, or hexadecimal after 0x), or fallback.
unsigned long long Number(const wchar_t* key, unsigned long long fallback);

void Log(const std::wstring& line);

std::wstring Quote(const wchar_t* text);
std::wstring Num(unsigned long long n);

} // namespace stub
