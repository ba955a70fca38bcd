// Where each Process instance is published, from sample to sample.
//
// Samba's server reads an answer's instance names from names.tdb, opened once when the answer
// begins, but opens data.tdb again for each instance's counter block: an answer that spans an
// update takes names from one sample and blocks from a later one. So an instance's place (K in
// "230iKname" and "230iK") must hold the figures of the process that names.tdb put there, in
// every sample an answer can span:
// - a process keeps its place for its life;
// - the place of a process that ended keeps its name and last figures (a ghost) until a new
//   process takes it, for at most `ghostLife` updates; a process that starts takes a ghost's
//   place, else a new place after the last;
// - the places stay dense (names.tdb holds places 0 to count - 1): a ghost that outlived its
//   life gets the process (or the ghost) of the last place, or the count shrinks below it;
// - a place that changes hands publishes a block of zeros, no one's figures, for `quarantine`
//   updates after the last sample that showed it in other hands, so that an answer that spans
//   fewer updates never pairs a name with another process's figures. A place beyond the count
//   that no sample within the quarantine showed takes a new process at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class InstanceSlots {
public:
    // quarantine: the updates (publishes) that one answer may span; ghostLife: the updates a
    // ghost is kept for a process to take its place.
    InstanceSlots(long quarantine, long ghostLife);

    static constexpr std::size_t kGhost = ~std::size_t{ 0 };
    struct Place {
        std::size_t entity; // index into the keys given to Arrange, or kGhost: a process that
                            // ended, with its last name and figures
        std::size_t was;    // a ghost's place in the last arrangement
        bool zeroed;        // its block is published as zeros
    };

    // Lays out one sample's instances, given each one's key (unique within the sample, the same
    // from sample to sample for the same process); the places from 0 on.
    const std::vector<Place>& Arrange(const std::vector<std::uint64_t>& keys);

private:
    static constexpr std::uint64_t kNobody = ~std::uint64_t{ 0 };
    struct Slot {
        std::uint64_t key = kNobody;
        long shownUntil = -1; // the last update whose names showed it in its last hands
        long zeroThrough = -1;
        long endedAt = -1; // a ghost's: the update that found its process gone
        std::size_t was = 0; // a ghost's place in the last arrangement
        std::size_t entity = 0; // the holder's index among the keys of this arrangement
    };
    void Give(std::size_t slot, std::uint64_t key, std::size_t entity);
    bool Expired(const Slot& slot) const;

    long m_quarantine;
    long m_ghostLife;
    long m_update = 0;
    std::size_t m_count = 0; // places published: held ones and ghosts
    std::vector<Slot> m_slots;
    std::vector<std::pair<std::uint64_t, std::size_t>> m_byKey; // this arrangement's keys, sorted
    std::vector<bool> m_placed;                                  // beside each key
    std::vector<Place> m_places;
};
