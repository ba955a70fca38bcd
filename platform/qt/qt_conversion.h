// Conversions between the framework's Win32-shaped values and Qt's: strings, keys, colours,
// rectangles, fonts and images.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <span>

#include "framework/afx_types.h"
#include "framework/cstring.h"

QString ToQString(const CString& s);
CString FromQString(const QString& s);

// The Win32 virtual key of a Qt key, for the keys the dialogs look at; 0 for the others.
UINT VirtualKey(int key);

QColor ColorFrom(COLORREF c);
COLORREF ColorRefFrom(const QColor& c);
AfxRect RectFrom(const QRect& r);

// "MS Shell Dlg" 8 pt at pixelSize: a metric-compatible face where one is installed, else the
// system's sans.
QFont DialogFont(int pixelSize);
// The face name of a font description (LOGFONTW.lfFaceName, at most 32 characters).
CString FaceName(const AfxLogFont& lf);
// The description of a stock font of face at pixelSize.
AfxLogFont DescribeFont(const char16_t* face, int pixelSize);

// An image resource's file (.bmp, .ico) as a pixmap; a null pixmap when it cannot be read.
QPixmap PixmapFromFile(std::span<const unsigned char> bytes);
