// Whether a machine's SMB port answers, found out without Samba's client libraries, so that a
// machine that is not there holds no other caller of them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/names/dns_resolver.h"

// The address of machine's SMB port once something answers there within timeoutMs, the name's
// look-up included: 0, or ERROR_BAD_NETPATH (no such name, nothing listens) or ERROR_SEM_TIMEOUT
// (no answer in time).
std::uint32_t ReachSmbPort(const DnsResolver& dns, const std::string& machine, std::uint16_t port, int timeoutMs,
                           std::string* address);
