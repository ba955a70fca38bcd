// The places of the Process instances under churn: every process keeps its number among the
// processes of its name (NAME, NAME#1, ... as clients count them) for its life, and the places
// stay dense.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "perfd/instance_slots.h"

TEST(InstanceSlots, EachProcessKeepsItsNumberAmongItsNameForItsLife)
{
    constexpr long kGhostLife = 6;
    InstanceSlots slots(kGhostLife);
    std::mt19937 random(7);
    std::map<std::uint64_t, std::uint64_t> nameOf; // every key ever, its name
    std::vector<std::uint64_t> alive;
    std::uint64_t nextKey = 100;
    const auto start = [&] {
        nameOf[nextKey] = random() % 5; // few names: many processes share one
        alive.push_back(nextKey++);
    };
    for (int i = 0; i < 40; ++i)
        start();
    std::vector<std::uint64_t> last;             // the last arrangement: place -> key
    std::map<std::uint64_t, std::size_t> number; // a live key's number among its name
    std::map<std::uint64_t, long> ghostAge;
    std::size_t moves = 0, outlived = 0;
    for (int update = 0; update < 2000; ++update) {
        // Processes end anywhere (the older, lower ones too) and start; now and then many end
        // at once, and the count shrinks and grows again.
        const int ends = update % 97 == 50 ? 25 : static_cast<int>(random() % 4);
        for (int e = 0; e < ends && !alive.empty(); ++e)
            alive.erase(alive.begin() + static_cast<long>(random() % alive.size()));
        const int starts = update % 97 == 60 ? 30 : static_cast<int>(random() % 4);
        for (int s = 0; s < starts; ++s)
            start();
        std::vector<std::uint64_t> names;
        names.reserve(alive.size());
        for (std::uint64_t key : alive)
            names.push_back(nameOf[key]);

        const std::vector<InstanceSlots::Place>& places = slots.Arrange(alive, names);
        std::vector<std::uint64_t> now;
        std::map<std::uint64_t, std::size_t> seenOfName;
        for (std::size_t k = 0; k < places.size(); ++k) {
            // A ghost is the place's last process, ended, with its last name.
            const bool ghost = places[k].entity == InstanceSlots::kGhost;
            ASSERT_TRUE(!ghost || places[k].was < last.size()) << "update " << update;
            const std::uint64_t key = ghost ? last[places[k].was] : alive[places[k].entity];
            ASSERT_EQ(std::count(now.begin(), now.end(), key), 0) << "update " << update;
            now.push_back(key);
            const std::size_t n = seenOfName[nameOf[key]]++;
            if (ghost) {
                ASSERT_EQ(std::count(alive.begin(), alive.end(), key), 0) << "update " << update;
                ++ghostAge[key];
                continue;
            }
            // Its number, from its first arrangement for as long as it lives.
            const auto [held, first] = number.emplace(key, n);
            ASSERT_EQ(held->second, n) << "update " << update << ": key " << key << " at " << k;
            if (!first && std::find(last.begin(), last.end(), key) - last.begin() != static_cast<long>(k))
                ++moves;
        }
        ASSERT_EQ(places.size(),
                  alive.size() + static_cast<std::size_t>(
                                     std::count_if(places.begin(), places.end(), [](const InstanceSlots::Place& p) {
                                         return p.entity == InstanceSlots::kGhost;
                                     })));
        // A ghost past its life holds up the number of a later process of its name.
        for (std::size_t k = 0; k < now.size(); ++k) {
            if (places[k].entity != InstanceSlots::kGhost || ghostAge[now[k]] <= kGhostLife)
                continue;
            ++outlived;
            const bool later = std::any_of(now.begin() + static_cast<long>(k) + 1, now.end(), [&](std::uint64_t key) {
                return nameOf[key] == nameOf[now[k]] && std::count(alive.begin(), alive.end(), key) > 0;
            });
            ASSERT_TRUE(later) << "update " << update << ": ghost " << now[k] << " at " << k;
        }
        std::erase_if(number,
                      [&](const auto& entry) { return std::count(alive.begin(), alive.end(), entry.first) == 0; });
        last = now;
    }
    // The churn moved processes into the places of ghosts, and kept some ghosts past their life.
    EXPECT_GT(moves, 0u);
    EXPECT_GT(outlived, 0u);
}

TEST(InstanceSlots, OlderProcessesEndingLeaveTwoOfOneNameInTheirOrder)
{
    // Sixty processes of one name end below two of another: once their ghosts' life is over
    // the two fill their places, the second still after the first.
    InstanceSlots slots(3);
    std::vector<std::uint64_t> keys, names;
    for (std::uint64_t key = 1; key <= 60; ++key) {
        keys.push_back(key);
        names.push_back(1);
    }
    keys.insert(keys.end(), { 100, 101 });
    names.insert(names.end(), { 2, 2 });
    ASSERT_EQ(slots.Arrange(keys, names).size(), 62u);
    for (int update = 0; update < 5; ++update) {
        const std::vector<InstanceSlots::Place>& places = slots.Arrange({ 100, 101 }, { 2, 2 });
        if (update < 3) {
            EXPECT_EQ(places.size(), 62u); // the ghosts
            EXPECT_EQ(places[60].entity, 0u);
            EXPECT_EQ(places[61].entity, 1u);
        } else {
            ASSERT_EQ(places.size(), 2u);
            EXPECT_EQ(places[0].entity, 0u);
            EXPECT_EQ(places[1].entity, 1u);
        }
    }
    // The first of the two ends: its ghost stays while the second lives, and a new process of
    // the name takes its place and number; one of another name goes after them.
    for (int update = 0; update < 6; ++update) {
        const std::vector<InstanceSlots::Place>& places = slots.Arrange({ 101 }, { 2 });
        ASSERT_EQ(places.size(), 2u);
        EXPECT_EQ(places[0].entity, InstanceSlots::kGhost);
        EXPECT_EQ(places[1].entity, 0u);
    }
    const std::vector<InstanceSlots::Place>& taken = slots.Arrange({ 101, 102, 103 }, { 2, 3, 2 });
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].entity, 2u);
    EXPECT_EQ(taken[1].entity, 0u);
    EXPECT_EQ(taken[2].entity, 1u);
    // The first of the two takes the other name: it leaves a ghost under its old name, which
    // keeps the second's number, and goes after the others as the second of its new name.
    const std::vector<InstanceSlots::Place>& renamed = slots.Arrange({ 101, 102, 103 }, { 2, 3, 3 });
    ASSERT_EQ(renamed.size(), 4u);
    EXPECT_EQ(renamed[0].entity, InstanceSlots::kGhost);
    EXPECT_EQ(renamed[1].entity, 0u);
    EXPECT_EQ(renamed[2].entity, 1u);
    EXPECT_EQ(renamed[3].entity, 2u);
}
