#include "perf/perf_data_block.h"

#include <algorithm>
#include <numeric>

#include "framework/cstring.h"

namespace {

// Sizes and field offsets of winperf.h's structures as they travel (32-bit title pointers).
constexpr std::size_t kBlockHeaderSize = 88; // PERF_DATA_BLOCK
constexpr std::size_t kBlockLittleEndian = 8;
constexpr std::size_t kBlockTotalByteLength = 20;
constexpr std::size_t kBlockHeaderLength = 24;
constexpr std::size_t kBlockNumObjectTypes = 28;
constexpr std::size_t kBlockPerfTime = 56;
constexpr std::size_t kBlockPerfFreq = 64;
constexpr std::size_t kBlockPerfTime100nSec = 72;

constexpr std::size_t kObjectHeaderSize = 64; // PERF_OBJECT_TYPE
constexpr std::size_t kObjectDefinitionLength = 4;
constexpr std::size_t kObjectHeaderLength = 8;
constexpr std::size_t kObjectNameTitleIndex = 12;
constexpr std::size_t kObjectNumCounters = 32;
constexpr std::size_t kObjectNumInstances = 40;
constexpr std::size_t kObjectPerfTime = 48;
constexpr std::size_t kObjectPerfFreq = 56;

constexpr std::size_t kCounterDefinitionSize = 40; // PERF_COUNTER_DEFINITION
constexpr std::size_t kCounterNameTitleIndex = 4;
constexpr std::size_t kCounterType = 28;
constexpr std::size_t kCounterSize = 32;
constexpr std::size_t kCounterOffset = 36;

constexpr std::size_t kInstanceHeaderSize = 24; // PERF_INSTANCE_DEFINITION
constexpr std::size_t kInstanceParentObjectTitleIndex = 4;
constexpr std::size_t kInstanceParentObjectInstance = 8;
constexpr std::size_t kInstanceNameOffset = 16;
constexpr std::size_t kInstanceNameLength = 20;

constexpr std::size_t kCounterBlockHeaderSize = 4; // PERF_COUNTER_BLOCK: ByteLength

constexpr std::int32_t kNoInstances = -1; // PERF_NO_INSTANCES

// PERF_SIZE_* bits of a counter type.
constexpr std::uint32_t kSizeMask = 0x00000300;
constexpr std::uint32_t kSizeDword = 0x00000000;
constexpr std::uint32_t kSizeLarge = 0x00000100;
constexpr std::uint32_t kSizeZero = 0x00000200;

std::uint32_t Le32(std::span<const std::uint8_t> d, std::size_t at)
{
    return static_cast<std::uint32_t>(d[at]) | static_cast<std::uint32_t>(d[at + 1]) << 8 |
           static_cast<std::uint32_t>(d[at + 2]) << 16 | static_cast<std::uint32_t>(d[at + 3]) << 24;
}

std::uint64_t Le64(std::span<const std::uint8_t> d, std::size_t at)
{
    return static_cast<std::uint64_t>(Le32(d, at)) | static_cast<std::uint64_t>(Le32(d, at + 4)) << 32;
}

// The part of d from at that is length bytes long; empty when it does not fit.
bool Slice(std::span<const std::uint8_t> d, std::uint64_t at, std::uint64_t length, std::span<const std::uint8_t>* out)
{
    if (at > d.size() || length > d.size() - at)
        return false;
    *out = d.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(length));
    return true;
}

PerfDataStatus ReadDefinitions(std::span<const std::uint8_t> definitions, std::uint32_t count, PerfObjectType* object)
{
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::span<const std::uint8_t> header;
        if (!Slice(definitions, at, kCounterDefinitionSize, &header))
            return PerfDataStatus::Malformed;
        const std::uint32_t length = Le32(header, 0);
        if (length < kCounterDefinitionSize || length > definitions.size() - at)
            return PerfDataStatus::Malformed;
        object->definitions.push_back({ Le32(header, kCounterNameTitleIndex), Le32(header, kCounterType),
                                        Le32(header, kCounterSize), Le32(header, kCounterOffset) });
        at += length;
    }
    return PerfDataStatus::Ok;
}

// A PERF_COUNTER_BLOCK at the start of data: its bytes, as long as its ByteLength says.
bool ReadCounterBlock(std::span<const std::uint8_t> data, std::span<const std::uint8_t>* block)
{
    if (data.size() < kCounterBlockHeaderSize)
        return false;
    const std::uint32_t length = Le32(data, 0);
    return length >= kCounterBlockHeaderSize && Slice(data, 0, length, block);
}

PerfDataStatus ReadInstances(std::span<const std::uint8_t> data, std::int32_t count, PerfObjectType* object)
{
    std::size_t at = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        std::span<const std::uint8_t> header;
        if (!Slice(data, at, kInstanceHeaderSize, &header))
            return PerfDataStatus::Malformed;
        const std::uint32_t length = Le32(header, 0);
        const std::uint32_t nameOffset = Le32(header, kInstanceNameOffset);
        const std::uint32_t nameLength = Le32(header, kInstanceNameLength);
        std::span<const std::uint8_t> definition, name;
        if (length < kInstanceHeaderSize || !Slice(data, at, length, &definition) ||
            !Slice(definition, nameOffset, nameLength, &name) || (nameLength > 0 && nameOffset < kInstanceHeaderSize))
            return PerfDataStatus::Malformed;
        PerfInstance instance;
        instance.name = Utf16LeToUtf8(name);
        instance.parentObjectIndex = Le32(header, kInstanceParentObjectTitleIndex);
        instance.parentInstance = Le32(header, kInstanceParentObjectInstance);
        at += length;
        if (!ReadCounterBlock(data.subspan(at), &instance.counters))
            return PerfDataStatus::Malformed;
        at += instance.counters.size();
        object->instances.push_back(std::move(instance));
    }
    return PerfDataStatus::Ok;
}

PerfDataStatus ReadObject(std::span<const std::uint8_t> data, PerfObjectType* object)
{
    const std::uint32_t definitionLength = Le32(data, kObjectDefinitionLength);
    const std::uint32_t headerLength = Le32(data, kObjectHeaderLength);
    if (headerLength < kObjectHeaderSize || definitionLength < headerLength || definitionLength > data.size())
        return PerfDataStatus::Malformed;
    object->nameIndex = Le32(data, kObjectNameTitleIndex);
    object->perfTime = Le64(data, kObjectPerfTime);
    object->perfFreq = Le64(data, kObjectPerfFreq);
    const std::span<const std::uint8_t> definitions = data.subspan(headerLength, definitionLength - headerLength);
    if (PerfDataStatus s = ReadDefinitions(definitions, Le32(data, kObjectNumCounters), object);
        s != PerfDataStatus::Ok)
        return s;

    const std::span<const std::uint8_t> rest = data.subspan(definitionLength);
    const auto instances = static_cast<std::int32_t>(Le32(data, kObjectNumInstances));
    if (instances == kNoInstances)
        return ReadCounterBlock(rest, &object->counters) ? PerfDataStatus::Ok : PerfDataStatus::Malformed;
    if (instances < 0)
        return PerfDataStatus::Malformed;
    object->hasInstances = true;
    return ReadInstances(rest, instances, object);
}

} // namespace

const PerfObjectType* PerfDataBlock::FindObject(std::uint32_t nameIndex) const
{
    if (objectsByIndex.size() != objects.size()) { // not made by ReadPerfDataBlock
        const auto found = std::find_if(objects.begin(), objects.end(),
                                        [&](const PerfObjectType& object) { return object.nameIndex == nameIndex; });
        return found == objects.end() ? nullptr : &*found;
    }
    const auto found = std::lower_bound(objectsByIndex.begin(), objectsByIndex.end(), nameIndex,
                                        [&](std::uint32_t position, std::uint32_t wanted) {
                                            return objects[position].nameIndex < wanted;
                                        });
    return found == objectsByIndex.end() || objects[*found].nameIndex != nameIndex ? nullptr : &objects[*found];
}

PerfDataStatus ReadPerfDataBlock(std::span<const std::uint8_t> data, PerfDataBlock* block)
{
    *block = PerfDataBlock{};
    if (data.size() < kBlockHeaderSize)
        return PerfDataStatus::Truncated;
    // "PERF" in UTF-16LE, then the byte order: only little-endian data is read.
    static constexpr std::uint8_t kSignature[] = { 'P', 0, 'E', 0, 'R', 0, 'F', 0 };
    if (!std::equal(std::begin(kSignature), std::end(kSignature), data.begin()) || Le32(data, kBlockLittleEndian) != 1)
        return PerfDataStatus::Malformed;
    const std::uint32_t headerLength = Le32(data, kBlockHeaderLength);
    if (headerLength < kBlockHeaderSize)
        return PerfDataStatus::Malformed;
    if (headerLength > data.size() || Le32(data, kBlockTotalByteLength) > data.size())
        return PerfDataStatus::Truncated;
    block->perfTime = Le64(data, kBlockPerfTime);
    block->perfFreq = Le64(data, kBlockPerfFreq);
    block->perfTime100nSec = Le64(data, kBlockPerfTime100nSec);

    const std::uint32_t count = Le32(data, kBlockNumObjectTypes);
    std::size_t at = headerLength;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (data.size() - at < kObjectHeaderSize)
            return PerfDataStatus::Truncated;
        const std::uint32_t length = Le32(data, at);
        if (length < kObjectHeaderSize)
            return PerfDataStatus::Malformed;
        if (length > data.size() - at)
            return PerfDataStatus::Truncated;
        PerfObjectType object;
        if (PerfDataStatus s = ReadObject(data.subspan(at, length), &object); s != PerfDataStatus::Ok)
            return s;
        block->objects.push_back(std::move(object));
        at += length;
    }
    block->objectsByIndex.resize(block->objects.size());
    std::iota(block->objectsByIndex.begin(), block->objectsByIndex.end(), std::uint32_t{ 0 });
    std::stable_sort(block->objectsByIndex.begin(), block->objectsByIndex.end(), [&](std::uint32_t a, std::uint32_t b) {
        return block->objects[a].nameIndex < block->objects[b].nameIndex;
    });
    return PerfDataStatus::Ok;
}

bool ReadCounterValue(std::span<const std::uint8_t> counterBlock, const PerfCounterDefinition& definition,
                      std::uint64_t* value)
{
    std::span<const std::uint8_t> bytes;
    if (!Slice(counterBlock, definition.offset, definition.size, &bytes))
        return false;
    switch (definition.type & kSizeMask) {
    case kSizeDword:
        if (bytes.size() < 4)
            return false;
        *value = Le32(bytes, 0);
        return true;
    case kSizeLarge:
        if (bytes.size() < 8)
            return false;
        *value = Le64(bytes, 0);
        return true;
    case kSizeZero:
        *value = 0;
        return true;
    default: // PERF_SIZE_VARIABLE_LEN: text or bytes, not a number
        return false;
    }
}

std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes)
{
    CString text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text.ToUtf8();
}
