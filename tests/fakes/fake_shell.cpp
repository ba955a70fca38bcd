#include "tests/fakes/fake_shell.h"

#include <cstring>

std::intptr_t FakeShellService::ShellOpen(const CString& target, int showCommand)
{
    calls.push_back(u"ShellOpen " + target);
    showCommands.push_back(showCommand);
    if (shellResults.empty())
        return 42;
    const std::intptr_t r = shellResults.front();
    shellResults.pop_front();
    return r;
}

std::int32_t FakeShellService::RegOpenKey(HKEY root, const CString& subKey, std::uint32_t access, HKEY* key)
{
    calls.push_back(u"RegOpenKey " + subKey);
    roots.push_back(root);
    auto it = keys.find(subKey);
    if (access != KEY_QUERY_VALUE || it == keys.end())
        return ERROR_FILE_NOT_FOUND;
    if (it->second.openError != 0)
        return it->second.openError;
    HKEY h = reinterpret_cast<HKEY>(m_nextKey);
    m_nextKey += 0x10;
    m_open[h] = subKey;
    ++openKeys;
    *key = h;
    return ERROR_SUCCESS;
}

std::int32_t FakeShellService::RegQueryDefaultValue(HKEY key, char16_t* buffer, std::int32_t* bufferBytes)
{
    auto open = m_open.find(key);
    if (open == m_open.end())
        return 6; // ERROR_INVALID_HANDLE
    calls.push_back(u"RegQuery " + open->second);
    const Key& k = keys.at(open->second);
    if (k.queryError != 0)
        return k.queryError;
    const auto needed = static_cast<std::int32_t>((k.value.size() + 1) * sizeof(char16_t));
    if (needed > *bufferBytes) {
        *bufferBytes = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, k.value.c_str(), static_cast<size_t>(needed));
    *bufferBytes = needed;
    return ERROR_SUCCESS;
}

std::int32_t FakeShellService::RegCloseKey(HKEY key)
{
    auto open = m_open.find(key);
    if (open == m_open.end())
        return 6;
    calls.push_back(u"RegCloseKey " + open->second);
    m_open.erase(open);
    --openKeys;
    return ERROR_SUCCESS;
}

BOOL FakeShellService::ToAnsiCodePage(const CString& text, std::string* narrow)
{
    *narrow = text.ToUtf8();
    return TRUE;
}

UINT FakeShellService::WinExec(const std::string& commandLine, int showCommand)
{
    calls.push_back(u"WinExec " + CString::FromUtf8(commandLine));
    commandLines.push_back(commandLine);
    showCommands.push_back(showCommand);
    return winExecResult;
}

void FakeShellService::MessageBeep(UINT type)
{
    calls.emplace_back(u"MessageBeep");
    beeps.push_back(type);
}

HCURSOR FakeShellService::LoadHandCursor()
{
    if (!handCursorAvailable)
        return nullptr;
    ++cursorsOut;
    auto* h = reinterpret_cast<HCURSOR>(m_nextCursor);
    m_nextCursor += 0x10;
    return h;
}

void FakeShellService::DestroyCursor(HCURSOR cursor)
{
    if (cursor != nullptr)
        --cursorsOut;
}

std::vector<CString> FakeShellService::FallbackCalls() const
{
    std::vector<CString> out;
    for (const CString& c : calls) {
        if (c.rfind(u"ShellOpen ", 0) != 0 && c != u"MessageBeep")
            out.push_back(c);
    }
    return out;
}
