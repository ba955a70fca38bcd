// A scripted environment for the probe: standard output and error kept as text, passwords as
// the test gives them, and a clock that moves only when the probe waits.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "probe/probe_environment.h"

class FakeProbeEnvironment : public IProbeEnvironment {
public:
    std::string out;
    std::string err;
    bool outputIsTerminal = false;
    int writesBeforeFailure = -1; // -1: every write succeeds

    // Each source's password; none: the source fails with passwordError.
    std::optional<CString> terminalPassword;
    std::optional<CString> inputPassword;
    std::optional<CString> filePassword;
    std::string passwordError = "no password here";
    std::vector<CString> prompts;
    std::vector<CString> passwordFiles;

    std::int64_t clockMs = 0;
    int utcOffsetMinutes = 120;
    std::vector<std::uint32_t> waits;
    int interruptAtWait = -1;                     // the wait (from 0) at which the user interrupts; -1: never
    std::function<void(std::size_t wait)> onWait; // what happens in the world during each wait

    bool WriteOut(std::string_view text) override;
    void WriteErr(std::string_view text) override;
    bool OutputIsTerminal() override { return outputIsTerminal; }
    bool PromptPassword(const CString& prompt, CString& password, std::string& error) override;
    bool ReadPasswordFromInput(CString& password, std::string& error) override;
    bool ReadPasswordFile(const CString& path, CString& password, std::string& error) override;
    // 2026-05-04 12:00:00.000 local time, plus clockMs.
    LocalTime Now() override;
    std::int64_t MonotonicMs() override { return clockMs; }
    void Wait(std::uint32_t milliseconds) override;
    bool Interrupted() override { return m_interrupted; }

    // Standard output's lines, without their line ends.
    std::vector<std::string> OutLines() const;

private:
    bool m_interrupted = false;
};
