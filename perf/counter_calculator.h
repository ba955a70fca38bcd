// Turns raw counter samples into displayed values the way PdhGetFormattedCounterValue does,
// by the counter's Windows counter type. Portable: the counter sources of every platform that
// collect raw figures themselves share it.
#pragma once

#include <cstdint>

#include "perf/counter_source.h"
#include "perf/pdh_status.h"

// Counter types of winperf.h that the calculator knows.
enum class CounterType : std::uint32_t {
    Timer100nsInverse = 0x21510500, // PERF_100NSEC_TIMER_INV: 100 * (1 - dFirst / dSecond)
    Timer100ns = 0x20510500,        // PERF_100NSEC_TIMER: 100 * dFirst / dSecond
    PerSecond = 0x10410400,         // PERF_COUNTER_COUNTER: dFirst / elapsed seconds
    BulkCount = 0x10410500,         // PERF_COUNTER_BULK_COUNT: the same, 64 bits wide
    RawFraction = 0x20020400,       // PERF_RAW_FRACTION: 100 * first / second
    LargeRawFraction = 0x20020500,  // PERF_LARGE_RAW_FRACTION: the same, 64 bits wide
    RawCount = 0x00010000,          // PERF_COUNTER_RAWCOUNT: first
    LargeRawCount = 0x00010100,     // PERF_COUNTER_LARGE_RAWCOUNT: the same, 64 bits wide
};

// Whether the calculator knows a counter type as found in a counter definition.
bool IsKnownCounterType(std::uint32_t type);

// The value of the counter from its last two samples (previous only matters for delta types),
// in the format asked for: PDH_FMT_LONG truncated toward zero and held at the largest LONG,
// PDH_FMT_LARGE truncated toward zero (a raw count exactly as it came, up to the largest
// LONGLONG), PDH_FMT_DOUBLE as computed. Percentages are held within 0..100; a 32-bit rate
// counter that wrapped grows by the difference modulo 2^32; a 64-bit delta that went backwards
// reads as 0. A sample that is not valid gives PDH_INVALID_DATA with the reason in
// value->CStatus; so does a timer that ran ahead of its time base by more than the two can
// drift apart, which no single reading of a machine gives. Any other format is
// PDH_INVALID_ARGUMENT.
PDH_STATUS FormatCounterValue(CounterType type, const RawCounterSample& previous, const RawCounterSample& current,
                              std::uint32_t format, PdhFormattedValue* value);
