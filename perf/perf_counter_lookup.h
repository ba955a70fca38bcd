// Finding a counter by its names in a machine's performance data, and taking its raw sample, as
// the system's counter library does for a remote machine: the object and counter by name through
// the machine's own name table (their indices differ from machine to machine), the instance by
// name with "#n" for the n-th duplicate, and the base of a fraction in the definition that
// follows it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "perf/counter_calculator.h"
#include "perf/counter_name_table.h"
#include "perf/perf_data_block.h"

// A counter path's parts after the machine: \object(parent/instance#index)\counter.
struct PerfCounterName {
    std::string object;
    std::string counter;
    bool hasInstance = false;
    std::string parent;
    std::string instance;
    int index = 0;
};

// Where a counter was found: its object's index and its definition's name index, which stay
// valid for as long as the machine keeps its name table.
struct PerfCounterLocation {
    std::uint32_t objectIndex = 0;
    std::uint32_t counterIndex = 0;
};

enum class PerfLookupStatus { Ok, NoObject, NoCounter };

// The object of block whose name is objectName, or null.
const PerfObjectType* FindNamedObject(const PerfDataBlock& block, const CounterNameTable& names,
                                      std::string_view objectName);

// Finds the counter in block: NoObject when no object of the block has the name, NoCounter
// when the object has no counter of that name (base counters are not counters one can add).
PerfLookupStatus LocatePerfCounter(const PerfDataBlock& block, const CounterNameTable& names,
                                   const PerfCounterName& name, PerfCounterLocation* location);

// The counter's raw sample in block, with the block's own clock. CStatus PDH_CSTATUS_NO_OBJECT
// when the block lacks its object, PDH_CSTATUS_NO_COUNTER when the object lacks the counter,
// PDH_CSTATUS_NO_INSTANCE when the instance is not there (or one is named for an object that has
// none, or none for one that has), PDH_CSTATUS_INVALID_DATA when its value cannot be read or its
// type is one the calculator does not know. *type receives the counter's type.
RawCounterSample SamplePerfCounter(const PerfDataBlock& block, const PerfCounterLocation& location,
                                   const PerfCounterName& name, std::uint32_t* type);
