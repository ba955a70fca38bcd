// The Windows performance objects and counters that this machine answers for, and the Linux
// figure behind each: the one table that the local counter source and the Samba provider
// (perfd/) read. docs/counters.md shows the same table; a test holds the two together.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "perf/counter_calculator.h"

enum class Instances {
    None,    // Memory, System
    Total,   // Processor(_Total), LogicalDisk(_Total)
    Process, // Process(NAME#N): one instance per process
};

// What a counter shows, as the kernel gives it (platform/linux/counters/kernel_figures.h) or as a
// process has it.
enum class Figure {
    ProcessorTime,
    InterruptTime,
    CommittedBytes,
    FreeSpace,
    FileReads,
    FileWrites,
    PageFaults,
    PagesInput,
    PagesOutput,
    PageReads,
    PageWrites,
    HandleCount,
    ProcessId,
};

struct PerfObject {
    std::string_view name;
    std::uint32_t index; // Windows' name index ("Counter 009"); the help text's is index + 1
    Instances instances;
    std::string_view help;
};

struct PerfCounter {
    std::uint32_t objectIndex;
    std::string_view name;
    // Windows' name index, and the index this machine publishes it at: the same unless Samba's
    // server needs it elsewhere (a counter's index must be above its object's). Clients find
    // counters by name, so the move is invisible to them.
    std::uint32_t windowsIndex;
    std::uint32_t index;
    CounterType type;
    Figure figure;
    // For a raw fraction, the index of its PERF_RAW_BASE counter, which follows it; else 0.
    std::uint32_t baseIndex;
    std::string_view help;
};

// PERF_RAW_BASE (winperf.h): the denominator of the raw fraction that precedes it.
constexpr std::uint32_t kRawBaseCounterType = 0x40030403;

// The instance that stands for all instances of Processor and LogicalDisk.
constexpr std::string_view kTotalInstance = "_Total";

std::span<const PerfObject> PerfObjects();
// Ordered by object, and within an object by published index.
std::span<const PerfCounter> PerfCounters();

// By name, regardless of ASCII case; null when there is none.
const PerfObject* FindPerfObject(std::string_view name);
const PerfObject* FindPerfObjectByIndex(std::uint32_t index);
const PerfCounter* FindPerfCounter(const PerfObject& object, std::string_view name);

// The name and help text of a raw fraction's base counter.
std::string BaseCounterName(const PerfCounter& counter);
std::string BaseCounterHelp(const PerfCounter& counter);
