#include "perf/counter_calculator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNsPerSecond = 1e9;

bool IsRate(CounterType type)
{
    return type == CounterType::PerSecond || type == CounterType::BulkCount;
}

bool IsFraction(CounterType type)
{
    return type == CounterType::RawFraction || type == CounterType::LargeRawFraction;
}

bool IsPercentage(CounterType type)
{
    return type == CounterType::Timer100nsInverse || type == CounterType::Timer100ns || IsFraction(type);
}

// Seconds between two samples of a rate, by the samples' own clock when they carry one; a
// negative result when that clock went back or the two clocks differ.
double ElapsedSeconds(const RawCounterSample& previous, const RawCounterSample& current)
{
    if (current.perfFreq == 0 && previous.perfFreq == 0)
        return static_cast<double>(current.timeNs - previous.timeNs) / kNsPerSecond;
    if (current.perfFreq != previous.perfFreq || current.perfTime < previous.perfTime)
        return -1.0;
    return static_cast<double>(current.perfTime - previous.perfTime) / static_cast<double>(current.perfFreq);
}

PDH_STATUS Invalid(std::uint32_t reason, PdhFormattedValue* value)
{
    value->CStatus = reason;
    value->longValue = 0;
    return PDH_INVALID_DATA;
}

} // namespace

bool IsKnownCounterType(std::uint32_t type)
{
    switch (static_cast<CounterType>(type)) {
    case CounterType::Timer100nsInverse:
    case CounterType::Timer100ns:
    case CounterType::PerSecond:
    case CounterType::BulkCount:
    case CounterType::RawFraction:
    case CounterType::LargeRawFraction:
    case CounterType::RawCount:
    case CounterType::LargeRawCount:
        return true;
    }
    return false;
}

PDH_STATUS FormatCounterValue(CounterType type, const RawCounterSample& previous, const RawCounterSample& current,
                              std::uint32_t format, PdhFormattedValue* value)
{
    if (value == nullptr || format != PDH_FMT_LONG_FORMAT)
        return PDH_INVALID_ARGUMENT;
    if (current.CStatus != PDH_CSTATUS_VALID_DATA)
        return Invalid(current.CStatus, value);

    double result = 0.0;
    if (type == CounterType::RawCount || type == CounterType::LargeRawCount) {
        result = static_cast<double>(current.first);
    } else if (IsFraction(type)) {
        if (current.second == 0)
            return Invalid(PDH_CSTATUS_INVALID_DATA, value);
        result = 100.0 * static_cast<double>(current.first) / static_cast<double>(current.second);
    } else {
        if (previous.CStatus != PDH_CSTATUS_VALID_DATA)
            return Invalid(PDH_CSTATUS_INVALID_DATA, value);
        const bool backwards = current.first < previous.first || current.second < previous.second;
        const double deltaFirst = static_cast<double>(current.first - previous.first);
        // The interval: elapsed time for a rate, the base's growth for a timer.
        const double interval = IsRate(type) ? ElapsedSeconds(previous, current)
                                             : static_cast<double>(current.second - previous.second);
        if (backwards)
            result = 0.0;
        else if (!(interval > 0.0))
            return Invalid(PDH_CSTATUS_INVALID_DATA, value);
        else if (IsRate(type))
            result = deltaFirst / interval;
        else if (type == CounterType::Timer100ns)
            result = 100.0 * deltaFirst / interval;
        else
            result = 100.0 * (1.0 - deltaFirst / interval);
    }

    if (IsPercentage(type))
        result = std::clamp(result, 0.0, 100.0);
    result = std::min(std::trunc(result), static_cast<double>(std::numeric_limits<std::int32_t>::max()));
    value->CStatus = PDH_CSTATUS_VALID_DATA;
    value->longValue = static_cast<std::int32_t>(result);
    return 0;
}
