#include "platform/linux/config/ini_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace {

std::string Trim(const std::string& s)
{
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    auto first = std::find_if_not(s.begin(), s.end(), blank);
    auto last = std::find_if_not(s.rbegin(), s.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::string FoldKey(const std::string& s, bool dropBlanks)
{
    std::string out;
    for (unsigned char c : s) {
        if (dropBlanks && std::isspace(c))
            continue;
        out += static_cast<char>(std::tolower(c));
    }
    return out;
}

void AddLine(const std::string& raw, std::vector<IniSection>* sections)
{
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';')
        return;
    if (line.front() == '[' && line.back() == ']') {
        sections->push_back({ FoldKey(Trim(line.substr(1, line.size() - 2)), false), {} });
        return;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
        return;
    if (sections->empty())
        sections->push_back({ "global", {} });
    sections->back().entries.emplace_back(FoldKey(line.substr(0, eq), true), Trim(line.substr(eq + 1)));
}

} // namespace

const std::string* IniSection::Find(const std::string& key) const
{
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->first == key)
            return &it->second;
    }
    return nullptr;
}

IniReadResult ReadIniFile(const std::string& path, std::vector<IniSection>* sections, int* error)
{
    sections->clear();
    *error = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "re"), &std::fclose);
    if (!file) {
        *error = errno;
        return errno == ENOENT || errno == ENOTDIR ? IniReadResult::Missing : IniReadResult::Unreadable;
    }
    std::string pending;
    errno = 0;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, file.get()) != nullptr) {
        pending += buffer; // a NUL byte ends what fgets gives: the rest of that line is lost
        if (!pending.empty() && pending.back() != '\n' && !std::feof(file.get()))
            continue; // a line longer than the buffer
        while (!pending.empty() && (pending.back() == '\n' || pending.back() == '\r'))
            pending.pop_back();
        if (!pending.empty() && pending.back() == '\\') {
            pending.pop_back();
            continue;
        }
        AddLine(pending, sections);
        pending.clear();
    }
    if (std::ferror(file.get())) {
        // A directory opens but does not read (EISDIR).
        *error = errno != 0 ? errno : EIO;
        sections->clear();
        return IniReadResult::Unreadable;
    }
    AddLine(pending, sections);
    return IniReadResult::Read;
}

const std::string* FindIniValue(const std::vector<IniSection>& sections, const std::string& section,
                                const std::string& key)
{
    const std::string* value = nullptr;
    for (const IniSection& s : sections) {
        if (s.name != section)
            continue;
        if (const std::string* v = s.Find(key))
            value = v;
    }
    return value;
}
