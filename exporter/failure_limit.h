// Failed authentications per client address, limited: a burst of failures, then one per interval
// (the interval's debt of each failure paid back with time). A client over its limit is answered
// at once, before any password is checked, so that guessing costs the guesser time and the
// exporter no hashing. Safe to use from several threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

class FailureLimiter {
public:
    using Clock = std::chrono::steady_clock;

    // burst failures at once, then one per interval; at most maxAddresses kept (the address
    // whose debt ends first gives way).
    FailureLimiter(unsigned burst, Clock::duration interval, std::size_t maxAddresses = 4096);

    // Whether a check for address may be made at now; when not, *retryAfter is how long until one
    // may.
    bool Allows(const std::string& address, Clock::time_point now, Clock::duration* retryAfter) const;
    // A check for address failed at now.
    void Failed(const std::string& address, Clock::time_point now);

private:
    unsigned m_burst;
    Clock::duration m_interval;
    std::size_t m_maxAddresses;
    mutable std::mutex m_mutex;
    // When each address's debt is paid: a failure adds one interval to it (from now when paid).
    std::map<std::string, Clock::time_point> m_paidAt;
};
