// The shell service on Windows: each call is the Win32 function IShellService names.
#pragma once

#include "controls/shell.h"

class Win32ShellService : public IShellService {
public:
    std::intptr_t ShellOpen(const CString& target, int showCommand) override;
    std::int32_t RegOpenKey(HKEY root, const CString& subKey, std::uint32_t access, HKEY* key) override;
    std::int32_t RegQueryDefaultValue(HKEY key, char16_t* buffer, std::int32_t* bufferBytes) override;
    std::int32_t RegCloseKey(HKEY key) override;
    BOOL ToAnsiCodePage(const CString& text, std::string* narrow) override;
    UINT WinExec(const std::string& commandLine, int showCommand) override;
    void MessageBeep(UINT type) override;
    HCURSOR LoadHandCursor() override;
    void DestroyCursor(HCURSOR cursor) override;
};
