// The records of Samba's performance databases, perfmon/names.tdb and perfmon/data.tdb, for one
// sample of the counter catalogue: what Samba's winreg server reads to answer
// HKEY_PERFORMANCE_DATA (source3/registry/reg_perfcount.c), laid out the way that server reads
// it.
//
// names.tdb: "1" the highest name index over two (the server reads names at 2, 4, ... up to
// twice it), N an object's or counter's name and N+1 its help text, "Nrel" "p" for an object
// and "c[P]" for a counter of object P, "Ntype" a counter's type, "Ninst" an object's number
// of instances and "NiKname" the name of its instance K, "0PerfFreq" the ticks a second of
// PerfTime. data.tdb: N a counter's value, "NiK" instance K's counter block, "0PerfTime" and
// "0PerfTime100nSec". Numbers are decimal text; what the server's reading makes of them is why:
// - it copies the text of a value as the value when the number read is 0, so 0 is written as
//   no text at all;
// - it reads LARGE values through a double and PerfTime as one, so the clocks start at boot and
//   stay exact for decades;
// - it lays each DWORD counter out in a C long (8 bytes on 64-bit machines), and copies an
//   instance's counter block field by field in that layout;
// - it answers nothing at all when a counter lacks its object-level value, even one whose
//   object has instances;
// - it copies each text into a 256-byte buffer, so none is longer than 255 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/counters/kernel_figures.h"
#include "platform/linux/counters/process_table.h"

// The clock of PerfTime: 100 ns ticks, as Windows' own performance counter frequency.
constexpr std::uint64_t kPerfFrequency = 10'000'000;

using PublishedProcess = ProcessTable::Process;

struct PerfmonSample {
    KernelFigures kernel;
    // The Process object's instances in the order published (perfd/instance_slots.h: each
    // keeps its place for its life; at the start, by ascending PID).
    std::vector<PublishedProcess> processes;
    // Process(_Total)'s counters when not every process is published: the sums over every
    // process, by the counter's place in PerfCounters(). Empty: the sums over the instances
    // published.
    std::vector<std::uint64_t> processTotals;
    // Whether the instances named lsass are the stand-in's second copy of a process, which
    // Process(_Total) does not count twice.
    bool lsassIsCopy = true;
    std::uint64_t perfTime = 0;         // a monotonic clock, in kPerfFrequency ticks a second
    std::uint32_t ticksPerSecond = 100; // USER_HZ: the unit of /proc/stat's times
};

struct PerfmonRecord {
    std::string key;
    std::string value;
};

// The records of both databases in an order that stays the same from sample to sample as long
// as the instances are as many: the Process object's instances come last.
struct PerfmonRecords {
    std::vector<PerfmonRecord> names;
    std::vector<PerfmonRecord> data;
};

// dwordSize: the size of a C long on the machine whose Samba reads the records.
void BuildPerfmonRecords(const PerfmonSample& sample, std::size_t dwordSize, PerfmonRecords& records);

// The sums of the Process counters over these processes (ID Process none), by the counter's
// place in PerfCounters().
void SumProcessCounters(const std::vector<PublishedProcess>& processes, std::vector<std::uint64_t>& totals);

// The instance name "lsass" is the directory's: adds the stand-in for lsass to the Process
// instances, a copy of the process of PID standIn named "lsass" right after it (none when
// standIn is 0 or not among the processes), and publishes any other process that calls itself
// lsass as "NAME_PID" (its name and PID, as Windows names processes when asked to tell them
// apart), so that it never answers as Process(lsass).
void AddLsassStandIn(std::vector<PublishedProcess>& processes, int standIn);
