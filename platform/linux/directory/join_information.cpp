#include "platform/linux/directory/join_information.h"

#include <cerrno>
#include <optional>
#include <vector>

#include "directory/directory_service.h"
#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"
#include "platform/linux/config/ini_file.h"

namespace {

// Samba's default workgroup when smb.conf names none.
constexpr const char* kDefaultWorkgroup = "WORKGROUP";

std::string ValueOr(const std::string* value, const std::string& fallback)
{
    return value != nullptr && !value->empty() ? *value : fallback;
}

std::string Workgroup(const std::vector<IniSection>& smb)
{
    return ValueOr(FindIniValue(smb, "global", "workgroup"), kDefaultWorkgroup);
}

// The domain smb.conf makes this machine a member of: "security = ads" (or the AD DC role) names
// it by its realm, "security = domain" by its workgroup.
std::optional<std::string> SambaDomain(const std::vector<IniSection>& smb)
{
    const std::string security = AsciiLowercase(ValueOr(FindIniValue(smb, "global", "security"), ""));
    const std::string role = AsciiLowercase(ValueOr(FindIniValue(smb, "global", "serverrole"), ""));
    if (security == "ads" || role == "active directory domain controller") {
        const std::string realm = ValueOr(FindIniValue(smb, "global", "realm"), "");
        return realm.empty() ? Workgroup(smb) : AsciiLowercase(realm);
    }
    if (security == "domain")
        return Workgroup(smb);
    return std::nullopt;
}

std::vector<std::string> SplitList(const std::string& list)
{
    std::vector<std::string> items;
    std::string item;
    for (char c : list + ",") {
        if (c != ',') {
            item += c;
            continue;
        }
        const auto first = item.find_first_not_of(" \t");
        if (first != std::string::npos)
            items.push_back(item.substr(first, item.find_last_not_of(" \t") - first + 1));
        item.clear();
    }
    return items;
}

// The Active Directory domain that sssd.conf serves: the first [domain/NAME] section, in the
// order of [sssd] "domains" when that is set, whose id_provider is "ad" or that names an
// ad_domain.
std::optional<std::string> SssdDomain(const std::vector<IniSection>& sssd)
{
    std::vector<const IniSection*> candidates;
    const std::string* listed = FindIniValue(sssd, "sssd", "domains");
    for (const IniSection& section : sssd) {
        if (section.name.rfind("domain/", 0) == 0)
            candidates.push_back(&section);
    }
    if (listed != nullptr) {
        std::vector<const IniSection*> ordered;
        for (const std::string& name : SplitList(*listed)) {
            for (const IniSection* section : candidates) {
                if (section->name == "domain/" + AsciiLowercase(name))
                    ordered.push_back(section);
            }
        }
        candidates = ordered;
    }
    for (const IniSection* section : candidates) {
        const std::string provider = AsciiLowercase(ValueOr(section->Find("id_provider"), ""));
        const std::string adDomain = ValueOr(section->Find("ad_domain"), "");
        // "[domain/]" names no domain.
        const std::string domain = AsciiLowercase(adDomain.empty() ? section->name.substr(7) : adDomain);
        if ((provider == "ad" || !adDomain.empty()) && !domain.empty())
            return domain;
    }
    return std::nullopt;
}

std::uint32_t ReadError(int error)
{
    return error == EACCES || error == EPERM ? win32_error::kAccessDenied : win32_error::kReadFault;
}

} // namespace

JoinInformation ReadJoinInformation(const std::string& smbConfPath, const std::string& sssdConfPath)
{
    std::vector<IniSection> smb, sssd;
    int error = 0;
    const IniReadResult smbRead = ReadIniFile(smbConfPath, &smb, &error);
    if (smbRead == IniReadResult::Unreadable)
        return { ReadError(error), NetSetupUnknownStatus, {} };
    const IniReadResult sssdRead = ReadIniFile(sssdConfPath, &sssd, &error);
    if (sssdRead == IniReadResult::Unreadable)
        return { ReadError(error), NetSetupUnknownStatus, {} };

    if (std::optional<std::string> domain = SambaDomain(smb))
        return { 0, NetSetupDomainName, *domain };
    if (std::optional<std::string> domain = SssdDomain(sssd))
        return { 0, NetSetupDomainName, *domain };
    if (smbRead == IniReadResult::Read)
        return { 0, NetSetupWorkgroupName, Workgroup(smb) };
    return { 0, NetSetupUnjoined, {} };
}
