// Desktop entries (the freedesktop.org format of .desktop files): finding an application's entry
// by its desktop file id, turning its Exec line into a command template with a "%1" placeholder
// for the target, and splitting a command line into an argument vector by the same quoting rules.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/shell/process_spawn.h"

// The directories searched for applications, most important first: $XDG_DATA_HOME (by default
// $HOME/.local/share), then each of $XDG_DATA_DIRS (by default /usr/local/share:/usr/share), each
// with "/applications" appended.
std::vector<std::string> ApplicationDirectories(const ChildEnvironment& env);

// The file of the desktop file id ("vendor-app.desktop" may also be "vendor/app.desktop"), or
// nothing. An id with a slash or without the ".desktop" ending is none.
std::optional<std::string> FindDesktopEntry(const std::string& desktopId, const ChildEnvironment& env);

// The value of the Exec key of the [Desktop Entry] group, with the string escapes (\s \n \t \r
// \\) undone; nothing when there is none or the file cannot be read.
std::optional<std::string> ReadExecKey(const std::string& file);

// The Exec value as a command template: each argument quoted as the entry format quotes it where
// needed, the file and URL field codes (%f %F %u %U) as a bare %1, "%%" as "%", every other field
// code dropped (an argument made only of one goes). Nothing when the value's quoting is broken.
std::optional<std::string> ExecToCommandTemplate(const std::string& exec);

// Splits a command line into arguments: blanks separate them; double quotes group, and inside
// them a backslash escapes '"', '`', '$' and '\'. Nothing for an unterminated quote.
std::optional<std::vector<std::string>> SplitCommandLine(const std::string& commandLine);
