#include "platform/qt/qt_conversion.h"

#include <QFontDatabase>

QString ToQString(const CString& s)
{
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

CString FromQString(const QString& s)
{
    return CString(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

UINT VirtualKey(int key)
{
    switch (key) {
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_F1:
        return VK_F1;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VK_TAB;
    case Qt::Key_Space:
        return 0x20;
    default:
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return static_cast<UINT>(0x41 + (key - Qt::Key_A));
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return static_cast<UINT>(0x30 + (key - Qt::Key_0));
        return 0;
    }
}

QColor ColorFrom(COLORREF c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

COLORREF ColorRefFrom(const QColor& c)
{
    return RGB(c.red(), c.green(), c.blue());
}

AfxRect RectFrom(const QRect& r)
{
    return { r.left(), r.top(), r.left() + r.width(), r.top() + r.height() };
}

QFont DialogFont(int pixelSize)
{
    QFont font(QFontDatabase::families().contains(QStringLiteral("Liberation Sans")) ? QStringLiteral("Liberation Sans")
                                                                                     : QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

CString FaceName(const AfxLogFont& lf)
{
    size_t n = 0;
    while (n < 32 && lf.lfFaceName[n] != u'\0')
        ++n;
    return CString(lf.lfFaceName, n);
}

AfxLogFont DescribeFont(const char16_t* face, int pixelSize)
{
    AfxLogFont lf;
    lf.lfHeight = -pixelSize;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    for (int i = 0; face[i] != u'\0' && i < 31; ++i)
        lf.lfFaceName[i] = face[i];
    return lf;
}

QPixmap PixmapFromFile(std::span<const unsigned char> bytes)
{
    QPixmap pixmap;
    pixmap.loadFromData(bytes.data(), static_cast<uint>(bytes.size()));
    return pixmap;
}
