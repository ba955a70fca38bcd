#include "platform/win32/win32_accessibility.h"

#include <algorithm>
#include <iterator>

#include <initguid.h> // the property ids below are defined here, not in a library

#include <objbase.h>
#include <oleacc.h>

#include "framework/accessible_text.h"
#include "framework/dialog_template.h"

Win32Accessibility::~Win32Accessibility()
{
    while (!m_named.empty())
        Forget(m_named.begin()->first);
    if (m_services != nullptr)
        m_services->Release();
    if (m_comInitialized)
        CoUninitialize();
}

bool Win32Accessibility::Start()
{
    if (!m_started) {
        m_started = true;
        // S_FALSE (already initialised on this thread) also needs its CoUninitialize.
        const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        m_comInitialized = SUCCEEDED(init);
        if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                    reinterpret_cast<void**>(&m_services))))
            m_services = nullptr;
    }
    return m_services != nullptr;
}

void Win32Accessibility::NameControls(HWND dialog, const DialogTemplate& tpl)
{
    if (!Start())
        return;
    // The controls are the dialog's children in template order.
    HWND control = GetWindow(dialog, GW_CHILD);
    for (std::size_t i = 0; i < tpl.controls.size() && control != nullptr;
         ++i, control = GetWindow(control, GW_HWNDNEXT)) {
        const AccessibleText text = AfxAccessibleText(tpl, i);
        // The control's text is still its template's. A button's or a label's name is its text
        // already, and stays so if the text changes.
        const CString own = tpl.controls[i].text;
        if (text.name.empty() || (!text.valueField && text.description.empty() && text.name == own))
            continue;
        m_services->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME, WStr(text.name));
        if (!text.description.empty())
            m_services->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                                       WStr(text.description));
        if (text.valueField) {
            m_services->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_VALUE, WStr(own));
            m_valueFields.insert(control);
        }
        Annotated(control);
    }
}

void Win32Accessibility::MarkLink(HWND control)
{
    if (!Start())
        return;
    VARIANT role;
    VariantInit(&role);
    role.vt = VT_I4;
    role.lVal = ROLE_SYSTEM_LINK;
    if (SUCCEEDED(m_services->SetHwndProp(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_ROLE, role)))
        Annotated(control);
}

void Win32Accessibility::Annotated(HWND control)
{
    std::vector<HWND>& annotated = m_named[GetParent(control)];
    if (std::find(annotated.begin(), annotated.end(), control) == annotated.end())
        annotated.push_back(control);
}

void Win32Accessibility::TextChanged(HWND control, const CString& text)
{
    if (m_services == nullptr || !m_valueFields.contains(control))
        return;
    m_services->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_VALUE, WStr(text));
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
}

void Win32Accessibility::Forget(HWND dialog)
{
    auto it = m_named.find(dialog);
    if (it == m_named.end())
        return;
    static const MSAAPROPID kProps[] = { PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION, PROPID_ACC_VALUE, PROPID_ACC_ROLE };
    for (HWND control : it->second) {
        m_services->ClearHwndProps(control, OBJID_CLIENT, CHILDID_SELF, kProps, static_cast<int>(std::size(kProps)));
        m_valueFields.erase(control);
    }
    m_named.erase(it);
}
