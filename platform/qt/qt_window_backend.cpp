#include "platform/qt/qt_window_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "framework/afxwin.h"
#include "platform/qt/qt_accessibility.h"
#include "platform/qt/qt_conversion.h"

using namespace tpl_style;

QtWindowBackend::QtWindowBackend(int& argc, char** argv)
{
    if (QApplication::instance() == nullptr)
        m_ownedApp = std::make_unique<QApplication>(argc, argv);
    // 8 points at the screen's logical resolution, rounded as the dialog manager does.
    const qreal dpi = QGuiApplication::primaryScreen() != nullptr ? QGuiApplication::primaryScreen()->logicalDotsPerInchY() : 96;
    m_fontPixelSize = AfxMulDiv(8, static_cast<int>(dpi + 0.5), 72);
    const QFontMetrics fm(DialogFont(m_fontPixelSize));
    m_baseUnits = AfxBaseUnitsFromFont(fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
                                       fm.height());
    qApp->installEventFilter(this);
    MakeStockObjects();
}

QtWindowBackend::~QtWindowBackend()
{
    if (qApp != nullptr)
        qApp->removeEventFilter(this);
    for (const auto& [h, record] : Windows()) {
        auto* w = static_cast<Window*>(record.get());
        if (w->isDialog && w->parent == nullptr && w->widget)
            delete w->widget.data();
    }
}

QtWindowBackend::Window* QtWindowBackend::Find(HWND hwnd) const
{
    // Every record of this layer's table is one of its own.
    return static_cast<Window*>(DialogManager::Find(hwnd));
}

QtWindowBackend::Window* QtWindowBackend::FindByWidget(const QObject* object) const
{
    for (; object != nullptr; object = object->parent()) {
        for (const auto& [h, w] : Windows()) {
            if (static_cast<Window*>(w.get())->widget.data() == object)
                return static_cast<Window*>(w.get());
        }
    }
    return nullptr;
}

QWidget* QtWindowBackend::Widget(HWND hwnd) const
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->widget.data() : nullptr;
}

HWND QtWindowBackend::Handle(const QWidget* widget) const
{
    for (const auto& [h, w] : Windows()) {
        if (static_cast<Window*>(w.get())->widget.data() == widget)
            return h;
    }
    return nullptr;
}

HWND QtWindowBackend::FindDialog(const CString& title) const
{
    for (const auto& [h, record] : Windows()) {
        auto* w = static_cast<Window*>(record.get());
        if (w->isDialog && w->widget && FromQString(w->widget->windowTitle()) == title)
            return h;
    }
    return nullptr;
}

// -- Creating dialogs -----------------------------------------------------------------------------

void QtWindowBackend::InitCommonControls(std::uint32_t, std::uint32_t)
{
    // Qt's widgets need no class registration.
}

void QtWindowBackend::ConnectNotifications(HWND control, QWidget* widget)
{
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        connect(button, &QAbstractButton::clicked, this, [this, control] { Notify(control, BN_CLICKED); });
    else if (auto* edit = qobject_cast<QLineEdit*>(widget))
        connect(edit, &QLineEdit::textChanged, this, [this, control] { Notify(control, EN_CHANGE); });
    else if (auto* list = qobject_cast<QListWidget*>(widget))
        connect(list, &QListWidget::itemSelectionChanged, this, [this, control] {
            Window* w = Find(control);
            AfxNotifyHeader hdr{ control, static_cast<UINT_PTR>(w->id), LVN_ITEMCHANGED };
            Send(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&hdr));
        });
    else if (auto* report = dynamic_cast<QtReportView*>(widget)) {
        const auto notify = [this, control](UINT code, int item, int subItem) {
            Window* w = Find(control);
            if (w == nullptr)
                return;
            AfxNmListView nm{ { control, static_cast<UINT_PTR>(w->id), code }, item, subItem };
            Send(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&nm));
        };
        connect(report, &QTreeWidget::itemSelectionChanged, this, [notify, report] {
            const QList<QTreeWidgetItem*> selected = report->selectedItems();
            notify(LVN_ITEMCHANGED, selected.isEmpty() ? -1 : report->indexOfTopLevelItem(selected.front()), 0);
        });
        connect(report, &QTreeWidget::itemDoubleClicked, this, [notify, report](QTreeWidgetItem* item, int column) {
            notify(NM_DBLCLK, report->indexOfTopLevelItem(item), column);
        });
        connect(report->header(), &QHeaderView::sectionClicked, this,
                [notify](int column) { notify(LVN_COLUMNCLICK, -1, column); });
    }
}

HWND QtWindowBackend::CreateDialogWindow(const DialogTemplate& tpl, HWND parent, IWindowEvents* events)
{
    Window* owner = Find(parent);
    QtDialogWidget* dialog = CreateDialogWidget(tpl, owner != nullptr ? owner->widget.data() : nullptr, m_fontPixelSize,
                                                m_baseUnits, *this);
    auto window = std::make_unique<Window>();
    window->parent = parent;
    window->isDialog = true;
    window->style = tpl.style;
    window->widget = dialog;
    window->events = events;
    const HWND h = AddWindow(std::move(window));

    std::vector<QGroupBox*> groupBoxes;
    for (std::size_t i = 0; i < tpl.controls.size(); ++i) {
        const ControlTemplate& c = tpl.controls[i];
        QWidget* widget = CreateControlWidget(c, dialog, m_baseUnits, *this);
        SetAccessibleText(widget, AfxAccessibleText(tpl, i));
        auto control = std::make_unique<Window>();
        control->parent = h;
        control->id = c.id;
        control->cls = c.cls;
        control->style = c.style;
        control->widget = widget;
        control->font = m_dialogFont;
        ConnectNotifications(AddWindow(std::move(control)), widget);
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            groupBoxes.push_back(group);
    }
    // Group boxes only frame the controls: keep them beneath, so that they never take a click.
    for (QGroupBox* group : groupBoxes)
        group->lower();
    return InitDialog(h) ? h : nullptr;
}

int QtWindowBackend::RunModalLoop(HWND dialog)
{
    Window* d = Find(dialog);
    if (d == nullptr || !d->widget)
        return -1;
    if (d->ended)
        return d->modalResult;
    d->widget->setWindowModality(Qt::ApplicationModal);
    d->widget->show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        d->widget->raise();
        d->widget->activateWindow();
    }
    d->loop = std::make_unique<QEventLoop>();
    d->loop->exec();
    d = Find(dialog);
    if (d == nullptr)
        return -1;
    d->loop.reset();
    if (d->widget)
        d->widget->hide();
    return d->modalResult;
}

void QtWindowBackend::ExitModalLoop(DialogManager::Window& dialog)
{
    if (auto& loop = static_cast<Window&>(dialog).loop)
        loop->exit(dialog.modalResult);
}

void QtWindowBackend::ReleaseWindow(DialogManager::Window& window)
{
    auto& w = static_cast<Window&>(window);
    w.timers.clear();
    if (w.isDialog && w.widget) {
        w.widget->hide();
        w.widget->deleteLater();
    }
    if (Window* p = Find(w.parent); p != nullptr && w.isToolTip && p->widget)
        p->widget->setToolTip(QString());
}

// -- Default handling and the keyboard -----------------------------------------------------------

void QtWindowBackend::Minimize(DialogManager::Window& window)
{
    if (QWidget* widget = static_cast<Window&>(window).widget)
        widget->showMinimized();
}

void QtWindowBackend::BeginMove(DialogManager::Window& window)
{
    // Moving is the window manager's: let it start an interactive move where it can.
    QWidget* widget = static_cast<Window&>(window).widget;
    if (widget != nullptr && widget->windowHandle() != nullptr)
        widget->windowHandle()->startSystemMove();
}

HBRUSH QtWindowBackend::SystemColors(DialogManager::Window& window, HDC dc)
{
    // The window text colour on the dialog's own background.
    if (QtDeviceContext* d = FindDc(dc)) {
        QWidget* widget = static_cast<Window&>(window).widget;
        d->text = ColorRefFrom(widget != nullptr ? widget->palette().color(QPalette::WindowText) : QColor(Qt::black));
        d->bkMode = OPAQUE;
    }
    return m_systemBrush;
}

void QtWindowBackend::Beep()
{
    QApplication::beep();
}

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
    const LRESULT taken = Send(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
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

// -- Timers, message boxes and the system menu ----------------------------------------------------

UINT_PTR QtWindowBackend::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return 0;
    auto& timer = w->timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        connect(timer.get(), &QTimer::timeout, this, [this, hwnd, id] { Send(hwnd, WM_TIMER, id, 0); });
    }
    timer->start(static_cast<int>(elapseMs));
    return id;
}

BOOL QtWindowBackend::KillTimer(HWND hwnd, UINT_PTR id)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return FALSE;
    return w->timers.erase(id) != 0;
}

int QtWindowBackend::MessageBox(HWND owner, const CString& text, const CString& caption, UINT type)
{
    QWidget* parent = Widget(owner);
    if (parent == nullptr)
        parent = QApplication::activeModalWidget();
    QMessageBox box(parent);
    box.setWindowTitle(ToQString(caption));
    box.setText(ToQString(text));
    box.setTextFormat(Qt::PlainText);
    switch (type & 0xF0) {
    case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case 0x20: // MB_ICONQUESTION
        box.setIcon(QMessageBox::Question);
        break;
    case 0x40: // MB_ICONASTERISK
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

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

LRESULT QtWindowBackend::SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Send(hwnd, message, wParam, lParam);
}

void QtWindowBackend::BeginWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtWindowBackend::EndWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

// -- List views ----------------------------------------------------------------------------------

int QtWindowBackend::InsertListItem(HWND list, int index, const CString& text)
{
    if (auto* report = dynamic_cast<QtReportView*>(Widget(list))) {
        index = std::clamp(index, 0, report->topLevelItemCount());
        auto* item = new QTreeWidgetItem;
        item->setText(0, ToQString(text));
        report->insertTopLevelItem(index, item);
        return index;
    }
    auto* widget = qobject_cast<QListWidget*>(Widget(list));
    if (widget == nullptr)
        return -1;
    index = std::clamp(index, 0, widget->count());
    widget->insertItem(index, ToQString(text));
    return index;
}

int QtWindowBackend::GetListSelectedCount(HWND list)
{
    if (auto* report = dynamic_cast<QtReportView*>(Widget(list)))
        return static_cast<int>(report->selectedItems().size());
    auto* widget = qobject_cast<QListWidget*>(Widget(list));
    return widget != nullptr ? static_cast<int>(widget->selectedItems().size()) : 0;
}

int QtWindowBackend::GetListNextItem(HWND list, int start, UINT flags)
{
    if (auto* report = dynamic_cast<QtReportView*>(Widget(list))) {
        for (int i = start + 1; i < report->topLevelItemCount(); ++i) {
            if ((flags & LVNI_SELECTED) == 0 || report->topLevelItem(i)->isSelected())
                return i;
        }
        return -1;
    }
    auto* widget = qobject_cast<QListWidget*>(Widget(list));
    if (widget == nullptr)
        return -1;
    for (int i = start + 1; i < widget->count(); ++i) {
        if ((flags & LVNI_SELECTED) == 0 || widget->item(i)->isSelected())
            return i;
    }
    return -1;
}

CString QtWindowBackend::GetListItemText(HWND list, int index, int subItem)
{
    if (auto* report = dynamic_cast<QtReportView*>(Widget(list))) {
        if (index < 0 || index >= report->topLevelItemCount() || subItem < 0)
            return CString();
        return FromQString(report->topLevelItem(index)->text(subItem));
    }
    auto* widget = qobject_cast<QListWidget*>(Widget(list));
    if (widget == nullptr || index < 0 || index >= widget->count() || subItem != 0)
        return CString();
    return FromQString(widget->item(index)->text());
}

int QtWindowBackend::InsertListColumn(HWND list, int column, const CString& heading, int widthPixels)
{
    auto* report = dynamic_cast<QtReportView*>(Widget(list));
    if (report == nullptr || column < 0)
        return -1;
    column = std::min(column, report->ColumnsInserted());
    report->InsertColumn(column, ToQString(heading), widthPixels);
    return column;
}

BOOL QtWindowBackend::SetListItemText(HWND list, int index, int subItem, const CString& text)
{
    auto* report = dynamic_cast<QtReportView*>(Widget(list));
    if (report == nullptr || index < 0 || index >= report->topLevelItemCount() || subItem < 0 ||
        subItem >= std::max(1, report->ColumnsInserted()))
        return FALSE;
    // Only a change is written, so that assistive technology hears of changes alone.
    report->SetCellText(index, subItem, ToQString(text));
    return TRUE;
}

int QtWindowBackend::GetListItemCount(HWND list)
{
    if (auto* report = dynamic_cast<QtReportView*>(Widget(list)))
        return report->topLevelItemCount();
    auto* widget = qobject_cast<QListWidget*>(Widget(list));
    return widget != nullptr ? widget->count() : 0;
}

BOOL QtWindowBackend::DeleteAllListItems(HWND list)
{
    if (auto* report = dynamic_cast<QtReportView*>(Widget(list))) {
        report->clear();
        return TRUE;
    }
    if (auto* widget = qobject_cast<QListWidget*>(Widget(list))) {
        widget->clear();
        return TRUE;
    }
    return FALSE;
}

void QtWindowBackend::SetListSelection(HWND list, int index)
{
    if (auto* report = dynamic_cast<QtReportView*>(Widget(list))) {
        if (index < 0 || index >= report->topLevelItemCount()) {
            report->clearSelection();
            return;
        }
        report->setCurrentItem(report->topLevelItem(index));
        return;
    }
    if (auto* widget = qobject_cast<QListWidget*>(Widget(list))) {
        if (index < 0 || index >= widget->count())
            widget->clearSelection();
        else
            widget->setCurrentRow(index);
    }
}

void QtWindowBackend::SetListSortIndicator(HWND list, int column, BOOL ascending)
{
    auto* report = dynamic_cast<QtReportView*>(Widget(list));
    if (report == nullptr)
        return;
    report->header()->setSortIndicatorShown(column >= 0);
    if (column >= 0)
        report->header()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

BOOL QtWindowBackend::PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Queued to the window layer's thread, where the window is looked up: a window destroyed
    // meanwhile gets nothing, and handles are never reused.
    const bool queued = QMetaObject::invokeMethod(
        this,
        [this, hwnd, message, wParam, lParam] {
            if (Find(hwnd) != nullptr)
                Send(hwnd, message, wParam, lParam);
        },
        Qt::QueuedConnection);
    return queued ? TRUE : FALSE;
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
