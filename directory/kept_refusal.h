// A logon a controller refused, kept by whoever reads it: nothing is sent with the same
// credentials until the user asks again (Clear) or the backoff ends, since a domain locks an
// account after a few refused logons. Every reader of a controller keeps its refusal so: the
// counters' ControllerSession, the replication's ReplicationReader.
#pragma once

#include <chrono>
#include <optional>
#include <utility>

template <class Refusal>
class KeptRefusal {
public:
    using Clock = std::chrono::steady_clock;

    // Without a backoff a refusal holds until Clear.
    explicit KeptRefusal(std::optional<Clock::duration> backoff) : m_backoff(backoff) {}

    void Keep(Refusal refusal)
    {
        m_refusal = std::move(refusal);
        if (m_backoff)
            m_until = Clock::now() + *m_backoff;
    }
    // A refusal is kept, whether or not its backoff is over.
    bool Kept() const { return m_refusal.has_value(); }
    // The kept refusal while it holds; null once cleared or past its backoff.
    const Refusal* Holding() const
    {
        return m_refusal && (!m_backoff || Clock::now() < m_until) ? &*m_refusal : nullptr;
    }
    void Clear() { m_refusal.reset(); }

private:
    std::optional<Clock::duration> m_backoff;
    std::optional<Refusal> m_refusal;
    Clock::time_point m_until;
};
