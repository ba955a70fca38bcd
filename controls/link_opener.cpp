#include "controls/link_opener.h"

#include <algorithm>
#include <climits>

#include "controls/hyperlink_rules.h"

namespace {

constexpr size_t kCommandBufferChars = 520; // twice MAX_PATH, the terminator included
constexpr size_t kValueBufferChars = 260;   // MAX_PATH, the terminator included
constexpr int kOutOfMemory = 8;             // SE_ERR_OOM
constexpr int kOutOfResources = 0;

} // namespace

int LinkOpener::OpenUrl(const CString& url, int showCommand)
{
    const std::intptr_t shellResult = m_shell.ShellOpen(url, showCommand);
    const int result = static_cast<int>(std::clamp<std::intptr_t>(shellResult, INT_MIN, INT_MAX));
    if (result > kShellSuccessAbove)
        return result;

    // The registered handler of web documents: its class, then the class's open command.
    CString className;
    if (ReadKeyDefaultValue(HKEY_CLASSES_ROOT, u".htm", className) != ERROR_SUCCESS)
        return result;
    CString commandTemplate;
    if (ReadKeyDefaultValue(HKEY_CLASSES_ROOT, className + u"\\shell\\open\\command", commandTemplate) != ERROR_SUCCESS)
        return result;

    const CString command = ComposeHandlerCommand(commandTemplate, url);
    // The command buffer holds 519 characters and the terminator; a longer command is not run.
    if (command.size() >= kCommandBufferChars)
        return kOutOfMemory;
    std::string narrow;
    if (!m_shell.ToAnsiCodePage(command, &narrow))
        return kOutOfResources;
    return static_cast<int>(m_shell.WinExec(narrow, showCommand));
}

std::int32_t LinkOpener::ReadKeyDefaultValue(HKEY root, const CString& subKey, CString& value)
{
    HKEY key = nullptr;
    std::int32_t error = m_shell.RegOpenKey(root, subKey, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS)
        return error;
    char16_t data[kValueBufferChars] = {};
    auto bytes = static_cast<std::int32_t>(sizeof(data));
    error = m_shell.RegQueryDefaultValue(key, data, &bytes);
    if (error == ERROR_SUCCESS) {
        // The value must end inside the buffer; one that does not is unreadable.
        const char16_t* end = std::find(data, data + kValueBufferChars, u'\0');
        if (end == data + kValueBufferChars)
            error = ERROR_MORE_DATA;
        else
            value.assign(data, static_cast<size_t>(end - data));
    }
    m_shell.RegCloseKey(key);
    return error;
}
