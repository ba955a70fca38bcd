// Where each Process instance is published, from sample to sample.
//
// A client tells processes of one name apart by their order in the answer: NAME, NAME#1, ...
// So a process must keep its number among the processes of its name for its life, whatever
// other processes start and end:
// - a process keeps its place (K in "230iKname" and "230iK") for its life, or until it takes
//   another name (prctl, exec), when it leaves a ghost under the old and is placed anew;
// - the place of a process that ended keeps its name and last figures (a ghost) until a new
//   process takes it, for at least `ghostLife` updates, and for as long as a process of its
//   name lies after it (whose number it holds up);
// - a process that starts takes the place of a ghost of its name (and its number), else that
//   of a ghost after every process of its name whose own name has no process after it, else a
//   new place after the last;
// - the places stay dense (names.tdb holds places 0 to count - 1): a ghost that may go gets
//   the last instance that has no other of its name between the two places, and the count
//   shrinks below ghosts at the end.
// An answer reads names.tdb and data.tdb of one sample (perfd/perfmon_store.h), so a place
// that changes hands shows its new holder's figures at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

class InstanceSlots {
public:
    // ghostLife: the updates a ghost is kept for a process to take its place.
    explicit InstanceSlots(long ghostLife);

    static constexpr std::size_t kGhost = ~std::size_t{ 0 };
    struct Place {
        std::size_t entity; // index into the keys given to Arrange, or kGhost: a process that
                            // ended, with its last name and figures
        std::size_t was;    // a ghost's place in the last arrangement
    };

    // Lays out one sample's instances, given each one's key (unique within the sample, the same
    // from sample to sample for the same process) and its name (the same number for the same
    // instance name); the places from 0 on. New processes take places in the order given.
    const std::vector<Place>& Arrange(const std::vector<std::uint64_t>& keys, const std::vector<std::uint64_t>& names);

private:
    static constexpr std::uint64_t kNobody = ~std::uint64_t{ 0 };
    struct Slot {
        std::uint64_t key = kNobody; // kNobody: a ghost, or vacant
        std::uint64_t name = 0;
        long endedAt = -1;      // a ghost's: the update that found its process gone
        std::size_t was = 0;    // its place in the last arrangement
        std::size_t entity = 0; // the holder's index among the keys of this arrangement
        bool vacant = false;    // its holder moved away: nothing to show
    };
    // Whether the place may go: vacant, or a ghost past its life with no process of its name
    // after it.
    bool MayGo(std::size_t place) const;
    // The last place after this one whose instance has no other of its name between the two.
    std::size_t FillerFor(std::size_t place) const;
    void Take(std::size_t place, std::uint64_t key, std::uint64_t name, std::size_t entity);

    long m_ghostLife;
    long m_update = 0;
    std::size_t m_count = 0; // places published: held ones and ghosts
    std::vector<Slot> m_slots;
    // Each name's last place held by a live process, plus one (absent: none).
    std::unordered_map<std::uint64_t, std::size_t> m_lastLiving;
    std::vector<std::pair<std::uint64_t, std::size_t>> m_byKey; // this arrangement's keys, sorted
    std::vector<bool> m_placed;                                 // beside each key
    std::vector<Place> m_places;
};
