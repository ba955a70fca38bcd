#include "platform/linux/samba/credential_registry.h"

#include <algorithm>

#include "framework/ascii_case.h"

CredentialRegistry::Id CredentialRegistry::Add(const std::string& machine, const SmbCredentials& credentials)
{
    const std::lock_guard lock(m_mutex);
    const Id id = m_nextId++;
    m_records.push_back({ id, machine, credentials, 0 });
    return id;
}

void CredentialRegistry::Remove(Id id)
{
    // SmbCredentials wipes its password as it goes.
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_records, [id](const Record& r) { return r.id == id; });
}

const CredentialRegistry::Record* CredentialRegistry::Latest(const std::string& machine) const
{
    const auto found = std::find_if(m_records.rbegin(), m_records.rend(),
                                    [&](const Record& r) { return EqualsIgnoringCase(r.machine, machine); });
    return found == m_records.rend() ? nullptr : &*found;
}

void CredentialRegistry::MarkRefused(Id id, std::uint32_t refusal)
{
    const std::lock_guard lock(m_mutex);
    for (Record& record : m_records) {
        if (record.id == id)
            record.refusal = refusal;
    }
}

std::optional<CredentialRegistry::Entry> CredentialRegistry::Find(const std::string& machine) const
{
    const std::lock_guard lock(m_mutex);
    const Record* latest = Latest(machine);
    if (latest == nullptr)
        return std::nullopt;
    return Entry{ latest->id, latest->credentials, latest->refusal };
}

bool CredentialRegistry::IsCurrent(const std::string& machine, Id id) const
{
    const std::lock_guard lock(m_mutex);
    const Record* latest = Latest(machine);
    return latest == nullptr ? id == 0 : latest->id == id;
}
