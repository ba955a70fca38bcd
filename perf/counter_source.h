// A source of performance counters with the operations of the Performance Data Helper library
// (PdhConnectMachineW, PdhOpenQueryW, PdhAddCounterW, PdhCollectQueryData,
// PdhGetFormattedCounterValue, PdhCloseQuery) and Sleep. Every call returns a PDH status,
// 0 (ERROR_SUCCESS) for success.
#pragma once

#include <cstdint>

#include "framework/cstring.h"

typedef std::uint32_t PDH_STATUS;

struct PdhQuery;   // PDH_HQUERY
struct PdhCounter; // PDH_HCOUNTER

// PDH_FMT_COUNTERVALUE with PDH_FMT_LONG.
struct PdhFormattedValue {
    std::uint32_t CStatus = 0;
    std::int32_t longValue = 0;
};

constexpr std::uint32_t PDH_FMT_LONG_FORMAT = 0x00000100;

class ICounterSource {
public:
    virtual ~ICounterSource() = default;
    virtual PDH_STATUS ConnectMachine(const CString& machine) = 0;
    // Opens a real-time query (no data source).
    virtual PDH_STATUS OpenQuery(std::uintptr_t userData, PdhQuery** query) = 0;
    virtual PDH_STATUS AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t userData,
                                  PdhCounter** counter) = 0;
    virtual PDH_STATUS CollectQueryData(PdhQuery* query) = 0;
    virtual PDH_STATUS GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format, PdhFormattedValue* value) = 0;
    virtual PDH_STATUS CloseQuery(PdhQuery* query) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};
