#include "framework/data_exchange.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>

#include "framework/afxwin.h"

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

// -- The exchange between a dialog's fields and its members --------------------------------------

HWND CDataExchange::PrepareCtrl(int id)
{
    HWND h = AfxGetBackend().GetDlgItem(m_pDlgWnd->m_hWnd, id);
    if (h == nullptr)
        m_bFailed = true; // a template without the control: nothing can be exchanged
    return h;
}

void CDataExchange::Fail(HWND ctrl)
{
    m_bFailed = true;
    if (ctrl != nullptr)
        AfxGetBackend().SetFocus(ctrl);
}

namespace {

// Writes text to a field only when it differs from what the field shows, so that unchanged
// values do not flicker.
void SetFieldText(HWND ctrl, const CString& text)
{
    IWindowBackend& backend = AfxGetBackend();
    if (backend.GetWindowText(ctrl) != text)
        backend.SetWindowText(ctrl, text);
}

} // namespace

void DDX_Text(CDataExchange* pDX, int id, CString& value)
{
    if (pDX->m_bFailed)
        return;
    HWND ctrl = pDX->PrepareCtrl(id);
    if (ctrl == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        value = AfxGetBackend().GetWindowText(ctrl);
    else
        SetFieldText(ctrl, value);
}

namespace {

// A number's field: shown in its text form, read back by its parser; a field that cannot be read
// shows message and stops the exchange there.
template <typename T>
void ExchangeNumber(CDataExchange* pDX, int id, T& value, CString (*format)(T), bool (*parse)(const CString&, T&),
                    const char16_t* message)
{
    if (pDX->m_bFailed)
        return;
    HWND ctrl = pDX->PrepareCtrl(id);
    if (ctrl == nullptr)
        return;
    if (!pDX->m_bSaveAndValidate) {
        SetFieldText(ctrl, format(value));
    } else if (!parse(AfxGetBackend().GetWindowText(ctrl), value)) {
        AfxMessageBox(message);
        pDX->Fail(ctrl);
    }
}

} // namespace

void DDX_Text(CDataExchange* pDX, int id, double& value)
{
    ExchangeNumber(pDX, id, value, &AfxFormatDouble, &AfxParseDouble, u"Enter a number.");
}

void DDX_Text(CDataExchange* pDX, int id, int& value)
{
    ExchangeNumber(pDX, id, value, &AfxFormatInt, &AfxParseInt, u"Enter an integer.");
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (pDX->m_bFailed || control.m_hWnd != nullptr)
        return;
    if (!control.SubclassDlgItem(id, pDX->m_pDlgWnd))
        pDX->m_bFailed = true;
}
