// Builds HKEY_PERFORMANCE_DATA answers for tests: a PERF_DATA_BLOCK laid out as Windows sends it
// (32-bit counters 4 bytes wide, TotalByteLength counting the header) or as Samba does (32-bit
// counters 8 bytes wide, TotalByteLength without the header), and a "Counter 009" name table.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TestInstance {
    std::u16string name;
    std::vector<std::uint64_t> values; // one per counter definition
    std::uint32_t parentObject = 0;
    std::uint32_t parentInstance = 0;
};

struct TestObject {
    std::uint32_t index = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> counters; // name index, counter type
    std::vector<std::uint64_t> values;                             // without instances
    bool hasInstances = false;
    std::vector<TestInstance> instances;
    std::uint64_t perfTime = 0, perfFreq = 0;
};

enum class TestLayout { Windows, Samba };

struct TestBlock {
    std::uint64_t perfTime = 0, perfFreq = 0, perfTime100nSec = 0;
    std::vector<TestObject> objects;
};

std::vector<std::uint8_t> BuildPerfData(const TestBlock& block, TestLayout layout);
std::vector<std::uint8_t> BuildCounterNames(const std::vector<std::pair<std::uint32_t, std::string>>& names);
