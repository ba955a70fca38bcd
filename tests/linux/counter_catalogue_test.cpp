// The counter catalogue: the rules Samba's winreg server puts on what it serves, the program's
// counter set, and the table of docs/counters.md.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "perf/counter_path.h"
#include "platform/linux/counters/counter_catalogue.h"

namespace {

const char* const kProgramCounterSet[] = {
    "\\Processor(_Total)\\% Processor Time",
    "\\Memory\\% Committed Bytes In Use",
    "\\LogicalDisk(_Total)\\% Free Space",
    "\\System\\File Read Operations/sec",
    "\\System\\File Write Operations/sec",
    "\\Processor(_Total)\\% Interrupt Time",
    "\\Process(lsass)\\Handle Count",
    "\\Process(ntfrs)\\Handle Count",
    "\\Memory\\Page Faults/sec",
    "\\Memory\\Pages Input/sec",
    "\\Memory\\Pages Output/sec",
    "\\Memory\\Page Reads/sec",
    "\\Memory\\Page Writes/sec",
};

std::string TypeName(std::uint32_t type)
{
    const std::map<std::uint32_t, std::string> names = {
        { static_cast<std::uint32_t>(CounterType::Timer100nsInverse), "PERF_100NSEC_TIMER_INV" },
        { static_cast<std::uint32_t>(CounterType::Timer100ns), "PERF_100NSEC_TIMER" },
        { static_cast<std::uint32_t>(CounterType::PerSecond), "PERF_COUNTER_COUNTER" },
        { static_cast<std::uint32_t>(CounterType::RawFraction), "PERF_RAW_FRACTION" },
        { static_cast<std::uint32_t>(CounterType::RawCount), "PERF_COUNTER_RAWCOUNT" },
        { kRawBaseCounterType, "PERF_RAW_BASE" },
    };
    const auto found = names.find(type);
    return found != names.end() ? found->second : "unknown";
}

// A counter as this machine publishes it, bases included, in the order Samba's server assembles
// an object: by index.
struct Published {
    const PerfObject* object;
    std::string name;
    std::string windowsIndex; // "—" for a base
    std::uint32_t index;
    std::uint32_t type;
};

std::vector<Published> PublishedCounters()
{
    std::vector<Published> all;
    for (const PerfCounter& c : PerfCounters()) {
        const PerfObject* object = FindPerfObjectByIndex(c.objectIndex);
        all.push_back({ object, std::string(c.name), std::to_string(c.windowsIndex), c.index,
                        static_cast<std::uint32_t>(c.type) });
        if (c.baseIndex != 0)
            all.push_back({ object, BaseCounterName(c), "—", c.baseIndex, kRawBaseCounterType });
    }
    return all;
}

std::vector<std::string> Cells(const std::string& row)
{
    std::vector<std::string> cells;
    std::stringstream in(row.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) {
        const auto first = cell.find_first_not_of(' ');
        cells.push_back(first == std::string::npos ? "" : cell.substr(first, cell.find_last_not_of(' ') - first + 1));
    }
    return cells;
}

} // namespace

TEST(CounterCatalogue, KeepsToWhatSambasServerCanServe)
{
    std::set<std::uint32_t> indices;
    for (const PerfObject& object : PerfObjects()) {
        EXPECT_EQ(object.index % 2, 0u) << object.name;
        EXPECT_TRUE(indices.insert(object.index).second) << object.name;
    }
    std::map<std::uint32_t, std::vector<Published>> byObject;
    for (const Published& c : PublishedCounters()) {
        ASSERT_NE(c.object, nullptr) << c.name;
        // Names at even indices (help at the odd one after), each index once, every counter
        // above its object: Samba's server assembles objects in index order and empties the
        // whole answer for a counter whose object it has not met yet.
        EXPECT_EQ(c.index % 2, 0u) << c.name;
        EXPECT_TRUE(indices.insert(c.index).second) << c.name;
        EXPECT_GT(c.index, c.object->index) << c.name;
        byObject[c.object->index].push_back(c);
    }
    for (auto& [object, counters] : byObject) {
        // Listed in the order the server lays them out, so a base directly follows its fraction.
        for (std::size_t i = 1; i < counters.size(); ++i)
            EXPECT_LT(counters[i - 1].index, counters[i].index) << counters[i].name;
        for (std::size_t i = 0; i < counters.size(); ++i) {
            const bool fraction = counters[i].type == static_cast<std::uint32_t>(CounterType::RawFraction);
            const bool base = counters[i].type == kRawBaseCounterType;
            if (fraction) {
                ASSERT_LT(i + 1, counters.size()) << counters[i].name;
                EXPECT_EQ(counters[i + 1].type, kRawBaseCounterType) << counters[i].name;
            }
            if (base) {
                EXPECT_TRUE(i > 0 && counters[i - 1].type == static_cast<std::uint32_t>(CounterType::RawFraction));
            }
        }
    }
}

TEST(CounterCatalogue, HoldsTheProgramsCounterSetWithItsInstances)
{
    for (const char* path : kProgramCounterSet) {
        const auto parsed = ParseCounterPath(std::string("\\\\dc1") + path);
        ASSERT_TRUE(parsed) << path;
        const PerfObject* object = FindPerfObject(parsed->object);
        ASSERT_NE(object, nullptr) << path;
        EXPECT_NE(FindPerfCounter(*object, parsed->counter), nullptr) << path;
        EXPECT_EQ(parsed->hasInstance, object->instances != Instances::None) << path;
        if (object->instances == Instances::Total) {
            EXPECT_EQ(parsed->instance, kTotalInstance) << path;
        }
    }
    // Found regardless of case; a base is no counter to ask for; names of another object miss.
    EXPECT_EQ(FindPerfObject("processor"), FindPerfObjectByIndex(238));
    EXPECT_EQ(FindPerfCounter(*FindPerfObject("Memory"), "% committed bytes in use base"), nullptr);
    EXPECT_EQ(FindPerfCounter(*FindPerfObject("Memory"), "Handle Count"), nullptr);
    EXPECT_EQ(FindPerfObject("Paging File"), nullptr);
}

TEST(CounterCatalogue, IsTheTableOfTheDocumentation)
{
    std::ifstream doc(std::string(ZELTOR_SOURCE_DIR) + "/docs/counters.md");
    ASSERT_TRUE(doc.good());
    std::vector<std::vector<std::string>> rows;
    bool inSection = false;
    for (std::string line; std::getline(doc, line);) {
        if (line.rfind("## ", 0) == 0)
            inSection = line == "## The counter catalogue";
        if (inSection && line.rfind("| ", 0) == 0 && line.find("---") == std::string::npos)
            rows.push_back(Cells(line));
    }
    ASSERT_FALSE(rows.empty());
    rows.erase(rows.begin()); // the column titles

    const std::vector<Published> published = PublishedCounters();
    ASSERT_EQ(rows.size(), published.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Published& c = published[i];
        ASSERT_GE(rows[i].size(), 5u);
        EXPECT_EQ(rows[i][0], std::string(c.object->name) + " (" + std::to_string(c.object->index) + ")") << i;
        EXPECT_EQ(rows[i][1], c.name) << i;
        EXPECT_EQ(rows[i][2], c.windowsIndex) << c.name;
        EXPECT_EQ(rows[i][3], std::to_string(c.index)) << c.name;
        EXPECT_EQ(rows[i][4], TypeName(c.type)) << c.name;
    }
}
