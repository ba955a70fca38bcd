// What the drawing handles of the Qt layer stand for: fonts, bitmaps and brushes (HGDIOBJ), and
// device contexts (HDC) of painting and of control-colour requests.
#pragma once

#include <QFont>
#include <QPixmap>

#include "framework/afx_types.h"

class QPainter;

struct QtGdiObject {
    enum Kind { Font, Bitmap, PatternBrush, HollowBrush, SystemBrush } kind = Font;
    bool stock = false; // GetStockObject's and the system's own: never deleted
    AfxLogFont description;
    QFont font;
    QPixmap pixmap; // of a bitmap and of the pattern brush made from it
};

// The painter of a paint handler (none for a colour request), and the text colour and background
// mode set on it.
struct QtDeviceContext {
    QPainter* painter = nullptr;
    COLORREF text = 0;
    int bkMode = OPAQUE;
};
