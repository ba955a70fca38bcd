// Formatted values from raw samples by counter type.
#include <gtest/gtest.h>

#include <limits>

#include "perf/counter_calculator.h"

namespace {

constexpr std::int64_t kSecondNs = 1'000'000'000;

RawCounterSample At(std::int64_t timeNs, std::uint64_t first, std::uint64_t second = 0)
{
    RawCounterSample sample;
    sample.CStatus = PDH_CSTATUS_VALID_DATA;
    sample.timeNs = timeNs;
    sample.first = first;
    sample.second = second;
    return sample;
}

struct Formatted {
    PDH_STATUS status;
    PdhFormattedValue value;
};

Formatted Format(CounterType type, const RawCounterSample& previous, const RawCounterSample& current,
                 std::uint32_t format = PDH_FMT_LONG_FORMAT)
{
    Formatted f{};
    f.value.longValue = 12345; // must be overwritten
    f.value.largeValue = 12345;
    f.value.doubleValue = 12345.0;
    f.status = FormatCounterValue(type, previous, current, format, &f.value);
    return f;
}

void ExpectValue(const Formatted& f, std::int32_t expected)
{
    EXPECT_EQ(f.status, 0u);
    EXPECT_EQ(f.value.CStatus, PDH_CSTATUS_VALID_DATA);
    EXPECT_EQ(f.value.longValue, expected);
}

void ExpectInvalid(const Formatted& f, std::uint32_t cstatus)
{
    EXPECT_EQ(f.status, PDH_INVALID_DATA);
    EXPECT_EQ(f.value.CStatus, cstatus);
    EXPECT_EQ(f.value.longValue, 0);
    EXPECT_EQ(f.value.largeValue, 0);
    EXPECT_EQ(f.value.doubleValue, 0.0);
}

} // namespace

TEST(CounterCalculator, DeltaTypesNeedTwoValidSamples)
{
    const RawCounterSample none;
    for (CounterType type : { CounterType::Timer100nsInverse, CounterType::Timer100ns, CounterType::PerSecond })
        ExpectInvalid(Format(type, none, At(kSecondNs, 10, 100)), PDH_CSTATUS_INVALID_DATA);
    // One sample is enough for the instantaneous types.
    ExpectValue(Format(CounterType::RawCount, none, At(0, 7)), 7);
    ExpectValue(Format(CounterType::RawFraction, none, At(0, 1, 4)), 25);
}

TEST(CounterCalculator, SampleStatusIsPassedOn)
{
    RawCounterSample missing = At(kSecondNs, 0);
    missing.CStatus = PDH_CSTATUS_NO_INSTANCE;
    ExpectInvalid(Format(CounterType::RawCount, At(0, 5), missing), PDH_CSTATUS_NO_INSTANCE);
    ExpectInvalid(Format(CounterType::PerSecond, At(0, 5), missing), PDH_CSTATUS_NO_INSTANCE);
    // A previous sample without the instance: no rate yet.
    ExpectInvalid(Format(CounterType::PerSecond, missing, At(2 * kSecondNs, 5)), PDH_CSTATUS_INVALID_DATA);
}

TEST(CounterCalculator, RatesAndTimers)
{
    // 300 events in 2 s; 250 in 0.5 s.
    ExpectValue(Format(CounterType::PerSecond, At(0, 1000), At(2 * kSecondNs, 1300)), 150);
    ExpectValue(Format(CounterType::PerSecond, At(kSecondNs, 0), At(kSecondNs + kSecondNs / 2, 250)), 500);
    // Busy share from the idle share: 25 idle ticks of 100.
    ExpectValue(Format(CounterType::Timer100nsInverse, At(0, 1000, 5000), At(kSecondNs, 1025, 5100)), 75);
    ExpectValue(Format(CounterType::Timer100ns, At(0, 10, 5000), At(kSecondNs, 13, 5100)), 3);
    ExpectValue(Format(CounterType::RawFraction, At(0, 0), At(0, 3, 8)), 37);
}

TEST(CounterCalculator, LongFormatTruncatesTowardZero)
{
    // 2.9 a second, 99.9 %, 0.6 %.
    ExpectValue(Format(CounterType::PerSecond, At(0, 0), At(10 * kSecondNs, 29)), 2);
    ExpectValue(Format(CounterType::RawFraction, At(0, 0), At(0, 999, 1000)), 99);
    ExpectValue(Format(CounterType::Timer100ns, At(0, 0, 0), At(kSecondNs, 6, 1000)), 0);
    // Beyond the range of a LONG: the largest LONG.
    ExpectValue(Format(CounterType::RawCount, At(0, 0), At(0, 1ull << 40)), 2147483647);
}

TEST(CounterCalculator, PercentagesAreHeldWithin0To100)
{
    // Committed beyond the limit; an idle share, a busy share a little above the base (read a
    // moment apart from it).
    ExpectValue(Format(CounterType::RawFraction, At(0, 0), At(0, 150, 100)), 100);
    ExpectValue(Format(CounterType::Timer100nsInverse, At(0, 0, 0), At(kSecondNs, 10'200'000, 10'000'000)), 0);
    ExpectValue(Format(CounterType::Timer100ns, At(0, 0, 0), At(kSecondNs, 10'200'000, 10'000'000)), 100);
    ExpectValue(Format(CounterType::Timer100nsInverse, At(0, 5, 5), At(kSecondNs, 7, 6)), 0); // rounding
}

TEST(CounterCalculator, BackwardsGivesZeroAndNoIntervalIsInvalid)
{
    ExpectValue(Format(CounterType::BulkCount, At(0, 500), At(kSecondNs, 400)), 0);
    ExpectValue(Format(CounterType::Timer100nsInverse, At(0, 100, 1000), At(kSecondNs, 110, 900)), 0);
    ExpectValue(Format(CounterType::Timer100ns, At(0, 100, 1000), At(kSecondNs, 90, 1100)), 0);
    // Two samples at one time, a timer base that did not grow, a fraction over nothing.
    ExpectInvalid(Format(CounterType::PerSecond, At(kSecondNs, 1), At(kSecondNs, 2)), PDH_CSTATUS_INVALID_DATA);
    ExpectInvalid(Format(CounterType::Timer100ns, At(0, 1, 100), At(kSecondNs, 1, 100)), PDH_CSTATUS_INVALID_DATA);
    ExpectInvalid(Format(CounterType::RawFraction, At(0, 0), At(0, 1, 0)), PDH_CSTATUS_INVALID_DATA);
}

TEST(CounterCalculator, OnlyTheNumberFormatsIntoAValueAreAccepted)
{
    PdhFormattedValue value;
    for (std::uint32_t format : { 0x00000010u /* PDH_FMT_RAW */, 0x00000000u, 0x00000300u })
        EXPECT_EQ(FormatCounterValue(CounterType::RawCount, At(0, 1), At(0, 1), format, &value), PDH_INVALID_ARGUMENT);
    EXPECT_EQ(FormatCounterValue(CounterType::RawCount, At(0, 1), At(0, 1), PDH_FMT_LONG_FORMAT, nullptr),
              PDH_INVALID_ARGUMENT);
}

// A remote machine's data carries its own clock: PerfTime ticking PerfFreq times a second.
TEST(CounterCalculator, RatesUseTheDataBlocksOwnClockWhenItHasOne)
{
    const auto withClock = [](std::uint64_t first, std::uint64_t perfTime, std::uint64_t perfFreq) {
        RawCounterSample sample = At(0, first); // the local clock stands still: not used
        sample.perfTime = perfTime;
        sample.perfFreq = perfFreq;
        return sample;
    };
    // 500 events over 2.5 s of a 10 MHz clock, for both widths of the rate counter.
    for (CounterType type : { CounterType::PerSecond, CounterType::BulkCount })
        ExpectValue(Format(type, withClock(1000, 4'000'000'000, 10'000'000),
                           withClock(1500, 4'025'000'000, 10'000'000)),
                    200);
    // A clock that went back or changed its frequency gives no value; so does one that stood still.
    ExpectInvalid(Format(CounterType::PerSecond, withClock(1, 50, 10), withClock(2, 40, 10)), PDH_CSTATUS_INVALID_DATA);
    ExpectInvalid(Format(CounterType::PerSecond, withClock(1, 50, 10), withClock(2, 60, 20)), PDH_CSTATUS_INVALID_DATA);
    ExpectInvalid(Format(CounterType::PerSecond, withClock(1, 50, 10), withClock(2, 50, 10)), PDH_CSTATUS_INVALID_DATA);
    // The 64-bit raw types read as their 32-bit forms do.
    ExpectValue(Format(CounterType::LargeRawCount, RawCounterSample{}, At(0, 41)), 41);
    ExpectValue(Format(CounterType::LargeRawFraction, RawCounterSample{}, At(0, 3, 4)), 75);
    EXPECT_TRUE(IsKnownCounterType(0x10410500));
    EXPECT_FALSE(IsKnownCounterType(0x40030403)); // PERF_RAW_BASE is a base, never shown
}

// PERF_COUNTER_COUNTER is 32 bits wide (Samba sends it 8 bytes wide, its upper half unused): past
// 0xFFFFFFFF it starts again at 0, and the events went on.
TEST(CounterCalculator, AWrapped32BitRateCountsOnPastTheWrap)
{
    ExpectValue(Format(CounterType::PerSecond, At(0, 0xFFFFFF00), At(kSecondNs, 0x100)), 512);
    RawCounterSample before = At(0, 0xFFFFFFFF), after = At(0, 99);
    before.perfTime = 1'000'000, before.perfFreq = 1'000'000;
    after.perfTime = 3'000'000, after.perfFreq = 1'000'000;
    ExpectValue(Format(CounterType::PerSecond, before, after), 50);
    // A 64-bit one does not wrap in a machine's life: going back is a reset, read as 0.
    ExpectValue(Format(CounterType::BulkCount, At(0, 0xFFFFFF00), At(kSecondNs, 0x100)), 0);
}

// A processor time over its base comes from an answer put together from two samples of the
// machine: no figure, neither clamped to 100 % nor to 0 %.
TEST(CounterCalculator, ATimerAheadOfItsBaseGivesNoFigure)
{
    for (const std::uint32_t format : { PDH_FMT_LONG_FORMAT, PDH_FMT_LARGE_FORMAT, PDH_FMT_DOUBLE_FORMAT }) {
        ExpectInvalid(Format(CounterType::Timer100ns, At(0, 0, 0), At(kSecondNs, 150, 100), format),
                      PDH_CSTATUS_INVALID_DATA);
        ExpectInvalid(Format(CounterType::Timer100nsInverse, At(0, 1000, 5000), At(kSecondNs, 16'000'000, 10'005'000),
                             format),
                      PDH_CSTATUS_INVALID_DATA);
    }
    // The next sample, whole again, is a figure.
    ExpectValue(Format(CounterType::Timer100nsInverse, At(0, 0, 0), At(kSecondNs, 2'500'000, 10'000'000)), 75);
}

// The window shows whole LONGs; the probe and the exporter read the same counter in full.
TEST(CounterCalculator, TheLargeAndDoubleFormatsCarryTheWholeValue)
{
    const auto large = [](CounterType type, const RawCounterSample& previous, const RawCounterSample& current) {
        const Formatted f = Format(type, previous, current, PDH_FMT_LARGE_FORMAT);
        EXPECT_EQ(f.status, 0u);
        EXPECT_EQ(f.value.CStatus, PDH_CSTATUS_VALID_DATA);
        EXPECT_EQ(f.value.longValue, 0); // only the member asked for is set
        return f.value.largeValue;
    };
    const auto real = [](CounterType type, const RawCounterSample& previous, const RawCounterSample& current) {
        const Formatted f = Format(type, previous, current, PDH_FMT_DOUBLE_FORMAT);
        EXPECT_EQ(f.status, 0u);
        EXPECT_EQ(f.value.CStatus, PDH_CSTATUS_VALID_DATA);
        return f.value.doubleValue;
    };
    const RawCounterSample none;
    ExpectValue(Format(CounterType::LargeRawCount, none, At(0, 1ull << 31)), 2147483647);
    EXPECT_EQ(large(CounterType::LargeRawCount, none, At(0, 1ull << 31)), 2147483648);
    EXPECT_EQ(large(CounterType::LargeRawCount, none, At(0, (1ull << 53) + 1)), 9007199254740993); // not via double
    EXPECT_EQ(large(CounterType::LargeRawCount, none, At(0, ~0ull)), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(large(CounterType::RawCount, none, At(0, 4'000'000'000)), 4'000'000'000);
    EXPECT_DOUBLE_EQ(real(CounterType::LargeRawCount, none, At(0, 1ull << 40)), 1099511627776.0);
    // A rate of 6 billion a second, truncated; 2.9 a second in full; percentages still held.
    EXPECT_EQ(large(CounterType::BulkCount, At(0, 0), At(kSecondNs, 6'000'000'000)), 6'000'000'000);
    EXPECT_EQ(large(CounterType::PerSecond, At(0, 0), At(10 * kSecondNs, 29)), 2);
    EXPECT_DOUBLE_EQ(real(CounterType::PerSecond, At(0, 0), At(10 * kSecondNs, 29)), 2.9);
    EXPECT_DOUBLE_EQ(real(CounterType::RawFraction, none, At(0, 999, 1000)), 99.9);
    EXPECT_DOUBLE_EQ(real(CounterType::RawFraction, none, At(0, 150, 100)), 100.0);
}
