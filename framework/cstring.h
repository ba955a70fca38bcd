// The framework's string class: a wide-character (UTF-16) string with value semantics, and an
// ordered, growable list of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CString : public std::u16string {
public:
    using std::u16string::u16string;
    CString() = default;
    CString(const std::u16string& s) : std::u16string(s) {}
    CString(std::u16string&& s) : std::u16string(std::move(s)) {}
    CString(std::u16string_view s) : std::u16string(s) {}

    // UTF-8 to UTF-16; ill-formed sequences become U+FFFD.
    static CString FromUtf8(std::string_view in);
    // UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
    std::string ToUtf8() const;

    int GetLength() const { return static_cast<int>(size()); }
    bool IsEmpty() const { return empty(); }
    void Empty() { clear(); }
};

// The conversions of FromUtf8 and ToUtf8, appending to a string the caller owns: out grows once,
// to the exact size, so that no shorter copy of the text is left behind in a freed buffer (for a
// password, into a buffer the caller reserved and wipes).
void AppendUtf8AsUtf16(std::u16string& out, std::string_view in);
void AppendUtf16AsUtf8(std::string& out, std::u16string_view in);

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const char16_t* b);
CString operator+(const char16_t* a, const CString& b);

class CStringArray : public std::vector<CString> {
public:
    using std::vector<CString>::vector;
    int GetSize() const { return static_cast<int>(size()); }
    int GetCount() const { return GetSize(); }
    bool IsEmpty() const { return empty(); }
    const CString& GetAt(int i) const { return at(static_cast<size_t>(i)); }
    int Add(const CString& s)
    {
        push_back(s);
        return GetSize() - 1;
    }
    void RemoveAll() { clear(); }
};
