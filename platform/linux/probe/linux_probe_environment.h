// The probe's environment on Linux: standard streams, /dev/tty for the password prompt, the
// owner-only check of a password file, clocks, and SIGINT/SIGTERM/SIGHUP as the user's
// interrupt (a second one ends the process at once). Reading a password, from any source, makes
// the process non-dumpable for the rest of its life (no core file, no attaching to it).
#pragma once

#include <signal.h>

#include "probe/probe_environment.h"

class LinuxProbeEnvironment : public IProbeEnvironment {
public:
    // ttyPath: the terminal to ask for the password on.
    explicit LinuxProbeEnvironment(const char* ttyPath = "/dev/tty");
    ~LinuxProbeEnvironment() override;
    LinuxProbeEnvironment(const LinuxProbeEnvironment&) = delete;
    LinuxProbeEnvironment& operator=(const LinuxProbeEnvironment&) = delete;

    bool WriteOut(std::string_view text) override;
    void WriteErr(std::string_view text) override;
    bool OutputIsTerminal() override;
    bool PromptPassword(const CString& prompt, CString& password, std::string& error) override;
    bool ReadPasswordFromInput(CString& password, std::string& error) override;
    bool ReadPasswordFile(const CString& path, CString& password, std::string& error) override;
    // A systemd credential ($CREDENTIALS_DIRECTORY/NAME): the service manager decides who reads
    // it, so it may be root's, readable by this process through an ACL, but by no one else.
    bool ReadCredentialFile(const CString& path, CString& password, std::string& error);
    // The secret file at path (what names the kind of secret: "password file", "keytab"), opened
    // for reading and checked on what was opened: a regular file of this user's alone or, for a
    // credential, as the service manager writes one for this process. The descriptor, or -1 with
    // the reason in error.
    static int OpenSecretFile(const std::string& path, const std::string& what, bool credential, std::string& error);
    LocalTime Now() override;
    std::int64_t MonotonicMs() override;
    void Wait(std::uint32_t milliseconds) override;
    bool Interrupted() override;

private:
    bool ReadSecretFile(const CString& path, bool credential, CString& password, std::string& error);

    const char* m_ttyPath;
    struct sigaction m_previous[3];
    struct sigaction m_previousPipe;
};
