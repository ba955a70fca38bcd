#include "installed_program.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "driver_support.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace {

// The target of a shell link (IShellLinkW::GetPath); empty when it cannot be read.
std::wstring ShortcutTarget(const std::wstring& shortcut)
{
    std::wstring target;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(file->Load(shortcut.c_str(), STGM_READ)) && SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
        file->Release();
    }
    link->Release();
    return target;
}

struct VersionResource {
    std::wstring productVersion; // StringFileInfo of the first translation
    std::wstring fileVersion;
    DWORD fixedMS = 0, fixedLS = 0; // VS_FIXEDFILEINFO's file version
};

// Read with the system's version library (GetFileVersionInfoW, VerQueryValueW).
VersionResource VersionOf(const std::wstring& file)
{
    VersionResource result;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return result;
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data()))
        return result;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && length >= sizeof *fixed) {
        result.fixedMS = fixed->dwFileVersionMS;
        result.fixedLS = fixed->dwFileVersionLS;
    }
    struct Translation {
        WORD language, codePage;
    }* translations = nullptr;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length) ||
        length < sizeof *translations)
        return result;
    auto text = [&](const wchar_t* name) {
        wchar_t key[64];
        std::swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translations->language, translations->codePage,
                      name);
        wchar_t* value = nullptr;
        return VerQueryValueW(data.data(), key, reinterpret_cast<void**>(&value), &length) && value != nullptr
                   ? std::wstring(value)
                   : std::wstring();
    };
    result.productVersion = text(L"ProductVersion");
    result.fileVersion = text(L"FileVersion");
    return result;
}

std::wstring ImageOf(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return {};
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    std::wstring image = QueryFullProcessImageNameW(process, 0, path, &length) ? std::wstring(path, length) : L"";
    CloseHandle(process);
    return image;
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace

int CheckInstalledProgram(const std::wstring& shortcut, const std::wstring& installer, const std::wstring& version,
                          const std::wstring& ready, const std::wstring& done)
{
    int failed = 0;
    auto report = [&](bool passed, const std::string& what) {
        std::printf("%s - %s\n", passed ? "ok" : "not ok", what.c_str());
        std::fflush(stdout);
        failed += passed ? 0 : 1;
        return passed;
    };
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    const std::wstring target = ShortcutTarget(shortcut);
    report(target.size() > 11 && SamePath(target.substr(target.size() - 11), L"\\zeltor.exe") &&
               GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES,
           "the Start-menu shortcut leads to the installed zeltor.exe (" + Utf8(target) + ")");

    // 9.09.01 reads 9.9.1.0 in the fixed part, which holds numbers.
    const VersionResource program = VersionOf(target);
    report(program.productVersion == version && program.fileVersion == version,
           "the program's version resource says " + Utf8(version) + " (product " + Utf8(program.productVersion) +
               ", file " + Utf8(program.fileVersion) + ")");
    report(program.fixedMS == MAKELONG(9, 9) && program.fixedLS == MAKELONG(0, 1),
           "the program's file version is 9.9.1.0");
    const VersionResource setup = VersionOf(installer);
    report(setup.productVersion == version && setup.fixedMS == MAKELONG(9, 9) && setup.fixedLS == MAKELONG(0, 1),
           "the installer's version resource says " + Utf8(version) + " (" + Utf8(setup.productVersion) + ")");

    // Opened through the shortcut, as a click in the Start menu does.
    const HINSTANCE opened = ShellExecuteW(nullptr, L"open", shortcut.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    report(reinterpret_cast<INT_PTR>(opened) > 32, "the shell opens the shortcut");
    HWND main = nullptr;
    WaitUntil([&] { return (main = FindWindowW(L"#32770", L"Zeltor")) != nullptr && IsWindowVisible(main); }, 30000);
    if (!report(main != nullptr, "the installed program shows its main window"))
        return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    report(SamePath(ImageOf(pid), target), "the window belongs to the installed program (" + Utf8(ImageOf(pid)) + ")");
    report(TextOf(GetDlgItem(main, 2)) == L"Close", "its Close button is there");

    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    BringToFront(main);
    RECT r{};
    GetWindowRect(main, &r);
    char line[64];
    std::snprintf(line, sizeof line, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    HANDLE file = CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    CloseHandle(file);
    WaitUntil([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 120000);

    Click(GetDlgItem(main, 2));
    report(process != nullptr && WaitForSingleObject(process, 15000) == WAIT_OBJECT_0,
           "Close ends the installed program");
    if (process != nullptr)
        CloseHandle(process);
    CoUninitialize();
    return failed == 0 ? 0 : 1;
}
