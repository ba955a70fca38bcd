// The probe's environment on Windows: standard handles (the console in UTF-16, files and pipes
// in UTF-8), the console for the password prompt, the owner-only check of a password file by
// its security descriptor, clocks, and Ctrl+C, Ctrl+Break and closing the console as the user's
// interrupt (a second Ctrl+C ends the process at once).
#pragma once

#include "probe/probe_environment.h"

class Win32ProbeEnvironment : public IProbeEnvironment {
public:
    Win32ProbeEnvironment();
    ~Win32ProbeEnvironment() override;
    Win32ProbeEnvironment(const Win32ProbeEnvironment&) = delete;
    Win32ProbeEnvironment& operator=(const Win32ProbeEnvironment&) = delete;

    bool WriteOut(std::string_view text) override;
    void WriteErr(std::string_view text) override;
    bool OutputIsTerminal() override;
    bool PromptPassword(const CString& prompt, CString& password, std::string& error) override;
    bool ReadPasswordFromInput(CString& password, std::string& error) override;
    bool ReadPasswordFile(const CString& path, CString& password, std::string& error) override;
    LocalTime Now() override;
    std::int64_t MonotonicMs() override;
    void Wait(std::uint32_t milliseconds) override;
    bool Interrupted() override;
};
