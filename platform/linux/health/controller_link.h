// What every health check does first: the controller's address, and a TCP connection to one of
// its ports within a bound, made without any library that another check could be waiting on.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "directory/health_check.h"
#include "platform/linux/names/dns_resolver.h"

using HealthDeadline = std::chrono::steady_clock::time_point;

// The controller's IPv4 address (or its name when it has only IPv6 ones): the target's address
// when it has one, the controller given as an address; otherwise looked up at dnsServer when
// there is one, else by the system's resolver. Empty and *error set when it has none before
// deadline.
std::string ControllerAddress(const std::optional<DnsServer>& dnsServer, const HealthTarget& target,
                              HealthDeadline deadline, std::string* error);

// A connected, blocking TCP socket to address at port, or -1 and *error ("connecting to
// 127.0.0.1:389: Connection refused").
int ConnectBefore(const std::string& address, std::uint16_t port, HealthDeadline deadline, std::string* error);

// Milliseconds left before deadline, at least 1.
int MsBefore(HealthDeadline deadline);
