// The hyperlink control's view of the system: the shell, the registry's classes, WinExec, the
// exclamation sound and the help viewer's hand pointer, each passed through as it is.
#include "platform/win32/win32_include.h"

#include <shellapi.h>

#include "platform/win32/win32_shell.h"

std::intptr_t Win32ShellService::ShellOpen(const CString& target, int showCommand)
{
    HINSTANCE result = ShellExecuteW(nullptr, L"open", WStr(target), nullptr, nullptr, showCommand);
    return reinterpret_cast<std::intptr_t>(result);
}

std::int32_t Win32ShellService::RegOpenKey(HKEY root, const CString& subKey, std::uint32_t access, HKEY* key)
{
    return RegOpenKeyExW(root, WStr(subKey), 0, static_cast<REGSAM>(access), key);
}

std::int32_t Win32ShellService::RegQueryDefaultValue(HKEY key, char16_t* buffer, std::int32_t* bufferBytes)
{
    LONG bytes = *bufferBytes;
    const LONG error = RegQueryValueW(key, nullptr, reinterpret_cast<wchar_t*>(buffer), &bytes);
    *bufferBytes = bytes;
    return error;
}

std::int32_t Win32ShellService::RegCloseKey(HKEY key)
{
    return ::RegCloseKey(key);
}

BOOL Win32ShellService::ToAnsiCodePage(const CString& text, std::string* narrow)
{
    // With the terminator, so that an empty text still converts.
    const int length = static_cast<int>(text.size()) + 1;
    const int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, WStr(text), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return FALSE;
    std::string converted(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, WStr(text), length, converted.data(), bytes, nullptr, nullptr) != bytes)
        return FALSE;
    converted.pop_back(); // the terminator
    *narrow = std::move(converted);
    return TRUE;
}

UINT Win32ShellService::WinExec(const std::string& commandLine, int showCommand)
{
    return ::WinExec(commandLine.c_str(), static_cast<UINT>(showCommand));
}

void Win32ShellService::MessageBeep(UINT type)
{
    ::MessageBeep(type);
}

HCURSOR Win32ShellService::LoadHandCursor()
{
    wchar_t directory[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::wstring path(directory, length);
    path += L"\\winhlp32.exe";
    HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr)
        return nullptr;
    HCURSOR copy = nullptr;
    if (HCURSOR hand = LoadCursorW(module, MAKEINTRESOURCEW(106)))
        copy = CopyIcon(hand);
    FreeLibrary(module);
    return copy;
}

void Win32ShellService::DestroyCursor(HCURSOR cursor)
{
    if (cursor != nullptr)
        ::DestroyCursor(cursor);
}
