// The exporter's own process figures, from procfs as Prometheus' client libraries read them.
#pragma once

#include <optional>
#include <string>

#include "exporter/exporter_metrics.h"

// The figures of the process whose procfs directory is procSelf ("/proc/self"), with the boot time
// from procStat ("/proc/stat"); none when they cannot be read.
std::optional<ProcessFigures> ReadProcessFigures(const std::string& procSelf = "/proc/self",
                                                 const std::string& procStat = "/proc/stat");
