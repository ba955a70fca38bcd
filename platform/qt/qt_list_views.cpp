// List views: a report view (QtReportView) with its columns, cells, selection and sort arrow, and
// a plain list (QListWidget) of one column.
#include "platform/qt/qt_window_backend.h"

#include <QHeaderView>
#include <QListWidget>

#include <algorithm>

#include "platform/qt/qt_conversion.h"

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
