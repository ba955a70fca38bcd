#include "platform/qt/qt_window_backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "framework/afxwin.h"

using namespace tpl_style;

namespace {

QString ToQString(const CString& s)
{
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

CString FromQString(const QString& s)
{
    return CString(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

// The Win32 virtual key of a Qt key, for the keys the dialogs look at; 0 for the others.
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
        return 0x09;
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

QPixmap PixmapFromResource(UINT id)
{
    const auto bytes = AfxFindImageResource(id);
    QPixmap pixmap;
    pixmap.loadFromData(bytes.data(), static_cast<uint>(bytes.size()));
    return pixmap;
}

// "MS Shell Dlg" 8 pt: a metric-compatible face where one is installed, else the system's sans.
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

QColor ColorFrom(COLORREF c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

COLORREF ColorRefFrom(const QColor& c)
{
    return RGB(c.red(), c.green(), c.blue());
}

CString FaceName(const AfxLogFont& lf)
{
    size_t n = 0;
    while (n < 32 && lf.lfFaceName[n] != u'\0')
        ++n;
    return CString(lf.lfFaceName, n);
}

AfxLogFont Describe(const char16_t* face, int pixelSize)
{
    AfxLogFont lf;
    lf.lfHeight = -pixelSize;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    for (int i = 0; face[i] != u'\0' && i < 31; ++i)
        lf.lfFaceName[i] = face[i];
    return lf;
}

AfxRect RectFrom(const QRect& r)
{
    return { r.left(), r.top(), r.left() + r.width(), r.top() + r.height() };
}

} // namespace

// What a GDI handle of this layer stands for.
struct QtWindowBackend::GdiObject {
    enum Kind { Font, Bitmap, PatternBrush, HollowBrush, SystemBrush } kind = Font;
    bool stock = false;
    AfxLogFont description;
    QFont font;
    QPixmap pixmap;
};

// A device context: the painter of a paint handler (none for a colour request), and the text
// colour and background mode set on it.
struct QtWindowBackend::Dc {
    QPainter* painter = nullptr;
    COLORREF text = 0;
    int bkMode = OPAQUE;
};

struct QtWindowBackend::Window {
    HWND hwnd = nullptr;
    HWND parent = nullptr;
    int id = 0;
    bool isDialog = false;
    ControlClass cls = ControlClass::Static;
    std::uint32_t style = 0;
    QPointer<QWidget> widget;
    IWindowEvents* events = nullptr;
    std::vector<HWND> children;
    std::vector<MenuItem> menu;
    std::unique_ptr<QEventLoop> loop;
    int result = 0;
    bool ended = false;
    std::map<UINT_PTR, std::unique_ptr<QTimer>> timers;
    HFONT font = nullptr;
    bool isToolTip = false;
    QString tipText; // a tooltip's text for its owner
};

// A static text control. Before drawing it asks its parent for its colours
// (WM_CTLCOLORSTATIC), and it reports the pointer and, with SS_NOTIFY, clicks.
class QtWindowBackend::StaticLabel : public QLabel {
public:
    StaticLabel(QtWindowBackend& backend, const QString& text, QWidget* parent) : QLabel(text, parent), m_backend(backend)
    {
        setMouseTracking(true);
    }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        if (HWND h = m_backend.Handle(this))
            m_backend.PaintStatic(h, this);
        else
            QLabel::paintEvent(e);
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (HWND h = m_backend.Handle(this))
            m_backend.StaticMouseMove(h, this, e->position().toPoint());
        QLabel::mouseMoveEvent(e);
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        if (HWND h = m_backend.Handle(this); h != nullptr && e->button() == Qt::LeftButton)
            m_backend.PreTranslateMouse(h, WM_LBUTTONDOWN, e->position().toPoint());
        QLabel::mousePressEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (HWND h = m_backend.Handle(this); h != nullptr && e->button() == Qt::LeftButton) {
            const QPoint pos = e->position().toPoint();
            if (!m_backend.PreTranslateMouse(h, WM_LBUTTONUP, pos))
                m_backend.StaticClicked(h, pos, rect().contains(pos));
        }
        QLabel::mouseReleaseEvent(e);
    }

private:
    QtWindowBackend& m_backend;
};

// The dialog's top-level window: closing it is a system command, and painting and the context
// menu are offered to the dialog object.
class QtWindowBackend::DialogWidget : public QWidget {
public:
    DialogWidget(QtWindowBackend& backend, QWidget* parent, Qt::WindowFlags flags)
        : QWidget(parent, flags), m_backend(backend)
    {
    }

protected:
    void closeEvent(QCloseEvent* e) override
    {
        // The title bar's close button: SC_CLOSE, whose default handling cancels the dialog.
        e->ignore();
        if (HWND h = m_backend.Handle(this))
            m_backend.Send(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    void paintEvent(QPaintEvent*) override
    {
        if (HWND h = m_backend.Handle(this))
            m_backend.Send(h, WM_PAINT, 0, 0);
    }
    void contextMenuEvent(QContextMenuEvent* e) override
    {
        if (HWND h = m_backend.Handle(this))
            m_backend.PopupSystemMenu(h, e->pos());
    }
    void keyPressEvent(QKeyEvent* e) override
    {
        // Keys no control took end here: a plain widget has no default or cancel button of its own.
        e->accept();
    }

private:
    QtWindowBackend& m_backend;
};

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

    auto font = [this](const char16_t* face) {
        auto o = std::make_unique<GdiObject>();
        o->kind = GdiObject::Font;
        o->stock = true;
        o->description = Describe(face, m_fontPixelSize);
        o->font = FontFor(o->description);
        return static_cast<HFONT>(NewObject(std::move(o)));
    };
    auto brush = [this](GdiObject::Kind kind) {
        auto o = std::make_unique<GdiObject>();
        o->kind = kind;
        o->stock = true;
        return static_cast<HBRUSH>(NewObject(std::move(o)));
    };
    m_dialogFont = font(u"MS Shell Dlg");
    m_stock[DEFAULT_GUI_FONT] = font(u"MS Shell Dlg");
    m_stock[ANSI_VAR_FONT] = font(u"MS Sans Serif");
    m_stock[NULL_BRUSH] = brush(GdiObject::HollowBrush);
    m_systemBrush = brush(GdiObject::SystemBrush);
}

QtWindowBackend::~QtWindowBackend()
{
    if (qApp != nullptr)
        qApp->removeEventFilter(this);
    for (auto& [h, w] : m_windows) {
        if (w->isDialog && w->parent == nullptr && w->widget)
            delete w->widget.data();
    }
    m_windows.clear();
}

QtWindowBackend::Window* QtWindowBackend::Find(HWND hwnd) const
{
    auto it = m_windows.find(hwnd);
    return it == m_windows.end() ? nullptr : it->second.get();
}

QtWindowBackend::Window* QtWindowBackend::FindByWidget(const QObject* object) const
{
    for (; object != nullptr; object = object->parent()) {
        for (const auto& [h, w] : m_windows) {
            if (w->widget.data() == object)
                return w.get();
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
    for (const auto& [h, w] : m_windows) {
        if (w->widget.data() == widget)
            return h;
    }
    return nullptr;
}

HWND QtWindowBackend::FindDialog(const CString& title) const
{
    for (const auto& [h, w] : m_windows) {
        if (w->isDialog && w->widget && FromQString(w->widget->windowTitle()) == title)
            return h;
    }
    return nullptr;
}

HWND QtWindowBackend::NewHandle()
{
    HWND h = reinterpret_cast<HWND>(m_nextHandle);
    m_nextHandle += 0x10;
    return h;
}

LRESULT QtWindowBackend::Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return 0;
    if (w->events != nullptr)
        return w->events->OnWindowMessage(hwnd, message, wParam, lParam);
    return DefWindowProc(hwnd, message, wParam, lParam);
}

void QtWindowBackend::Notify(HWND control, UINT code)
{
    Window* w = Find(control);
    if (w == nullptr)
        return;
    Send(w->parent, WM_COMMAND, MAKEWPARAM(w->id, code), reinterpret_cast<LPARAM>(control));
}

HWND QtWindowBackend::DialogOf(HWND hwnd) const
{
    for (Window* w = Find(hwnd); w != nullptr; w = Find(w->parent)) {
        if (w->isDialog)
            return w->hwnd;
    }
    return nullptr;
}

// -- Creating dialogs -----------------------------------------------------------------------------

void QtWindowBackend::InitCommonControls(std::uint32_t, std::uint32_t)
{
    // Qt's widgets need no class registration.
}

QWidget* QtWindowBackend::CreateControl(const ControlTemplate& c, QWidget* dialog)
{
    const std::uint32_t buttonType = c.style & BsTypeMask;
    const std::uint32_t staticType = c.style & SsTypeMask;
    const QString text = ToQString(c.text);
    QWidget* widget = nullptr;
    switch (c.cls) {
    case ControlClass::Button:
        if (buttonType == BsGroupBox) {
            auto* group = new QGroupBox(text, dialog);
            // As the dialog manager draws a group box: the title on the frame's top line. The
            // style sheet is the group box's alone, so that the other controls keep the plain
            // (and cheaper) style.
            group->setStyleSheet(QStringLiteral(
                "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.6em; }"
                "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; }"));
            widget = group;
        } else if (buttonType == BsAutoCheckBox) {
            widget = new QCheckBox(text, dialog);
        } else {
            auto* button = new QPushButton(text, dialog);
            // Enter is the dialog manager's business (IsDialogMessage), never the button's own.
            button->setAutoDefault(false);
            button->setDefault(false);
            widget = button;
        }
        break;
    case ControlClass::Edit: {
        auto* edit = new QLineEdit(text, dialog);
        edit->setReadOnly((c.style & EsReadOnly) != 0);
        if ((c.style & EsPassword) != 0)
            edit->setEchoMode(QLineEdit::Password);
        if (edit->isReadOnly()) {
            QPalette p = edit->palette();
            p.setColor(QPalette::Base, p.color(QPalette::Window));
            edit->setPalette(p);
        }
        widget = edit;
        break;
    }
    case ControlClass::Static:
        if (staticType == SsEtchedVert) {
            auto* line = new QFrame(dialog);
            line->setFrameShape(QFrame::VLine);
            line->setFrameShadow(QFrame::Sunken);
            widget = line;
        } else if (staticType == SsBitmap) {
            auto* picture = new QLabel(dialog);
            picture->setPixmap(PixmapFromResource(c.imageId));
            widget = picture;
        } else {
            auto* label = new StaticLabel(*this, text, dialog);
            label->setTextFormat(Qt::PlainText);
            Qt::Alignment align = Qt::AlignTop | Qt::AlignLeft;
            if (staticType == SsRight || (c.exStyle & ExRight) != 0)
                align = Qt::AlignTop | Qt::AlignRight;
            else if (staticType == SsCenter)
                align = Qt::AlignTop | Qt::AlignHCenter;
            label->setAlignment(align);
            widget = label;
        }
        break;
    case ControlClass::ListView: {
        auto* list = new QListWidget(dialog);
        list->setViewMode(QListView::ListMode);
        list->setFlow(QListView::TopToBottom);
        list->setWrapping(true);
        list->setResizeMode(QListView::Adjust);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->viewport()->installEventFilter(this);
        widget = list;
        break;
    }
    }
    widget->setFont(dialog->font());
    const AfxRect r = AfxDialogUnitsToPixels(c.x, c.y, c.cx, c.cy, m_baseUnits);
    if (c.cls == ControlClass::Static && staticType == SsBitmap) {
        // A picture control takes its bitmap's own size.
        const QSize size = static_cast<QLabel*>(widget)->pixmap().size();
        widget->setGeometry(r.left, r.top, size.width(), size.height());
    } else if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && !label->text().isEmpty()) {
        // The face stands in for the Windows one and runs a little wider: a label grows to show its
        // whole text (away from its alignment edge) rather than cut it. Static texts draw no
        // background, so an overlap with a neighbour shows nothing.
        const int needed = label->sizeHint().width();
        const int width = std::max(r.Width(), needed);
        const int left = (label->alignment() & Qt::AlignRight) != 0 ? r.right - width : r.left;
        widget->setGeometry(left, r.top, width, r.Height());
    } else {
        widget->setGeometry(r.left, r.top, r.Width(), r.Height());
    }
    widget->setEnabled((c.style & Disabled) == 0);
    widget->setVisible((c.style & Visible) != 0);
    if (c.cls != ControlClass::Static && !(c.cls == ControlClass::Button && buttonType == BsGroupBox))
        widget->setFocusPolicy((c.style & TabStop) != 0 ? Qt::StrongFocus : Qt::ClickFocus);
    if (c.id != -1)
        widget->setObjectName(QStringLiteral("id_%1").arg(c.id));
    return widget;
}

HWND QtWindowBackend::CreateDialogWindow(const DialogTemplate& tpl, HWND parent, IWindowEvents* events)
{
    Window* owner = Find(parent);
    // A window of its own (with a task-bar entry) for the main window; a dialog for the others.
    Qt::WindowFlags flags = ((tpl.exStyle & ExAppWindow) != 0 ? Qt::Window : Qt::Dialog) | Qt::CustomizeWindowHint |
                            Qt::WindowTitleHint;
    if ((tpl.style & SysMenu) != 0)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    auto* dialog = new DialogWidget(*this, owner != nullptr ? owner->widget.data() : nullptr, flags);
    dialog->setWindowTitle(ToQString(tpl.caption));
    dialog->setFont(DialogFont(m_fontPixelSize));
    const AfxRect client = AfxDialogUnitsToPixels(0, 0, tpl.cx, tpl.cy, m_baseUnits);
    dialog->setFixedSize(client.Width(), client.Height());

    HWND h = NewHandle();
    auto window = std::make_unique<Window>();
    window->hwnd = h;
    window->parent = parent;
    window->isDialog = true;
    window->style = tpl.style;
    window->widget = dialog;
    window->events = events;
    Window* d = window.get();
    m_windows[h] = std::move(window);

    std::vector<QGroupBox*> groupBoxes;
    for (const ControlTemplate& c : tpl.controls) {
        QWidget* widget = CreateControl(c, dialog);
        HWND ch = NewHandle();
        auto control = std::make_unique<Window>();
        control->hwnd = ch;
        control->parent = h;
        control->id = c.id;
        control->cls = c.cls;
        control->style = c.style;
        control->widget = widget;
        control->font = m_dialogFont;
        m_windows[ch] = std::move(control);
        d->children.push_back(ch);

        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            connect(button, &QAbstractButton::clicked, this, [this, ch] { Notify(ch, BN_CLICKED); });
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            connect(edit, &QLineEdit::textChanged, this, [this, ch] { Notify(ch, EN_CHANGE); });
        else if (auto* list = qobject_cast<QListWidget*>(widget))
            connect(list, &QListWidget::itemSelectionChanged, this, [this, ch] {
                Window* w = Find(ch);
                AfxNotifyHeader hdr{ ch, static_cast<UINT_PTR>(w->id), LVN_ITEMCHANGED };
                Send(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&hdr));
            });
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            groupBoxes.push_back(group);
    }
    // Group boxes only frame the controls: keep them beneath, so that they never take a click.
    for (QGroupBox* group : groupBoxes)
        group->lower();

    if (Send(h, WM_INITDIALOG, 0, 0) != 0 && Find(h) != nullptr) {
        for (HWND ch : d->children) {
            Window* w = Find(ch);
            if ((w->style & TabStop) != 0 && w->widget->isEnabled()) {
                w->widget->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    return Find(h) != nullptr ? h : nullptr;
}

int QtWindowBackend::RunModalLoop(HWND dialog)
{
    Window* d = Find(dialog);
    if (d == nullptr || !d->widget)
        return -1;
    if (d->ended)
        return d->result;
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
    return d->result;
}

void QtWindowBackend::EndModalLoop(HWND dialog, int result)
{
    Window* d = Find(dialog);
    if (d == nullptr)
        return;
    d->ended = true;
    d->result = result;
    if (d->loop)
        d->loop->exit(result);
}

void QtWindowBackend::Destroy(HWND hwnd)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return;
    for (HWND child : std::vector<HWND>(w->children))
        Destroy(child);
    if (w->events != nullptr)
        w->events->OnWindowMessage(hwnd, WM_DESTROY, 0, 0);
    w = Find(hwnd);
    if (w == nullptr)
        return;
    w->timers.clear();
    if (w->isDialog && w->widget) {
        w->widget->hide();
        w->widget->deleteLater();
    }
    if (Window* p = Find(w->parent)) {
        if (w->isToolTip && p->widget)
            p->widget->setToolTip(QString());
        auto& siblings = p->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
    }
    m_windows.erase(hwnd);
}

void QtWindowBackend::DestroyWindow(HWND hwnd)
{
    Destroy(hwnd);
}

void QtWindowBackend::SubclassWindow(HWND control, IWindowEvents* events)
{
    if (Window* w = Find(control))
        w->events = events;
}

IWindowEvents* QtWindowBackend::GetWindowEvents(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->events : nullptr;
}

// -- Default handling and the keyboard -----------------------------------------------------------

LRESULT QtWindowBackend::DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    Window* w = Find(hwnd);
    if (w == nullptr || !w->isDialog)
        return 0;
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        // The system's colours: the window text colour on the dialog's own background.
        if (Dc* dc = FindDc(reinterpret_cast<HDC>(wParam))) {
            dc->text = ColorRefFrom(w->widget ? w->widget->palette().color(QPalette::WindowText) : QColor(Qt::black));
            dc->bkMode = OPAQUE;
        }
        return reinterpret_cast<LRESULT>(m_systemBrush);
    }
    switch (message) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            return Send(hwnd, WM_CLOSE, 0, 0);
        case SC_MINIMIZE:
            w->widget->showMinimized();
            return 0;
        case SC_MOVE:
            // Moving is the window manager's: let it start an interactive move where it can.
            if (w->widget->windowHandle() != nullptr)
                w->widget->windowHandle()->startSystemMove();
            return 0;
        default:
            return 0;
        }
    case WM_CLOSE:
        return Send(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                    reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
    default:
        return 0;
    }
}

BOOL QtWindowBackend::IsDialogMessage(HWND dialog, AfxMsg* msg)
{
    Window* d = Find(dialog);
    if (d == nullptr || msg->message != WM_KEYDOWN)
        return FALSE;
    if (msg->wParam == VK_ESCAPE) {
        Send(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        return TRUE;
    }
    if (msg->wParam == VK_RETURN) {
        // The focused push button, else the default push button, else IDOK.
        HWND button = nullptr;
        if (Window* f = Find(GetFocus()); f != nullptr && f->parent == dialog && f->cls == ControlClass::Button &&
                                           (f->style & BsTypeMask) <= BsDefPushButton)
            button = f->hwnd;
        for (HWND ch : d->children) {
            Window* w = Find(ch);
            if (button == nullptr && w->cls == ControlClass::Button && (w->style & BsTypeMask) == BsDefPushButton)
                button = ch;
        }
        int id = IDOK;
        if (Window* b = Find(button)) {
            if (!b->widget->isEnabled()) {
                QApplication::beep();
                return TRUE;
            }
            id = b->id;
        }
        Send(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return TRUE;
    }
    return FALSE;
}

bool QtWindowBackend::PreTranslateKey(HWND target, UINT vk)
{
    AfxMsg msg{ target, WM_KEYDOWN, vk, 0 };
    for (Window* w = Find(target); w != nullptr; w = Find(w->parent)) {
        if (w->events != nullptr && w->events->OnPreTranslateMessage(&msg))
            return true;
        if (w->isDialog)
            break;
    }
    return false;
}

bool QtWindowBackend::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        // A click on the empty part of a list clears its selection, as a list view's does.
        if (auto* list = qobject_cast<QListWidget*>(watched->parent())) {
            if (watched == list->viewport()) {
                const auto* me = static_cast<QMouseEvent*>(event);
                if (!list->indexAt(me->position().toPoint()).isValid())
                    list->clearSelection();
            }
        }
        return false;
    }
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
    if (PreTranslateKey(w->hwnd, vk))
        return true;
    if (vk == VK_F1) {
        AfxHelpInfo info;
        Send(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        return true;
    }
    return false;
}

// -- Windows and controls ------------------------------------------------------------------------

HWND QtWindowBackend::GetDlgItem(HWND dialog, int id)
{
    Window* d = Find(dialog);
    if (d == nullptr)
        return nullptr;
    for (HWND ch : d->children) {
        if (Find(ch)->id == id)
            return ch;
    }
    return nullptr;
}

int QtWindowBackend::GetDlgCtrlID(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->id : 0;
}

HWND QtWindowBackend::GetParent(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->parent : nullptr;
}

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
        label->setText(s);
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
    if (QWidget* widget = Widget(hwnd))
        widget->setFocus(Qt::OtherFocusReason);
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

// -- Timers and message boxes --------------------------------------------------------------------

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

// -- The system menu -----------------------------------------------------------------------------

BOOL QtWindowBackend::HasSystemMenu(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr && w->isDialog && (w->style & SysMenu) != 0;
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

// -- Icons and painting --------------------------------------------------------------------------

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
    auto dc = std::make_unique<Dc>();
    dc->painter = new QPainter(widget);
    m_dcs.push_back(std::move(dc));
    return reinterpret_cast<HDC>(m_dcs.back().get());
}

void QtWindowBackend::EndPaint(HWND, HDC dc)
{
    auto it = std::find_if(m_dcs.begin(), m_dcs.end(), [dc](const auto& d) { return reinterpret_cast<HDC>(d.get()) == dc; });
    if (it == m_dcs.end())
        return;
    delete (*it)->painter;
    m_dcs.erase(it);
}

void QtWindowBackend::DrawIcon(HDC dc, int x, int y, HICON icon)
{
    Dc* d = FindDc(dc);
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
    auto* widget = qobject_cast<QListWidget*>(Widget(list));
    if (widget == nullptr)
        return -1;
    index = std::clamp(index, 0, widget->count());
    widget->insertItem(index, ToQString(text));
    return index;
}

int QtWindowBackend::GetListSelectedCount(HWND list)
{
    auto* widget = qobject_cast<QListWidget*>(Widget(list));
    return widget != nullptr ? static_cast<int>(widget->selectedItems().size()) : 0;
}

int QtWindowBackend::GetListNextItem(HWND list, int start, UINT flags)
{
    auto* widget = qobject_cast<QListWidget*>(Widget(list));
    if (widget == nullptr)
        return -1;
    for (int i = start + 1; i < widget->count(); ++i) {
        if ((flags & LVNI_SELECTED) == 0 || widget->item(i)->isSelected())
            return i;
    }
    return -1;
}

CString QtWindowBackend::GetListItemText(HWND list, int index)
{
    auto* widget = qobject_cast<QListWidget*>(Widget(list));
    if (widget == nullptr || index < 0 || index >= widget->count())
        return CString();
    return FromQString(widget->item(index)->text());
}

// -- Hyperlinks and the About box ------------------------------------------------------------

HGDIOBJ QtWindowBackend::NewObject(std::unique_ptr<GdiObject> object)
{
    HGDIOBJ h = reinterpret_cast<HGDIOBJ>(m_nextObject);
    m_nextObject += 0x10;
    m_objects[h] = std::move(object);
    return h;
}

QtWindowBackend::GdiObject* QtWindowBackend::FindObject(HGDIOBJ object) const
{
    auto it = m_objects.find(object);
    return it == m_objects.end() ? nullptr : it->second.get();
}

QtWindowBackend::Dc* QtWindowBackend::FindDc(HDC dc) const
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
    HCURSOR h = reinterpret_cast<HCURSOR>(m_nextObject);
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

void QtWindowBackend::Beep()
{
    QApplication::beep();
}

QString QtWindowBackend::ToolTipText(HWND control) const
{
    QWidget* w = Widget(control);
    return w != nullptr ? w->toolTip() : QString();
}

bool QtWindowBackend::PreTranslateMouse(HWND target, UINT message, const QPoint& pos)
{
    AfxMsg msg{ target, message, 0, MAKELPARAM(pos.x(), pos.y()) };
    for (Window* w = Find(target); w != nullptr; w = Find(w->parent)) {
        if (w->events != nullptr && w->events->OnPreTranslateMessage(&msg))
            return true;
        if (w->isDialog)
            break;
    }
    return false;
}

void QtWindowBackend::StaticMouseMove(HWND control, QWidget* label, const QPoint& pos)
{
    if (PreTranslateMouse(control, WM_MOUSEMOVE, pos))
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

void QtWindowBackend::StaticClicked(HWND control, const QPoint&, bool inside)
{
    Window* w = Find(control);
    if (w == nullptr || !inside || (w->style & SsNotify) == 0 || !w->widget || !w->widget->isEnabled())
        return;
    Notify(control, STN_CLICKED);
}

void QtWindowBackend::PaintStatic(HWND control, StaticLabel* label)
{
    Window* w = Find(control);
    if (w == nullptr)
        return;
    auto request = std::make_unique<Dc>();
    request->text = ColorRefFrom(label->palette().color(QPalette::WindowText));
    Dc* dc = request.get();
    m_dcs.push_back(std::move(request));
    const LRESULT answer = Send(w->parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
    const Dc colours = *dc;
    m_dcs.erase(std::find_if(m_dcs.begin(), m_dcs.end(), [dc](const auto& d) { return d.get() == dc; }));

    QPainter painter(label);
    // A brush the program made is laid behind the text; the hollow brush and the system's own
    // leave the dialog's background, which is already there.
    if (GdiObject* brush = FindObject(reinterpret_cast<HGDIOBJ>(answer)); brush != nullptr && brush->kind == GdiObject::PatternBrush)
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

std::uint32_t QtWindowBackend::GetWindowStyle(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->style : 0;
}

void QtWindowBackend::SetWindowStyle(HWND hwnd, std::uint32_t style)
{
    if (Window* w = Find(hwnd))
        w->style = style;
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

HFONT QtWindowBackend::GetWindowFont(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->font : nullptr;
}

void QtWindowBackend::SetWindowFont(HWND hwnd, HFONT font, BOOL redraw)
{
    Window* w = Find(hwnd);
    GdiObject* o = FindObject(font);
    if (w == nullptr || !w->widget || o == nullptr || o->kind != GdiObject::Font)
        return;
    w->font = font;
    w->widget->setFont(o->font);
    if (redraw)
        w->widget->update();
}

BOOL QtWindowBackend::GetFontDescription(HFONT font, AfxLogFont* description)
{
    GdiObject* o = FindObject(font);
    if (o == nullptr || o->kind != GdiObject::Font)
        return FALSE;
    *description = o->description;
    return TRUE;
}

HFONT QtWindowBackend::CreateFontIndirect(const AfxLogFont& description)
{
    auto o = std::make_unique<GdiObject>();
    o->kind = GdiObject::Font;
    o->description = description;
    o->font = FontFor(description);
    return static_cast<HFONT>(NewObject(std::move(o)));
}

AfxSize QtWindowBackend::GetTextExtent(HWND hwnd, HFONT font, const CString& text)
{
    GdiObject* o = FindObject(font);
    QFont f;
    if (o != nullptr && o->kind == GdiObject::Font)
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
    Dc* d = FindDc(dc);
    if (d == nullptr)
        return 0;
    const COLORREF old = d->text;
    d->text = color;
    return old;
}

int QtWindowBackend::SetBkMode(HDC dc, int mode)
{
    Dc* d = FindDc(dc);
    if (d == nullptr)
        return 0;
    const int old = d->bkMode;
    d->bkMode = mode;
    return old;
}

void QtWindowBackend::FillRect(HDC dc, const AfxRect& rect, HBRUSH brush)
{
    Dc* d = FindDc(dc);
    GdiObject* o = FindObject(brush);
    if (d == nullptr || d->painter == nullptr || o == nullptr)
        return;
    const QRect r(rect.left, rect.top, rect.Width(), rect.Height());
    if (o->kind == GdiObject::PatternBrush)
        d->painter->fillRect(r, QBrush(o->pixmap)); // tiled from the client area's top-left corner
    else if (o->kind == GdiObject::SystemBrush)
        d->painter->fillRect(r, QApplication::palette().color(QPalette::Window));
}

HBITMAP QtWindowBackend::LoadBitmap(UINT resourceId)
{
    QPixmap pixmap = PixmapFromResource(resourceId);
    if (pixmap.isNull())
        return nullptr;
    auto o = std::make_unique<GdiObject>();
    o->kind = GdiObject::Bitmap;
    o->pixmap = std::move(pixmap);
    return static_cast<HBITMAP>(NewObject(std::move(o)));
}

HBRUSH QtWindowBackend::CreatePatternBrush(HBITMAP bitmap)
{
    GdiObject* b = FindObject(bitmap);
    if (b == nullptr || b->kind != GdiObject::Bitmap)
        return nullptr;
    auto o = std::make_unique<GdiObject>();
    o->kind = GdiObject::PatternBrush;
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

std::uint32_t QtWindowBackend::GetMessagePos()
{
    // Asked while the message is handled, the pointer's position now is the message's.
    const QPoint p = QCursor::pos();
    return static_cast<std::uint32_t>(static_cast<unsigned short>(p.x())) |
           (static_cast<std::uint32_t>(static_cast<unsigned short>(p.y())) << 16);
}

HWND QtWindowBackend::CreateToolTip(HWND parent, std::uint32_t style)
{
    Window* p = Find(parent);
    if (p == nullptr)
        return nullptr;
    HWND h = NewHandle();
    auto tip = std::make_unique<Window>();
    tip->hwnd = h;
    tip->parent = parent;
    tip->isToolTip = true;
    tip->style = style;
    m_windows[h] = std::move(tip);
    p->children.push_back(h);
    return h;
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
