// The widgets that stand for the dialogs and their controls, and the factory that builds them
// from the templates. The widgets report what they see to QtWidgetEvents (the backend), which
// turns it into window messages.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QTreeWidget>
#include <QWidget>

#include "framework/dialog_template.h"
#include "framework/dialog_units.h"

class QtStaticLabel;

class QtWidgetEvents {
public:
    virtual ~QtWidgetEvents() = default;
    // The dialog's top-level window: the title bar's close button, painting, the context menu.
    virtual void DialogCloseRequested(QWidget* dialog) = 0;
    virtual void DialogPaint(QWidget* dialog) = 0;
    virtual void DialogContextMenu(QWidget* dialog, const QPoint& at) = 0;
    // A static text: false from StaticPaint lets it paint as a plain label.
    virtual bool StaticPaint(QtStaticLabel* label) = 0;
    virtual void StaticMouseMove(QtStaticLabel* label, const QPoint& pos) = 0;
    virtual void StaticPressed(QtStaticLabel* label, const QPoint& pos) = 0;
    virtual void StaticReleased(QtStaticLabel* label, const QPoint& pos, bool inside) = 0;
    // A click without the pointer: the accessible action of a link.
    virtual void StaticActivated(QtStaticLabel* label) = 0;
    // The picture of an SS_BITMAP control.
    virtual QPixmap Bitmap(UINT resourceId) = 0;
};

// A static text control. Before drawing it asks for its colours (WM_CTLCOLORSTATIC), and it
// reports the pointer and clicks.
class QtStaticLabel : public QLabel {
public:
    QtStaticLabel(QtWidgetEvents& events, const QString& text, QWidget* parent);

    // Clicked by other means than the pointer (assistive technology).
    void Activate() { m_events.StaticActivated(this); }

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    QtWidgetEvents& m_events;
};

// The dialog's top-level window: closing it is a system command, and painting and the context
// menu are offered to the dialog object.
class QtDialogWidget : public QWidget {
public:
    QtDialogWidget(QtWidgetEvents& events, QWidget* parent, Qt::WindowFlags flags);

protected:
    void closeEvent(QCloseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    QtWidgetEvents& m_events;
};

// A list view in list mode: a click on its empty part clears the selection, as a list view's does.
class QtListView : public QListWidget {
public:
    explicit QtListView(QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* e) override;
};

// A list view in report mode: a row per item with a column per sub-item under clickable headings
// that show the sort arrow; the program sorts, not the view. Assistive technology reads it as a
// table whose cells are named by their column's heading, with a selection of rows.
class QtReportView : public QTreeWidget {
public:
    explicit QtReportView(QWidget* parent);
    int ColumnsInserted() const { return m_columns; }
    void InsertColumn(int column, const QString& heading, int width);
    // Writes a cell's text when it differs, and the same as its tool tip and accessible
    // description; assistive technology hears the change as the cell's new name (the item view
    // itself tells it only that the table's data changed, which the accessibility bus does not
    // carry).
    void SetCellText(int row, int column, const QString& text);

private:
    int m_columns = 0;
};

// The dialog window of a template, sized from the dialog units, without its controls.
QtDialogWidget* CreateDialogWidget(const DialogTemplate& tpl, QWidget* owner, int fontPixelSize,
                                   const DialogBaseUnits& units, QtWidgetEvents& events);
// The widget of one control of a template, placed on dialog.
QWidget* CreateControlWidget(const ControlTemplate& c, QWidget* dialog, const DialogBaseUnits& units,
                             QtWidgetEvents& events);
