#include "probe/console_feedback.h"

int ConsoleFeedback::MessageBox(HWND, const CString& text, const CString& caption, UINT)
{
    // System texts end with "\r\n" (FormatMessageW); a line of standard error ends with one line
    // feed.
    std::string line;
    for (const char c : text.ToUtf8()) {
        if (c != '\r')
            line += c;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    m_lastText = line;
    m_env.WriteErr(caption.ToUtf8() + ": " + line + "\n");
    return IDOK;
}
