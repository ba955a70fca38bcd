// The local machine's domain membership as Samba's and SSSD's configuration record it, in the
// terms of NetGetJoinInformation.
#pragma once

#include <cstdint>
#include <string>

struct JoinInformation {
    std::uint32_t result = 0; // 0, or the Win32 error of a configuration file that could not be read
    int status = 0;           // a JoinStatus; NetSetupUnknownStatus when result is not 0
    std::string name;         // the domain's DNS name when it has one, else the workgroup
};

// Reads smb.conf and sssd.conf at the given paths. A member's name is the DNS domain name when
// the files name one (Samba's realm, SSSD's AD domain), since that is the name the controllers
// are looked up by. Neither file present means not joined; a file that exists but cannot be read
// fails the query.
JoinInformation ReadJoinInformation(const std::string& smbConfPath, const std::string& sssdConfPath);
