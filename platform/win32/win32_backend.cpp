// The Win32 layer's dialogs: the routing of their messages to the framework, the making of a
// dialog from a template by the system's dialog manager, the modal loop, and messages and timers.
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
        auto* bitmap = static_cast<HBITMAP>(
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
    return CreateDialogIndirectParamW(m_instance, reinterpret_cast<LPCDLGTEMPLATEW>(data.data()), parent, &DialogProc,
                                      reinterpret_cast<LPARAM>(&ctx));
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

// -- Messages and timers -------------------------------------------------------------------

LRESULT Win32WindowBackend::SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendMessageW(hwnd, message, wParam, lParam);
}

BOOL Win32WindowBackend::PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return PostMessageW(hwnd, message, wParam, lParam);
}

short Win32WindowBackend::GetKeyState(int vk)
{
    return ::GetKeyState(vk);
}

UINT_PTR Win32WindowBackend::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs)
{
    return ::SetTimer(hwnd, id, elapseMs, nullptr);
}

BOOL Win32WindowBackend::KillTimer(HWND hwnd, UINT_PTR id)
{
    return ::KillTimer(hwnd, id);
}
