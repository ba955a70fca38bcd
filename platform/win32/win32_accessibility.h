// The dialogs as a screen reader sees them (Microsoft Active Accessibility). The dialog manager
// names a field after the static text before it in the template; ours have their labels after
// the fields, so each control is annotated with oleacc's property service (IAccPropServices)
// with the name its template gives it (framework/accessible_text.h), and a value field with its
// text as its value.
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
    // The dialog is being destroyed: its controls' annotations go with it (the property service
    // keys them by handle, which the system hands out again).
    void Forget(HWND dialog);

private:
    bool Start();

    IAccPropServices* m_services = nullptr;
    bool m_started = false;
    bool m_comInitialized = false;
    std::map<HWND, std::vector<HWND>> m_named; // dialog → its annotated controls
    std::set<HWND> m_valueFields;
};
