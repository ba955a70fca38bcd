// The counters the main window shows, in the order it adds them: the counter set that every
// program of the project reads by default. The paths carry no machine name; the counter query
// puts "\\machine" in front.
#pragma once

#include <array>

inline constexpr std::array<const char16_t*, 13> kCounterSetPaths = {
    u"\\Processor(_Total)\\% Processor Time",
    u"\\Memory\\% Committed Bytes In Use",
    u"\\LogicalDisk(_Total)\\% Free Space",
    u"\\System\\File Read Operations/sec",
    u"\\System\\File Write Operations/sec",
    u"\\Processor(_Total)\\% Interrupt Time",
    u"\\Process(lsass)\\Handle Count",
    u"\\Process(ntfrs)\\Handle Count",
    u"\\Memory\\Page Faults/sec",
    u"\\Memory\\Pages Input/sec",
    u"\\Memory\\Pages Output/sec",
    u"\\Memory\\Page Reads/sec",
    u"\\Memory\\Page Writes/sec",
};
