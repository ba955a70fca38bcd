#include "exporter/failure_limit.h"

#include <algorithm>

FailureLimiter::FailureLimiter(unsigned burst, Clock::duration interval, std::size_t maxAddresses)
    : m_burst(std::max(burst, 1u)), m_interval(interval), m_maxAddresses(std::max<std::size_t>(maxAddresses, 1))
{
}

bool FailureLimiter::Allows(const std::string& address, Clock::time_point now, Clock::duration* retryAfter) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_paidAt.find(address);
    if (found == m_paidAt.end())
        return true;
    // Another failure may come while the debt stays within burst - 1 intervals.
    const Clock::time_point allowedFrom = found->second - (m_burst - 1) * m_interval;
    if (now >= allowedFrom)
        return true;
    if (retryAfter != nullptr)
        *retryAfter = allowedFrom - now;
    return false;
}

void FailureLimiter::Failed(const std::string& address, Clock::time_point now)
{
    const std::lock_guard lock(m_mutex);
    auto found = m_paidAt.find(address);
    if (found == m_paidAt.end()) {
        if (m_paidAt.size() >= m_maxAddresses) {
            std::erase_if(m_paidAt, [&](const auto& entry) { return entry.second <= now; });
            if (m_paidAt.size() >= m_maxAddresses)
                m_paidAt.erase(std::min_element(m_paidAt.begin(), m_paidAt.end(),
                                                [](const auto& a, const auto& b) { return a.second < b.second; }));
        }
        found = m_paidAt.emplace(address, now).first;
    }
    found->second = std::max(found->second, now) + m_interval;
}
