#include "platform/qt/qt_widgets.h"

#include <QAccessible>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "platform/qt/qt_conversion.h"

using namespace tpl_style;

QtStaticLabel::QtStaticLabel(QtWidgetEvents& events, const QString& text, QWidget* parent)
    : QLabel(text, parent), m_events(events)
{
    setMouseTracking(true);
}

void QtStaticLabel::paintEvent(QPaintEvent* e)
{
    if (!m_events.StaticPaint(this))
        QLabel::paintEvent(e);
}

void QtStaticLabel::mouseMoveEvent(QMouseEvent* e)
{
    m_events.StaticMouseMove(this, e->position().toPoint());
    QLabel::mouseMoveEvent(e);
}

void QtStaticLabel::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton)
        m_events.StaticPressed(this, e->position().toPoint());
    QLabel::mousePressEvent(e);
}

void QtStaticLabel::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        const QPoint pos = e->position().toPoint();
        m_events.StaticReleased(this, pos, rect().contains(pos));
    }
    QLabel::mouseReleaseEvent(e);
}

QtDialogWidget::QtDialogWidget(QtWidgetEvents& events, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), m_events(events)
{
}

void QtDialogWidget::closeEvent(QCloseEvent* e)
{
    // The title bar's close button: SC_CLOSE, whose default handling cancels the dialog.
    e->ignore();
    m_events.DialogCloseRequested(this);
}

void QtDialogWidget::paintEvent(QPaintEvent*)
{
    m_events.DialogPaint(this);
}

void QtDialogWidget::contextMenuEvent(QContextMenuEvent* e)
{
    m_events.DialogContextMenu(this, e->pos());
}

void QtDialogWidget::keyPressEvent(QKeyEvent* e)
{
    // Keys no control took end here: a plain widget has no default or cancel button of its own.
    e->accept();
}

QtListView::QtListView(QWidget* parent) : QListWidget(parent)
{
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void QtListView::mousePressEvent(QMouseEvent* e)
{
    if (!indexAt(e->position().toPoint()).isValid())
        clearSelection();
    QListWidget::mousePressEvent(e);
}

QtReportView::QtReportView(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    header()->setStretchLastSection(false);
    setColumnCount(0);
}

void QtReportView::InsertColumn(int column, const QString& heading, int width)
{
    QStringList headings;
    for (int i = 0; i < m_columns; ++i)
        headings << headerItem()->text(i);
    column = std::clamp(column, 0, m_columns);
    headings.insert(column, heading);
    ++m_columns;
    setColumnCount(m_columns);
    setHeaderLabels(headings);
    setColumnWidth(column, width);
}

void QtReportView::SetCellText(int row, int column, const QString& text)
{
    QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr || item->text(column) == text)
        return;
    item->setText(column, text);
    // A cell narrower than its text (the health column's reasons) is read whole by pointing at
    // it, and by assistive technology as the cell's description.
    item->setToolTip(column, text);
    item->setData(column, Qt::AccessibleDescriptionRole, text);
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(this);
    QAccessibleTableInterface* cells = table != nullptr ? table->tableInterface() : nullptr;
    if (QAccessibleInterface* cell = cells != nullptr ? cells->cellAt(row, column) : nullptr) {
        QAccessibleEvent named(cell, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&named);
    }
}

QtDialogWidget* CreateDialogWidget(const DialogTemplate& tpl, QWidget* owner, int fontPixelSize,
                                   const DialogBaseUnits& units, QtWidgetEvents& events)
{
    // A window of its own (with a task-bar entry) for the main window; a dialog for the others.
    Qt::WindowFlags flags =
        ((tpl.exStyle & ExAppWindow) != 0 ? Qt::Window : Qt::Dialog) | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if ((tpl.style & SysMenu) != 0)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    auto* dialog = new QtDialogWidget(events, owner, flags);
    dialog->setWindowTitle(ToQString(tpl.caption));
    dialog->setFont(DialogFont(fontPixelSize));
    const AfxRect client = AfxDialogUnitsToPixels(0, 0, tpl.cx, tpl.cy, units);
    dialog->setFixedSize(client.Width(), client.Height());
    return dialog;
}

namespace {

QWidget* NewButton(const ControlTemplate& c, const QString& text, QWidget* dialog)
{
    const std::uint32_t type = c.style & BsTypeMask;
    if (type == BsGroupBox) {
        auto* group = new QGroupBox(text, dialog);
        // As the dialog manager draws a group box: the title on the frame's top line. The style
        // sheet is the group box's alone, so that the other controls keep the plain (and
        // cheaper) style.
        group->setStyleSheet(
            QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.6em; }"
                           "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; }"));
        return group;
    }
    if (type == BsAutoCheckBox)
        return new QCheckBox(text, dialog);
    auto* button = new QPushButton(text, dialog);
    // Enter is the dialog manager's business (IsDialogMessage), never the button's own.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QWidget* NewEdit(const ControlTemplate& c, const QString& text, QWidget* dialog)
{
    auto* edit = new QLineEdit(text, dialog);
    edit->setReadOnly((c.style & EsReadOnly) != 0);
    if ((c.style & EsPassword) != 0) {
        edit->setEchoMode(QLineEdit::Password);
        // What is typed here stays in Qt's buffers (the edit's text, its undo history, the key
        // events) and in the copies the connection makes, none of which can all be found and
        // wiped: from the moment a window can take a password the process makes no core dump,
        // and the user's other processes cannot attach to it or read its memory.
#ifdef __linux__
        prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
    }
    if (edit->isReadOnly()) {
        QPalette p = edit->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Window));
        edit->setPalette(p);
    }
    return edit;
}

QWidget* NewStatic(const ControlTemplate& c, const QString& text, QWidget* dialog, QtWidgetEvents& events)
{
    const std::uint32_t type = c.style & SsTypeMask;
    if (type == SsEtchedVert) {
        auto* line = new QFrame(dialog);
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        return line;
    }
    if (type == SsBitmap) {
        auto* picture = new QLabel(dialog);
        picture->setPixmap(events.Bitmap(c.imageId));
        return picture;
    }
    auto* label = new QtStaticLabel(events, text, dialog);
    label->setTextFormat(Qt::PlainText);
    Qt::Alignment align = Qt::AlignTop | Qt::AlignLeft;
    if (type == SsRight || (c.exStyle & ExRight) != 0)
        align = Qt::AlignTop | Qt::AlignRight;
    else if (type == SsCenter)
        align = Qt::AlignTop | Qt::AlignHCenter;
    label->setAlignment(align);
    return label;
}

} // namespace

QWidget* CreateControlWidget(const ControlTemplate& c, QWidget* dialog, const DialogBaseUnits& units,
                             QtWidgetEvents& events)
{
    const QString text = ToQString(c.text);
    QWidget* widget = nullptr;
    switch (c.cls) {
    case ControlClass::Button:
        widget = NewButton(c, text, dialog);
        break;
    case ControlClass::Edit:
        widget = NewEdit(c, text, dialog);
        break;
    case ControlClass::Static:
        widget = NewStatic(c, text, dialog, events);
        break;
    case ControlClass::ListView:
        if ((c.style & LvsTypeMask) == LvsReport)
            widget = new QtReportView(dialog);
        else
            widget = new QtListView(dialog);
        break;
    }
    widget->setFont(dialog->font());
    const AfxRect r = AfxDialogUnitsToPixels(c.x, c.y, c.cx, c.cy, units);
    const bool picture = c.cls == ControlClass::Static && (c.style & SsTypeMask) == SsBitmap;
    if (picture) {
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
    const bool groupBox = c.cls == ControlClass::Button && (c.style & BsTypeMask) == BsGroupBox;
    if (c.cls != ControlClass::Static && !groupBox)
        widget->setFocusPolicy((c.style & TabStop) != 0 ? Qt::StrongFocus : Qt::ClickFocus);
    if (c.id != -1)
        widget->setObjectName(QStringLiteral("id_%1").arg(c.id));
    return widget;
}
