// The probe's command line: zeltor-probe [options] MACHINE [COUNTER-PATH...], or --list-dcs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/cstring.h"
#include "probe/threshold_range.h"

enum class OutputFormat { Table, Csv, Json, Prometheus, Nagios };

enum class PasswordSource { Terminal, StandardInput, File };

// --warning / --critical COUNTER=RANGE.
struct ThresholdOption {
    std::string counter; // a counter path, or its position in the list from 1, as given; with
                         // --health empty or "clock" (the clock offset's size in seconds); with
                         // --replication empty or "failing" (how long a partner has failed)
    ThresholdRange range;
};

struct ProbeOptions {
    bool help = false;
    bool version = false;
    bool listDcs = false;
    bool health = false;                // --health: the health checks of the domain controller MACHINE
    bool replication = false;           // --replication: the replication of the domain controller MACHINE
    std::optional<OutputFormat> format; // none: a table on a terminal, else CSV
    std::uint32_t intervalMs = 1000;
    std::uint32_t samples = 1; // 0: until interrupted
    CString userName;
    PasswordSource passwordSource = PasswordSource::Terminal;
    CString passwordFile;
    CString machine;
    std::vector<CString> paths; // without the machine, as given; none: the window's counter set
    std::vector<ThresholdOption> warnings;
    std::vector<ThresholdOption> criticals;
};

struct ParsedOptions {
    ProbeOptions options;
    std::string error; // empty when the command line is good (UTF-8)
};

ParsedOptions ParseProbeOptions(const std::vector<CString>& args);

// The --help text.
std::string ProbeUsage(std::string_view programName);
