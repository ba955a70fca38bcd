#include "controls/hyperlink_rules.h"

#include <string>

namespace {

// Integer division truncating toward zero, as the fitting rule asks (C++ division does so).
int HalfOf(int n)
{
    return n / 2;
}

} // namespace

AfxRect FitRectToText(const AfxRect& window, const AfxRect& client, AfxSize text, std::uint32_t style)
{
    AfxRect w = window;
    // The border: what the window has around its client area.
    const int cx = text.cx + (window.Width() - client.Width());
    const int cy = text.cy + (window.Height() - client.Height());

    if ((style & SS_CENTERIMAGE) != 0) {
        const int d = HalfOf(w.Height() - cy);
        w.top += d;
        w.bottom -= d;
    } else {
        w.bottom = w.top + cy;
    }

    if ((style & SS_CENTER) != 0) {
        const int d = HalfOf(w.Width() - cx);
        w.left += d;
        w.right -= d;
    } else if ((style & SS_RIGHT) != 0) {
        w.left = w.right - cx;
    } else {
        w.right = w.left + cx;
    }
    return w;
}

COLORREF LinkTextColor(BOOL hover, BOOL visited, COLORREF link, COLORREF visitedColor, COLORREF hoverColor)
{
    if (hover)
        return hoverColor;
    if (visited)
        return visitedColor;
    return link;
}

CString ComposeHandlerCommand(const CString& commandTemplate, const CString& url)
{
    CString command = commandTemplate;
    const size_t quoted = command.find(u"\"%1\"");
    if (quoted != CString::npos) {
        command.resize(quoted);
    } else {
        const size_t bare = command.find(u"%1");
        if (bare != CString::npos)
            command.resize(bare);
    }
    command += u' ';
    command += url;
    return command;
}

CString OpenErrorText(int code)
{
    switch (code) {
    case 0:
        return u"The operating system is out\nof memory or resources.";
    case 2: // ERROR_FILE_NOT_FOUND
        return u"The specified file was not found.";
    case 3: // ERROR_PATH_NOT_FOUND
        return u"The specified path was not found.";
    case 5: // SE_ERR_ACCESSDENIED
        return u"The operating system denied\naccess to the specified file.";
    case 8: // SE_ERR_OOM
        return u"There was not enough memory to complete the operation.";
    case 11: // ERROR_BAD_FORMAT
        return u"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26: // SE_ERR_SHARE
        return u"A sharing violation occurred. ";
    case 27: // SE_ERR_ASSOCINCOMPLETE
        return u"The filename association is\nincomplete or invalid.";
    case 28: // SE_ERR_DDETIMEOUT
        return u"The DDE transaction could not\nbe completed because the request timed out.";
    case 29: // SE_ERR_DDEFAIL
        return u"The DDE transaction failed.";
    case 30: // SE_ERR_DDEBUSY
        return u"The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
    case 31: // SE_ERR_NOASSOC
        return u"There is no application associated\nwith the given filename extension.";
    case 32: // SE_ERR_DLLNOTFOUND
        return u"The specified dynamic-link library was not found.";
    default: {
        const std::string digits = std::to_string(code);
        return u"Unknown Error (" + CString(digits.begin(), digits.end()) + u") occurred.";
    }
    }
}

CString OpenErrorMessage(int code)
{
    return u"Unable to open hyperlink:\n\n" + OpenErrorText(code);
}
