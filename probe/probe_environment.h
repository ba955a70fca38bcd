// What the probe needs of the operating system besides the engine's services: its standard
// streams, the terminal, the password's sources, the clock, waiting, and the user's interrupt.
// Each platform's start-up implements it; tests script it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/cstring.h"

// A moment in local time, as the system's clock and time-zone settings give it.
struct LocalTime {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int utcOffsetMinutes = 0; // local time minus UTC
    std::string zoneName;     // the zone's name as the system gives it now (UTF-8)
};

class IProbeEnvironment {
public:
    virtual ~IProbeEnvironment() = default;

    // Writes UTF-8 text to standard output at once (nothing is held back between samples);
    // false when it could not be written whole.
    virtual bool WriteOut(std::string_view text) = 0;
    // Writes UTF-8 text to standard error.
    virtual void WriteErr(std::string_view text) = 0;
    // Whether standard output is a terminal (a console on Windows).
    virtual bool OutputIsTerminal() = 0;

    // The password's three sources. Each gives true and the password (the first line, without
    // its line end), or false and a sentence that says why not.
    // Shows prompt on the user's terminal and reads a line with echo off; fails when the process
    // has no terminal.
    virtual bool PromptPassword(const CString& prompt, CString& password, std::string& error) = 0;
    virtual bool ReadPasswordFromInput(CString& password, std::string& error) = 0;
    // Reads the file only when it is a regular file that no one but its owner, the user running
    // the probe, can read.
    virtual bool ReadPasswordFile(const CString& path, CString& password, std::string& error) = 0;

    virtual LocalTime Now() = 0;
    // Milliseconds of a clock that never goes back.
    virtual std::int64_t MonotonicMs() = 0;
    // Waits the given time, returning early when the user interrupts the probe.
    virtual void Wait(std::uint32_t milliseconds) = 0;
    // Whether the user has asked the probe to stop (Ctrl+C, SIGTERM, closing the console).
    virtual bool Interrupted() = 0;
};
