// What the hyperlink control needs of the operating system besides its window: handing a target
// to the shell, reading the registered handler of web documents, running a command line, the
// exclamation sound and the hand pointer. The Win32 layer passes each call through to the API
// named beside it; other platforms supply equivalents with the same results.
#pragma once

#include <cstdint>
#include <string>

#include "framework/afx_types.h"
#include "framework/cstring.h"

// Registry keys, declared as <windows.h> declares them under STRICT.
struct HKEY__;
typedef HKEY__* HKEY;

#ifndef HKEY_CLASSES_ROOT
#define HKEY_CLASSES_ROOT ((HKEY)(std::uintptr_t)(std::intptr_t)(std::int32_t)0x80000000)
#endif
#ifndef KEY_QUERY_VALUE
#define KEY_QUERY_VALUE 0x0001
#endif

// Win32 error codes that the registry calls return (winerror.h).
#ifndef ERROR_SUCCESS
#define ERROR_SUCCESS 0L
#endif
#ifndef ERROR_FILE_NOT_FOUND
#define ERROR_FILE_NOT_FOUND 2L
#endif
#ifndef ERROR_MORE_DATA
#define ERROR_MORE_DATA 234L
#endif

class IShellService {
public:
    virtual ~IShellService() = default;

    // ShellExecuteW(nullptr, L"open", target, nullptr, nullptr, showCommand): a value greater
    // than 32 on success, otherwise an error code of 32 or less.
    virtual std::intptr_t ShellOpen(const CString& target, int showCommand) = 0;

    // RegOpenKeyExW(root, subKey, 0, access, key): 0 with *key set, or a Win32 error code.
    virtual std::int32_t RegOpenKey(HKEY root, const CString& subKey, std::uint32_t access, HKEY* key) = 0;
    // RegQueryValueW(key, nullptr, buffer, bufferBytes): the key's default value into buffer,
    // whose size in bytes *bufferBytes gives; on return *bufferBytes holds the size of the value
    // with its terminator. ERROR_MORE_DATA when it does not fit.
    virtual std::int32_t RegQueryDefaultValue(HKEY key, char16_t* buffer, std::int32_t* bufferBytes) = 0;
    virtual std::int32_t RegCloseKey(HKEY key) = 0;

    // WideCharToMultiByte(CP_THREAD_ACP, 0, ...): the text in the thread's ANSI code page;
    // FALSE when it cannot be converted.
    virtual BOOL ToAnsiCodePage(const CString& text, std::string* narrow) = 0;
    // WinExec(commandLine, showCommand): a value greater than 31 on success, otherwise 0, 2, 3
    // or 11.
    virtual UINT WinExec(const std::string& commandLine, int showCommand) = 0;

    // MessageBeep(type).
    virtual void MessageBeep(UINT type) = 0;

    // The hand pointer: the system help viewer's cursor 106, copied (CopyIcon) so that the copy
    // outlives the module; nullptr when there is none. The copy is released with DestroyCursor.
    virtual HCURSOR LoadHandCursor() = 0;
    virtual void DestroyCursor(HCURSOR cursor) = 0;
};
