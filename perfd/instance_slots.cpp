#include "perfd/instance_slots.h"

#include <algorithm>

InstanceSlots::InstanceSlots(long quarantine, long ghostLife)
    : m_quarantine(std::max(1L, quarantine)), m_ghostLife(std::max(0L, ghostLife))
{
}

void InstanceSlots::Give(std::size_t slot, std::uint64_t key, std::size_t entity)
{
    if (slot == m_slots.size())
        m_slots.emplace_back();
    Slot& s = m_slots[slot];
    // Shown in other hands within the quarantine: no figures of the new ones until it is over.
    if (s.shownUntil >= 0 && s.shownUntil + m_quarantine >= m_update)
        s.zeroThrough = std::max(s.zeroThrough, s.shownUntil + m_quarantine);
    s.key = key;
    s.entity = entity;
    s.endedAt = -1;
}

bool InstanceSlots::Expired(const Slot& slot) const
{
    return slot.key == kNobody && (slot.endedAt < 0 || m_update - slot.endedAt >= m_ghostLife);
}

const std::vector<InstanceSlots::Place>& InstanceSlots::Arrange(const std::vector<std::uint64_t>& keys)
{
    ++m_update;
    // The keys by value (given mostly in order already: by PID), to find each place's holder.
    m_byKey.clear();
    for (std::size_t i = 0; i < keys.size(); ++i)
        m_byKey.emplace_back(keys[i], i);
    std::sort(m_byKey.begin(), m_byKey.end());
    m_placed.assign(keys.size(), false);
    // Those that live on keep their places; those that ended leave ghosts.
    for (std::size_t slot = 0; slot < m_count; ++slot) {
        Slot& s = m_slots[slot];
        if (s.key == kNobody)
            continue;
        const auto found = std::lower_bound(m_byKey.begin(), m_byKey.end(), std::pair{ s.key, std::size_t{ 0 } });
        if (found != m_byKey.end() && found->first == s.key) {
            s.entity = found->second;
            m_placed[found->second] = true;
        } else {
            s.key = kNobody;
            s.endedAt = m_update;
        }
    }
    // Those that started take the ghosts' places first, then the places after the count (all
    // free: the places in use lie below it).
    std::size_t ghost = 0;
    std::size_t after = m_count;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (m_placed[i])
            continue;
        while (ghost < m_count && m_slots[ghost].key != kNobody)
            ++ghost;
        Give(ghost < m_count ? ghost++ : after++, keys[i], i);
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
        Give(hole, moved.key, moved.entity);
        if (moved.key == kNobody) { // a ghost within its life: it moves, and shows zeros
            m_slots[hole].endedAt = moved.endedAt;
            m_slots[hole].was = moved.was;
        }
        trim();
    }

    m_places.clear();
    for (std::size_t slot = 0; slot < m_count; ++slot) {
        Slot& s = m_slots[slot];
        s.shownUntil = m_update;
        m_places.push_back(Place{ s.key == kNobody ? kGhost : s.entity, s.was, s.zeroThrough >= m_update });
    }
    return m_places;
}
