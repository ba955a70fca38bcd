// The hyperlink control's decisions that depend on nothing but their inputs.
#pragma once

#include <cstdint>

#include "framework/afx_types.h"
#include "framework/cstring.h"

// Where a control fitted to its text goes: window is its window rectangle and client its client
// rectangle, both in the parent's client coordinates; text is the extent of its text in pixels;
// style its window style (SS_CENTERIMAGE, SS_CENTER, SS_RIGHT are looked at).
AfxRect FitRectToText(const AfxRect& window, const AfxRect& client, AfxSize text, std::uint32_t style);

// The text colour: hover wins over visited, visited over the plain link colour.
COLORREF LinkTextColor(BOOL hover, BOOL visited, COLORREF link, COLORREF visitedColor, COLORREF hoverColor);

// The command line of the registered handler for url, from its command template: cut at the
// first quoted placeholder ("%1" in quotation marks, at its opening mark), else at the first bare
// %1, else the whole template; then one blank and the url, never quoted.
CString ComposeHandlerCommand(const CString& commandTemplate, const CString& url);

// The text that explains a result code of opening a link (the shell's or WinExec's).
CString OpenErrorText(int code);
// The whole message of the failure box: "Unable to open hyperlink:", an empty line, the text.
CString OpenErrorMessage(int code);
