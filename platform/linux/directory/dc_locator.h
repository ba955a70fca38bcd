// Finding a domain's controllers as the Windows locator does: through the DNS SRV records that
// every Active Directory controller registers (MS-ADTS 6.3.2.3).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "directory/directory_service.h"
#include "platform/linux/names/dns_resolver.h"

// The controllers of domain (a DNS name) in the order the program lists them: SRV priority
// ascending, then weight descending, then host name. Each target host appears once, its first
// label in upper case as NetbiosName; the controller also found under the PDC record is marked
// fIsPdc. 0, or ERROR_NO_SUCH_DOMAIN when DNS names no controller or cannot be asked.
// ttlSeconds, when given, receives how long the answer may be kept: the shortest TTL of the
// controllers' records.
std::uint32_t LocateDomainControllers(const DnsResolver& dns, const std::string& domain,
                                      std::vector<DsControllerInfo1>* controllers, std::uint32_t* ttlSeconds = nullptr);
