#include "tests/headless/headless_backend.h"

#include <algorithm>
#include <chrono>

#include "framework/afxwin.h"

using namespace tpl_style;

namespace {

AfxLogFont MakeFont(const char16_t* face, int height)
{
    AfxLogFont lf;
    lf.lfHeight = height;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    for (int i = 0; face[i] != u'\0' && i < 31; ++i)
        lf.lfFaceName[i] = face[i];
    return lf;
}

// Where the headless screen puts dialogs, and the size of their frame and caption.
constexpr AfxPoint kDialogOrigin{ 200, 100 };
constexpr int kFrame = 3;
constexpr int kCaption = 26;

} // namespace

HeadlessBackend::HeadlessBackend()
{
    using K = GdiObject::Kind;
    m_dialogFont = static_cast<HFONT>(NewSystemObject({ K::Font, MakeFont(u"MS Shell Dlg", -11) }));
    m_stock[DEFAULT_GUI_FONT] = NewSystemObject({ K::Font, MakeFont(u"MS Shell Dlg", -11) });
    m_stock[ANSI_VAR_FONT] = NewSystemObject({ K::Font, MakeFont(u"MS Sans Serif", -11) });
    m_stock[NULL_BRUSH] = NewSystemObject({ K::Brush, {} });
    systemBrush = static_cast<HBRUSH>(NewSystemObject({ K::Brush, {} }));
}

HeadlessBackend::~HeadlessBackend() = default;

HeadlessBackend::Window* HeadlessBackend::Find(HWND hwnd)
{
    // Every record of this layer's table is one of its own.
    return static_cast<Window*>(DialogManager::Find(hwnd));
}

HeadlessBackend::Window* HeadlessBackend::NewWindow(HWND parent, bool isDialog)
{
    auto w = std::make_unique<Window>();
    w->parent = parent;
    w->isDialog = isDialog;
    return Find(AddWindow(std::move(w)));
}

// -- Driving ------------------------------------------------------------------------------------

void HeadlessBackend::Click(HWND control)
{
    Window* w = Find(control);
    if (w == nullptr || !w->enabled)
        return;
    // A static text tells its parent of clicks only with SS_NOTIFY (STN_CLICKED).
    if (w->cls == ControlClass::Static && (w->style & SsNotify) == 0)
        return;
    if (w->cls == ControlClass::Button && (w->style & BsTypeMask) == BsAutoCheckBox)
        w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    Notify(control, BN_CLICKED);
}

void HeadlessBackend::Type(HWND edit, const CString& text)
{
    Window* w = Find(edit);
    if (w == nullptr || !w->enabled || (w->style & EsReadOnly) != 0)
        return;
    SetWindowText(edit, text);
}

void HeadlessBackend::KeyDown(UINT vk, HWND target, bool shift, bool ctrl)
{
    DialogManager::KeyDown(target != nullptr ? target : m_focus, vk, shift, ctrl);
}

bool HeadlessBackend::Tick(HWND hwnd, UINT_PTR id)
{
    if (!IsTimerRunning(hwnd, id))
        return false;
    Send(hwnd, WM_TIMER, id, 0);
    return true;
}

bool HeadlessBackend::IsTimerRunning(HWND hwnd, UINT_PTR id) const
{
    return m_timers.contains({ hwnd, id });
}

UINT HeadlessBackend::TimerPeriod(HWND hwnd, UINT_PTR id) const
{
    auto it = m_timers.find({ hwnd, id });
    return it == m_timers.end() ? 0 : it->second;
}

void HeadlessBackend::SystemCommand(HWND dialog, UINT id)
{
    Send(dialog, WM_SYSCOMMAND, id, 0);
}

void HeadlessBackend::SelectListItem(HWND list, int index)
{
    Window* w = Find(list);
    if (w == nullptr)
        return;
    w->selected.clear();
    if (index >= 0 && index < static_cast<int>(w->items.size()))
        w->selected.insert(index);
    AfxNotifyHeader hdr{ list, static_cast<UINT_PTR>(w->id), LVN_ITEMCHANGED };
    Send(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&hdr));
}

void HeadlessBackend::ClickListColumn(HWND list, int column)
{
    Window* w = Find(list);
    if (w == nullptr || !w->enabled)
        return;
    AfxNmListView nm{ { list, static_cast<UINT_PTR>(w->id), LVN_COLUMNCLICK }, -1, column };
    Send(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&nm));
}

void HeadlessBackend::DoubleClickListItem(HWND list, int index)
{
    Window* w = Find(list);
    if (w == nullptr || !w->enabled)
        return;
    // The first click of the two selects the item.
    SelectListItem(list, index);
    w->focusedItem = index;
    AfxNmListView nm{ { list, static_cast<UINT_PTR>(w->id), NM_DBLCLK }, index, 0 };
    Send(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&nm));
}

void HeadlessBackend::SetIconic(HWND hwnd, bool iconic, AfxRect client)
{
    if (Window* w = Find(hwnd)) {
        w->iconic = iconic;
        w->client = client;
    }
}

// -- IWindowBackend -------------------------------------------------------------------------------

void HeadlessBackend::InitCommonControls(std::uint32_t, std::uint32_t classes)
{
    commonControlsClasses = classes;
}

HWND HeadlessBackend::CreateDialogWindow(const DialogTemplate& tpl, HWND parent, IWindowEvents* events)
{
    Window* d = NewWindow(parent, true);
    const HWND dlg = d->hwnd;
    d->text = tpl.caption;
    d->style = tpl.style;
    d->exStyle = tpl.exStyle;
    d->events = events;
    d->client = { 0, 0, tpl.cx * 3 / 2, tpl.cy * 2 };
    d->borderX = kFrame;
    d->borderTop = kCaption;
    d->borderBottom = kFrame;
    d->window = { kDialogOrigin.x, kDialogOrigin.y, kDialogOrigin.x + d->client.right + 2 * kFrame,
                  kDialogOrigin.y + d->client.bottom + kCaption + kFrame };
    d->font = m_dialogFont;
    const AfxPoint origin = ClientOrigin(d);
    for (const ControlTemplate& c : tpl.controls) {
        Window* w = NewWindow(dlg, false);
        w->id = c.id;
        w->cls = c.cls;
        w->style = c.style;
        w->exStyle = c.exStyle;
        w->text = c.text;
        w->enabled = (c.style & Disabled) == 0;
        const int border = (c.style & Border) != 0 ? 1 : 0;
        w->borderX = w->borderTop = w->borderBottom = border;
        const int left = origin.x + c.x * 3 / 2;
        const int top = origin.y + c.y * 2;
        w->window = { left, top, left + c.cx * 3 / 2, top + c.cy * 2 };
        w->client = { 0, 0, w->window.Width() - 2 * border, w->window.Height() - 2 * border };
        w->font = controlsHaveFont ? m_dialogFont : nullptr;
    }
    InitDialog(dlg);
    return dlg;
}

int HeadlessBackend::RunModalLoop(HWND dialog)
{
    Window* d = Find(dialog);
    if (d == nullptr)
        return -1;
    d->modalRunning = true;
    if (m_nextScript < modalScripts.size()) {
        auto script = modalScripts[m_nextScript++];
        script(dialog);
    }
    d = Find(dialog);
    if (d == nullptr)
        return -1;
    d->modalRunning = false;
    // A script that leaves the dialog open has nothing more to do: the loop gives up like a
    // window whose modal loop failed.
    return d->ended ? d->modalResult : -1;
}

void HeadlessBackend::ExitModalLoop(DialogManager::Window&)
{
    // The script that runs as the modal loop returns by itself.
}

void HeadlessBackend::ReleaseWindow(DialogManager::Window& window)
{
    for (auto it = m_timers.begin(); it != m_timers.end();)
        it = it->first.first == window.hwnd ? m_timers.erase(it) : std::next(it);
    if (m_focus == window.hwnd)
        m_focus = nullptr;
}

void HeadlessBackend::Minimize(DialogManager::Window& window)
{
    static_cast<Window&>(window).iconic = true;
}

void HeadlessBackend::BeginMove(DialogManager::Window&)
{
    // The headless screen has no pointer to move a window with.
}

HBRUSH HeadlessBackend::SystemColors(DialogManager::Window&, HDC dc)
{
    // Window text on the dialog's face colour.
    SetTextColor(dc, 0);
    SetBkMode(dc, OPAQUE);
    return systemBrush;
}

CString HeadlessBackend::GetWindowText(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->text : CString();
}

void HeadlessBackend::SetWindowText(HWND hwnd, const CString& text)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return;
    w->text = text;
    ++w->textWrites;
    // An edit control tells its parent of every change of its text, set by the program or typed.
    if (w->cls == ControlClass::Edit)
        Send(w->parent, WM_COMMAND, MAKEWPARAM(w->id, EN_CHANGE), reinterpret_cast<LPARAM>(hwnd));
}

void HeadlessBackend::EnableWindow(HWND hwnd, BOOL enable)
{
    if (Window* w = Find(hwnd))
        w->enabled = enable != FALSE;
}

BOOL HeadlessBackend::IsWindowEnabled(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr && w->enabled;
}

void HeadlessBackend::SetFocus(HWND hwnd)
{
    m_focus = hwnd;
}

HWND HeadlessBackend::GetFocus()
{
    return m_focus;
}

BOOL HeadlessBackend::IsIconic(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr && w->iconic;
}

AfxRect HeadlessBackend::GetClientRect(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->client : AfxRect{};
}

int HeadlessBackend::GetCheck(HWND button)
{
    Window* w = Find(button);
    return w != nullptr ? w->check : 0;
}

void HeadlessBackend::SetCheck(HWND button, int state)
{
    if (Window* w = Find(button))
        w->check = state;
}

UINT_PTR HeadlessBackend::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs)
{
    if (Find(hwnd) == nullptr)
        return 0;
    m_timers[{ hwnd, id }] = elapseMs;
    return id;
}

BOOL HeadlessBackend::KillTimer(HWND hwnd, UINT_PTR id)
{
    return m_timers.erase({ hwnd, id }) != 0;
}

int HeadlessBackend::MessageBox(HWND owner, const CString& text, const CString& caption, UINT type)
{
    messageBoxes.push_back({ owner, text, caption, type });
    if (onMessageBox)
        onMessageBox(messageBoxes.back());
    return IDOK;
}

void HeadlessBackend::AppendSystemMenu(HWND, UINT flags, UINT_PTR id, const CString& text)
{
    systemMenu.push_back({ flags, id, text });
}

HICON HeadlessBackend::LoadIcon(UINT resourceId)
{
    return reinterpret_cast<HICON>(static_cast<std::uintptr_t>(0x10000 + resourceId));
}

void HeadlessBackend::SetIcon(HWND, HICON icon, BOOL big)
{
    iconsSet.emplace_back(icon, big);
}

HDC HeadlessBackend::BeginPaint(HWND)
{
    return reinterpret_cast<HDC>(static_cast<std::uintptr_t>(0xDC));
}

void HeadlessBackend::EndPaint(HWND, HDC) {}

void HeadlessBackend::DrawIcon(HDC, int x, int y, HICON)
{
    iconsDrawn.push_back({ x, y });
}

int HeadlessBackend::GetSystemMetrics(int index)
{
    return index == SM_CXICON || index == SM_CYICON ? systemIconSize : 0;
}

LRESULT HeadlessBackend::SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    sentMessages.push_back(message);
    return Send(hwnd, message, wParam, lParam);
}

void HeadlessBackend::BeginWaitCursor()
{
    ++waitCursorDepth;
    ++waitCursorCount;
}

void HeadlessBackend::EndWaitCursor()
{
    --waitCursorDepth;
}

int HeadlessBackend::InsertListItem(HWND list, int index, const CString& text)
{
    Window* w = Find(list);
    if (w == nullptr)
        return -1;
    index = std::clamp(index, 0, static_cast<int>(w->items.size()));
    w->items.insert(w->items.begin() + index, text);
    w->subItems.insert(w->subItems.begin() + index, std::vector<CString>());
    return index;
}

int HeadlessBackend::GetListSelectedCount(HWND list)
{
    Window* w = Find(list);
    return w != nullptr ? static_cast<int>(w->selected.size()) : 0;
}

int HeadlessBackend::GetListNextItem(HWND list, int start, UINT flags)
{
    Window* w = Find(list);
    if (w == nullptr)
        return -1;
    for (int i = start + 1; i < static_cast<int>(w->items.size()); ++i) {
        if ((flags & LVNI_SELECTED) == 0 || w->selected.contains(i))
            return i;
    }
    return -1;
}

CString HeadlessBackend::GetListItemText(HWND list, int index, int subItem)
{
    Window* w = Find(list);
    if (w == nullptr || index < 0 || index >= static_cast<int>(w->items.size()) || subItem < 0)
        return CString();
    if (subItem == 0)
        return w->items[static_cast<size_t>(index)];
    const std::vector<CString>& cells = w->subItems[static_cast<size_t>(index)];
    return static_cast<size_t>(subItem) < cells.size() ? cells[static_cast<size_t>(subItem)] : CString();
}

int HeadlessBackend::InsertListColumn(HWND list, int column, const CString& heading, int)
{
    Window* w = Find(list);
    if (w == nullptr || column < 0)
        return -1;
    column = std::min(column, static_cast<int>(w->columns.size()));
    w->columns.insert(w->columns.begin() + column, heading);
    return column;
}

BOOL HeadlessBackend::SetListItemText(HWND list, int index, int subItem, const CString& text)
{
    Window* w = Find(list);
    if (w == nullptr || index < 0 || index >= static_cast<int>(w->items.size()) || subItem < 0)
        return FALSE;
    if (subItem == 0) {
        w->items[static_cast<size_t>(index)] = text;
        return TRUE;
    }
    std::vector<CString>& cells = w->subItems[static_cast<size_t>(index)];
    if (cells.size() <= static_cast<size_t>(subItem))
        cells.resize(static_cast<size_t>(subItem) + 1);
    cells[static_cast<size_t>(subItem)] = text;
    return TRUE;
}

int HeadlessBackend::GetListItemCount(HWND list)
{
    Window* w = Find(list);
    return w != nullptr ? static_cast<int>(w->items.size()) : 0;
}

BOOL HeadlessBackend::DeleteAllListItems(HWND list)
{
    Window* w = Find(list);
    if (w == nullptr)
        return FALSE;
    w->items.clear();
    w->subItems.clear();
    w->selected.clear();
    w->focusedItem = -1;
    return TRUE;
}

void HeadlessBackend::SetListSelection(HWND list, int index)
{
    Window* w = Find(list);
    if (w == nullptr)
        return;
    w->selected.clear();
    w->focusedItem = -1;
    if (index >= 0 && index < static_cast<int>(w->items.size())) {
        w->selected.insert(index);
        w->focusedItem = index;
    }
}

void HeadlessBackend::SetListSortIndicator(HWND list, int column, BOOL ascending)
{
    if (Window* w = Find(list))
        w->sortIndicator = { column, ascending };
}

BOOL HeadlessBackend::PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    {
        const std::lock_guard lock(m_postedMutex);
        m_postedMessages.push_back(AfxMsg{ hwnd, message, wParam, lParam });
    }
    m_posted.notify_all();
    return TRUE;
}

int HeadlessBackend::DeliverPostedMessages()
{
    std::deque<AfxMsg> messages;
    {
        const std::lock_guard lock(m_postedMutex);
        messages.swap(m_postedMessages);
    }
    for (const AfxMsg& m : messages) {
        if (Find(m.hwnd) != nullptr)
            Send(m.hwnd, m.message, m.wParam, m.lParam);
    }
    return static_cast<int>(messages.size());
}

bool HeadlessBackend::WaitForPostedMessage(int timeoutMs)
{
    std::unique_lock lock(m_postedMutex);
    return m_posted.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !m_postedMessages.empty(); });
}

// -- Hyperlinks and the About box -------------------------------------------------------------

HGDIOBJ HeadlessBackend::NewObject(GdiObject object)
{
    auto* h = reinterpret_cast<HGDIOBJ>(m_nextObject);
    m_nextObject += 0x10;
    m_objects[h] = object;
    return h;
}

HGDIOBJ HeadlessBackend::NewSystemObject(GdiObject object)
{
    auto* h = reinterpret_cast<HGDIOBJ>(m_nextObject);
    m_nextObject += 0x10;
    m_systemObjects[h] = object;
    return h;
}

const HeadlessBackend::GdiObject* HeadlessBackend::FindObject(HGDIOBJ object) const
{
    if (auto it = m_objects.find(object); it != m_objects.end())
        return &it->second;
    if (auto it = m_systemObjects.find(object); it != m_systemObjects.end())
        return &it->second;
    return nullptr;
}

const AfxLogFont* HeadlessBackend::FontDescription(HFONT font) const
{
    const GdiObject* o = FindObject(font);
    return o != nullptr && o->kind == GdiObject::Font ? &o->font : nullptr;
}

AfxPoint HeadlessBackend::ClientOrigin(const Window* w) const
{
    return { w->window.left + w->borderX, w->window.top + w->borderTop };
}

void HeadlessBackend::MouseMove(HWND control, AfxPoint client)
{
    Window* w = Find(control);
    if (w == nullptr)
        return;
    pointer = ClientToScreen(control, client);
    AfxMsg msg{ control, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y) };
    if (PreTranslate(msg))
        return;
    if (Send(control, WM_SETCURSOR, reinterpret_cast<WPARAM>(control), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)) == 0)
        currentCursor = nullptr; // the class cursor, the arrow
    Send(control, WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
}

HeadlessBackend::CtlColorAnswer HeadlessBackend::RequestCtlColor(HWND control)
{
    Window* w = Find(control);
    if (w == nullptr)
        return { nullptr, 0, 0 };
    HDC dc = reinterpret_cast<HDC>(m_nextObject);
    m_nextObject += 0x10;
    m_dcs[dc] = DcState{};
    UINT message = WM_CTLCOLORSTATIC;
    if (w->cls == ControlClass::Button)
        message = WM_CTLCOLORMSGBOX + CTLCOLOR_BTN;
    else if (w->cls == ControlClass::Edit)
        message = WM_CTLCOLORMSGBOX + CTLCOLOR_EDIT;
    const LRESULT brush = Send(w->parent, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
    const DcState state = m_dcs[dc];
    m_dcs.erase(dc);
    return { reinterpret_cast<HBRUSH>(brush), state.text, state.bkMode };
}

std::vector<HeadlessBackend::Window*> HeadlessBackend::ToolTipsOf(HWND owner)
{
    std::vector<Window*> out;
    for (const auto& [h, record] : Windows()) {
        auto* w = static_cast<Window*>(record.get());
        if (w->isToolTip && w->parent == owner)
            out.push_back(w);
    }
    return out;
}

AfxRect HeadlessBackend::GetWindowRect(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->window : AfxRect{};
}

AfxPoint HeadlessBackend::ClientToScreen(HWND hwnd, AfxPoint pt)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return pt;
    const AfxPoint o = ClientOrigin(w);
    return { pt.x + o.x, pt.y + o.y };
}

AfxPoint HeadlessBackend::ScreenToClient(HWND hwnd, AfxPoint pt)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return pt;
    const AfxPoint o = ClientOrigin(w);
    return { pt.x - o.x, pt.y - o.y };
}

BOOL HeadlessBackend::SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return FALSE;
    AfxPoint origin{ 0, 0 };
    if (Window* p = Find(w->parent); p != nullptr && !w->isDialog)
        origin = ClientOrigin(p);
    AfxRect r = w->window;
    if ((flags & SWP_NOMOVE) == 0)
        r = { origin.x + x, origin.y + y, origin.x + x + r.Width(), origin.y + y + r.Height() };
    if ((flags & SWP_NOSIZE) == 0) {
        r.right = r.left + cx;
        r.bottom = r.top + cy;
    }
    w->window = r;
    w->client = { 0, 0, r.Width() - 2 * w->borderX, r.Height() - w->borderTop - w->borderBottom };
    w->moves.push_back({ r.left - origin.x, r.top - origin.y, r.right - origin.x, r.bottom - origin.y });
    return TRUE;
}

void HeadlessBackend::InvalidateRect(HWND hwnd, const AfxRect* rect, BOOL erase)
{
    if (Window* w = Find(hwnd))
        w->invalidations.push_back({ rect == nullptr, rect != nullptr ? *rect : w->client, erase });
}

HFONT HeadlessBackend::GetWindowFont(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->font : nullptr;
}

void HeadlessBackend::SetWindowFont(HWND hwnd, HFONT font, BOOL)
{
    if (Window* w = Find(hwnd)) {
        w->font = font;
        w->fontsSet.push_back(font);
    }
}

BOOL HeadlessBackend::GetFontDescription(HFONT font, AfxLogFont* description)
{
    const AfxLogFont* lf = FontDescription(font);
    if (lf == nullptr)
        return FALSE;
    *description = *lf;
    return TRUE;
}

HFONT HeadlessBackend::CreateFontIndirect(const AfxLogFont& description)
{
    ++fontsCreated;
    return static_cast<HFONT>(NewObject({ GdiObject::Font, description }));
}

AfxSize HeadlessBackend::GetTextExtent(HWND, HFONT font, const CString& text)
{
    extentFonts.push_back(font);
    return { textCharWidth * text.GetLength(), textHeight };
}

HGDIOBJ HeadlessBackend::GetStockObject(int index)
{
    if (index == DEFAULT_GUI_FONT && !stockGuiFontAvailable)
        return nullptr;
    auto it = m_stock.find(index);
    return it != m_stock.end() ? it->second : nullptr;
}

BOOL HeadlessBackend::DeleteObject(HGDIOBJ object)
{
    return m_objects.erase(object) != 0;
}

COLORREF HeadlessBackend::SetTextColor(HDC dc, COLORREF color)
{
    auto it = m_dcs.find(dc);
    if (it == m_dcs.end())
        return 0;
    const COLORREF old = it->second.text;
    it->second.text = color;
    return old;
}

int HeadlessBackend::SetBkMode(HDC dc, int mode)
{
    auto it = m_dcs.find(dc);
    if (it == m_dcs.end())
        return 0;
    const int old = it->second.bkMode;
    it->second.bkMode = mode;
    return old;
}

void HeadlessBackend::FillRect(HDC dc, const AfxRect& rect, HBRUSH brush)
{
    const GdiObject* o = FindObject(brush);
    fills.push_back({ dc, rect, brush, o != nullptr ? o->bitmapId : 0 });
}

HBITMAP HeadlessBackend::LoadBitmap(UINT resourceId)
{
    if (!bitmapsAvailable || AfxFindImageResource(resourceId).empty())
        return nullptr;
    GdiObject o{ GdiObject::Bitmap, {} };
    o.bitmapId = resourceId;
    return static_cast<HBITMAP>(NewObject(o));
}

HBRUSH HeadlessBackend::CreatePatternBrush(HBITMAP bitmap)
{
    const GdiObject* b = FindObject(bitmap);
    if (b == nullptr || b->kind != GdiObject::Bitmap)
        return nullptr;
    GdiObject o{ GdiObject::Brush, {} };
    o.bitmapId = b->bitmapId;
    return static_cast<HBRUSH>(NewObject(o));
}

HCURSOR HeadlessBackend::SetCursor(HCURSOR cursor)
{
    const HCURSOR old = currentCursor;
    currentCursor = cursor;
    cursorsSet.push_back(cursor);
    return old;
}

std::uint32_t HeadlessBackend::GetMessagePos()
{
    return static_cast<std::uint32_t>(static_cast<unsigned short>(pointer.x)) |
           (static_cast<std::uint32_t>(static_cast<unsigned short>(pointer.y)) << 16);
}

void HeadlessBackend::SetAccessibleLink(HWND control)
{
    if (Window* w = Find(control))
        w->accessibleLink = true;
}

HWND HeadlessBackend::CreateToolTip(HWND parent, std::uint32_t style)
{
    Window* w = NewWindow(parent, false);
    w->isToolTip = true;
    w->style = style;
    return w->hwnd;
}

BOOL HeadlessBackend::AddTool(HWND tip, HWND owner, UINT_PTR toolId, const CString& text, const AfxRect& rect)
{
    Window* w = Find(tip);
    if (w == nullptr || !w->isToolTip)
        return FALSE;
    w->tools.push_back({ owner, toolId, text, rect });
    return TRUE;
}

void HeadlessBackend::UpdateTipText(HWND tip, HWND owner, UINT_PTR toolId, const CString& text)
{
    Window* w = Find(tip);
    if (w == nullptr)
        return;
    for (Window::Tool& t : w->tools) {
        if (t.owner == owner && t.id == toolId)
            t.text = text;
    }
}

void HeadlessBackend::RelayToolTipEvent(HWND tip, const AfxMsg&)
{
    if (Window* w = Find(tip))
        ++w->relayed;
}
