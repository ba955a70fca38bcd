// A source of performance counters with the operations of the Performance Data Helper library
// (PdhConnectMachineW, PdhOpenQueryW, PdhAddCounterW, PdhCollectQueryData,
// PdhGetFormattedCounterValue, PdhGetRawCounterValue, PdhCloseQuery) and Sleep. Every call
// returns a PDH status, 0 (ERROR_SUCCESS) for success.
#pragma once

#include <cstdint>

#include "framework/cstring.h"

typedef std::uint32_t PDH_STATUS;

struct PdhQuery;   // PDH_HQUERY
struct PdhCounter; // PDH_HCOUNTER

// PDH_FMT_COUNTERVALUE: the value is in the member of the format asked for.
struct PdhFormattedValue {
    std::uint32_t CStatus = 0;
    std::int32_t longValue = 0;  // PDH_FMT_LONG
    double doubleValue = 0.0;    // PDH_FMT_DOUBLE
    std::int64_t largeValue = 0; // PDH_FMT_LARGE
};

// One reading of a counter (PDH_RAW_COUNTER). For the timer types second is the time that
// passed in first's units; for a raw fraction it is the denominator.
struct RawCounterSample {
    std::uint32_t CStatus = 0xC0000BBA; // PDH_CSTATUS_INVALID_DATA: no sample taken yet
    std::int64_t timeNs = 0;            // monotonic clock when collected
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    // The time base of the rates when the data came with its own clock (a PERF_DATA_BLOCK's
    // PerfTime, ticking perfFreq times a second); with perfFreq 0 the rates use timeNs.
    std::uint64_t perfTime = 0;
    std::uint64_t perfFreq = 0;
};

constexpr std::uint32_t PDH_FMT_LONG_FORMAT = 0x00000100;
constexpr std::uint32_t PDH_FMT_DOUBLE_FORMAT = 0x00000200;
constexpr std::uint32_t PDH_FMT_LARGE_FORMAT = 0x00000400;

class ICounterSource {
public:
    virtual ~ICounterSource() = default;
    virtual PDH_STATUS ConnectMachine(const CString& machine) = 0;
    // Opens a real-time query (no data source).
    virtual PDH_STATUS OpenQuery(std::uintptr_t userData, PdhQuery** query) = 0;
    virtual PDH_STATUS AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t userData,
                                  PdhCounter** counter) = 0;
    virtual PDH_STATUS CollectQueryData(PdhQuery* query) = 0;
    virtual PDH_STATUS GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format,
                                                PdhFormattedValue* value) = 0;
    // The counter's last raw sample and its Windows counter type (winperf.h's PERF_ values).
    virtual PDH_STATUS GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample) = 0;
    virtual PDH_STATUS CloseQuery(PdhQuery* query) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};
