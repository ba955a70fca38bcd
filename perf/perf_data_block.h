// The performance data a machine gives for HKEY_PERFORMANCE_DATA: a PERF_DATA_BLOCK with its
// objects, counter definitions, instances and counter blocks (winperf.h), read from the bytes as
// they came over the network. Every length, offset and count is checked against the buffer; the
// views point into it, so the buffer must outlive the block.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum class PerfDataStatus {
    Ok,
    Truncated, // the block says it is longer than the bytes that came
    Malformed,
};

struct PerfCounterDefinition {
    std::uint32_t nameIndex = 0;
    std::uint32_t type = 0;
    std::uint32_t size = 0;   // bytes in the counter block
    std::uint32_t offset = 0; // from the start of the counter block
};

struct PerfInstance {
    std::string name; // UTF-8, up to its first NUL
    std::uint32_t parentObjectIndex = 0;
    std::uint32_t parentInstance = 0;       // position among the parent object's instances
    std::span<const std::uint8_t> counters; // its PERF_COUNTER_BLOCK, ByteLength included
};

struct PerfObjectType {
    std::uint32_t nameIndex = 0;
    std::uint64_t perfTime = 0;
    std::uint64_t perfFreq = 0;
    std::vector<PerfCounterDefinition> definitions;
    bool hasInstances = false;
    std::vector<PerfInstance> instances;
    std::span<const std::uint8_t> counters; // without instances: the object's counter block
};

struct PerfDataBlock {
    std::uint64_t perfTime = 0;
    std::uint64_t perfFreq = 0;
    std::uint64_t perfTime100nSec = 0;
    std::vector<PerfObjectType> objects;
    // Positions in objects by name index, then position: made by ReadPerfDataBlock, so that an
    // instance's parent is found without a search through every object of the block.
    std::vector<std::uint32_t> objectsByIndex;

    // The first object with the name index, or null.
    const PerfObjectType* FindObject(std::uint32_t nameIndex) const;
};

// Reads the block at the start of data. Windows counts the header in TotalByteLength and Samba
// does not; either is accepted.
PerfDataStatus ReadPerfDataBlock(std::span<const std::uint8_t> data, PerfDataBlock* block);

// Reads one counter's raw value from a counter block: the low 32 bits for the 32-bit types
// (which Samba sends 8 bytes wide), 64 bits for the large ones. False when the definition does
// not fit the block or its size does not fit its type.
bool ReadCounterValue(std::span<const std::uint8_t> counterBlock, const PerfCounterDefinition& definition,
                      std::uint64_t* value);

// UTF-16LE text as UTF-8, up to the first NUL; an unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes);
