#include "perfd/instance_slots.h"

#include <algorithm>

InstanceSlots::InstanceSlots(long quarantine, long ghostLife)
    : m_quarantine(std::max(1L, quarantine)), m_ghostLife(std::max(0L, ghostLife))
{
}

void InstanceSlots::Give(std::size_t slot, std::uint64_t key)
{
    if (slot == m_slots.size())
        m_slots.emplace_back();
    Slot& s = m_slots[slot];
    // Shown in other hands within the quarantine: no figures of the new ones until it is over.
    if (s.shownUntil >= 0 && s.shownUntil + m_quarantine >= m_update)
        s.zeroThrough = std::max(s.zeroThrough, s.shownUntil + m_quarantine);
    s.key = key;
    s.endedAt = -1;
    if (key != kNobody)
        m_slotOf[key] = slot;
}

bool InstanceSlots::Expired(const Slot& slot) const
{
    return slot.key == kNobody && (slot.endedAt < 0 || m_update - slot.endedAt >= m_ghostLife);
}

const std::vector<InstanceSlots::Place>& InstanceSlots::Arrange(const std::vector<std::uint64_t>& keys)
{
    ++m_update;
    // Those that ended leave ghosts.
    std::unordered_map<std::uint64_t, std::size_t> entityOf;
    entityOf.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        entityOf.emplace(keys[i], i);
    for (auto it = m_slotOf.begin(); it != m_slotOf.end();) {
        if (entityOf.count(it->first) == 0) {
            m_slots[it->second].key = kNobody;
            m_slots[it->second].endedAt = m_update;
            it = m_slotOf.erase(it);
        } else {
            ++it;
        }
    }
    // Those that started take the ghosts' places first, then the places after the count (all
    // free: the places in use lie below it).
    std::size_t ghost = 0;
    std::size_t after = m_count;
    for (const std::uint64_t key : keys) {
        if (m_slotOf.count(key) != 0)
            continue;
        while (ghost < m_count && m_slots[ghost].key != kNobody)
            ++ghost;
        Give(ghost < m_count ? ghost++ : after++, key);
    }
    m_count = after;
    // Ghosts past their life go: from the end, the count shrinks; below, the process of the
    // last place takes theirs.
    const auto trim = [&] {
        while (m_count > 0 && Expired(m_slots[m_count - 1]))
            --m_count;
    };
    trim();
    for (std::size_t slot = 0; slot < m_count; ++slot)
        m_slots[slot].was = slot;
    for (std::size_t hole = 0; hole < m_count; ++hole) {
        if (!Expired(m_slots[hole]))
            continue;
        Slot& top = m_slots[m_count - 1];
        const Slot moved = top;
        top.key = kNobody;
        top.endedAt = -1;
        --m_count;
        if (moved.key != kNobody) {
            Give(hole, moved.key);
        } else { // a ghost within its life: it moves, and shows zeros like any newcomer
            Give(hole, kNobody);
            m_slots[hole].endedAt = moved.endedAt;
            m_slots[hole].was = moved.was;
        }
        trim();
    }

    m_places.clear();
    for (std::size_t slot = 0; slot < m_count; ++slot) {
        Slot& s = m_slots[slot];
        s.shownUntil = m_update;
        m_places.push_back(Place{ s.key == kNobody ? kGhost : entityOf.at(s.key), s.was, s.zeroThrough >= m_update });
    }
    return m_places;
}
