#include "perfd/instance_slots.h"

#include <algorithm>
#include <unordered_set>

InstanceSlots::InstanceSlots(long ghostLife) : m_ghostLife(std::max(0L, ghostLife)) {}

void InstanceSlots::Take(std::size_t place, std::uint64_t key, std::uint64_t name, std::size_t entity)
{
    if (place == m_slots.size())
        m_slots.emplace_back();
    Slot& s = m_slots[place];
    s = Slot{};
    s.key = key;
    s.name = name;
    s.entity = entity;
    std::size_t& last = m_lastLiving[name];
    last = std::max(last, place + 1);
}

bool InstanceSlots::MayGo(std::size_t place) const
{
    const Slot& s = m_slots[place];
    if (s.key != kNobody)
        return false;
    if (s.vacant)
        return true;
    const auto last = m_lastLiving.find(s.name);
    return m_update - s.endedAt >= m_ghostLife && (last == m_lastLiving.end() || last->second <= place);
}

std::size_t InstanceSlots::FillerFor(std::size_t place) const
{
    std::unordered_set<std::uint64_t> between;
    std::size_t filler = place + 1;
    // Places that may go themselves are passed over: none has a process of its name after it.
    for (std::size_t at = place + 1; at < m_count; ++at) {
        if (MayGo(at))
            continue;
        if (between.insert(m_slots[at].name).second)
            filler = at;
    }
    return filler;
}

const std::vector<InstanceSlots::Place>& InstanceSlots::Arrange(const std::vector<std::uint64_t>& keys,
                                                                const std::vector<std::uint64_t>& names)
{
    ++m_update;
    // The keys by value (given mostly in order already: by PID), to find each place's holder.
    m_byKey.clear();
    for (std::size_t i = 0; i < keys.size(); ++i)
        m_byKey.emplace_back(keys[i], i);
    std::sort(m_byKey.begin(), m_byKey.end());
    m_placed.assign(keys.size(), false);
    // Those that live on under their names keep their places; those that ended leave ghosts,
    // and so do those that took another name (which are placed as new under it: a number
    // among the processes of one name stays theirs).
    m_lastLiving.clear();
    for (std::size_t slot = 0; slot < m_count; ++slot) {
        Slot& s = m_slots[slot];
        s.was = slot;
        if (s.key == kNobody)
            continue;
        const auto found = std::lower_bound(m_byKey.begin(), m_byKey.end(), std::pair{ s.key, std::size_t{ 0 } });
        if (found != m_byKey.end() && found->first == s.key && names[found->second] == s.name) {
            s.entity = found->second;
            m_placed[found->second] = true;
            m_lastLiving[s.name] = slot + 1;
        } else {
            s.key = kNobody;
            s.endedAt = m_update;
        }
    }
    // Those that started: a ghost of their name, whose number they take; else a ghost that
    // numbers no process of its name after it, itself after every process of theirs; else a
    // new place after the last.
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (m_placed[i])
            continue;
        const std::uint64_t name = names[i];
        std::size_t place = m_count;
        for (std::size_t at = 0; at < m_count && place == m_count; ++at) {
            if (m_slots[at].key == kNobody && m_slots[at].name == name)
                place = at;
        }
        const auto own = m_lastLiving.find(name);
        for (std::size_t at = own == m_lastLiving.end() ? 0 : own->second; at < m_count && place == m_count; ++at) {
            const Slot& s = m_slots[at];
            const auto ghosts = m_lastLiving.find(s.name);
            if (s.key == kNobody && (ghosts == m_lastLiving.end() || ghosts->second <= at))
                place = at;
        }
        if (place == m_count)
            ++m_count;
        Take(place, keys[i], name, i);
    }
    // Places that may go: from the end, the count shrinks; below, the last instance that keeps
    // the order of its name's takes theirs, and its own place is filled in turn.
    const auto trim = [&] {
        while (m_count > 0 && MayGo(m_count - 1))
            --m_count;
    };
    for (std::size_t place = 0; place < m_count; ++place) {
        trim();
        if (place >= m_count || !MayGo(place))
            continue;
        const std::size_t from = FillerFor(place);
        const Slot moved = m_slots[from];
        m_slots[place] = moved;
        m_slots[from] = Slot{};
        m_slots[from].vacant = true;
        if (moved.key != kNobody && m_lastLiving[moved.name] == from + 1)
            m_lastLiving[moved.name] = place + 1;
    }
    trim();

    m_places.clear();
    for (std::size_t slot = 0; slot < m_count; ++slot) {
        const Slot& s = m_slots[slot];
        m_places.push_back(Place{ s.key == kNobody ? kGhost : s.entity, s.was });
    }
    return m_places;
}
