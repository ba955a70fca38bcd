#include "framework/dialog_units.h"

#include <cstdint>

DialogBaseUnits AfxBaseUnitsFromFont(int extentOf52Letters, int fontHeight)
{
    return { (extentOf52Letters / 26 + 1) / 2, fontHeight };
}

int AfxMulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const std::int64_t p = static_cast<std::int64_t>(a) * b;
    const std::int64_t half = (c < 0 ? -c : c) / 2;
    const bool negative = (p < 0) != (c < 0);
    const std::int64_t mag = ((p < 0 ? -p : p) + half) / (c < 0 ? -c : c);
    return static_cast<int>(negative ? -mag : mag);
}

AfxRect AfxDialogUnitsToPixels(int x, int y, int cx, int cy, DialogBaseUnits u)
{
    // The dialog manager converts position and size separately when it creates a control.
    AfxRect r;
    r.left = AfxMulDiv(x, u.cx, 4);
    r.top = AfxMulDiv(y, u.cy, 8);
    r.right = r.left + AfxMulDiv(cx, u.cx, 4);
    r.bottom = r.top + AfxMulDiv(cy, u.cy, 8);
    return r;
}

AfxPoint AfxCenteredIconPosition(const AfxRect& client, int iconWidth, int iconHeight)
{
    return { (client.Width() - iconWidth + 1) / 2, (client.Height() - iconHeight + 1) / 2 };
}
