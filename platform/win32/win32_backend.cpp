#include "platform/win32/win32_backend.h"

#include <algorithm>
#include <cstddef>

#include "framework/dialog_template.h"
#include "platform/win32/dialog_resource.h"

// WM_NOTIFY's lParam goes to the framework as it comes: its header must read as an NMHDR.
static_assert(offsetof(NMHDR, hwndFrom) == offsetof(AfxNotifyHeader, hwndFrom));
static_assert(offsetof(NMHDR, idFrom) == offsetof(AfxNotifyHeader, idFrom));
static_assert(offsetof(NMHDR, code) == offsetof(AfxNotifyHeader, code));
static_assert(sizeof(NMHDR) == sizeof(AfxNotifyHeader));
// A list view's NMLISTVIEW and NMITEMACTIVATE read as AfxNmListView: the header, the item, the
// column.
static_assert(offsetof(NMLISTVIEW, iItem) == offsetof(AfxNmListView, iItem));
static_assert(offsetof(NMLISTVIEW, iSubItem) == offsetof(AfxNmListView, iSubItem));
static_assert(offsetof(NMITEMACTIVATE, iItem) == offsetof(AfxNmListView, iItem));
static_assert(offsetof(NMITEMACTIVATE, iSubItem) == offsetof(AfxNmListView, iSubItem));
static_assert(LVN_COLUMNCLICK == static_cast<UINT>(-108) && NM_DBLCLK == static_cast<UINT>(-3));

namespace {

// The window procedures are plain functions; they reach the one backend of the process here.
Win32WindowBackend* g_backend = nullptr;

// Places a new dialog in the middle of its owner, or of the work area when it has none (or the
// owner is hidden or minimised), kept on the screen.
void CenterDialog(HWND dialog)
{
    RECT self{};
    if (!GetWindowRect(dialog, &self))
        return;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT area = work;
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner))
        GetWindowRect(owner, &area);
    const int width = self.right - self.left;
    const int height = self.bottom - self.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    x = std::max<int>(work.left, std::min<int>(x, work.right - width));
    y = std::max<int>(work.top, std::min<int>(y, work.bottom - height));
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

Win32WindowBackend::Win32WindowBackend(HINSTANCE instance) : m_instance(instance)
{
    g_backend = this;
}

Win32WindowBackend::~Win32WindowBackend()
{
    for (auto& [big, icon] : m_icons) {
        DestroyIcon(big);
        if (icon.smallIcon != nullptr)
            DestroyIcon(icon.smallIcon);
    }
    if (g_backend == this)
        g_backend = nullptr;
}

// -- Routing ----------------------------------------------------------------------------------

LRESULT CALLBACK Win32WindowBackend::RoutedWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Win32WindowBackend* self = g_backend;
    if (self == nullptr)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    auto it = self->m_routed.find(hwnd);
    if (it == self->m_routed.end())
        return DefWindowProcW(hwnd, message, wParam, lParam);

    // The framework may change the routing while it handles the message.
    IWindowEvents* events = it->second.events;
    const WNDPROC original = it->second.original;
    const LRESULT result = events != nullptr ? events->OnWindowMessage(hwnd, message, wParam, lParam)
                                             : CallWindowProcW(original, hwnd, message, wParam, lParam);

    it = self->m_routed.find(hwnd);
    if (it == self->m_routed.end())
        return result;
    if (message == WM_DESTROY) {
        // The framework lets go of a window at WM_DESTROY; whatever follows is the system's. A
        // dialog's controls still exist now (they are destroyed after it): their annotations go.
        it->second.events = nullptr;
        self->m_accessibility.Forget(hwnd);
    } else if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        for (HBITMAP bitmap : it->second.bitmaps)
            ::DeleteObject(bitmap);
        self->m_routed.erase(it);
    }
    return result;
}

void Win32WindowBackend::Route(HWND hwnd, IWindowEvents* events)
{
    auto it = m_routed.find(hwnd);
    if (it != m_routed.end()) {
        it->second.events = events;
        return;
    }
    Routed& routed = m_routed[hwnd];
    routed.events = events;
    routed.original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RoutedWindowProc));
}

void Win32WindowBackend::Unroute(HWND hwnd)
{
    auto it = m_routed.find(hwnd);
    if (it == m_routed.end())
        return;
    it->second.events = nullptr;
    // Only a procedure that is still ours can be put back; under someone else's subclass the
    // record stays and passes everything on.
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == &RoutedWindowProc &&
        it->second.bitmaps.empty()) {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(it->second.original));
        m_routed.erase(it);
    }
}

void Win32WindowBackend::SubclassWindow(HWND control, IWindowEvents* events)
{
    if (control == nullptr || !IsWindow(control))
        return;
    if (events != nullptr)
        Route(control, events);
    else
        Unroute(control);
}

IWindowEvents* Win32WindowBackend::GetWindowEvents(HWND hwnd)
{
    auto it = m_routed.find(hwnd);
    return it != m_routed.end() ? it->second.events : nullptr;
}

LRESULT Win32WindowBackend::DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto it = m_routed.find(hwnd);
    if (it != m_routed.end() && it->second.original != nullptr)
        return CallWindowProcW(it->second.original, hwnd, message, wParam, lParam);
    // A window the framework only wraps: its own procedure is its default.
    const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    if (current != nullptr && current != &RoutedWindowProc)
        return CallWindowProcW(current, hwnd, message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// -- Dialogs ----------------------------------------------------------------------------------

void Win32WindowBackend::InitCommonControls(std::uint32_t structSize, std::uint32_t classes)
{
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = structSize;
    icc.dwICC = classes;
    InitCommonControlsEx(&icc);
}

INT_PTR CALLBACK Win32WindowBackend::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE; // the dialog manager's defaults; the framework sees messages through its route
    auto* ctx = reinterpret_cast<CreateContext*>(lParam);
    ctx->backend->Route(hwnd, ctx->events);
    ctx->backend->SetPictures(hwnd, *ctx->tpl);
    ctx->backend->m_accessibility.NameControls(hwnd, *ctx->tpl);
    CenterDialog(hwnd);
    // Nonzero: the dialog manager gives the focus to the first tab stop.
    return ctx->events->OnWindowMessage(hwnd, WM_INITDIALOG, wParam, 0) != 0 ? TRUE : FALSE;
}

void Win32WindowBackend::SetPictures(HWND dialog, const DialogTemplate& tpl)
{
    // Controls are created in template order, which is their order among the dialog's children.
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const ControlTemplate& c : tpl.controls) {
        HWND control = c.id != -1 ? ::GetDlgItem(dialog, c.id) : child;
        if (child != nullptr)
            child = GetWindow(child, GW_HWNDNEXT);
        if (c.cls != ControlClass::Static || (c.style & tpl_style::SsTypeMask) != tpl_style::SsBitmap ||
            c.imageId == 0 || control == nullptr)
            continue;
        auto bitmap = static_cast<HBITMAP>(
            LoadImageW(m_instance, MAKEINTRESOURCEW(c.imageId), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
        if (bitmap == nullptr)
            continue;
        SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        m_routed[dialog].bitmaps.push_back(bitmap);
    }
}

HWND Win32WindowBackend::CreateDialogWindow(const DialogTemplate& tpl, HWND parent, IWindowEvents* events)
{
    const std::vector<std::uint32_t> data = BuildDialogTemplateEx(tpl);
    CreateContext ctx{ this, &tpl, events };
    return CreateDialogIndirectParamW(m_instance, reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), parent,
                                      &DialogProc, reinterpret_cast<LPARAM>(&ctx));
}

bool Win32WindowBackend::PreTranslate(HWND dialog, MSG& msg)
{
    if (msg.hwnd == nullptr || (msg.hwnd != dialog && !IsChild(dialog, msg.hwnd)))
        return false;
    AfxMsg afx{ msg.hwnd, msg.message, msg.wParam, msg.lParam };
    const MSG* savedMsg = m_pretranslating;
    const AfxMsg* savedAfx = m_pretranslatingAfx;
    m_pretranslating = &msg;
    m_pretranslatingAfx = &afx;
    bool handled = false;
    for (HWND h = msg.hwnd; h != nullptr; h = ::GetParent(h)) {
        auto it = m_routed.find(h);
        if (it != m_routed.end() && it->second.events != nullptr && it->second.events->OnPreTranslateMessage(&afx)) {
            handled = true;
            break;
        }
        if (h == dialog)
            break;
    }
    m_pretranslating = savedMsg;
    m_pretranslatingAfx = savedAfx;
    return handled;
}

int Win32WindowBackend::RunModalLoop(HWND dialog)
{
    if (!IsWindow(dialog))
        return -1;
    ModalState state{ dialog };
    HWND owner = GetWindow(dialog, GW_OWNER);
    const bool disableOwner = owner != nullptr && ::IsWindowEnabled(owner);
    if (disableOwner)
        ::EnableWindow(owner, FALSE);
    m_modal.push_back(&state);
    ShowWindow(dialog, SW_SHOWNORMAL);

    MSG msg{};
    while (!state.ended) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // WM_QUIT belongs to whoever runs the outermost loop: put it back and leave.
            PostQuitMessage(static_cast<int>(msg.wParam));
            state.result = -1;
            break;
        }
        if (got == -1 || !IsWindow(dialog)) {
            state.result = -1;
            break;
        }
        if (!PreTranslate(dialog, msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    m_modal.erase(std::remove(m_modal.begin(), m_modal.end(), &state), m_modal.end());
    // The owner first, so that the activation goes back to it when the dialog is hidden.
    if (disableOwner)
        ::EnableWindow(owner, TRUE);
    if (IsWindow(dialog))
        ShowWindow(dialog, SW_HIDE);
    return state.result;
}

void Win32WindowBackend::EndModalLoop(HWND dialog, int result)
{
    for (ModalState* state : m_modal) {
        if (state->dialog == dialog) {
            state->ended = true;
            state->result = result;
            PostMessageW(dialog, WM_NULL, 0, 0); // wakes the loop if it is waiting
        }
    }
}

HWND Win32WindowBackend::ActiveModalDialog() const
{
    for (auto it = m_modal.rbegin(); it != m_modal.rend(); ++it) {
        if (IsWindow((*it)->dialog))
            return (*it)->dialog;
    }
    return nullptr;
}

void Win32WindowBackend::DestroyWindow(HWND hwnd)
{
    if (hwnd != nullptr)
        ::DestroyWindow(hwnd);
}

BOOL Win32WindowBackend::IsDialogMessage(HWND dialog, AfxMsg* afx)
{
    MSG msg{};
    if (afx == m_pretranslatingAfx && m_pretranslating != nullptr) {
        msg = *m_pretranslating;
    } else {
        msg.time = static_cast<DWORD>(GetMessageTime());
        const DWORD pos = GetMessagePos();
        msg.pt = { static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos)) };
    }
    msg.hwnd = afx->hwnd;
    msg.message = afx->message;
    msg.wParam = afx->wParam;
    msg.lParam = afx->lParam;
    return IsDialogMessageW(dialog, &msg);
}

// -- Windows ----------------------------------------------------------------------------------

HWND Win32WindowBackend::GetDlgItem(HWND dialog, int id)
{
    return ::GetDlgItem(dialog, id);
}

int Win32WindowBackend::GetDlgCtrlID(HWND hwnd)
{
    return ::GetDlgCtrlID(hwnd);
}

HWND Win32WindowBackend::GetParent(HWND hwnd)
{
    return ::GetParent(hwnd);
}

CString Win32WindowBackend::GetWindowText(HWND hwnd)
{
    const int length = GetWindowTextLengthW(hwnd);
    if (length <= 0)
        return CString();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextW(hwnd, buffer.data(), length + 1);
    return FromWStr(buffer.data(), static_cast<size_t>(std::max(copied, 0)));
}

void Win32WindowBackend::SetWindowText(HWND hwnd, const CString& text)
{
    SetWindowTextW(hwnd, WStr(text));
    m_accessibility.TextChanged(hwnd, text);
}

void Win32WindowBackend::EnableWindow(HWND hwnd, BOOL enable)
{
    ::EnableWindow(hwnd, enable);
}

BOOL Win32WindowBackend::IsWindowEnabled(HWND hwnd)
{
    return ::IsWindowEnabled(hwnd);
}

void Win32WindowBackend::SetFocus(HWND hwnd)
{
    ::SetFocus(hwnd);
}

HWND Win32WindowBackend::GetFocus()
{
    return ::GetFocus();
}

BOOL Win32WindowBackend::IsIconic(HWND hwnd)
{
    return ::IsIconic(hwnd);
}

AfxRect Win32WindowBackend::GetClientRect(HWND hwnd)
{
    RECT r{};
    ::GetClientRect(hwnd, &r);
    return { r.left, r.top, r.right, r.bottom };
}

int Win32WindowBackend::GetCheck(HWND button)
{
    return static_cast<int>(SendMessageW(button, BM_GETCHECK, 0, 0));
}

void Win32WindowBackend::SetCheck(HWND button, int state)
{
    SendMessageW(button, BM_SETCHECK, static_cast<WPARAM>(state), 0);
}

UINT_PTR Win32WindowBackend::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs)
{
    return ::SetTimer(hwnd, id, elapseMs, nullptr);
}

BOOL Win32WindowBackend::KillTimer(HWND hwnd, UINT_PTR id)
{
    return ::KillTimer(hwnd, id);
}

int Win32WindowBackend::MessageBox(HWND owner, const CString& text, const CString& caption, UINT type)
{
    if (owner == nullptr)
        owner = ActiveModalDialog();
    return MessageBoxW(owner, WStr(text), WStr(caption), type);
}

// -- System menu, icons, painting ---------------------------------------------------------------

BOOL Win32WindowBackend::HasSystemMenu(HWND hwnd)
{
    return GetSystemMenu(hwnd, FALSE) != nullptr;
}

void Win32WindowBackend::AppendSystemMenu(HWND hwnd, UINT flags, UINT_PTR id, const CString& text)
{
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    if (menu == nullptr)
        return;
    AppendMenuW(menu, flags, id, (flags & MF_SEPARATOR) != 0 ? nullptr : WStr(text));
}

HICON Win32WindowBackend::LoadIcon(UINT resourceId)
{
    // The icon resource holds both sizes: the large one is the handle the framework gets (drawn
    // when minimised, dragged), the small one goes to WM_SETICON ICON_SMALL.
    auto big = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                             ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                             LR_DEFAULTCOLOR));
    if (big == nullptr)
        return nullptr;
    auto smallIcon = static_cast<HICON>(LoadImageW(m_instance, MAKEINTRESOURCEW(resourceId), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                               LR_DEFAULTCOLOR));
    m_icons[big] = { resourceId, smallIcon };
    return big;
}

void Win32WindowBackend::SetIcon(HWND hwnd, HICON icon, BOOL big)
{
    HICON image = icon;
    if (!big) {
        auto it = m_icons.find(icon);
        if (it != m_icons.end() && it->second.smallIcon != nullptr)
            image = it->second.smallIcon;
    }
    SendMessageW(hwnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(image));
}

HDC Win32WindowBackend::BeginPaint(HWND hwnd)
{
    PAINTSTRUCT ps{};
    HDC dc = ::BeginPaint(hwnd, &ps);
    if (dc != nullptr)
        m_paints[dc] = ps;
    return dc;
}

void Win32WindowBackend::EndPaint(HWND hwnd, HDC dc)
{
    auto it = m_paints.find(dc);
    if (it == m_paints.end())
        return;
    ::EndPaint(hwnd, &it->second);
    m_paints.erase(it);
}

void Win32WindowBackend::DrawIcon(HDC dc, int x, int y, HICON icon)
{
    ::DrawIcon(dc, x, y, icon);
}

int Win32WindowBackend::GetSystemMetrics(int index)
{
    return ::GetSystemMetrics(index);
}

LRESULT Win32WindowBackend::SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendMessageW(hwnd, message, wParam, lParam);
}

void Win32WindowBackend::BeginWaitCursor()
{
    HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
    if (m_waitDepth++ == 0)
        m_cursorBeforeWait = SetCursor(wait);
    else
        SetCursor(wait);
}

void Win32WindowBackend::EndWaitCursor()
{
    if (m_waitDepth == 0)
        return;
    if (--m_waitDepth == 0)
        SetCursor(m_cursorBeforeWait != nullptr ? m_cursorBeforeWait : LoadCursorW(nullptr, IDC_ARROW));
}

// -- List views ---------------------------------------------------------------------------------

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
    return static_cast<int>(SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col)));
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

BOOL Win32WindowBackend::PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PostMessageW(hwnd, message, wParam, lParam);
}

short Win32WindowBackend::GetKeyState(int vk)
{
    return ::GetKeyState(vk);
}

// -- Hyperlinks and the About box ---------------------------------------------------------------

std::uint32_t Win32WindowBackend::GetWindowStyle(HWND hwnd)
{
    return static_cast<std::uint32_t>(GetWindowLongW(hwnd, GWL_STYLE));
}

void Win32WindowBackend::SetWindowStyle(HWND hwnd, std::uint32_t style)
{
    SetWindowLongW(hwnd, GWL_STYLE, static_cast<LONG>(style));
}

AfxRect Win32WindowBackend::GetWindowRect(HWND hwnd)
{
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    return { r.left, r.top, r.right, r.bottom };
}

AfxPoint Win32WindowBackend::ClientToScreen(HWND hwnd, AfxPoint pt)
{
    POINT p{ pt.x, pt.y };
    ::ClientToScreen(hwnd, &p);
    return { p.x, p.y };
}

AfxPoint Win32WindowBackend::ScreenToClient(HWND hwnd, AfxPoint pt)
{
    POINT p{ pt.x, pt.y };
    ::ScreenToClient(hwnd, &p);
    return { p.x, p.y };
}

BOOL Win32WindowBackend::SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    return ::SetWindowPos(hwnd, insertAfter, x, y, cx, cy, flags);
}

void Win32WindowBackend::InvalidateRect(HWND hwnd, const AfxRect* rect, BOOL erase)
{
    if (rect == nullptr) {
        ::InvalidateRect(hwnd, nullptr, erase);
        return;
    }
    const RECT r{ rect->left, rect->top, rect->right, rect->bottom };
    ::InvalidateRect(hwnd, &r, erase);
}

std::uint32_t Win32WindowBackend::GetMessagePos()
{
    return static_cast<std::uint32_t>(::GetMessagePos());
}

void Win32WindowBackend::SetAccessibleLink(HWND control)
{
    m_accessibility.MarkLink(control);
}

HWND Win32WindowBackend::CreateToolTip(HWND parent, std::uint32_t style)
{
    return CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, parent, nullptr, m_instance, nullptr);
}

namespace {

// A tool of a tooltip: the owner's rectangle, without TTF_SUBCLASS (the owner relays its mouse
// messages itself).
TOOLINFOW ToolInfo(HWND owner, UINT_PTR toolId, const CString& text, const AfxRect& rect)
{
    TOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.hwnd = owner;
    ti.uId = toolId;
    ti.rect = { rect.left, rect.top, rect.right, rect.bottom };
    ti.lpszText = const_cast<wchar_t*>(WStr(text));
    return ti;
}

} // namespace

BOOL Win32WindowBackend::AddTool(HWND tip, HWND owner, UINT_PTR toolId, const CString& text, const AfxRect& rect)
{
    TOOLINFOW ti = ToolInfo(owner, toolId, text, rect);
    return SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)) != 0 ? TRUE : FALSE;
}

void Win32WindowBackend::UpdateTipText(HWND tip, HWND owner, UINT_PTR toolId, const CString& text)
{
    TOOLINFOW ti = ToolInfo(owner, toolId, text, AfxRect{});
    SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void Win32WindowBackend::RelayToolTipEvent(HWND tip, const AfxMsg& afx)
{
    // The queued message being offered carries its time and pointer position; the tooltip uses them.
    MSG msg{};
    if (&afx == m_pretranslatingAfx && m_pretranslating != nullptr) {
        msg = *m_pretranslating;
    } else {
        msg.time = static_cast<DWORD>(GetMessageTime());
        const DWORD pos = ::GetMessagePos();
        msg.pt = { static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos)) };
    }
    msg.hwnd = afx.hwnd;
    msg.message = afx.message;
    msg.wParam = afx.wParam;
    msg.lParam = afx.lParam;
    SendMessageW(tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}
