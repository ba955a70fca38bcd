#include "platform/win32/win32_include.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/probe/win32_probe_environment.h"
#include "platform/win32/win32_system_text.h"

#include "framework/secret_text.h"

namespace {

// A password is one line; anything longer than this is not one.
constexpr std::size_t kMaxPasswordBytes = 4096;
// How long closing the console waits for the probe to cancel its connections; the system ends
// the process after about five seconds.
constexpr DWORD kCloseGraceMs = 4000;
constexpr ULONGLONG kFileTimeTicksPerMinute = 600000000; // 100 ns ticks

volatile LONG g_interrupted = 0;
HANDLE g_interruptEvent = nullptr;
HANDLE g_finishedEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type)
{
    // A second Ctrl+C, should ending cleanly take too long, gets the default: the process ends.
    if (InterlockedExchange(&g_interrupted, 1) != 0 && (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT))
        return FALSE;
    SetEvent(g_interruptEvent);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process once this returns: let the probe cancel its connections.
        WaitForSingleObject(g_finishedEvent, kCloseGraceMs);
    }
    return TRUE;
}

// The system's text as a clause of the probe's own sentences: without its closing full stop.
std::string ClauseText(DWORD code)
{
    std::string text = SystemText(code);
    while (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// A console takes UTF-16; a file or a pipe gets the UTF-8 bytes.
bool WriteText(HANDLE handle, std::string_view text)
{
    if (IsConsole(handle)) {
        const CString wide = CString::FromUtf8(text);
        const wchar_t* next = WStr(wide);
        std::size_t left = wide.size();
        while (left > 0) {
            DWORD written = 0;
            const auto chunk = static_cast<DWORD>(std::min<std::size_t>(left, 8192));
            if (!WriteConsoleW(handle, next, chunk, &written, nullptr) || written == 0)
                return false;
            next += written;
            left -= written;
        }
        return true;
    }
    while (!text.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
        if (!WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0)
            return false;
        text.remove_prefix(written);
    }
    return true;
}

// The first line of a console, without its line end. The line's buffer is reserved once for the
// longest password and a read's chunk, so it never moves, and is wiped on every failure.
bool ReadConsoleLine(HANDLE console, CString& line, std::string& error)
{
    wchar_t buffer[256];
    PrepareSecretText(line, kMaxPasswordBytes + std::size(buffer));
    for (;;) {
        DWORD read = 0;
        if (!ReadConsoleW(console, buffer, static_cast<DWORD>(std::size(buffer)), &read, nullptr) || g_interrupted) {
            SecureZeroMemory(buffer, sizeof buffer);
            WipeText(line);
            error = g_interrupted ? "interrupted" : "cannot read the console: " + ClauseText(GetLastError());
            return false;
        }
        std::size_t end = 0;
        while (end < read && buffer[end] != L'\n')
            ++end;
        for (std::size_t i = 0; i < end; ++i)
            line += static_cast<char16_t>(buffer[i]);
        SecureZeroMemory(buffer, sizeof buffer);
        if (end < read || read == 0)
            break;
        if (line.size() > kMaxPasswordBytes) {
            WipeText(line);
            error = "the line is longer than " + std::to_string(kMaxPasswordBytes) + " characters";
            return false;
        }
    }
    if (!line.empty() && line.back() == u'\r')
        line.pop_back();
    return true;
}

// The first line of a file or pipe, in UTF-8, without its line end and a byte order mark.
// gotInput: whether it held anything at all.
bool ReadByteLine(HANDLE handle, CString& line, bool& gotInput, std::string& error)
{
    // Reserved once for the longest password, so that the bytes never move; wiped whatever happens.
    std::string bytes;
    PrepareSecretText(bytes, kMaxPasswordBytes + 1);
    gotInput = false;
    for (;;) {
        char c = 0;
        DWORD read = 0;
        if (!ReadFile(handle, &c, 1, &read, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF)
                break;
            WipeText(bytes);
            error = "cannot read: " + ClauseText(code);
            return false;
        }
        if (read == 0)
            break;
        gotInput = true;
        if (c == '\n')
            break;
        if (bytes.size() == kMaxPasswordBytes) {
            WipeText(bytes);
            SecureZeroMemory(&c, sizeof c);
            error = "the first line is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
            return false;
        }
        bytes += c;
        SecureZeroMemory(&c, sizeof c);
    }
    if (!bytes.empty() && bytes.back() == '\r')
        bytes.pop_back();
    const std::size_t start = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    // Converted straight into the password's own heap buffer.
    PrepareSecretText(line, bytes.size());
    AppendUtf8AsUtf16(line, std::string_view(bytes).substr(start));
    WipeText(bytes);
    return true;
}

// Shows prompt on the console output and reads a line of the console input with the echo
// off; the console's mode is put back whatever happens.
bool ReadConsoleWithoutEcho(HANDLE input, HANDLE output, const CString& prompt, CString& line, std::string& error)
{
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) {
        error = "cannot use the console: " + ClauseText(GetLastError());
        return false;
    }
    SetConsoleMode(input, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
    const bool ok = WriteText(output, prompt.ToUtf8()) && ReadConsoleLine(input, line, error);
    SetConsoleMode(input, mode);
    // The line end the user typed was not echoed.
    WriteText(output, "\r\n");
    return ok;
}

struct LocalMemory {
    HLOCAL memory = nullptr;
    ~LocalMemory()
    {
        if (memory != nullptr)
            LocalFree(memory);
    }
};

// DOMAIN\name of an account, or its SID as text.
std::string AccountName(PSID sid)
{
    wchar_t name[256];
    wchar_t domain[256];
    auto nameLength = static_cast<DWORD>(std::size(name));
    auto domainLength = static_cast<DWORD>(std::size(domain));
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
        const CString account = domainLength > 0 ? FromWStr(domain) + u"\\" + FromWStr(name) : FromWStr(name);
        return account.ToUtf8();
    }
    LocalMemory text;
    wchar_t* sidText = nullptr;
    if (ConvertSidToStringSidW(sid, &sidText)) {
        text.memory = sidText;
        return FromWStr(sidText).ToUtf8();
    }
    return "an unknown account";
}

// Whether the file's owner is the user running the probe and no one else but the system and
// the administrators may read or change it (the same rule OpenSSH for Windows applies to
// private keys). On refusal, error says who else has access.
bool OwnedByUserAlone(HANDLE file, const std::string& name, std::string& error)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        error = "cannot check the password file " + name + ": " + ClauseText(GetLastError());
        return false;
    }
    std::vector<BYTE> userBuffer(256);
    DWORD needed = 0;
    BOOL gotUser =
        GetTokenInformation(token, TokenUser, userBuffer.data(), static_cast<DWORD>(userBuffer.size()), &needed);
    if (!gotUser && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        userBuffer.resize(needed);
        gotUser =
            GetTokenInformation(token, TokenUser, userBuffer.data(), static_cast<DWORD>(userBuffer.size()), &needed);
    }
    CloseHandle(token);
    if (!gotUser) {
        error = "cannot check the password file " + name + ": " + ClauseText(GetLastError());
        return false;
    }
    const PSID user = reinterpret_cast<TOKEN_USER*>(userBuffer.data())->User.Sid;

    BYTE systemSid[SECURITY_MAX_SID_SIZE];
    BYTE adminsSid[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof systemSid;
    DWORD adminsSize = sizeof adminsSid;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, adminsSid, &adminsSize);
    const auto trusted = [&](PSID sid) {
        return EqualSid(sid, user) || EqualSid(sid, systemSid) || EqualSid(sid, adminsSid);
    };

    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory descriptor;
    const DWORD status = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &dacl, nullptr, &descriptor.memory);
    if (status != ERROR_SUCCESS) {
        error = "cannot read who may read the password file " + name + ": " + ClauseText(status);
        return false;
    }
    if (owner == nullptr || !trusted(owner)) {
        error = "the password file " + name + " belongs to " + (owner != nullptr ? AccountName(owner) : "no one") +
                "; it must be yours";
        return false;
    }
    const std::string remedy =
        "; make it yours alone (icacls \"" + name + "\" /inheritance:r /grant:r \"%USERNAME%\":F)";
    if (dacl == nullptr) {
        error = "everyone may read the password file " + name + remedy;
        return false;
    }
    // Read, write and control rights, in their file-specific and generic forms.
    constexpr ACCESS_MASK kSensitive = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER |
                                       GENERIC_READ | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            continue;
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        // Entries that deny take nothing away from whom else may read; every other kind of entry
        // is taken as one that allows.
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_OBJECT_ACE_TYPE ||
            header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE || header->AceType == SYSTEM_AUDIT_ACE_TYPE)
            continue;
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            error = "the password file " + name + " has access rules this check cannot read";
            error += remedy;
            return false;
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & kSensitive) != 0 && !trusted(sid)) {
            error = "the password file " + name + " can be read or changed by " + AccountName(sid);
            error += remedy;
            return false;
        }
    }
    return true;
}

} // namespace

Win32ProbeEnvironment::Win32ProbeEnvironment()
{
    g_interrupted = 0;
    g_interruptEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_finishedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

Win32ProbeEnvironment::~Win32ProbeEnvironment()
{
    SetEvent(g_finishedEvent);
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool Win32ProbeEnvironment::WriteOut(std::string_view text)
{
    return WriteText(GetStdHandle(STD_OUTPUT_HANDLE), text);
}

void Win32ProbeEnvironment::WriteErr(std::string_view text)
{
    WriteText(GetStdHandle(STD_ERROR_HANDLE), text);
}

bool Win32ProbeEnvironment::OutputIsTerminal()
{
    return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

bool Win32ProbeEnvironment::PromptPassword(const CString& prompt, CString& password, std::string& error)
{
    // The console itself, whatever the standard handles were redirected to.
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    bool ok = IsConsole(input) && IsConsole(output);
    if (ok)
        ok = ReadConsoleWithoutEcho(input, output, prompt, password, error);
    else
        error = "there is no console to ask for the password on";
    if (input != INVALID_HANDLE_VALUE)
        CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    return ok;
}

bool Win32ProbeEnvironment::ReadPasswordFromInput(CString& password, std::string& error)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        error = "there is no standard input";
        return false;
    }
    if (IsConsole(input)) {
        // Typed at the console, it is not shown either.
        if (ReadConsoleWithoutEcho(input, GetStdHandle(STD_ERROR_HANDLE), CString(), password, error))
            return true;
        error = "standard input: " + error;
        return false;
    }
    bool gotInput = false;
    if (!ReadByteLine(input, password, gotInput, error)) {
        error = "standard input: " + error;
        return false;
    }
    // An empty line is an empty password; no line at all is none.
    if (!gotInput) {
        error = "standard input holds no password";
        return false;
    }
    return true;
}

bool Win32ProbeEnvironment::ReadPasswordFile(const CString& path, CString& password, std::string& error)
{
    const std::string name = path.ToUtf8();
    const HANDLE file = CreateFileW(WStr(path), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot open the password file " + name + ": " + ClauseText(GetLastError());
        return false;
    }
    // The checks are made on the file that was opened, not again on its name.
    bool ok = true;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        ok = false;
        error = "the password file " + name + " is not a file";
    } else {
        ok = OwnedByUserAlone(file, name, error);
    }
    if (ok) {
        bool gotInput = false;
        ok = ReadByteLine(file, password, gotInput, error);
        if (!ok)
            error = "the password file " + name + ": " + error;
    }
    CloseHandle(file);
    return ok;
}

LocalTime Win32ProbeEnvironment::Now()
{
    FILETIME utcTime{};
    GetSystemTimeAsFileTime(&utcTime);
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    FileTimeToSystemTime(&utcTime, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    FILETIME localTime{};
    SystemTimeToFileTime(&local, &localTime);
    const auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    // The local time was cut to milliseconds: round the offset to whole minutes.
    const long long offsetTicks = ticks(localTime) - ticks(utcTime);
    const long long minutes =
        (offsetTicks + (offsetTicks >= 0 ? 1 : -1) * static_cast<long long>(kFileTimeTicksPerMinute / 2)) /
        static_cast<long long>(kFileTimeTicksPerMinute);

    TIME_ZONE_INFORMATION zone{};
    const DWORD zoneId = GetTimeZoneInformation(&zone);
    LocalTime t;
    t.year = local.wYear;
    t.month = local.wMonth;
    t.day = local.wDay;
    t.hour = local.wHour;
    t.minute = local.wMinute;
    t.second = local.wSecond;
    t.millisecond = local.wMilliseconds;
    t.utcOffsetMinutes = static_cast<int>(minutes);
    t.zoneName = FromWStr(zoneId == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightName : zone.StandardName).ToUtf8();
    return t;
}

std::int64_t Win32ProbeEnvironment::MonotonicMs()
{
    return static_cast<std::int64_t>(GetTickCount64());
}

void Win32ProbeEnvironment::Wait(std::uint32_t milliseconds)
{
    WaitForSingleObject(g_interruptEvent, milliseconds);
}

bool Win32ProbeEnvironment::Interrupted()
{
    return g_interrupted != 0;
}
