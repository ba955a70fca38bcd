// A name's addresses from the system resolver within a time bound. The resolver itself cannot be
// interrupted: a look-up runs on a thread of its own, which is left to finish by itself when the
// time is up, and its answer is dropped.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct HostAddress {
    sockaddr_storage address;
    socklen_t length;
};

// getaddrinfo's addresses of host (stream sockets, at port) within timeoutMs: 0, EAI_AGAIN when
// the time ran out, or the resolver's own EAI_ error.
int LookUpHostWithin(const std::string& host, std::uint16_t port, int timeoutMs, std::vector<HostAddress>* addresses);

// Milliseconds left until deadline, never below 0: what a bound has left for its next step.
int MillisecondsLeft(std::chrono::steady_clock::time_point deadline);
