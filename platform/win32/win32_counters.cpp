// Performance counters of the chosen controller (pdh).
#include "platform/win32/win32_include.h"

// pdh.h has a PDH_STATUS of its own (LONG) beside the counter source's (a 32-bit status): its
// declarations take another name here, the same type underneath.
#define PDH_STATUS SystemPdhStatus
#include <pdh.h>
#undef PDH_STATUS

#include "platform/win32/win32_services.h"

static_assert(sizeof(SystemPdhStatus) == sizeof(PDH_STATUS));
static_assert(PDH_FMT_LONG == PDH_FMT_LONG_FORMAT);
static_assert(PDH_FMT_DOUBLE == PDH_FMT_DOUBLE_FORMAT);
static_assert(PDH_FMT_LARGE == PDH_FMT_LARGE_FORMAT);

PDH_STATUS Win32CounterSource::ConnectMachine(const CString& machine)
{
    return static_cast<PDH_STATUS>(PdhConnectMachineW(WStr(machine)));
}

PDH_STATUS Win32CounterSource::OpenQuery(std::uintptr_t userData, PdhQuery** query)
{
    PDH_HQUERY handle = nullptr;
    const auto status = static_cast<PDH_STATUS>(PdhOpenQueryW(nullptr, userData, &handle));
    if (status == ERROR_SUCCESS)
        *query = reinterpret_cast<PdhQuery*>(handle);
    return status;
}

PDH_STATUS Win32CounterSource::AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t userData,
                                          PdhCounter** counter)
{
    PDH_HCOUNTER handle = nullptr;
    const auto status =
        static_cast<PDH_STATUS>(PdhAddCounterW(reinterpret_cast<PDH_HQUERY>(query), WStr(fullPath), userData, &handle));
    if (status == ERROR_SUCCESS)
        *counter = reinterpret_cast<PdhCounter*>(handle);
    return status;
}

PDH_STATUS Win32CounterSource::CollectQueryData(PdhQuery* query)
{
    return static_cast<PDH_STATUS>(PdhCollectQueryData(reinterpret_cast<PDH_HQUERY>(query)));
}

PDH_STATUS Win32CounterSource::GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format,
                                                        PdhFormattedValue* value)
{
    PDH_FMT_COUNTERVALUE systemValue{};
    const auto status = static_cast<PDH_STATUS>(
        PdhGetFormattedCounterValue(reinterpret_cast<PDH_HCOUNTER>(counter), format, nullptr, &systemValue));
    *value = PdhFormattedValue{};
    value->CStatus = systemValue.CStatus;
    // The union's member of the format asked for.
    if (format == PDH_FMT_LARGE_FORMAT)
        value->largeValue = systemValue.largeValue;
    else if (format == PDH_FMT_DOUBLE_FORMAT)
        value->doubleValue = systemValue.doubleValue;
    else
        value->longValue = systemValue.longValue;
    return status;
}

PDH_STATUS Win32CounterSource::GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample)
{
    PDH_RAW_COUNTER raw{};
    DWORD systemType = 0;
    const auto status =
        static_cast<PDH_STATUS>(PdhGetRawCounterValue(reinterpret_cast<PDH_HCOUNTER>(counter), &systemType, &raw));
    *type = systemType;
    *sample = RawCounterSample{};
    sample->CStatus = raw.CStatus;
    // The time stamp is a FILETIME: 100 ns since 1601.
    const ULONGLONG stamp = (static_cast<ULONGLONG>(raw.TimeStamp.dwHighDateTime) << 32) | raw.TimeStamp.dwLowDateTime;
    sample->timeNs = static_cast<std::int64_t>(stamp * 100);
    sample->first = static_cast<std::uint64_t>(raw.FirstValue);
    sample->second = static_cast<std::uint64_t>(raw.SecondValue);
    return status;
}

PDH_STATUS Win32CounterSource::CloseQuery(PdhQuery* query)
{
    return static_cast<PDH_STATUS>(PdhCloseQuery(reinterpret_cast<PDH_HQUERY>(query)));
}

void Win32CounterSource::Sleep(std::uint32_t milliseconds)
{
    ::Sleep(milliseconds);
}
