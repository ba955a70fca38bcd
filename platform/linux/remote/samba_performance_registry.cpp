#include "platform/linux/remote/samba_performance_registry.h"

#include <algorithm>
#include <chrono>

#include "directory/win32_error_text.h"
#include "platform/linux/names/host_lookup.h"
#include "platform/linux/remote/winreg_client.h"
#include "platform/linux/samba/smb_reach.h"

namespace {

class SambaPerformanceKey : public IPerformanceKey {
public:
    SambaPerformanceKey(winreg_client* client, const CredentialRegistry& credentials, std::string machine,
                        CredentialRegistry::Id id)
        : m_client(client), m_credentials(credentials), m_machine(std::move(machine)), m_id(id)
    {
    }
    ~SambaPerformanceKey() override { winreg_client_close(m_client); }
    SambaPerformanceKey(const SambaPerformanceKey&) = delete;
    SambaPerformanceKey& operator=(const SambaPerformanceKey&) = delete;

    std::uint32_t QueryValue(const std::string& name, std::span<std::uint8_t> buffer, std::uint32_t* length,
                             std::uint32_t* type, std::uint32_t* needed) override
    {
        std::uint32_t werror = 0;
        const std::uint32_t status =
            winreg_client_query_value(m_client, name.c_str(), buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                      length, type, needed, &werror);
        if (status != 0) {
            const std::uint32_t win32 = samba_ntstatus_to_win32(status);
            return win32 != 0 ? win32 : win32_error::kUnexpectedNetError;
        }
        return werror;
    }

    bool IsCurrent() const override { return m_credentials.IsCurrent(m_machine, m_id); }

private:
    winreg_client* m_client;
    const CredentialRegistry& m_credentials;
    std::string m_machine;
    CredentialRegistry::Id m_id;
};

} // namespace

SambaPerformanceRegistry::SambaPerformanceRegistry(CredentialRegistry& credentials, RemoteCounterOptions options)
    : m_credentials(credentials), m_options(std::move(options)), m_dns(m_options.dnsServer)
{
}

std::uint32_t SambaPerformanceRegistry::Open(const std::string& machine, std::unique_ptr<IPerformanceKey>* key)
{
    const std::optional<CredentialRegistry::Entry> entry = m_credentials.Find(machine);
    // Credentials the server refused are not tried again: each try would count towards the
    // account's lockout. New ones come with a new connection.
    if (entry && entry->refusal != 0)
        return entry->refusal;
    // One bound for the whole connection: the name, the port, the logon, the pipe and the key.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.connectTimeoutMs);
    std::string address;
    if (std::uint32_t result = ReachSmbPort(m_dns, machine, m_options.smbPort,
                                            std::min(m_options.reachTimeoutMs, MillisecondsLeft(deadline)), &address);
        result != 0)
        return result;
    samba_connect_options options{};
    options.server = address.c_str();
    options.target_name = machine.c_str();
    options.logon = entry ? SAMBA_LOGON_PASSWORD : SAMBA_LOGON_OWN_TICKET;
    std::string user;
    if (entry && !entry->credentials.ticketCache.empty()) {
        options.logon = SAMBA_LOGON_TICKET_CACHE;
        options.ccache = entry->credentials.ticketCache.c_str();
    } else if (entry) {
        // A workgroup given apart goes in front of the name, as the connection gave it.
        user = entry->credentials.workgroup.empty() ? entry->credentials.user
                                                    : entry->credentials.workgroup + "\\" + entry->credentials.user;
        options.user = user.c_str();
        options.password = entry->credentials.password.c_str();
    }
    options.port = m_options.smbPort;
    options.connect_timeout_ms = static_cast<unsigned>(MillisecondsLeft(deadline));
    options.call_timeout_seconds = m_options.callTimeoutSeconds;
    winreg_client* client = nullptr;
    std::uint32_t werror = 0;
    const std::uint32_t status = winreg_client_open(&options, &client, &werror);
    if (status != 0) {
        const std::uint32_t win32 = samba_ntstatus_to_win32(status);
        if (entry && IsRefusedLogon(win32))
            m_credentials.MarkRefused(entry->id, win32);
        return win32 != 0 ? win32 : win32_error::kUnexpectedNetError;
    }
    // The server answered and would not open the key (an anonymous user on a domain controller
    // is refused so, with WERR_NOT_ENOUGH_MEMORY from Samba's): access denied.
    if (werror != 0)
        return win32_error::kAccessDenied;
    *key = std::make_unique<SambaPerformanceKey>(client, m_credentials, machine, entry ? entry->id : 0);
    return 0;
}
