#include "platform/linux/directory/smb_network_connector.h"

#include "platform/linux/samba/smb_reach.h"

#include <algorithm>
#include <chrono>

#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"
#include "platform/linux/names/host_lookup.h"

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

    std::unique_ptr<SmbSession> session;
    const SmbCredentials credentials({}, userName.ToUtf8(), password);
    m_lastFailureStep.clear();
    if (std::uint32_t result = Connect(machine, share, credentials, &session); result != 0)
        return result;
    const CredentialRegistry::Id shared =
        m_options.credentials != nullptr ? m_options.credentials->Add(machine, credentials) : 0;
    m_connections.push_back({ AsciiLowercase(remoteName.ToUtf8()), key, user, std::move(session), shared });
    return 0;
}

std::uint32_t SmbNetworkConnector::Connect(const std::string& machine, const std::string& share,
                                           const SmbCredentials& credentials, std::unique_ptr<SmbSession>* session)
{
    // A step that found nothing or did not answer says so, so that a box does not leave the user
    // to guess which one a time-out was (the same code for the three).
    const auto failed = [this](std::uint32_t result, const std::string& step) {
        m_lastFailureStep = CString::FromUtf8(step);
        return result;
    };
    // With a bound on reaching the port, the look-up is within it too; else both within the
    // connection's bound.
    const bool reach = m_options.reachTimeoutMs > 0;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(reach ? m_options.reachTimeoutMs : m_options.timeoutMs);
    std::string server;
    if (std::uint32_t result = SmbServerFor(m_dns, machine, MillisecondsLeft(deadline), &server); result != 0) {
        return failed(result, result == win32_error::kSemTimeout
                                  ? "The look-up of the name " + machine + " did not answer."
                                  : "The look-up of the name " + machine + " gave no address.");
    }
    const std::string port = std::to_string(m_options.smbPort);
    // Always: Samba's client reports a refused connection as a lack of memory.
    {
        std::string reached;
        if (std::uint32_t result = ReachSmbPort(m_dns, server, m_options.smbPort, MillisecondsLeft(deadline), &reached);
            result != 0) {
            return failed(result, result == win32_error::kSemTimeout
                                      ? "Port " + port + " of " + server + " did not answer."
                                      : "Nothing listens on port " + port + " of " + server + ".");
        }
    }
    const std::uint32_t result =
        SmbSession::Open(server, m_options.smbPort, share, credentials, m_options.timeoutMs, session);
    if (result == win32_error::kSemTimeout)
        return failed(result, "The server at " + server + " took the connection and did not answer the logon.");
    if (IsUnreachableError(result))
        return failed(result, "The server at " + server + " port " + port + " could not be reached for the logon.");
    // A refusal is the server's answer, and its text says what it was.
    return result;
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
