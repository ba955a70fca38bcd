// The Qt layer's window table and dialogs: the records of its widgets, the making of a dialog and
// its controls from a template, the modal loop, what the dialog manager asks of the toolkit, and
// messages and timers.
#include "platform/qt/qt_window_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

#include "framework/afxwin.h"
#include "platform/qt/qt_accessibility.h"
#include "platform/qt/qt_conversion.h"

QtWindowBackend::QtWindowBackend(int& argc, char** argv)
{
    if (QApplication::instance() == nullptr)
        m_ownedApp = std::make_unique<QApplication>(argc, argv);
    // 8 points at the screen's logical resolution, rounded as the dialog manager does.
    const qreal dpi =
        QGuiApplication::primaryScreen() != nullptr ? QGuiApplication::primaryScreen()->logicalDotsPerInchY() : 96;
    m_fontPixelSize = AfxMulDiv(8, static_cast<int>(std::lround(dpi)), 72);
    const QFontMetrics fm(DialogFont(m_fontPixelSize));
    m_baseUnits = AfxBaseUnitsFromFont(fm.horizontalAdvance(
                                           QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
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
    QtDialogWidget* dialog =
        CreateDialogWidget(tpl, owner != nullptr ? owner->widget.data() : nullptr, m_fontPixelSize, m_baseUnits, *this);
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

// -- Default handling ----------------------------------------------------------------------------

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

// -- Messages and timers -----------------------------------------------------------------------

LRESULT QtWindowBackend::SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Send(hwnd, message, wParam, lParam);
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
