#include "platform/linux/shell/desktop_entry.h"

#include <fstream>

namespace {

constexpr size_t kMaxEntryLineBytes = size_t{ 64 } * 1024; // longer lines are not read as keys
constexpr int kMaxEntryLines = 10000;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

// Characters that an argument holding them must be quoted for.
bool IsReserved(char c)
{
    switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '"':
    case '\'':
    case '\\':
    case '>':
    case '<':
    case '~':
    case '|':
    case '&':
    case ';':
    case '$':
    case '*':
    case '?':
    case '#':
    case '(':
    case ')':
    case '`':
        return true;
    default:
        return false;
    }
}

std::string Quote(const std::string& arg)
{
    bool needed = arg.empty();
    for (char c : arg)
        needed = needed || IsReserved(c);
    if (!needed)
        return arg;
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

} // namespace

std::vector<std::string> ApplicationDirectories(const ChildEnvironment& env)
{
    std::vector<std::string> dirs;
    std::string home = env.Get("XDG_DATA_HOME");
    if (home.empty() && !env.Get("HOME").empty())
        home = env.Get("HOME") + "/.local/share";
    if (!home.empty())
        dirs.push_back(home + "/applications");
    std::string data = env.Get("XDG_DATA_DIRS");
    if (data.empty())
        data = "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= data.size()) {
        size_t end = data.find(':', start);
        if (end == std::string::npos)
            end = data.size();
        if (end > start)
            dirs.push_back(data.substr(start, end - start) + "/applications");
        start = end + 1;
    }
    return dirs;
}

std::optional<std::string> FindDesktopEntry(const std::string& desktopId, const ChildEnvironment& env)
{
    static const std::string kSuffix = ".desktop";
    if (desktopId.size() <= kSuffix.size() || desktopId.find('/') != std::string::npos ||
        desktopId.compare(desktopId.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return std::nullopt;
    for (const std::string& dir : ApplicationDirectories(env)) {
        std::string candidates[2] = { std::string(dir).append("/").append(desktopId), {} };
        if (const size_t dash = desktopId.find('-'); dash != std::string::npos)
            candidates[1] =
                std::string(dir).append("/").append(desktopId, 0, dash).append("/").append(desktopId, dash + 1);
        for (const std::string& file : candidates) {
            if (!file.empty() && std::ifstream(file).good())
                return file;
        }
    }
    return std::nullopt;
}

std::optional<std::string> ReadExecKey(const std::string& file)
{
    std::ifstream in(file);
    if (!in)
        return std::nullopt;
    bool inMainGroup = false;
    std::string line;
    for (int n = 0; n < kMaxEntryLines && std::getline(in, line); ++n) {
        if (line.size() > kMaxEntryLineBytes)
            continue;
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#')
            continue;
        if (t[0] == '[') {
            inMainGroup = t == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const size_t eq = t.find('=');
        if (eq == std::string::npos || Trim(t.substr(0, eq)) != "Exec")
            continue;
        const std::string raw = Trim(t.substr(eq + 1));
        std::string value;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '\\' || i + 1 == raw.size()) {
                value += raw[i];
                continue;
            }
            switch (raw[++i]) {
            case 's':
                value += ' ';
                break;
            case 'n':
                value += '\n';
                break;
            case 't':
                value += '\t';
                break;
            case 'r':
                value += '\r';
                break;
            case '\\':
                value += '\\';
                break;
            default:
                value += '\\';
                value += raw[i];
                break; // the Exec quoting reads the rest
            }
        }
        return value;
    }
    return std::nullopt;
}

std::optional<std::string> ExecToCommandTemplate(const std::string& exec)
{
    const auto args = SplitCommandLine(exec);
    if (!args)
        return std::nullopt;
    std::string out;
    for (const std::string& arg : *args) {
        std::string converted;
        bool placeholder = false, dropped = false;
        for (size_t i = 0; i < arg.size(); ++i) {
            if (arg[i] != '%' || i + 1 == arg.size()) {
                converted += arg[i];
                continue;
            }
            const char code = arg[++i];
            if (code == '%')
                converted += '%';
            else if (code == 'f' || code == 'F' || code == 'u' || code == 'U') {
                converted += "%1";
                placeholder = true;
            } else
                dropped = true;
        }
        if (converted.empty() && dropped)
            continue;
        if (!out.empty())
            out += ' ';
        if (!placeholder) {
            out += Quote(converted);
            continue;
        }
        // The placeholder stays bare, so that the command is cut at it; the text around it is
        // quoted apart where it needs to be ("a b"%1).
        size_t from = 0;
        for (size_t at = converted.find("%1");; at = converted.find("%1", from)) {
            const std::string piece = converted.substr(from, at == std::string::npos ? std::string::npos : at - from);
            if (!piece.empty())
                out += Quote(piece);
            if (at == std::string::npos)
                break;
            out += "%1";
            from = at + 2;
        }
    }
    return out;
}

std::optional<std::vector<std::string>> SplitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = commandLine.size();
    while (i < n) {
        while (i < n && IsBlank(commandLine[i]))
            ++i;
        if (i == n)
            break;
        std::string arg;
        while (i < n && !IsBlank(commandLine[i])) {
            if (commandLine[i] != '"') {
                arg += commandLine[i++];
                continue;
            }
            ++i; // the opening quote
            bool closed = false;
            while (i < n) {
                const char c = commandLine[i];
                if (c == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (c == '\\' && i + 1 < n &&
                    (commandLine[i + 1] == '"' || commandLine[i + 1] == '`' || commandLine[i + 1] == '$' ||
                     commandLine[i + 1] == '\\')) {
                    arg += commandLine[i + 1];
                    i += 2;
                    continue;
                }
                arg += c;
                ++i;
            }
            if (!closed)
                return std::nullopt;
        }
        args.push_back(std::move(arg));
    }
    return args;
}
