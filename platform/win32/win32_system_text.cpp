#include "platform/win32/win32_include.h"

#include "platform/win32/win32_system_text.h"

#include "directory/replication_status.h"

std::string SystemText(std::uint32_t code)
{
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = length != 0 ? FromWStr(buffer, length).ToUtf8() : ResultText(code);
    if (buffer != nullptr)
        LocalFree(buffer);
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}
