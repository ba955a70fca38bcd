#include "platform/linux/directory/smb_network_connector.h"

#include "platform/linux/samba/smb_reach.h"

#include <algorithm>

#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"

namespace {

// Splits "\\machine[\share]" into its parts; false when it is not of that form.
bool ParseRemoteName(const std::string& remoteName, std::string* machine, std::string* share)
{
    if (remoteName.size() < 3 || remoteName.compare(0, 2, "\\\\") != 0)
        return false;
    const std::string rest = remoteName.substr(2);
    const size_t slash = rest.find('\\');
    *machine = rest.substr(0, slash);
    *share = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    while (!share->empty() && share->back() == '\\')
        share->pop_back();
    return !machine->empty() && share->find('\\') == std::string::npos;
}

} // namespace

SmbNetworkConnector::SmbNetworkConnector(Options options) : m_options(std::move(options)), m_dns(m_options.dnsServer) {}

SmbNetworkConnector::~SmbNetworkConnector()
{
    for (const Connection& connection : m_connections)
        Withdraw(connection);
}

void SmbNetworkConnector::Withdraw(const Connection& connection)
{
    if (m_options.credentials != nullptr)
        m_options.credentials->Remove(connection.shared);
}

std::uint32_t SmbNetworkConnector::AddConnection(const CString& remoteName, const CString& password,
                                                 const CString& userName)
{
    std::string machine, share;
    if (!ParseRemoteName(remoteName.ToUtf8(), &machine, &share))
        return win32_error::kBadNetName;
    const std::string key = AsciiLowercase(machine);
    const std::string user = AsciiLowercase(userName.ToUtf8());
    const bool conflict = std::any_of(m_connections.begin(), m_connections.end(),
                                      [&](const Connection& c) { return c.machine == key && c.user != user; });
    if (conflict)
        return win32_error::kSessionCredentialConflict;

    std::string server;
    if (m_options.reachTimeoutMs > 0) {
        if (std::uint32_t result = ReachSmbPort(m_dns, machine, m_options.smbPort, m_options.reachTimeoutMs, &server);
            result != 0)
            return result;
    } else if (std::uint32_t result = SmbServerFor(m_dns, machine, m_options.timeoutMs, &server); result != 0) {
        return result;
    }
    std::unique_ptr<SmbSession> session;
    const SmbCredentials credentials({}, userName.ToUtf8(), password);
    if (std::uint32_t result = SmbSession::Open(server, m_options.smbPort, share, credentials, m_options.timeoutMs, &session); result != 0)
        return result;
    const CredentialRegistry::Id shared = m_options.credentials != nullptr ? m_options.credentials->Add(machine, credentials) : 0;
    m_connections.push_back({ AsciiLowercase(remoteName.ToUtf8()), key, user, std::move(session), shared });
    return 0;
}

std::uint32_t SmbNetworkConnector::CancelConnection(const CString& remoteName, bool)
{
    // No files are ever opened through these sessions, so forcing changes nothing.
    const std::string key = AsciiLowercase(remoteName.ToUtf8());
    auto it = std::find_if(m_connections.rbegin(), m_connections.rend(),
                           [&](const Connection& c) { return c.remoteName == key; });
    if (it == m_connections.rend())
        return win32_error::kNotConnected;
    Withdraw(*it);
    m_connections.erase(std::next(it).base());
    return 0;
}

std::uint32_t SmbNetworkConnector::FormatMessage(std::uint32_t code, char16_t** buffer)
{
    const char16_t* text = Win32ErrorText(code);
    if (text == nullptr) {
        *buffer = nullptr;
        return 0;
    }
    const std::u16string_view view(text);
    *buffer = new char16_t[view.size() + 1];
    std::copy(view.begin(), view.end(), *buffer);
    (*buffer)[view.size()] = u'\0';
    return static_cast<std::uint32_t>(view.size());
}

void SmbNetworkConnector::LocalFree(char16_t* buffer)
{
    delete[] buffer;
}
