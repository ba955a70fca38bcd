#include "framework/dialog_manager.h"

#include <algorithm>

#include "framework/afxwin.h"

using namespace tpl_style;

DialogManager::Window* DialogManager::Find(HWND hwnd) const
{
    auto it = m_windows.find(hwnd);
    return it == m_windows.end() ? nullptr : it->second.get();
}

HWND DialogManager::AddWindow(std::unique_ptr<Window> window)
{
    HWND h = reinterpret_cast<HWND>(m_nextHandle);
    m_nextHandle += 0x10;
    window->hwnd = h;
    if (Window* p = Find(window->parent); p != nullptr && !window->isDialog)
        p->children.push_back(h);
    m_windows[h] = std::move(window);
    return h;
}

HWND DialogManager::DialogOf(HWND hwnd) const
{
    for (Window* w = Find(hwnd); w != nullptr; w = Find(w->parent)) {
        if (w->isDialog)
            return w->hwnd;
    }
    return nullptr;
}

LRESULT DialogManager::Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return 0;
    if (w->events != nullptr)
        return w->events->OnWindowMessage(hwnd, message, wParam, lParam);
    return DefWindowProc(hwnd, message, wParam, lParam);
}

void DialogManager::Notify(HWND control, UINT code)
{
    if (Window* w = Find(control))
        Send(w->parent, WM_COMMAND, MAKEWPARAM(w->id, code), reinterpret_cast<LPARAM>(control));
}

BOOL DialogManager::InitDialog(HWND dialog)
{
    const LRESULT focusFirst = Send(dialog, WM_INITDIALOG, 0, 0);
    if (Find(dialog) == nullptr)
        return FALSE;
    if (focusFirst != 0) {
        if (HWND first = NextTabStop(dialog, nullptr, false))
            SetFocus(first);
    }
    return TRUE;
}

bool DialogManager::PreTranslate(AfxMsg& msg)
{
    for (Window* w = Find(msg.hwnd); w != nullptr; w = Find(w->parent)) {
        if (w->events != nullptr && w->events->OnPreTranslateMessage(&msg))
            return true;
        if (w->isDialog)
            break;
    }
    return false;
}

short DialogManager::GetKeyState(int vk)
{
    const bool held = (vk == VK_SHIFT && m_shiftWithKey) || (vk == VK_CONTROL && m_ctrlWithKey);
    return held ? static_cast<short>(0x8000) : 0;
}

bool DialogManager::KeyDown(HWND target, UINT vk, bool shift, bool ctrl)
{
    AfxMsg msg{ target, WM_KEYDOWN, vk, 0 };
    m_shiftWithKey = shift;
    m_ctrlWithKey = ctrl;
    const bool taken = PreTranslate(msg);
    m_shiftWithKey = false;
    m_ctrlWithKey = false;
    if (taken)
        return true;
    if (vk == VK_F1) {
        if (HWND dialog = DialogOf(target)) {
            AfxHelpInfo info;
            Send(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            return true;
        }
    }
    return false;
}

void DialogManager::EndModalLoop(HWND dialog, int result)
{
    Window* d = Find(dialog);
    if (d == nullptr)
        return;
    d->ended = true;
    d->modalResult = result;
    ExitModalLoop(*d);
}

void DialogManager::Destroy(HWND hwnd)
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
    ReleaseWindow(*w);
    if (Window* p = Find(w->parent)) {
        auto& siblings = p->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), hwnd), siblings.end());
    }
    m_windows.erase(hwnd);
}

void DialogManager::DestroyWindow(HWND hwnd)
{
    Destroy(hwnd);
}

void DialogManager::SubclassWindow(HWND control, IWindowEvents* events)
{
    if (Window* w = Find(control))
        w->events = events;
}

IWindowEvents* DialogManager::GetWindowEvents(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->events : nullptr;
}

LRESULT DialogManager::DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    Window* w = Find(hwnd);
    if (w == nullptr)
        return 0;
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)
        return reinterpret_cast<LRESULT>(SystemColors(*w, reinterpret_cast<HDC>(wParam)));
    switch (message) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            return Send(hwnd, WM_CLOSE, 0, 0);
        case SC_MINIMIZE:
            Minimize(*w);
            return 0;
        case SC_MOVE:
            BeginMove(*w);
            return 0;
        default:
            return 0;
        }
    case WM_CLOSE:
        // A dialog closes as its Cancel button would.
        if (w->isDialog)
            return Send(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
        return 0;
    default:
        return 0;
    }
}

HWND DialogManager::NextTabStop(HWND dialog, HWND from, bool backwards)
{
    Window* d = Find(dialog);
    if (d == nullptr || d->children.empty())
        return nullptr;
    const auto& order = d->children;
    const int count = static_cast<int>(order.size());
    int start = backwards ? 0 : count - 1; // so that the first step lands on the first (last) one
    if (auto it = std::find(order.begin(), order.end(), from); it != order.end())
        start = static_cast<int>(it - order.begin());
    for (int step = 1; step <= count; ++step) {
        const int i = ((start + (backwards ? -step : step)) % count + count) % count;
        Window* w = Find(order[i]);
        if (w != nullptr && (w->style & TabStop) != 0 && (w->style & Visible) != 0 && IsWindowEnabled(w->hwnd))
            return w->hwnd;
    }
    return nullptr;
}

BOOL DialogManager::IsDialogMessage(HWND dialog, AfxMsg* msg)
{
    Window* d = Find(dialog);
    if (d == nullptr || msg->message != WM_KEYDOWN)
        return FALSE;
    switch (msg->wParam) {
    case VK_ESCAPE:
        Send(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
             reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        return TRUE;
    case VK_TAB:
        if (HWND next = NextTabStop(dialog, GetFocus(), m_shiftWithKey))
            SetFocus(next);
        return TRUE;
    case VK_RETURN: {
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
            if (!IsWindowEnabled(button)) {
                Beep();
                return TRUE;
            }
            id = b->id;
        }
        Send(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
        return TRUE;
    }
    default:
        return FALSE;
    }
}

HWND DialogManager::GetDlgItem(HWND dialog, int id)
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

int DialogManager::GetDlgCtrlID(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->id : 0;
}

HWND DialogManager::GetParent(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->parent : nullptr;
}

BOOL DialogManager::HasSystemMenu(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr && w->isDialog && (w->style & SysMenu) != 0;
}

std::uint32_t DialogManager::GetWindowStyle(HWND hwnd)
{
    Window* w = Find(hwnd);
    return w != nullptr ? w->style : 0;
}

void DialogManager::SetWindowStyle(HWND hwnd, std::uint32_t style)
{
    if (Window* w = Find(hwnd))
        w->style = style;
}
