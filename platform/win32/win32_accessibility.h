// The dialogs as a screen reader sees them (Microsoft Active Accessibility). The dialog manager
// names a field after the static text before it in the template; ours have their labels after
// the fields, so each control is annotated with oleacc's property service (IAccPropServices)
// with the name its template gives it (framework/accessible_text.h), a value field with its
// text as its value, and a hyperlink with the role of a link.
#pragma once

#include "platform/win32/win32_include.h"

#include <map>
#include <set>
#include <vector>

struct DialogTemplate;
struct IAccPropServices;

class Win32Accessibility {
public:
    Win32Accessibility() = default;
    ~Win32Accessibility();
    Win32Accessibility(const Win32Accessibility&) = delete;
    Win32Accessibility& operator=(const Win32Accessibility&) = delete;

    // Annotates the controls of a dialog just made from tpl. Without the property service
    // (oleacc missing, COM refused) the controls keep the system's names.
    void NameControls(HWND dialog, const DialogTemplate& tpl);
    // The text of a control changed: a value field's value follows it, and the change is
    // announced (EVENT_OBJECT_VALUECHANGE) as one of the named field.
    void TextChanged(HWND control, const CString& text);
    // A hyperlink's static: role ROLE_SYSTEM_LINK, its name still its text. The property service
    // sets properties only, not what accDoDefaultAction does; the static's own accessible has no
    // default action, so none is announced (a reader clicks the link where it is drawn).
    void MarkLink(HWND control);
    // The dialog is being destroyed: its controls' annotations go with it (the property service
    // keys them by handle, which the system hands out again).
    void Forget(HWND dialog);

private:
    bool Start();
    void Annotated(HWND control);

    IAccPropServices* m_services = nullptr;
    bool m_started = false;
    bool m_comInitialized = false;
    std::map<HWND, std::vector<HWND>> m_named; // dialog → its annotated controls
    std::set<HWND> m_valueFields;
};
