#include "directory/replication_status.h"

#include <algorithm>
#include <charconv>

#include "directory/win32_error_text.h"
#include "framework/secret_text.h"

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kFileTimeEpochSeconds = 11644473600;

// The value of the RDN "CN=value" that starts component, or "" when it is not one.
std::string_view CommonName(std::string_view component)
{
    if (component.size() < 3 || (component[0] != 'C' && component[0] != 'c') ||
        (component[1] != 'N' && component[1] != 'n') || component[2] != '=')
        return {};
    return component.substr(3);
}

// The DN's first components, split at commas that no backslash escapes.
std::vector<std::string_view> Components(std::string_view dn, std::size_t wanted)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < dn.size() && parts.size() < wanted; ++i) {
        if (dn[i] == '\\') {
            ++i;
        } else if (dn[i] == ',') {
            parts.push_back(dn.substr(start, i - start));
            start = i + 1;
        }
    }
    if (parts.size() < wanted && start < dn.size())
        parts.push_back(dn.substr(start));
    return parts;
}

} // namespace

std::string ReplicationNeighbor::PartnerName() const
{
    // CN=NTDS Settings,CN=<server>,CN=Servers,CN=<site>,CN=Sites,...
    const std::vector<std::string_view> parts = Components(partnerDsaDn, 5);
    if (parts.size() < 5 || CommonName(parts[0]) != "NTDS Settings" || CommonName(parts[2]) != "Servers" ||
        CommonName(parts[4]) != "Sites" || CommonName(parts[1]).empty() || CommonName(parts[3]).empty())
        return partnerDsaDn;
    return std::string(CommonName(parts[3])) + "\\" + std::string(CommonName(parts[1]));
}

ReplicationTarget::~ReplicationTarget()
{
    WipeText(password);
}

ReplicationReader::ReplicationReader(std::shared_ptr<IReplicationService> service,
                                     std::optional<Clock::duration> refusalBackoff)
    : m_service(std::move(service)), m_refusal(refusalBackoff)
{
}

bool ReplicationReader::IsRefused() const
{
    return m_refusal.Holding() != nullptr;
}

void ReplicationReader::AllowRetry()
{
    m_refusal.Clear();
}

ReplicationStatus ReplicationReader::Read(const ReplicationTarget& target, int timeoutMs)
{
    const std::string key = target.controller + "\n" + target.user.ToUtf8();
    if (const ReplicationStatus* refusal = m_refusal.Holding(); refusal != nullptr && key == m_refusedKey)
        return *refusal;
    m_refusal.Clear();
    ReplicationStatus status = m_service->Read(target, timeoutMs);
    if (status.refusedLogon) {
        m_refusal.Keep(status);
        m_refusedKey = key;
    }
    return status;
}

std::optional<TombstoneLifetime> TombstoneLifetimeOf(const std::optional<std::string>& value, std::string* error)
{
    if (!value)
        return TombstoneLifetime{};
    std::uint32_t days = 0;
    const char* end = value->data() + value->size();
    if (const auto parsed = std::from_chars(value->data(), end, days);
        parsed.ec == std::errc() && parsed.ptr == end && days > 0)
        return TombstoneLifetime{ days, true };
    *error = "tombstoneLifetime is not a number of days: " + *value;
    return std::nullopt;
}

std::optional<std::int64_t> UnixSecondsOfFileTime(std::uint64_t fileTime)
{
    if (fileTime == 0)
        return std::nullopt;
    return static_cast<std::int64_t>(fileTime / 10000000) - kFileTimeEpochSeconds;
}

std::string ResultText(std::uint32_t code)
{
    if (code == 0)
        return {};
    const char16_t* text = Win32ErrorText(code);
    if (text == nullptr)
        return "error " + std::to_string(code);
    std::string words = CString(text).ToUtf8();
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r'))
        words.pop_back();
    return words;
}

std::optional<std::int64_t> FailingSeconds(const ReplicationNeighbor& neighbor, std::int64_t now)
{
    if (neighbor.lastResult == 0 && neighbor.consecutiveFailures == 0)
        return std::nullopt;
    const std::optional<std::int64_t> since = neighbor.lastSuccess ? neighbor.lastSuccess : neighbor.lastAttempt;
    return since ? std::max<std::int64_t>(0, now - *since) : 0;
}

std::string DurationWords(std::int64_t seconds)
{
    if (seconds < 120)
        return std::to_string(seconds) + " s";
    constexpr std::int64_t kHour = 3600, kDay = 86400;
    if (seconds < 2 * kHour)
        return std::to_string(seconds / 60) + " min";
    if (seconds < 2 * kDay)
        return std::to_string(seconds / kHour) + " h";
    return std::to_string(seconds / kDay) + " d";
}

std::string ReplicationSummary(const ReplicationStatus& status, std::int64_t now)
{
    if (!status.read)
        return status.errorText.empty() ? ResultText(status.error) : status.errorText;
    // The partner failing longest speaks for the others.
    const ReplicationNeighbor* worst = nullptr;
    std::int64_t longest = -1;
    std::vector<std::string> partners;
    for (const ReplicationNeighbor& neighbor : status.neighbors) {
        if (std::find(partners.begin(), partners.end(), neighbor.partnerGuid) == partners.end())
            partners.push_back(neighbor.partnerGuid);
        const std::optional<std::int64_t> failing = FailingSeconds(neighbor, now);
        if (failing && *failing > longest) {
            longest = *failing;
            worst = &neighbor;
        }
    }
    if (worst == nullptr)
        return "ok, " + std::to_string(partners.size()) + (partners.size() == 1 ? " partner" : " partners");
    const std::string name = worst->PartnerName();
    const std::size_t slash = name.rfind('\\');
    return (slash == std::string::npos ? name : name.substr(slash + 1)) + " failing for " + DurationWords(longest) +
           ": " + ResultText(worst->lastResult);
}
