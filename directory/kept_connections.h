// Connections a health check opens at a controller that its next checks can use again: an SMB
// logon, an LDAP bind. Each is used by one check at a time, and opened anew once it is older than
// the lifetime given, so that the logon itself is still proven that often. A check that finds the
// connection of its key in use waits for it, but only within its own deadline: the checks of one
// controller may wait for each other, never for another controller's.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// How long a connection of a check is used again: its logon is made again at least this often.
inline constexpr std::chrono::minutes kKeptLogonLifetime{ 10 };

template <typename Connection>
class KeptConnections {
public:
    using Clock = std::chrono::steady_clock;

    explicit KeptConnections(Clock::duration lifetime = kKeptLogonLifetime) : m_lifetime(lifetime) {}

private:
    struct Slot {
        std::timed_mutex busy;
        std::unique_ptr<Connection> connection;
        Clock::time_point opened;
        Clock::time_point used;
    };

public:
    // The right to use the connection of one key, until it ends.
    class Lease {
    public:
        Lease(std::shared_ptr<Slot> slot, Clock::duration lifetime) : m_slot(std::move(slot)), m_lifetime(lifetime) {}
        Lease(Lease&&) noexcept = default;
        Lease& operator=(Lease&&) = delete;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease()
        {
            if (m_slot == nullptr)
                return;
            m_slot->used = Clock::now();
            m_slot->busy.unlock();
        }

        // The connection kept, or none: then the caller opens one and keeps it (Keep). One older
        // than the lifetime is closed here.
        Connection* get()
        {
            if (m_slot->connection != nullptr && Clock::now() - m_slot->opened >= m_lifetime)
                m_slot->connection.reset();
            return m_slot->connection.get();
        }
        // A connection opened anew, kept for the next checks from now.
        void Keep(std::unique_ptr<Connection> connection)
        {
            m_slot->connection = std::move(connection);
            m_slot->opened = Clock::now();
        }
        // The kept connection failed: closed, the next check opens another.
        void Drop() { m_slot->connection.reset(); }

    private:
        std::shared_ptr<Slot> m_slot;
        Clock::duration m_lifetime;
    };

    // The connection of key, for the caller alone until the lease ends; none when another check
    // still held it at deadline. Connections of other keys unused for a lifetime are closed.
    std::optional<Lease> Take(const std::string& key, Clock::time_point deadline)
    {
        std::shared_ptr<Slot> slot;
        std::vector<std::unique_ptr<Connection>> unused;
        {
            const std::lock_guard lock(m_mutex);
            const Clock::time_point now = Clock::now();
            for (auto it = m_slots.begin(); it != m_slots.end();) {
                Slot& other = *it->second;
                if (it->first != key && other.busy.try_lock()) {
                    const bool stale = now - other.used >= m_lifetime;
                    if (stale)
                        unused.push_back(std::move(other.connection));
                    other.busy.unlock();
                    if (stale) {
                        it = m_slots.erase(it);
                        continue;
                    }
                }
                ++it;
            }
            std::shared_ptr<Slot>& kept = m_slots[key];
            if (kept == nullptr) {
                kept = std::make_shared<Slot>();
                kept->used = now;
            }
            slot = kept;
        }
        unused.clear(); // closed outside the lock: a logoff may take its time
        if (!slot->busy.try_lock_until(deadline))
            return std::nullopt;
        return Lease(std::move(slot), m_lifetime);
    }

private:
    const Clock::duration m_lifetime;
    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<Slot>> m_slots;
};
