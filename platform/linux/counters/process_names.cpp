#include "platform/linux/counters/process_names.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>

#include "framework/ascii_case.h"

namespace {

// The length of the UTF-8 sequence that starts at text[i], or 0 when none does (RFC 3629:
// no overlong forms, no surrogates, nothing above U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

std::string_view BaseNameWithoutExtension(std::string_view path)
{
    std::string_view base = path.substr(path.rfind('/') + 1);
    const std::size_t dot = base.rfind('.');
    if (dot != std::string_view::npos && dot > 0)
        base = base.substr(0, dot);
    return base;
}

std::string InstanceNameOf(std::string_view processName)
{
    std::string name;
    name.reserve(processName.size());
    for (std::size_t i = 0; i < processName.size();) {
        const std::size_t length = Utf8SequenceLength(processName, i);
        if (length == 0) {
            name += '?';
            ++i;
            continue;
        }
        const char c = processName[i];
        if (length > 1)
            name.append(processName.substr(i, length));
        else if (c == '(')
            name += '[';
        else if (c == ')')
            name += ']';
        else if (c == '#' || c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            name += '_';
        else
            name += c;
        i += length;
    }
    return name;
}

std::string UncutProcessName(std::string_view comm, int procDirectory, const char* pid)
{
    if (!CommMayBeCut(comm))
        return {};
    char target[PATH_MAX];
    const std::string link = std::string(pid) + "/exe";
    const ssize_t length = readlinkat(procDirectory, link.c_str(), target, sizeof target);
    if (length <= 0)
        return {};
    const std::string_view base = BaseNameWithoutExtension(std::string_view(target, static_cast<std::size_t>(length)));
    if (base.size() <= comm.size() || !StartsWithIgnoringCase(base, comm))
        return {};
    return std::string(base);
}

std::string ProcessInstanceName(std::string_view comm, int procDirectory, const char* pid)
{
    const std::string uncut = UncutProcessName(comm, procDirectory, pid);
    return InstanceNameOf(uncut.empty() ? comm : std::string_view(uncut));
}

std::string_view WithoutNewline(std::string_view text)
{
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    return text;
}

bool IsPidName(const char* name)
{
    if (*name == '\0')
        return false;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9')
            return false;
    }
    return true;
}
