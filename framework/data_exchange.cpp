#include "framework/data_exchange.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

namespace {

constexpr size_t kDoubleFieldChars = 399; // the framework reads a double field into 400 characters
constexpr size_t kIntFieldChars = 63;     // and an integer field into 64

bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

// The first `limit` characters without surrounding blanks, narrowed; false when a character is not
// ASCII (no number contains one).
bool TrimmedAscii(const CString& text, size_t limit, std::string& out)
{
    const size_t n = std::min(text.size(), limit);
    size_t b = 0;
    size_t e = n;
    while (b < e && IsBlank(text[b]))
        ++b;
    while (e > b && IsBlank(text[e - 1]))
        --e;
    out.clear();
    for (size_t i = b; i < e; ++i) {
        if (text[i] > 0x7F)
            return false;
        out.push_back(static_cast<char>(text[i]));
    }
    return true;
}

} // namespace

CString AfxFormatDouble(double value)
{
    // to_chars with a precision is printf's %.*g in the "C" locale, whatever locale the toolkit set.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    return CString::FromUtf8(std::string_view(buf, static_cast<size_t>(res.ptr - buf)));
}

CString AfxFormatInt(int value)
{
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return CString::FromUtf8(std::string_view(buf, static_cast<size_t>(res.ptr - buf)));
}

bool AfxParseDouble(const CString& text, double& value)
{
    std::string s;
    if (!TrimmedAscii(text, kDoubleFieldChars, s) || s.empty())
        return false;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (*first == '+')
        ++first;
    double parsed = 0;
    auto res = std::from_chars(first, last, parsed, std::chars_format::general);
    if (res.ec == std::errc::invalid_argument || res.ptr != last)
        return false;
    // Out of range: %lf gives HUGE_VAL or 0 with ERANGE; from_chars leaves parsed untouched.
    if (res.ec == std::errc::result_out_of_range)
        return false;
    value = parsed;
    return true;
}

bool AfxParseInt(const CString& text, int& value)
{
    std::string s;
    if (!TrimmedAscii(text, kIntFieldChars, s) || s.empty())
        return false;
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (*first == '+')
        ++first;
    std::int64_t parsed = 0;
    auto res = std::from_chars(first, last, parsed, 10);
    if (res.ec != std::errc() || res.ptr != last)
        return false;
    if (parsed < std::numeric_limits<int>::min() || parsed > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(parsed);
    return true;
}
