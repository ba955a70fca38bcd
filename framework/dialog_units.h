// Dialog units to pixels, as the Win32 dialog manager computes them for a dialog's font.
#pragma once

#include "framework/afx_types.h"

struct DialogBaseUnits {
    int cx; // average character width in pixels
    int cy; // character height in pixels
};

// The base units from the font's measurements: the width of the 52 letters "A".."Z" "a".."z"
// and the font's height (tmHeight). The average width is rounded as the dialog manager does:
// (width / 26 + 1) / 2.
DialogBaseUnits AfxBaseUnitsFromFont(int extentOf52Letters, int fontHeight);

// MulDiv: a * b / c rounded half away from zero.
int AfxMulDiv(int a, int b, int c);

// A rectangle in dialog units (x, y, width, height) to pixels.
AfxRect AfxDialogUnitsToPixels(int x, int y, int cx, int cy, DialogBaseUnits units);

// Where an icon is drawn in a minimised window's client area: (w - iconW + 1) / 2 and
// (h - iconH + 1) / 2, truncating toward zero.
AfxPoint AfxCenteredIconPosition(const AfxRect& client, int iconWidth, int iconHeight);
