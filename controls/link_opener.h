// Opening a link's target: the shell first, then the command line of the registered ".htm"
// handler, as the hyperlink control does on a click.
#pragma once

#include <cstdint>

#include "controls/shell.h"
#include "framework/cstring.h"

class LinkOpener {
public:
    explicit LinkOpener(IShellService& shell) : m_shell(shell) {}

    // Opens url. Greater than 32 is success; otherwise the code to report.
    int OpenUrl(const CString& url, int showCommand);
    // The default value of root\subKey into value: 0, or the error of opening the key or of
    // reading its value (a value longer than 259 characters cannot be read). value is left alone
    // on failure.
    std::int32_t ReadKeyDefaultValue(HKEY root, const CString& subKey, CString& value);

    static constexpr int kShellSuccessAbove = 32; // ShellExecute: greater than 32 is success

private:
    IShellService& m_shell;
};
