// Stand-in for oleacc's property service (CLSID_AccPropServices), registered in the test prefix
// for one case: it records the annotations the program makes (Wine's own service keeps none), one
// call a line: "SetHwndPropStr|<control id>|<property>|<text>", "SetHwndProp|<control id>|<property>|<number>"
// (a VT_I4 value, else "?"), "ClearHwndProps|<control id>|<count>".
#include "stub_common.h"

#include <initguid.h>
#include <oleacc.h>

namespace {

std::wstring PropertyName(const MSAAPROPID& id)
{
    if (IsEqualGUID(id, PROPID_ACC_NAME))
        return L"name";
    if (IsEqualGUID(id, PROPID_ACC_DESCRIPTION))
        return L"description";
    if (IsEqualGUID(id, PROPID_ACC_VALUE))
        return L"value";
    if (IsEqualGUID(id, PROPID_ACC_ROLE))
        return L"role";
    return L"other";
}

std::wstring Control(HWND hwnd)
{
    return stub::Num(static_cast<unsigned long long>(static_cast<long long>(GetDlgCtrlID(hwnd)) & 0xFFFF));
}

class PropServices final : public IAccPropServices {
public:
    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IAccPropServices)) {
            *out = static_cast<IAccPropServices*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG WINAPI Release() override
    {
        const LONG left = InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT WINAPI SetHwndPropStr(HWND hwnd, DWORD, DWORD, MSAAPROPID prop, LPCWSTR str) override
    {
        stub::Log(L"SetHwndPropStr|" + Control(hwnd) + L"|" + PropertyName(prop) + L"|" + stub::Quote(str));
        return S_OK;
    }
    HRESULT WINAPI SetHwndProp(HWND hwnd, DWORD, DWORD, MSAAPROPID prop, VARIANT value) override
    {
        const std::wstring number = value.vt == VT_I4 ? stub::Num(static_cast<unsigned long long>(value.lVal)) : L"?";
        stub::Log(L"SetHwndProp|" + Control(hwnd) + L"|" + PropertyName(prop) + L"|" + number);
        return S_OK;
    }
    HRESULT WINAPI ClearHwndProps(HWND hwnd, DWORD, DWORD, const MSAAPROPID*, int count) override
    {
        stub::Log(L"ClearHwndProps|" + Control(hwnd) + L"|" + stub::Num(static_cast<unsigned long long>(count)));
        return S_OK;
    }

    // Not used by the program.
    HRESULT WINAPI SetPropValue(const BYTE*, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI SetPropServer(const BYTE*, DWORD, const MSAAPROPID*, int, IAccPropServer*, AnnoScope) override
    {
        return E_NOTIMPL;
    }
    HRESULT WINAPI ClearProps(const BYTE*, DWORD, const MSAAPROPID*, int) override { return E_NOTIMPL; }
    HRESULT WINAPI SetHwndPropServer(HWND, DWORD, DWORD, const MSAAPROPID*, int, IAccPropServer*, AnnoScope) override
    {
        return E_NOTIMPL;
    }
    HRESULT WINAPI ComposeHwndIdentityString(HWND, DWORD, DWORD, BYTE**, DWORD*) override { return E_NOTIMPL; }
    HRESULT WINAPI DecomposeHwndIdentityString(const BYTE*, DWORD, HWND*, DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetHmenuProp(HMENU, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
    HRESULT WINAPI SetHmenuPropStr(HMENU, DWORD, MSAAPROPID, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT WINAPI SetHmenuPropServer(HMENU, DWORD, const MSAAPROPID*, int, IAccPropServer*, AnnoScope) override
    {
        return E_NOTIMPL;
    }
    HRESULT WINAPI ClearHmenuProps(HMENU, DWORD, const MSAAPROPID*, int) override { return E_NOTIMPL; }
    HRESULT WINAPI ComposeHmenuIdentityString(HMENU, DWORD, BYTE**, DWORD*) override { return E_NOTIMPL; }
    HRESULT WINAPI DecomposeHmenuIdentityString(const BYTE*, DWORD, HMENU*, DWORD*) override { return E_NOTIMPL; }

private:
    LONG m_refs = 1;
};

class Factory final : public IClassFactory {
public:
    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return 2; } // static
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        auto* services = new PropServices;
        const HRESULT hr = services->QueryInterface(iid, out);
        services->Release();
        return hr;
    }
    HRESULT WINAPI LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

} // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!IsEqualCLSID(clsid, CLSID_AccPropServices)) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE;
}
