#include "perf/perf_counter_lookup.h"

#include <algorithm>

#include "framework/ascii_case.h"
#include "perf/pdh_status.h"

namespace {

// Counter type bits of winperf.h.
constexpr std::uint32_t kCounterSubtypeMask = 0x00070000;
constexpr std::uint32_t kCounterBase = 0x00030000; // PERF_COUNTER_BASE
constexpr std::uint32_t kTimerMask = 0x00300000;
constexpr std::uint32_t kTimer100ns = 0x00100000;  // PERF_TIMER_100NS
constexpr std::uint32_t kObjectTimer = 0x00200000; // PERF_OBJECT_TIMER
constexpr std::uint64_t kHundredNsPerSecond = 10'000'000;

bool IsBase(const PerfCounterDefinition& definition)
{
    return (definition.type & kCounterSubtypeMask) == kCounterBase;
}

bool Contains(const std::vector<std::uint32_t>& indices, std::uint32_t index)
{
    return std::binary_search(indices.begin(), indices.end(), index);
}

const PerfCounterDefinition* FindDefinition(const PerfObjectType& object, std::uint32_t counterIndex,
                                            std::size_t* position)
{
    for (std::size_t i = 0; i < object.definitions.size(); ++i) {
        if (object.definitions[i].nameIndex == counterIndex && !IsBase(object.definitions[i])) {
            *position = i;
            return &object.definitions[i];
        }
    }
    return nullptr;
}

// The name of an instance's parent, when the parent's object is in the block.
std::string_view ParentName(const PerfDataBlock& block, const PerfInstance& instance)
{
    const PerfObjectType* parent =
        instance.parentObjectIndex != 0 ? block.FindObject(instance.parentObjectIndex) : nullptr;
    if (parent == nullptr || instance.parentInstance >= parent->instances.size())
        return {};
    return parent->instances[instance.parentInstance].name;
}

// The counter block the name picks: the object's own, or that of the index-th instance (in the
// block's order) of the given name and parent.
const std::span<const std::uint8_t>* CounterBlockOf(const PerfDataBlock& block, const PerfObjectType& object,
                                                    const PerfCounterName& name)
{
    if (!object.hasInstances)
        return name.hasInstance ? nullptr : &object.counters;
    if (!name.hasInstance)
        return nullptr;
    int seen = 0;
    for (const PerfInstance& instance : object.instances) {
        if (!EqualsIgnoringCase(instance.name, name.instance))
            continue;
        if (!name.parent.empty() && !EqualsIgnoringCase(ParentName(block, instance), name.parent))
            continue;
        if (seen++ == name.index)
            return &instance.counters;
    }
    return nullptr;
}

RawCounterSample Invalid(std::uint32_t status)
{
    RawCounterSample sample;
    sample.CStatus = status;
    return sample;
}

} // namespace

const PerfObjectType* FindNamedObject(const PerfDataBlock& block, const CounterNameTable& names,
                                      std::string_view objectName)
{
    const std::vector<std::uint32_t>& candidates = names.IndicesOf(objectName);
    for (const PerfObjectType& object : block.objects) {
        if (Contains(candidates, object.nameIndex))
            return &object;
    }
    return nullptr;
}

PerfLookupStatus LocatePerfCounter(const PerfDataBlock& block, const CounterNameTable& names,
                                   const PerfCounterName& name, PerfCounterLocation* location)
{
    const PerfObjectType* object = FindNamedObject(block, names, name.object);
    if (object == nullptr)
        return PerfLookupStatus::NoObject;
    const std::vector<std::uint32_t>& candidates = names.IndicesOf(name.counter);
    for (const PerfCounterDefinition& definition : object->definitions) {
        if (!IsBase(definition) && Contains(candidates, definition.nameIndex)) {
            *location = { object->nameIndex, definition.nameIndex };
            return PerfLookupStatus::Ok;
        }
    }
    return PerfLookupStatus::NoCounter;
}

RawCounterSample SamplePerfCounter(const PerfDataBlock& block, const PerfCounterLocation& location,
                                   const PerfCounterName& name, std::uint32_t* type)
{
    const PerfObjectType* object = block.FindObject(location.objectIndex);
    if (object == nullptr)
        return Invalid(PDH_CSTATUS_NO_OBJECT);
    std::size_t position = 0;
    const PerfCounterDefinition* definition = FindDefinition(*object, location.counterIndex, &position);
    if (definition == nullptr)
        return Invalid(PDH_CSTATUS_NO_COUNTER);
    *type = definition->type;
    const std::span<const std::uint8_t>* counters = CounterBlockOf(block, *object, name);
    if (counters == nullptr)
        return Invalid(PDH_CSTATUS_NO_INSTANCE);
    if (!IsKnownCounterType(definition->type))
        return Invalid(PDH_CSTATUS_INVALID_DATA);

    RawCounterSample sample;
    if (!ReadCounterValue(*counters, *definition, &sample.first))
        return Invalid(PDH_CSTATUS_INVALID_DATA);
    const auto counterType = static_cast<CounterType>(definition->type);
    switch (counterType) {
    case CounterType::RawFraction:
    case CounterType::LargeRawFraction: {
        // The denominator is the base counter defined right after the fraction.
        const std::size_t next = position + 1;
        if (next >= object->definitions.size() || !IsBase(object->definitions[next]) ||
            !ReadCounterValue(*counters, object->definitions[next], &sample.second))
            return Invalid(PDH_CSTATUS_INVALID_DATA);
        break;
    }
    case CounterType::Timer100ns:
    case CounterType::Timer100nsInverse:
        sample.second = block.perfTime100nSec;
        break;
    default:
        break;
    }
    // The rates' clock: the object's own for PERF_OBJECT_TIMER, the block's otherwise.
    const std::uint32_t timer = definition->type & kTimerMask;
    if (timer == kObjectTimer) {
        sample.perfTime = object->perfTime;
        sample.perfFreq = object->perfFreq;
    } else if (timer == kTimer100ns) {
        sample.perfTime = block.perfTime100nSec;
        sample.perfFreq = kHundredNsPerSecond;
    } else {
        sample.perfTime = block.perfTime;
        sample.perfFreq = block.perfFreq;
    }
    sample.CStatus = PDH_CSTATUS_VALID_DATA;
    return sample;
}
