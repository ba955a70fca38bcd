// The exchanges of Win32HealthService, each in the source file of the system library it uses
// (their headers do not all go together), over the controller as its DNS server named it.
#pragma once

#include <cstdint>
#include <string>

#include "directory/health_check.h"
#include "platform/win32/win32_system_text.h"

// Where a controller is: its IPv4 address, its DNS name (the name as given when DNS knows no
// other), and the domain it serves (the target's, or its DNS name's after the first label).
struct ControllerPlace {
    std::string address;
    std::string host;
    std::string domain;
};

// The controller's place, asked of the system's DNS client unless the target is an address;
// false and *error ("no address found for DC9") when it has none.
bool LocateController(const HealthTarget& target, ControllerPlace* place, std::string* error);

// The controller's DNS server (at place.address) asked for its SRV records and its own address.
HealthProbe CheckControllerRecords(const ControllerPlace& place);

// The rootDSE read anonymously at host:port.
RootDseReading ReadRootDseAt(const std::string& host, std::uint16_t port, int timeoutMs);

// A Negotiate bind to host with the target's user and password, or this logon's when it has no
// user, then a read of the domain object; a refused password is a refused logon.
HealthProbe BindAndReadDomainAt(const HealthTarget& target, const std::string& host, int timeoutMs);

// The Kerberos package asked for a ticket to ldap/host by the KDC at address alone, with this
// logon's own ticket: no password's key is sent.
HealthProbe AskKdcAt(const ControllerPlace& place, bool userGiven);
