#include <QApplication>
#include <QBuffer>
#include <QCursor>
#include <QFontMetrics>
#include <QIcon>
#include <QImageReader>
#include <QPainter>
#include <QStyle>
#include <QWidget>

#include <algorithm>

#include "framework/resources.h"
#include "platform/qt/qt_conversion.h"
#include "platform/qt/qt_window_backend.h"

// The drawing handles of the Qt layer: fonts, bitmaps, brushes, icons, cursors and device
// contexts, as the hyperlinks, the About box and the main window's painting use them.

void QtWindowBackend::MakeStockObjects()
{
    auto font = [this](const char16_t* face) {
        auto o = std::make_unique<QtGdiObject>();
        o->kind = QtGdiObject::Font;
        o->stock = true;
        o->description = DescribeFont(face, m_fontPixelSize);
        o->font = FontFor(o->description);
        return static_cast<HFONT>(NewObject(std::move(o)));
    };
    auto brush = [this](QtGdiObject::Kind kind) {
        auto o = std::make_unique<QtGdiObject>();
        o->kind = kind;
        o->stock = true;
        return static_cast<HBRUSH>(NewObject(std::move(o)));
    };
    m_dialogFont = font(u"MS Shell Dlg");
    m_stock[DEFAULT_GUI_FONT] = font(u"MS Shell Dlg");
    m_stock[ANSI_VAR_FONT] = font(u"MS Sans Serif");
    m_stock[NULL_BRUSH] = brush(QtGdiObject::HollowBrush);
    m_systemBrush = brush(QtGdiObject::SystemBrush);
}

HGDIOBJ QtWindowBackend::NewObject(std::unique_ptr<QtGdiObject> object)
{
    auto* h = reinterpret_cast<HGDIOBJ>(m_nextObject);
    m_nextObject += 0x10;
    m_objects[h] = std::move(object);
    return h;
}

QtGdiObject* QtWindowBackend::FindObject(HGDIOBJ object) const
{
    auto it = m_objects.find(object);
    return it == m_objects.end() ? nullptr : it->second.get();
}

QtDeviceContext* QtWindowBackend::FindDc(HDC dc) const
{
    for (const auto& d : m_dcs) {
        if (reinterpret_cast<HDC>(d.get()) == dc)
            return d.get();
    }
    return nullptr;
}

QFont QtWindowBackend::FontFor(const AfxLogFont& lf) const
{
    // The dialog faces of Windows have a stand-in here; other faces are asked of fontconfig.
    const CString face = FaceName(lf);
    const int pixels = lf.lfHeight < 0 ? -lf.lfHeight : (lf.lfHeight > 0 ? lf.lfHeight : m_fontPixelSize);
    QFont font = DialogFont(pixels);
    if (!face.empty() && face != u"MS Shell Dlg" && face != u"MS Shell Dlg 2" && face != u"MS Sans Serif")
        font.setFamily(ToQString(face));
    if (lf.lfWeight > 0)
        font.setWeight(static_cast<QFont::Weight>(std::clamp(static_cast<int>(lf.lfWeight), 100, 900)));
    font.setItalic(lf.lfItalic != 0);
    font.setUnderline(lf.lfUnderline != 0);
    font.setStrikeOut(lf.lfStrikeOut != 0);
    return font;
}

HCURSOR QtWindowBackend::CreateHandCursor()
{
    auto* h = reinterpret_cast<HCURSOR>(m_nextObject);
    m_nextObject += 0x10;
    m_cursors[h] = std::make_unique<QCursor>(Qt::PointingHandCursor);
    return h;
}

void QtWindowBackend::DestroyCursor(HCURSOR cursor)
{
    if (m_currentCursor == cursor)
        m_currentCursor = nullptr;
    m_cursors.erase(cursor);
}

HICON QtWindowBackend::LoadIcon(UINT resourceId)
{
    const auto bytes = AfxFindImageResource(resourceId);
    if (bytes.empty())
        return nullptr;
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    QImageReader reader(&buffer, "ico");
    auto icon = std::make_unique<QIcon>();
    for (QImage image = reader.read(); !image.isNull(); image = reader.read()) {
        icon->addPixmap(QPixmap::fromImage(image));
        if (!reader.jumpToNextImage())
            break;
    }
    if (icon->isNull())
        return nullptr;
    m_icons.push_back(std::move(icon));
    // Handles are 1-based positions in m_icons.
    return reinterpret_cast<HICON>(static_cast<std::uintptr_t>(m_icons.size()));
}

void QtWindowBackend::SetIcon(HWND hwnd, HICON icon, BOOL)
{
    const auto index = reinterpret_cast<std::uintptr_t>(icon);
    QWidget* widget = Widget(hwnd);
    if (widget != nullptr && index >= 1 && index <= m_icons.size())
        widget->setWindowIcon(*m_icons[index - 1]);
}

HDC QtWindowBackend::BeginPaint(HWND hwnd)
{
    // Only inside a paint event of the window, as on Windows only inside WM_PAINT.
    QWidget* widget = Widget(hwnd);
    if (widget == nullptr || !widget->isVisible())
        return nullptr;
    auto dc = std::make_unique<QtDeviceContext>();
    dc->painter = new QPainter(widget);
    m_dcs.push_back(std::move(dc));
    return reinterpret_cast<HDC>(m_dcs.back().get());
}

void QtWindowBackend::EndPaint(HWND, HDC dc)
{
    auto it =
        std::find_if(m_dcs.begin(), m_dcs.end(), [dc](const auto& d) { return reinterpret_cast<HDC>(d.get()) == dc; });
    if (it == m_dcs.end())
        return;
    delete (*it)->painter;
    m_dcs.erase(it);
}

void QtWindowBackend::DrawIcon(HDC dc, int x, int y, HICON icon)
{
    QtDeviceContext* d = FindDc(dc);
    QPainter* painter = d != nullptr ? d->painter : nullptr;
    const auto index = reinterpret_cast<std::uintptr_t>(icon);
    if (painter == nullptr || index < 1 || index > m_icons.size())
        return;
    const int size = GetSystemMetrics(SM_CXICON);
    painter->drawPixmap(x, y, m_icons[index - 1]->pixmap(size, size));
}

int QtWindowBackend::GetSystemMetrics(int index)
{
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

void QtWindowBackend::PaintStatic(HWND control, QtStaticLabel* label)
{
    Window* w = Find(control);
    if (w == nullptr)
        return;
    auto request = std::make_unique<QtDeviceContext>();
    request->text = ColorRefFrom(label->palette().color(QPalette::WindowText));
    QtDeviceContext* dc = request.get();
    m_dcs.push_back(std::move(request));
    const LRESULT answer =
        Send(w->parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
    const QtDeviceContext colours = *dc;
    m_dcs.erase(std::find_if(m_dcs.begin(), m_dcs.end(), [dc](const auto& d) { return d.get() == dc; }));

    QPainter painter(label);
    // A brush the program made is laid behind the text; the hollow brush and the system's own
    // leave the dialog's background, which is already there.
    if (QtGdiObject* brush = FindObject(reinterpret_cast<HGDIOBJ>(answer));
        brush != nullptr && brush->kind == QtGdiObject::PatternBrush)
        painter.fillRect(label->rect(), QBrush(brush->pixmap));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, ColorFrom(colours.text));
    int flags = static_cast<int>(label->alignment()) | Qt::TextExpandTabs;
    if (label->wordWrap())
        flags |= Qt::TextWordWrap;
    painter.setFont(label->font());
    label->style()->drawItemText(&painter, label->contentsRect(), flags, palette, label->isEnabled(), label->text(),
                                 QPalette::WindowText);
}

HFONT QtWindowBackend::GetWindowFont(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->font : nullptr;
}

void QtWindowBackend::SetWindowFont(HWND hwnd, HFONT font, BOOL redraw)
{
    Window* w = Find(hwnd);
    QtGdiObject* o = FindObject(font);
    if (w == nullptr || !w->widget || o == nullptr || o->kind != QtGdiObject::Font)
        return;
    w->font = font;
    w->widget->setFont(o->font);
    if (redraw)
        w->widget->update();
}

BOOL QtWindowBackend::GetFontDescription(HFONT font, AfxLogFont* description)
{
    QtGdiObject* o = FindObject(font);
    if (o == nullptr || o->kind != QtGdiObject::Font)
        return FALSE;
    *description = o->description;
    return TRUE;
}

HFONT QtWindowBackend::CreateFontIndirect(const AfxLogFont& description)
{
    auto o = std::make_unique<QtGdiObject>();
    o->kind = QtGdiObject::Font;
    o->description = description;
    o->font = FontFor(description);
    return static_cast<HFONT>(NewObject(std::move(o)));
}

AfxSize QtWindowBackend::GetTextExtent(HWND hwnd, HFONT font, const CString& text)
{
    QtGdiObject* o = FindObject(font);
    QFont f;
    if (o != nullptr && o->kind == QtGdiObject::Font)
        f = o->font;
    else if (QWidget* widget = Widget(hwnd))
        f = widget->font();
    const QFontMetrics fm(f);
    return { fm.horizontalAdvance(ToQString(text)), fm.height() };
}

HGDIOBJ QtWindowBackend::GetStockObject(int index)
{
    auto it = m_stock.find(index);
    return it != m_stock.end() ? it->second : nullptr;
}

BOOL QtWindowBackend::DeleteObject(HGDIOBJ object)
{
    auto it = m_objects.find(object);
    if (it == m_objects.end() || it->second->stock)
        return FALSE;
    m_objects.erase(it);
    return TRUE;
}

COLORREF QtWindowBackend::SetTextColor(HDC dc, COLORREF color)
{
    QtDeviceContext* d = FindDc(dc);
    if (d == nullptr)
        return 0;
    const COLORREF old = d->text;
    d->text = color;
    return old;
}

int QtWindowBackend::SetBkMode(HDC dc, int mode)
{
    QtDeviceContext* d = FindDc(dc);
    if (d == nullptr)
        return 0;
    const int old = d->bkMode;
    d->bkMode = mode;
    return old;
}

void QtWindowBackend::FillRect(HDC dc, const AfxRect& rect, HBRUSH brush)
{
    QtDeviceContext* d = FindDc(dc);
    QtGdiObject* o = FindObject(brush);
    if (d == nullptr || d->painter == nullptr || o == nullptr)
        return;
    const QRect r(rect.left, rect.top, rect.Width(), rect.Height());
    if (o->kind == QtGdiObject::PatternBrush)
        d->painter->fillRect(r, QBrush(o->pixmap)); // tiled from the client area's top-left corner
    else if (o->kind == QtGdiObject::SystemBrush)
        d->painter->fillRect(r, QApplication::palette().color(QPalette::Window));
}

HBITMAP QtWindowBackend::LoadBitmap(UINT resourceId)
{
    QPixmap pixmap = PixmapFromFile(AfxFindImageResource(resourceId));
    if (pixmap.isNull())
        return nullptr;
    auto o = std::make_unique<QtGdiObject>();
    o->kind = QtGdiObject::Bitmap;
    o->pixmap = std::move(pixmap);
    return static_cast<HBITMAP>(NewObject(std::move(o)));
}

HBRUSH QtWindowBackend::CreatePatternBrush(HBITMAP bitmap)
{
    QtGdiObject* b = FindObject(bitmap);
    if (b == nullptr || b->kind != QtGdiObject::Bitmap)
        return nullptr;
    auto o = std::make_unique<QtGdiObject>();
    o->kind = QtGdiObject::PatternBrush;
    o->pixmap = b->pixmap;
    return static_cast<HBRUSH>(NewObject(std::move(o)));
}

HCURSOR QtWindowBackend::SetCursor(HCURSOR cursor)
{
    const HCURSOR previous = m_currentCursor;
    auto it = m_cursors.find(cursor);
    m_currentCursor = it != m_cursors.end() ? cursor : nullptr;
    // The shape goes to the control whose WM_SETCURSOR asked for it.
    if (m_cursorTarget) {
        if (it != m_cursors.end())
            m_cursorTarget->setCursor(*it->second);
        else
            m_cursorTarget->unsetCursor();
    }
    return previous;
}
