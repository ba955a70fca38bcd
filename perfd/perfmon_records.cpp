#include "perfd/perfmon_records.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "framework/ascii_case.h"
#include "perf/pdh_status.h"
#include "platform/linux/counters/counter_catalogue.h"

namespace {

// The longest text Samba's server copies whole (PERFCOUNT_MAX_LEN less the terminating zero).
constexpr std::size_t kMaxText = 255;
constexpr std::uint64_t kDwordMax = 0xFFFFFFFF;
constexpr std::uint32_t kCounterSizeMask = 0x300;  // PERF_SIZE_* bits of a counter type (winperf.h)
constexpr std::uint32_t kLargeCounterSize = 0x100; // PERF_SIZE_LARGE

bool IsLarge(std::uint32_t type)
{
    return (type & kCounterSizeMask) == kLargeCounterSize;
}

// Fills records in place, reusing the strings of the last build.
class RecordWriter {
public:
    explicit RecordWriter(std::vector<PerfmonRecord>& records) : m_records(records) {}
    ~RecordWriter() { m_records.resize(m_count); }

    void Put(std::string_view key, std::string_view value)
    {
        if (m_count == m_records.size())
            m_records.emplace_back();
        PerfmonRecord& record = m_records[m_count++];
        record.key.assign(key);
        record.value.assign(value.substr(0, TextLength(value)));
    }

    void PutBinary(std::string_view key, std::string_view value)
    {
        if (m_count == m_records.size())
            m_records.emplace_back();
        PerfmonRecord& record = m_records[m_count++];
        record.key.assign(key);
        record.value.assign(value);
    }

private:
    // At most kMaxText bytes, not ending inside a UTF-8 sequence.
    static std::size_t TextLength(std::string_view text)
    {
        if (text.size() <= kMaxText)
            return text.size();
        std::size_t length = kMaxText;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
        return length;
    }

    std::vector<PerfmonRecord>& m_records;
    std::size_t m_count = 0;
};

// Keys and numbers as text, without allocating.
class Text {
public:
    Text& operator<<(std::uint64_t number)
    {
        const auto [end, error] = std::to_chars(m_buffer + m_length, m_buffer + sizeof m_buffer, number);
        if (error == std::errc())
            m_length = static_cast<std::size_t>(end - m_buffer);
        return *this;
    }
    Text& operator<<(std::string_view text)
    {
        const std::size_t n = std::min(text.size(), sizeof m_buffer - m_length);
        std::copy_n(text.data(), n, m_buffer + m_length);
        m_length += n;
        return *this;
    }
    operator std::string_view() const { return { m_buffer, m_length }; }

private:
    char m_buffer[64];
    std::size_t m_length = 0;
};

// A value as its text: 0 as none (see the header).
Text ValueText(std::uint64_t value)
{
    Text text;
    if (value != 0)
        text << value;
    return text;
}

// The processors' time as /proc/stat gives it (USER_HZ ticks summed over the processors), in
// 100 ns of one processor: the clock of the Processor counters and of PerfTime100nSec.
class ProcessorClock {
public:
    ProcessorClock(std::uint32_t ticksPerSecond, unsigned processors)
        : m_divisor(std::uint64_t{ std::max<std::uint32_t>(ticksPerSecond, 1) } * std::max(processors, 1u))
    {
    }

    std::uint64_t In100ns(std::uint64_t ticks) const
    {
        return ticks / m_divisor * kPerfFrequency + ticks % m_divisor * kPerfFrequency / m_divisor;
    }

private:
    std::uint64_t m_divisor;
};

// A counter's raw fields in the block of one instance: its value, and its base's after it.
struct Fields {
    std::uint64_t value = 0;
    std::uint64_t base = 0;
};

Fields CounterFields(const PerfCounter& counter, const RawCounterSample& sample, const ProcessorClock& clock)
{
    if (sample.CStatus != PDH_CSTATUS_VALID_DATA)
        return {};
    switch (counter.type) {
    case CounterType::Timer100nsInverse:
    case CounterType::Timer100ns:
        return { clock.In100ns(sample.first), 0 };
    case CounterType::RawFraction: {
        // Both fields are 32 bits wide: halve both until they fit, which keeps their ratio.
        Fields fields{ sample.first, sample.second };
        while (fields.value > kDwordMax || fields.base > kDwordMax) {
            fields.value >>= 1;
            fields.base >>= 1;
        }
        return fields;
    }
    case CounterType::PerSecond:
        return { sample.first & kDwordMax, 0 }; // a 32-bit counter, which wraps
    default:
        return { std::min(sample.first, kDwordMax), 0 };
    }
}

void AppendField(std::string& block, std::uint64_t value, std::size_t width)
{
    for (std::size_t byte = 0; byte < width; ++byte)
        block += static_cast<char>(byte < sizeof value ? (value >> (8 * byte)) & 0xFF : 0);
}

std::uint32_t HighestIndex()
{
    std::uint32_t highest = 0;
    for (const PerfObject& object : PerfObjects())
        highest = std::max(highest, object.index);
    for (const PerfCounter& counter : PerfCounters())
        highest = std::max({ highest, counter.index, counter.baseIndex });
    return highest;
}

// Adds the process's counters (ID Process none) to totals, by the counter's place.
void AddProcessCounters(const PublishedProcess& process, std::vector<std::uint64_t>& totals)
{
    // The places of the counters summed: the Process object's, but ID Process.
    static const std::vector<std::size_t> summed = [] {
        std::vector<std::size_t> places;
        for (std::size_t c = 0; c < PerfCounters().size(); ++c) {
            const PerfCounter& counter = PerfCounters()[c];
            const PerfObject* object = FindPerfObjectByIndex(counter.objectIndex);
            if (object != nullptr && object->instances == Instances::Process && counter.figure != Figure::ProcessId)
                places.push_back(c);
        }
        return places;
    }();
    for (const std::size_t c : summed) {
        const PerfCounter& counter = PerfCounters()[c];
        const RawCounterSample raw = ProcessSample(counter.figure, process.pid, process.descriptors);
        if (raw.CStatus == PDH_CSTATUS_VALID_DATA)
            totals[c] += raw.first;
    }
}

} // namespace

void SumProcessCounters(const std::vector<PublishedProcess>& processes, std::vector<std::uint64_t>& totals)
{
    totals.assign(PerfCounters().size(), 0);
    for (const PublishedProcess& process : processes)
        AddProcessCounters(process, totals);
}

void BuildPerfmonRecords(const PerfmonSample& sample, std::size_t dwordSize, PerfmonRecords& records)
{
    RecordWriter names(records.names);
    RecordWriter data(records.data);
    const ProcessorClock clock(sample.ticksPerSecond, sample.kernel.cpu ? sample.kernel.cpu->processors : 1);

    names.Put("1", Text() << HighestIndex() / 2);
    names.Put("0PerfFreq", Text() << kPerfFrequency);
    data.Put("0PerfTime", Text() << sample.perfTime);
    const std::uint64_t processorTime = sample.kernel.cpu ? clock.In100ns(sample.kernel.cpu->Total()) : sample.perfTime;
    data.Put("0PerfTime100nSec", Text() << processorTime);

    for (const PerfObject& object : PerfObjects()) {
        names.Put(Text() << object.index, object.name);
        names.Put(Text() << object.index + 1, object.help);
        names.Put(Text() << object.index << "rel", "p");
    }
    for (const PerfCounter& counter : PerfCounters()) {
        const Text parent = Text() << "c[" << counter.objectIndex << "]";
        names.Put(Text() << counter.index, counter.name);
        names.Put(Text() << counter.index + 1, counter.help);
        names.Put(Text() << counter.index << "rel", parent);
        names.Put(Text() << counter.index << "type", Text() << static_cast<std::uint32_t>(counter.type));
        if (counter.baseIndex != 0) {
            names.Put(Text() << counter.baseIndex, BaseCounterName(counter));
            names.Put(Text() << counter.baseIndex + 1, BaseCounterHelp(counter));
            names.Put(Text() << counter.baseIndex << "rel", parent);
            names.Put(Text() << counter.baseIndex << "type", Text() << kRawBaseCounterType);
        }
    }

    // Objects without instances and those with _Total: the object-level values, and _Total's
    // counter block. The Process object's come last, since their number changes.
    std::string block;
    // Fills block with the object's counters as sampleOf gives them; puts their values as the
    // object-level ones when putValues.
    const auto fillBlock = [&](const PerfObject& object, const auto& sampleOf, bool putValues) {
        block.clear();
        for (const PerfCounter& counter : PerfCounters()) {
            if (counter.objectIndex != object.index)
                continue;
            const Fields fields = CounterFields(counter, sampleOf(counter), clock);
            AppendField(block, fields.value, IsLarge(static_cast<std::uint32_t>(counter.type)) ? 8 : dwordSize);
            if (counter.baseIndex != 0)
                AppendField(block, fields.base, dwordSize);
            if (putValues) {
                data.Put(Text() << counter.index, ValueText(fields.value));
                if (counter.baseIndex != 0)
                    data.Put(Text() << counter.baseIndex, ValueText(fields.base));
            }
        }
    };
    const auto kernelSample = [&](const PerfCounter& counter) { return KernelSample(counter.figure, sample.kernel); };
    for (const PerfObject& object : PerfObjects()) {
        if (object.instances == Instances::None) {
            fillBlock(object, kernelSample, true);
        } else if (object.instances == Instances::Total) {
            names.Put(Text() << object.index << "inst", "1");
            names.Put(Text() << object.index << "i0name", kTotalInstance);
            fillBlock(object, kernelSample, true);
            data.PutBinary(Text() << object.index << "i0", block);
        }
    }
    for (const PerfObject& object : PerfObjects()) {
        if (object.instances != Instances::Process)
            continue;
        // The server needs each counter's object-level value, instances or not.
        for (const PerfCounter& counter : PerfCounters()) {
            if (counter.objectIndex != object.index)
                continue;
            data.Put(Text() << counter.index, "");
            if (counter.baseIndex != 0)
                data.Put(Text() << counter.baseIndex, "");
        }
        // _Total first, at a place of its own: the sums of the instances' counters as
        // published (the stand-in for lsass, a second copy, not counted twice), and ID Process
        // 0, as Windows publishes it.
        // When only some processes are published, the sampler gives the sums over all.
        std::vector<std::uint64_t> totals(PerfCounters().size());
        if (sample.processTotals.size() == totals.size()) {
            totals = sample.processTotals;
        } else {
            for (const PublishedProcess& process : sample.processes) {
                if (sample.lsassIsCopy && EqualsIgnoringCase(process.name, "lsass"))
                    continue;
                AddProcessCounters(process, totals);
            }
        }
        names.Put(Text() << object.index << "inst", Text() << sample.processes.size() + 1);
        names.Put(Text() << object.index << "i0name", kTotalInstance);
        fillBlock(
            object,
            [&](const PerfCounter& counter) {
                RawCounterSample total;
                total.CStatus = PDH_CSTATUS_VALID_DATA;
                total.first = totals[static_cast<std::size_t>(&counter - PerfCounters().data())];
                return total;
            },
            false);
        data.PutBinary(Text() << object.index << "i0", block);
        std::uint64_t instance = 1;
        for (const PublishedProcess& process : sample.processes) {
            names.Put(Text() << object.index << "i" << instance << "name", process.name);
            fillBlock(
                object,
                [&](const PerfCounter& counter) {
                    return ProcessSample(counter.figure, process.pid, process.descriptors);
                },
                false);
            data.PutBinary(Text() << object.index << "i" << instance, block);
            ++instance;
        }
    }
}

void AddLsassStandIn(std::vector<PublishedProcess>& processes, int standIn)
{
    constexpr std::string_view kLsass = "lsass";
    std::size_t standInAt = processes.size();
    for (std::size_t at = 0; at < processes.size(); ++at) {
        PublishedProcess& process = processes[at];
        if (standIn != 0 && process.pid == standIn)
            standInAt = at;
        else if (EqualsIgnoringCase(process.name, kLsass))
            process.name = std::string(kLsass) + "_" + std::to_string(process.pid);
    }
    if (standInAt == processes.size() || EqualsIgnoringCase(processes[standInAt].name, kLsass))
        return; // none, or it is named lsass itself
    PublishedProcess lsass = processes[standInAt];
    lsass.name = kLsass;
    processes.insert(processes.begin() + static_cast<std::ptrdiff_t>(standInAt) + 1, std::move(lsass));
}
