// List views through the common control's messages: items, report columns and cells, the
// selection and the header's sort arrow.
#include "platform/win32/win32_backend.h"

#include <cstddef>
#include <vector>

// A list view's NMLISTVIEW and NMITEMACTIVATE read as AfxNmListView: the header, the item, the
// column.
static_assert(offsetof(NMLISTVIEW, iItem) == offsetof(AfxNmListView, iItem));
static_assert(offsetof(NMLISTVIEW, iSubItem) == offsetof(AfxNmListView, iSubItem));
static_assert(offsetof(NMITEMACTIVATE, iItem) == offsetof(AfxNmListView, iItem));
static_assert(offsetof(NMITEMACTIVATE, iSubItem) == offsetof(AfxNmListView, iSubItem));
static_assert(LVN_COLUMNCLICK == static_cast<UINT>(-108) && NM_DBLCLK == static_cast<UINT>(-3));

int Win32WindowBackend::InsertListItem(HWND list, int index, const CString& text)
{
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(WStr(text));
    return static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

int Win32WindowBackend::GetListSelectedCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
}

int Win32WindowBackend::GetListNextItem(HWND list, int start, UINT flags)
{
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

CString Win32WindowBackend::GetListItemText(HWND list, int index, int subItem)
{
    // LVM_GETITEMTEXTW answers the number of characters copied; a full buffer may mean more.
    for (size_t size = 256; size <= 65536; size *= 4) {
        std::vector<wchar_t> buffer(size);
        LVITEMW item{};
        item.iSubItem = subItem;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(size);
        const auto copied = static_cast<size_t>(
            SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
        if (copied + 1 < size)
            return FromWStr(buffer.data(), copied);
    }
    return CString();
}

int Win32WindowBackend::InsertListColumn(HWND list, int column, const CString& heading, int widthPixels)
{
    if (column == 0) {
        // A report's rows are selected whole, each column's text read with the row.
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    }
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.cx = widthPixels;
    col.iSubItem = column;
    col.pszText = const_cast<wchar_t*>(WStr(heading));
    return static_cast<int>(
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col)));
}

BOOL Win32WindowBackend::SetListItemText(HWND list, int index, int subItem, const CString& text)
{
    // Only a change is written, so that the screen reader hears of changes alone.
    if (GetListItemText(list, index, subItem) == text)
        return TRUE;
    LVITEMW item{};
    item.iSubItem = subItem;
    item.pszText = const_cast<wchar_t*>(WStr(text));
    return SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) != 0;
}

int Win32WindowBackend::GetListItemCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

BOOL Win32WindowBackend::DeleteAllListItems(HWND list)
{
    return SendMessageW(list, LVM_DELETEALLITEMS, 0, 0) != 0;
}

void Win32WindowBackend::SetListSelection(HWND list, int index)
{
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    if (index < 0) {
        item.state = 0;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
        return;
    }
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
}

void Win32WindowBackend::SetListSortIndicator(HWND list, int column, BOOL ascending)
{
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    if (header == nullptr)
        return;
    const int count = static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        if (!SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item)))
            continue;
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == column)
            item.fmt |= ascending ? HDF_SORTUP : HDF_SORTDOWN;
        SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
}
