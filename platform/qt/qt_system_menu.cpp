// The stand-in for the system menu: the window's own commands and the program's items, as a
// popup menu whose items send WM_SYSCOMMAND.
#include "platform/qt/qt_window_backend.h"

#include <QMenu>

#include "platform/qt/qt_conversion.h"

void QtWindowBackend::AppendSystemMenu(HWND hwnd, UINT flags, UINT_PTR id, const CString& text)
{
    if (Window* w = Find(hwnd))
        w->menu.push_back({ flags, id, text });
}

std::vector<QtWindowBackend::MenuItem> QtWindowBackend::SystemMenuItems(HWND hwnd) const
{
    // The window's own commands, as the system's menu of a fixed-size dialog has them.
    std::vector<MenuItem> items = { { MF_STRING, SC_MOVE, u"&Move" },
                                    { MF_STRING, SC_MINIMIZE, u"Mi&nimize" },
                                    { MF_SEPARATOR, 0, u"" },
                                    { MF_STRING, SC_CLOSE, u"&Close\tAlt+F4" } };
    if (Window* w = Find(hwnd))
        items.insert(items.end(), w->menu.begin(), w->menu.end());
    return items;
}

void QtWindowBackend::PopupSystemMenu(HWND hwnd, const QPoint& at)
{
    Window* w = Find(hwnd);
    if (w == nullptr || !w->widget || !HasSystemMenu(hwnd))
        return;
    QMenu menu(w->widget);
    for (const MenuItem& item : SystemMenuItems(hwnd)) {
        if ((item.flags & MF_SEPARATOR) != 0) {
            menu.addSeparator();
            continue;
        }
        QString text = ToQString(item.text);
        QAction* action = menu.addAction(text);
        const UINT_PTR id = item.id;
        connect(action, &QAction::triggered, this, [this, hwnd, id] { Send(hwnd, WM_SYSCOMMAND, id, 0); });
    }
    menu.exec(w->widget->mapToGlobal(at));
}
