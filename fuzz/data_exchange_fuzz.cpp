// The numbers a field's text is read back as, and the UTF-8 / UTF-16 conversions of texts that
// come from the toolkit and the system.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "framework/cstring.h"
#include "framework/data_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const CString text = CString::FromUtf8(bytes);
    // Converting back and forth again is stable once the text is well-formed.
    if (CString::FromUtf8(text.ToUtf8()) != text)
        std::abort();

    double d = 0;
    if (AfxParseDouble(text, d) && std::isfinite(d)) {
        // What the field shows reads back as the same value to 15 digits.
        double again = 0;
        if (!AfxParseDouble(AfxFormatDouble(d), again))
            std::abort();
        if (AfxFormatDouble(again) != AfxFormatDouble(d))
            std::abort();
    }
    int n = 0;
    if (AfxParseInt(text, n)) {
        int again = 0;
        if (!AfxParseInt(AfxFormatInt(n), again) || again != n)
            std::abort();
    }
    return 0;
}
