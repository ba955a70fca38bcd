// The shell service on Linux: targets open with xdg-open, the handler of web documents comes
// from xdg-mime and its desktop entry, and command lines run without a shell. Results follow the
// Win32 calls they stand for; docs/hyperlinks.md gives the mapping.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "controls/shell.h"
#include "platform/linux/shell/process_spawn.h"

struct LinuxShellOptions {
    ChildEnvironment environment = ChildEnvironment::FromProcess();
    // How long xdg-open may take to report that it cannot open a target. It stays in the
    // foreground while the application it started runs, so one still running then counts as
    // success.
    int openWaitMs = 3000;
    // The bound on `xdg-mime query default text/html`; past it the query is ended.
    int queryWaitMs = 5000;
    // The window layer's sound and pointer (none: silent, and no hand pointer).
    std::function<void(UINT)> beep;
    std::function<HCURSOR()> createHandCursor;
    std::function<void(HCURSOR)> destroyCursor;
};

class LinuxShellService : public IShellService {
public:
    explicit LinuxShellService(LinuxShellOptions options = {});
    ~LinuxShellService() override;
    LinuxShellService(const LinuxShellService&) = delete;
    LinuxShellService& operator=(const LinuxShellService&) = delete;

    std::intptr_t ShellOpen(const CString& target, int showCommand) override;
    // HKEY_CLASSES_ROOT holds two kinds of key here: ".htm", whose value is the desktop file id
    // of the default text/html handler, and "<id>\shell\open\command", whose value is that
    // entry's Exec line as a command template. Every other key is ERROR_FILE_NOT_FOUND.
    std::int32_t RegOpenKey(HKEY root, const CString& subKey, std::uint32_t access, HKEY* key) override;
    std::int32_t RegQueryDefaultValue(HKEY key, char16_t* buffer, std::int32_t* bufferBytes) override;
    std::int32_t RegCloseKey(HKEY key) override;
    // The thread's code page of a Linux program is its locale's, UTF-8.
    BOOL ToAnsiCodePage(const CString& text, std::string* narrow) override;
    UINT WinExec(const std::string& commandLine, int showCommand) override;
    void MessageBeep(UINT type) override;
    HCURSOR LoadHandCursor() override;
    void DestroyCursor(HCURSOR cursor) override;

    // Children started and not yet seen to end (xdg-open still in the foreground, or the
    // application a command line started); collected without waiting on each call.
    const std::vector<pid_t>& RunningChildren() const { return m_running; }

    // The code of the failure table for an errno of finding or starting a program.
    static int CodeForSpawnError(int error);
    // The code for how xdg-open ended.
    static std::intptr_t CodeForOpenResult(ChildState state, int code);

    static constexpr std::intptr_t kSuccess = 42; // above 32, as ShellExecute's successes are

private:
    // The default text/html handler's desktop file id, or empty.
    std::string QueryWebHandler();

    LinuxShellOptions m_options;
    std::vector<pid_t> m_running;
    std::map<HKEY, CString> m_keys; // open keys and their values
    std::uintptr_t m_nextKey = 0x1000;
};
