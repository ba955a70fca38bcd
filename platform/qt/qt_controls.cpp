// Windows and controls as widgets: their texts, enabling, focus, check boxes, placement, the
// link mark for assistive technology, and tooltips.
#include "platform/qt/qt_window_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "platform/qt/qt_accessibility.h"
#include "platform/qt/qt_conversion.h"

// -- Windows and controls ------------------------------------------------------------------------

CString QtWindowBackend::GetWindowText(HWND hwnd)
{
    Window* w = Find(hwnd);
    if (w == nullptr || !w->widget)
        return CString();
    QWidget* widget = w->widget;
    if (w->isDialog)
        return FromQString(widget->windowTitle());
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return FromQString(edit->text());
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return FromQString(button->text());
    if (auto* label = qobject_cast<QLabel*>(widget))
        return FromQString(label->text());
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return FromQString(group->title());
    return CString();
}

void QtWindowBackend::SetWindowText(HWND hwnd, const CString& text)
{
    Window* w = Find(hwnd);
    if (w == nullptr || !w->widget)
        return;
    QWidget* widget = w->widget;
    const QString s = ToQString(text);
    if (w->isDialog)
        widget->setWindowTitle(s);
    else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(s);
        edit->setCursorPosition(0);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(s);
    else if (auto* label = qobject_cast<QLabel*>(widget))
        SetLabelText(label, s);
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(s);
}

void QtWindowBackend::EnableWindow(HWND hwnd, BOOL enable)
{
    if (QWidget* widget = Widget(hwnd))
        widget->setEnabled(enable != FALSE);
}

BOOL QtWindowBackend::IsWindowEnabled(HWND hwnd)
{
    QWidget* widget = Widget(hwnd);
    return widget != nullptr && widget->isEnabled();
}

void QtWindowBackend::SetFocus(HWND hwnd)
{
    // Where the dialog manager moves the focus (the first tab stop, Tab), a Win32 edit shows its
    // text selected; the tab reason makes a line edit do the same.
    if (QWidget* widget = Widget(hwnd))
        widget->setFocus(Qt::TabFocusReason);
}

HWND QtWindowBackend::GetFocus()
{
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr)
        return nullptr;
    Window* w = FindByWidget(focus);
    return w != nullptr ? w->hwnd : nullptr;
}

BOOL QtWindowBackend::IsIconic(HWND hwnd)
{
    QWidget* widget = Widget(hwnd);
    return widget != nullptr && widget->isMinimized();
}

AfxRect QtWindowBackend::GetClientRect(HWND hwnd)
{
    QWidget* widget = Widget(hwnd);
    if (widget == nullptr)
        return {};
    return { 0, 0, widget->width(), widget->height() };
}

int QtWindowBackend::GetCheck(HWND button)
{
    auto* box = qobject_cast<QAbstractButton*>(Widget(button));
    return box != nullptr && box->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void QtWindowBackend::SetCheck(HWND button, int state)
{
    if (auto* box = qobject_cast<QAbstractButton*>(Widget(button)))
        box->setChecked(state == BST_CHECKED);
}

// -- Placement and tooltips ---------------------------------------------------------------------

QString QtWindowBackend::ToolTipText(HWND control) const
{
    QWidget* w = Widget(control);
    return w != nullptr ? w->toolTip() : QString();
}

AfxRect QtWindowBackend::GetWindowRect(HWND hwnd)
{
    Window* w = Find(hwnd);
    if (w == nullptr || !w->widget)
        return {};
    if (w->isDialog)
        return RectFrom(w->widget->frameGeometry());
    return RectFrom(QRect(w->widget->mapToGlobal(QPoint(0, 0)), w->widget->size()));
}

AfxPoint QtWindowBackend::ClientToScreen(HWND hwnd, AfxPoint pt)
{
    QWidget* widget = Widget(hwnd);
    if (widget == nullptr)
        return pt;
    const QPoint g = widget->mapToGlobal(QPoint(pt.x, pt.y));
    return { g.x(), g.y() };
}

AfxPoint QtWindowBackend::ScreenToClient(HWND hwnd, AfxPoint pt)
{
    QWidget* widget = Widget(hwnd);
    if (widget == nullptr)
        return pt;
    const QPoint c = widget->mapFromGlobal(QPoint(pt.x, pt.y));
    return { c.x(), c.y() };
}

BOOL QtWindowBackend::SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags)
{
    QWidget* widget = Widget(hwnd);
    if (widget == nullptr)
        return FALSE;
    if ((flags & SWP_NOMOVE) == 0)
        widget->move(x, y);
    if ((flags & SWP_NOSIZE) == 0)
        widget->resize(std::max(cx, 0), std::max(cy, 0));
    return TRUE;
}

void QtWindowBackend::InvalidateRect(HWND hwnd, const AfxRect* rect, BOOL)
{
    QWidget* widget = Widget(hwnd);
    if (widget == nullptr)
        return;
    if (rect == nullptr)
        widget->update();
    else
        widget->update(QRect(rect->left, rect->top, rect->Width(), rect->Height()));
}

std::uint32_t QtWindowBackend::GetMessagePos()
{
    // Asked while the message is handled, the pointer's position now is the message's.
    const QPoint p = QCursor::pos();
    return static_cast<std::uint32_t>(static_cast<unsigned short>(p.x())) |
           (static_cast<std::uint32_t>(static_cast<unsigned short>(p.y())) << 16);
}

void QtWindowBackend::SetAccessibleLink(HWND control)
{
    Window* w = Find(control);
    if (auto* label = w != nullptr ? dynamic_cast<QtStaticLabel*>(w->widget.data()) : nullptr)
        PresentAsLink(label);
}

HWND QtWindowBackend::CreateToolTip(HWND parent, std::uint32_t style)
{
    Window* p = Find(parent);
    if (p == nullptr)
        return nullptr;
    auto tip = std::make_unique<Window>();
    tip->parent = parent;
    tip->isToolTip = true;
    tip->style = style;
    return AddWindow(std::move(tip));
}

BOOL QtWindowBackend::AddTool(HWND tip, HWND owner, UINT_PTR, const CString& text, const AfxRect&)
{
    // Qt shows a widget's tooltip while the pointer rests on it: the tool covers the owner.
    Window* t = Find(tip);
    QWidget* widget = Widget(owner);
    if (t == nullptr || !t->isToolTip || widget == nullptr)
        return FALSE;
    t->tipText = ToQString(text);
    widget->setToolTip(t->tipText);
    return TRUE;
}

void QtWindowBackend::UpdateTipText(HWND tip, HWND owner, UINT_PTR toolId, const CString& text)
{
    AddTool(tip, owner, toolId, text, AfxRect{});
}

void QtWindowBackend::RelayToolTipEvent(HWND, const AfxMsg&)
{
    // Qt's tooltips watch the pointer themselves.
}
