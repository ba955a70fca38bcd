#include "stub_common.h"

#include <cwchar>
#include <map>

namespace stub {
namespace {

std::wstring Env(const wchar_t* name)
{
    wchar_t buffer[1024];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
    return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

using Scenario = std::multimap<std::wstring, std::wstring>;

// Read once, at the first call that asks.
const Scenario& Load()
{
    static const Scenario scenario = [] {
        Scenario s;
        const std::wstring path = Env(L"ZELTOR_STUB_SCENARIO");
        if (path.empty())
            return s;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return s;
        std::string bytes;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
            bytes.append(chunk, got);
        CloseHandle(file);
        const std::wstring text = Widen(bytes);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(L'\n', start);
            if (end == std::wstring::npos)
                end = text.size();
            std::wstring line = text.substr(start, end - start);
            start = end + 1;
            if (!line.empty() && line.back() == L'\r')
                line.pop_back();
            const size_t eq = line.find(L'=');
            if (line.empty() || line[0] == L'#' || eq == std::wstring::npos)
                continue;
            s.emplace(line.substr(0, eq), line.substr(eq + 1));
        }
        return s;
    }();
    return scenario;
}

} // namespace

std::vector<std::wstring> Values(const wchar_t* key)
{
    std::vector<std::wstring> out;
    const auto range = Load().equal_range(key);
    for (auto it = range.first; it != range.second; ++it)
        out.push_back(it->second);
    return out;
}

std::wstring Value(const wchar_t* key, const std::wstring& fallback)
{
    const std::vector<std::wstring> all = Values(key);
    return all.empty() ? fallback : all.back();
}

unsigned long long Number(const wchar_t* key, unsigned long long fallback)
{
    const std::wstring v = Value(key, std::wstring());
    if (v.empty())
        return fallback;
    return std::wcstoull(v.c_str(), nullptr, 0);
}

void Log(const std::wstring& line)
{
    static const std::wstring path = Env(L"ZELTOR_STUB_LOG");
    if (path.empty())
        return;
    // One line at a time from every stand-in and thread of this process: appends of their own would
    // overlap. The name is the process's own: a program that ended while one of its threads held a
    // mutex of every process's would leave the next programs' calls waiting.
    static const HANDLE turn =
        CreateMutexW(nullptr, FALSE, (L"zeltor-stub-log-" + std::to_wstring(GetCurrentProcessId())).c_str());
    WaitForSingleObject(turn, INFINITE);
    // Opened for each line, so that the test reads every call as soon as it is made.
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const std::string bytes = Narrow(line + L"\n");
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    ReleaseMutex(turn);
}

std::wstring Quote(const wchar_t* text)
{
    return text == nullptr ? std::wstring(L"(null)") : L"\"" + std::wstring(text) + L"\"";
}

std::wstring Num(unsigned long long n)
{
    return std::to_wstring(n);
}

} // namespace stub
