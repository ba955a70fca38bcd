// The places of the Process instances under churn, checked against what a reader of Samba's
// server can assemble: the names of one sample with the blocks of any sample up to the
// quarantine later.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "perfd/instance_slots.h"

namespace {

constexpr std::uint64_t kZeros = ~std::uint64_t{ 0 };

// What one update publishes: names.tdb's place -> key, and data.tdb's place -> whose figures
// (kZeros for a block of zeros), its records beyond the count kept from the updates before.
struct Published {
    std::vector<std::uint64_t> names;
    std::vector<std::uint64_t> data;
};

} // namespace

TEST(InstanceSlots, NoAnswerPairsANameWithAnotherProcesssFigures)
{
    constexpr long kQuarantine = 3;
    constexpr long kGhostLife = 6;
    InstanceSlots slots(kQuarantine, kGhostLife);
    std::mt19937 random(7);
    std::vector<std::uint64_t> alive;
    std::uint64_t nextKey = 100;
    for (int i = 0; i < 40; ++i)
        alive.push_back(nextKey++);
    std::vector<Published> history;
    std::map<std::uint64_t, std::size_t> placeOf;
    std::map<std::uint64_t, long> ghostAge;
    int zeroedPlaces = 0, shownPlaces = 0;
    for (int update = 0; update < 2000; ++update) {
        // Processes end anywhere (the older, lower ones too) and start; now and then many end
        // at once, and the count shrinks and grows again.
        const int ends = update % 97 == 50 ? 25 : static_cast<int>(random() % 4);
        for (int e = 0; e < ends && !alive.empty(); ++e)
            alive.erase(alive.begin() + static_cast<long>(random() % alive.size()));
        const int starts = update % 97 == 60 ? 30 : static_cast<int>(random() % 4);
        for (int s = 0; s < starts; ++s)
            alive.push_back(nextKey++);
        std::shuffle(alive.begin(), alive.end(), random); // the order given says nothing

        const std::vector<InstanceSlots::Place>& places = slots.Arrange(alive);
        Published now;
        now.data = history.empty() ? std::vector<std::uint64_t>{} : history.back().data;
        now.data.resize(std::max(now.data.size(), places.size()), kZeros);
        std::map<std::uint64_t, std::size_t> placed;
        std::size_t ghosts = 0;
        for (std::size_t k = 0; k < places.size(); ++k) {
            // A ghost is the place's last process, ended, with its last name.
            const bool ghost = places[k].entity == InstanceSlots::kGhost;
            ASSERT_TRUE(!ghost || places[k].was < history.back().names.size()) << "update " << update;
            const std::uint64_t key = ghost ? history.back().names[places[k].was] : alive[places[k].entity];
            ghosts += ghost;
            if (ghost) {
                ASSERT_EQ(std::count(alive.begin(), alive.end(), key), 0) << "update " << update;
                ASSERT_LT(++ghostAge[key], kGhostLife + 1) << "update " << update;
            }
            ASSERT_TRUE(placed.emplace(key, k).second);
            now.names.push_back(key);
            now.data[k] = places[k].zeroed ? kZeros : key;
            zeroedPlaces += places[k].zeroed;
            ++shownPlaces;
        }
        ASSERT_EQ(places.size(), alive.size() + ghosts); // every process, once
        // A process that lives on keeps its place unless it fills the place of one that ended
        // from the end of the list.
        for (const auto& [key, place] : placed) {
            const auto before = placeOf.find(key);
            if (before != placeOf.end() && before->second != place) {
                EXPECT_LT(place, before->second) << "update " << update;
                EXPECT_GE(before->second, places.size()) << "update " << update;
            }
        }
        placeOf = placed;
        history.push_back(now);

        // Every reader that took its names at an update within the quarantine before this
        // one reads, at each of its places, the named process's figures or zeros.
        for (long back = 0; back <= kQuarantine && back < static_cast<long>(history.size()); ++back) {
            const Published& names = history[history.size() - 1 - static_cast<std::size_t>(back)];
            for (std::size_t k = 0; k < names.names.size(); ++k) {
                const std::uint64_t figures = now.data.at(k);
                ASSERT_TRUE(figures == kZeros || figures == names.names[k])
                    << "update " << update << ": place " << k << " named " << names.names[k] << " " << back
                    << " updates before holds " << figures;
            }
        }
    }
    // Zeros are the exception: here about 2 places in 40 change hands at each update.
    EXPECT_LT(zeroedPlaces, shownPlaces / 5) << zeroedPlaces << " of " << shownPlaces;
}

TEST(InstanceSlots, TheFirstLayoutIsTheOrderGivenAndNewcomersShowAtOnce)
{
    InstanceSlots slots(2, 0);
    const std::vector<std::uint64_t> first = { 5, 9, 12 };
    const auto& places = slots.Arrange(first);
    ASSERT_EQ(places.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(places[k].entity, k);
        EXPECT_FALSE(places[k].zeroed);
    }
    // One more after the last place: its figures at once. One that ends in the middle: the
    // last takes its place, with zeros for the quarantine (the publishes an answer may span
    // after the last that showed the place in other hands), then its figures.
    const auto& grown = slots.Arrange({ 5, 9, 12, 20 });
    ASSERT_EQ(grown.size(), 4u);
    EXPECT_FALSE(grown[3].zeroed);
    std::vector<bool> zeroed;
    for (int update = 0; update < 4; ++update) {
        const std::vector<std::uint64_t> keys = { 5, 12, 20 };
        const auto& shrunk = slots.Arrange(keys);
        ASSERT_EQ(shrunk.size(), 3u);
        EXPECT_EQ(keys[shrunk[1].entity], 20u);
        zeroed.push_back(shrunk[1].zeroed);
        EXPECT_FALSE(shrunk[0].zeroed || shrunk[2].zeroed);
    }
    EXPECT_EQ(zeroed, (std::vector<bool>{ true, true, false, false }));
}
