// A scripted shell service: the shell's and WinExec's answers, a registry of HKEY_CLASSES_ROOT
// keys and their default values, and a record of every call in order.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "controls/shell.h"

class FakeShellService : public IShellService {
public:
    struct Key {
        CString value;
        std::int32_t openError = 0;  // what opening the key answers
        std::int32_t queryError = 0; // what reading its value answers
    };

    std::deque<std::intptr_t> shellResults; // next answers of ShellOpen; 42 when empty
    std::map<CString, Key> keys;            // by sub-key path under HKEY_CLASSES_ROOT
    UINT winExecResult = 33;
    bool handCursorAvailable = true;

    // What was asked, in order: "ShellOpen <target>", "RegOpenKey <path>", "RegQuery <path>",
    // "RegCloseKey <path>", "WinExec <command>", "MessageBeep".
    std::vector<CString> calls;
    std::vector<std::string> commandLines; // what WinExec got
    std::vector<int> showCommands;         // of ShellOpen and WinExec, in order
    std::vector<UINT> beeps;
    int openKeys = 0;
    int cursorsOut = 0; // copies handed out and not yet destroyed
    std::vector<HKEY> roots;

    std::intptr_t ShellOpen(const CString& target, int showCommand) override;
    std::int32_t RegOpenKey(HKEY root, const CString& subKey, std::uint32_t access, HKEY* key) override;
    std::int32_t RegQueryDefaultValue(HKEY key, char16_t* buffer, std::int32_t* bufferBytes) override;
    std::int32_t RegCloseKey(HKEY key) override;
    BOOL ToAnsiCodePage(const CString& text, std::string* narrow) override;
    UINT WinExec(const std::string& commandLine, int showCommand) override;
    void MessageBeep(UINT type) override;
    HCURSOR LoadHandCursor() override;
    void DestroyCursor(HCURSOR cursor) override;

    // The calls that went to the registry and WinExec, without the shell's.
    std::vector<CString> FallbackCalls() const;

private:
    std::map<HKEY, CString> m_open;
    std::uintptr_t m_nextKey = 0x500;
    std::uintptr_t m_nextCursor = 0x900;
};
