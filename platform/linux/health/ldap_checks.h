// The LDAP checks with OpenLDAP's libldap over a connection of our own making: the rootDSE read
// anonymously, and a bind with Kerberos (Cyrus SASL's GSSAPI) followed by a read of the domain
// object.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "directory/health_check.h"
#include "platform/linux/health/controller_link.h"

// The rootDSE of the controller (named host, at address) at port.
RootDseReading ReadRootDseAt(const std::string& host, const std::string& address, std::uint16_t port,
                             HealthDeadline deadline);

// Binds with GSSAPI as the tickets of cacheName (empty: the user's own cache) hold, for the
// service ldap/host, and reads the domain object.
HealthProbe BindAndReadDomainAt(const std::string& host, const std::string& address, std::uint16_t port,
                                const std::string& cacheName, HealthDeadline deadline);

// Binds as BindAndReadDomainAt does and reads attribute of the object relativeDn under the
// configuration naming context: its first value in *value, none when the object has no value.
HealthProbe ReadConfigurationValueAt(const std::string& host, const std::string& address, std::uint16_t port,
                                     const std::string& cacheName, const std::string& relativeDn,
                                     const std::string& attribute, HealthDeadline deadline,
                                     std::optional<std::string>* value);
