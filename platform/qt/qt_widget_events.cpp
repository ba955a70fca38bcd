// What the widgets report, into the dialog manager: the keys they are pressed with, a dialog's
// close, paint and context-menu requests, and the pointer and activation of static texts.
#include "platform/qt/qt_window_backend.h"

#include <QApplication>
#include <QKeyEvent>

#include "framework/afxwin.h"
#include "platform/qt/qt_conversion.h"

using namespace tpl_style;

// -- Keys ----------------------------------------------------------------------------------------

bool QtWindowBackend::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    Window* w = FindByWidget(watched);
    if (w == nullptr)
        return false;
    // Qt delivers a key to the focus widget and then to its parents; offer it once, at the widget
    // that has the focus.
    if (QApplication::focusWidget() != nullptr && watched != QApplication::focusWidget() &&
        FindByWidget(QApplication::focusWidget()) != nullptr)
        return false;
    const HWND dialog = DialogOf(w->hwnd);
    if ((key->modifiers() & Qt::AltModifier) != 0) {
        if (key->key() == Qt::Key_F4) {
            Send(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        }
        if (key->key() == Qt::Key_Space) {
            PopupSystemMenu(dialog, QPoint(0, 0));
            return true;
        }
    }
    const UINT vk = VirtualKey(key->key());
    if (vk == 0)
        return false;
    const bool shift = (key->modifiers() & Qt::ShiftModifier) != 0 || key->key() == Qt::Key_Backtab;
    return KeyDown(w->hwnd, vk, shift, (key->modifiers() & Qt::ControlModifier) != 0);
}

// -- What the widgets report ----------------------------------------------------------------------

void QtWindowBackend::DialogCloseRequested(QWidget* dialog)
{
    if (HWND h = Handle(dialog))
        Send(h, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void QtWindowBackend::DialogPaint(QWidget* dialog)
{
    if (HWND h = Handle(dialog))
        Send(h, WM_PAINT, 0, 0);
}

void QtWindowBackend::DialogContextMenu(QWidget* dialog, const QPoint& at)
{
    if (HWND h = Handle(dialog))
        PopupSystemMenu(h, at);
}

bool QtWindowBackend::StaticPaint(QtStaticLabel* label)
{
    HWND h = Handle(label);
    if (h == nullptr)
        return false;
    PaintStatic(h, label);
    return true;
}

void QtWindowBackend::StaticMouseMove(QtStaticLabel* label, const QPoint& pos)
{
    HWND control = Handle(label);
    if (control == nullptr || PreTranslateMouse(control, WM_MOUSEMOVE, pos))
        return;
    QPointer<QWidget> previous = m_cursorTarget;
    m_cursorTarget = label;
    const LRESULT taken =
        Send(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    m_cursorTarget = previous;
    if (taken == 0 && Find(control) != nullptr)
        label->unsetCursor(); // the class cursor, the arrow
    if (Find(control) != nullptr)
        Send(control, WM_MOUSEMOVE, 0, MAKELPARAM(pos.x(), pos.y()));
}

void QtWindowBackend::StaticPressed(QtStaticLabel* label, const QPoint& pos)
{
    if (HWND h = Handle(label))
        PreTranslateMouse(h, WM_LBUTTONDOWN, pos);
}

void QtWindowBackend::StaticReleased(QtStaticLabel* label, const QPoint& pos, bool inside)
{
    HWND control = Handle(label);
    if (control == nullptr || PreTranslateMouse(control, WM_LBUTTONUP, pos))
        return;
    if (inside)
        StaticClicked(control);
}

void QtWindowBackend::StaticActivated(QtStaticLabel* label)
{
    if (HWND control = Handle(label))
        StaticClicked(control);
}

void QtWindowBackend::StaticClicked(HWND control)
{
    // A static text tells its parent of clicks only with SS_NOTIFY, and only while enabled.
    Window* w = Find(control);
    if (w == nullptr || (w->style & SsNotify) == 0 || !w->widget || !w->widget->isEnabled())
        return;
    Notify(control, STN_CLICKED);
}

QPixmap QtWindowBackend::Bitmap(UINT resourceId)
{
    return PixmapFromFile(AfxFindImageResource(resourceId));
}

bool QtWindowBackend::PreTranslateMouse(HWND target, UINT message, const QPoint& pos)
{
    AfxMsg msg{ target, message, 0, MAKELPARAM(pos.x(), pos.y()) };
    return PreTranslate(msg);
}
