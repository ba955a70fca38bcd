// The program as the Windows installer leaves it: reached through its Start-menu shortcut, with
// the version in its resources and in the installer's.
#pragma once

#include <string>

// driver.exe --installed SHORTCUT INSTALLER VERSION READY DONE: resolves the shortcut, checks the
// version resources of its target and of the installer, starts the program through the shortcut
// as the shell does, writes its main window's rectangle ("x y width height") to READY, closes it
// once DONE exists. One line per check, "ok - ..." or "not ok - ..."; 0 when all passed.
int CheckInstalledProgram(const std::wstring& shortcut, const std::wstring& installer, const std::wstring& version,
                          const std::wstring& ready, const std::wstring& done);
