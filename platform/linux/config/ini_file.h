// The INI-style configuration files of Samba (smb.conf) and SSSD (sssd.conf), read as far as the
// join status needs them: sections of "key = value" lines.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct IniSection {
    std::string name; // lower case
    std::vector<std::pair<std::string, std::string>> entries;

    // The value of key (lower case, no blanks), or null when the section does not set it.
    const std::string* Find(const std::string& key) const;
};

enum class IniReadResult {
    Read,
    Missing,    // no such file
    Unreadable, // the file exists but could not be read; errno-style code in *error
};

// Reads path into *sections. Section names and keys are folded to lower case and keys lose their
// blanks, as Samba matches parameter names; values keep their case, trimmed. Lines starting with
// '#' or ';' are comments and a trailing backslash continues a line. Lines before the first
// section header belong to a section named "global", where Samba puts them.
IniReadResult ReadIniFile(const std::string& path, std::vector<IniSection>* sections, int* error);

// The value of key in the sections named section (a name may repeat; the last setting counts),
// or null.
const std::string* FindIniValue(const std::vector<IniSection>& sections, const std::string& section,
                                const std::string& key);
