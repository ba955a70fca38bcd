#include "platform/linux/shell/linux_shell.h"

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/shell/desktop_entry.h"

namespace {

// Win32 and shell codes of the failure table.
constexpr int kOutOfResources = 0;
constexpr int kFileNotFound = 2;     // ERROR_FILE_NOT_FOUND
constexpr int kPathNotFound = 3;     // ERROR_PATH_NOT_FOUND
constexpr int kAccessDenied = 5;     // SE_ERR_ACCESSDENIED
constexpr int kOutOfMemory = 8;      // SE_ERR_OOM
constexpr int kBadFormat = 11;       // ERROR_BAD_FORMAT
constexpr int kAssocIncomplete = 27; // SE_ERR_ASSOCINCOMPLETE
constexpr int kNoAssoc = 31;         // SE_ERR_NOASSOC

constexpr size_t kMaxQueryOutput = 4096;
const CString kCommandSuffix = u"\\shell\\open\\command";

} // namespace

LinuxShellService::LinuxShellService(LinuxShellOptions options) : m_options(std::move(options)) {}

LinuxShellService::~LinuxShellService()
{
    ReapEnded(m_running);
}

int LinuxShellService::CodeForSpawnError(int error)
{
    switch (error) {
    case ENOENT:
        return kFileNotFound;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
        return kPathNotFound;
    case EACCES:
    case EPERM:
        return kAccessDenied;
    case ENOEXEC:
        return kBadFormat;
    case ENOMEM:
    case EAGAIN:
        return kOutOfMemory;
    default:
        return kOutOfResources;
    }
}

std::intptr_t LinuxShellService::CodeForOpenResult(ChildState state, int code)
{
    switch (state) {
    case ChildState::Running:
        return kSuccess;
    case ChildState::Exited:
        // xdg-open: 0 success, 1 bad arguments, 2 a file that does not exist, 3 a tool it needs
        // is missing, 4 the action failed.
        if (code == 0)
            return kSuccess;
        if (code == 2)
            return kFileNotFound;
        if (code == 3 || code == 4)
            return kNoAssoc;
        return kAssocIncomplete;
    case ChildState::Signalled:
        return kAssocIncomplete;
    case ChildState::Lost:
    default:
        return kOutOfResources;
    }
}

std::intptr_t LinuxShellService::ShellOpen(const CString& target, int)
{
    ReapEnded(m_running);
    pid_t pid = 0;
    SpawnOptions options;
    options.newSession = true;
    const int error = SpawnProgram({ "xdg-open", target.ToUtf8() }, m_options.environment, options, &pid);
    if (error != 0)
        return CodeForSpawnError(error);
    int code = 0;
    const ChildState state = WaitForChild(pid, m_options.openWaitMs, &code);
    if (state == ChildState::Running)
        m_running.push_back(pid);
    return CodeForOpenResult(state, code);
}

std::string LinuxShellService::QueryWebHandler()
{
    pid_t pid = 0;
    int output = -1;
    SpawnOptions options;
    options.captureOutput = true;
    if (SpawnProgram({ "xdg-mime", "query", "default", "text/html" }, m_options.environment, options, &pid, &output) !=
        0)
        return {};
    std::string text = ReadAll(output, kMaxQueryOutput, m_options.queryWaitMs);
    int code = 0;
    const ChildState state = WaitForChild(pid, m_options.queryWaitMs, &code);
    if (state == ChildState::Running) {
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        return {};
    }
    if (state != ChildState::Exited || code != 0)
        return {};
    // The first line, without surrounding blanks.
    text = text.substr(0, text.find('\n'));
    const size_t b = text.find_first_not_of(" \t\r");
    const size_t e = text.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
}

std::int32_t LinuxShellService::RegOpenKey(HKEY root, const CString& subKey, std::uint32_t, HKEY* key)
{
    if (root != HKEY_CLASSES_ROOT)
        return ERROR_FILE_NOT_FOUND;
    CString value;
    if (subKey == u".htm") {
        const std::string id = QueryWebHandler();
        if (id.empty())
            return ERROR_FILE_NOT_FOUND;
        value = CString::FromUtf8(id);
    } else if (subKey.size() > kCommandSuffix.size() &&
               subKey.compare(subKey.size() - kCommandSuffix.size(), kCommandSuffix.size(), kCommandSuffix) == 0) {
        const std::string id = CString(subKey.substr(0, subKey.size() - kCommandSuffix.size())).ToUtf8();
        const auto file = FindDesktopEntry(id, m_options.environment);
        const auto exec = file ? ReadExecKey(*file) : std::nullopt;
        const auto commandTemplate = exec ? ExecToCommandTemplate(*exec) : std::nullopt;
        if (!commandTemplate || commandTemplate->empty())
            return ERROR_FILE_NOT_FOUND;
        value = CString::FromUtf8(*commandTemplate);
    } else {
        return ERROR_FILE_NOT_FOUND;
    }
    HKEY h = reinterpret_cast<HKEY>(m_nextKey);
    m_nextKey += 0x10;
    m_keys[h] = std::move(value);
    *key = h;
    return ERROR_SUCCESS;
}

std::int32_t LinuxShellService::RegQueryDefaultValue(HKEY key, char16_t* buffer, std::int32_t* bufferBytes)
{
    auto it = m_keys.find(key);
    if (it == m_keys.end())
        return 6; // ERROR_INVALID_HANDLE
    const size_t needed = (it->second.size() + 1) * sizeof(char16_t);
    if (*bufferBytes < 0 || needed > static_cast<size_t>(*bufferBytes)) {
        *bufferBytes = static_cast<std::int32_t>(needed);
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, it->second.c_str(), needed);
    *bufferBytes = static_cast<std::int32_t>(needed);
    return ERROR_SUCCESS;
}

std::int32_t LinuxShellService::RegCloseKey(HKEY key)
{
    return m_keys.erase(key) != 0 ? ERROR_SUCCESS : 6;
}

BOOL LinuxShellService::ToAnsiCodePage(const CString& text, std::string* narrow)
{
    *narrow = text.ToUtf8();
    return TRUE;
}

UINT LinuxShellService::WinExec(const std::string& commandLine, int)
{
    ReapEnded(m_running);
    const auto args = SplitCommandLine(commandLine);
    if (!args)
        return kBadFormat;
    if (args->empty())
        return kFileNotFound;
    pid_t pid = 0;
    SpawnOptions options;
    options.newSession = true;
    if (const int error = SpawnProgram(*args, m_options.environment, options, &pid); error != 0)
        return static_cast<UINT>(CodeForSpawnError(error));
    // As WinExec, success once the program has started; it is collected when it ends.
    m_running.push_back(pid);
    return static_cast<UINT>(kSuccess);
}

void LinuxShellService::MessageBeep(UINT type)
{
    if (m_options.beep)
        m_options.beep(type);
}

HCURSOR LinuxShellService::LoadHandCursor()
{
    return m_options.createHandCursor ? m_options.createHandCursor() : nullptr;
}

void LinuxShellService::DestroyCursor(HCURSOR cursor)
{
    if (cursor != nullptr && m_options.destroyCursor)
        m_options.destroyCursor(cursor);
}
