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
    value->doubleValue = 0.0;
    value->largeValue = 0;
    return PDH_INVALID_DATA;
}

bool IsNumberFormat(std::uint32_t format)
{
    return format == PDH_FMT_LONG_FORMAT || format == PDH_FMT_DOUBLE_FORMAT || format == PDH_FMT_LARGE_FORMAT;
}

// How far a timer may run ahead of its time base and still be read as its base: the two are
// read apart (the idle time is counted in clock ticks, 15.6 ms on Windows), and converted to
// 100 ns units apart (a unit each). Beyond that the two did not come from one sample.
bool AheadOfItsBase(double delta, double base)
{
    return delta > base + base / 20.0 + 2.0;
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
    if (value == nullptr || !IsNumberFormat(format))
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
        // A 32-bit counter wraps: its growth is the difference modulo 2^32.
        const bool wraps = type == CounterType::PerSecond;
        const std::uint64_t growth =
            wraps ? (current.first - previous.first) & 0xFFFFFFFFu : current.first - previous.first;
        const bool backwards = (!wraps && current.first < previous.first) || current.second < previous.second;
        const auto deltaFirst = static_cast<double>(growth);
        // The interval: elapsed time for a rate, the base's growth for a timer.
        const double interval =
            IsRate(type) ? ElapsedSeconds(previous, current) : static_cast<double>(current.second - previous.second);
        if (backwards)
            result = 0.0;
        else if (!(interval > 0.0))
            return Invalid(PDH_CSTATUS_INVALID_DATA, value); // NOLINT(bugprone-branch-clone): the tests go in order
        else if (IsRate(type))
            result = deltaFirst / interval;
        else if (AheadOfItsBase(deltaFirst, interval))
            return Invalid(PDH_CSTATUS_INVALID_DATA, value);
        else if (type == CounterType::Timer100ns)
            result = 100.0 * deltaFirst / interval;
        else
            result = 100.0 * (1.0 - deltaFirst / interval);
    }

    if (IsPercentage(type))
        result = std::clamp(result, 0.0, 100.0);
    value->CStatus = PDH_CSTATUS_VALID_DATA;
    value->longValue = 0;
    value->doubleValue = 0.0;
    value->largeValue = 0;
    constexpr auto kLargeMax = std::numeric_limits<std::int64_t>::max();
    switch (format) {
    case PDH_FMT_DOUBLE_FORMAT:
        value->doubleValue = result;
        break;
    case PDH_FMT_LARGE_FORMAT:
        // A raw count as it came, without a detour through double (which holds 53 bits).
        if (type == CounterType::RawCount || type == CounterType::LargeRawCount)
            value->largeValue = static_cast<std::int64_t>(std::min<std::uint64_t>(current.first, kLargeMax));
        else if (result >= 9223372036854775808.0) // 2^63
            value->largeValue = kLargeMax;
        else
            value->largeValue = static_cast<std::int64_t>(std::trunc(result));
        break;
    default:
        value->longValue = static_cast<std::int32_t>(
            std::min(std::trunc(result), static_cast<double>(std::numeric_limits<std::int32_t>::max())));
        break;
    }
    return 0;
}
