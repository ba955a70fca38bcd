#include "tests/fakes/fake_probe_environment.h"

bool FakeProbeEnvironment::WriteOut(std::string_view text)
{
    if (writesBeforeFailure == 0)
        return false;
    if (writesBeforeFailure > 0)
        --writesBeforeFailure;
    out += text;
    return true;
}

void FakeProbeEnvironment::WriteErr(std::string_view text)
{
    err += text;
}

namespace {

bool Give(const std::optional<CString>& source, CString& password, const std::string& why, std::string& error)
{
    if (!source) {
        error = why;
        return false;
    }
    password = *source;
    return true;
}

} // namespace

bool FakeProbeEnvironment::PromptPassword(const CString& prompt, CString& password, std::string& error)
{
    prompts.push_back(prompt);
    return Give(terminalPassword, password, passwordError, error);
}

bool FakeProbeEnvironment::ReadPasswordFromInput(CString& password, std::string& error)
{
    return Give(inputPassword, password, passwordError, error);
}

bool FakeProbeEnvironment::ReadPasswordFile(const CString& path, CString& password, std::string& error)
{
    passwordFiles.push_back(path);
    return Give(filePassword, password, passwordError, error);
}

LocalTime FakeProbeEnvironment::Now()
{
    const std::int64_t seconds = clockMs / 1000;
    LocalTime t;
    t.year = 2026;
    t.month = 5;
    t.day = 4;
    t.hour = 12 + static_cast<int>(seconds / 3600);
    t.minute = static_cast<int>(seconds / 60 % 60);
    t.second = static_cast<int>(seconds % 60);
    t.millisecond = static_cast<int>(clockMs % 1000);
    t.utcOffsetMinutes = utcOffsetMinutes;
    t.zoneName = "CEST";
    return t;
}

void FakeProbeEnvironment::Wait(std::uint32_t milliseconds)
{
    if (onWait)
        onWait(waits.size());
    if (static_cast<int>(waits.size()) == interruptAtWait) {
        m_interrupted = true;
        waits.push_back(0);
        return;
    }
    waits.push_back(milliseconds);
    clockMs += milliseconds;
}

std::vector<std::string> FakeProbeEnvironment::OutLines() const
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        std::string line = out.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}
