#include "platform/linux/samba/smb_session.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <libsmbclient.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "directory/win32_error_text.h"
#include "framework/secret_text.h"
#include "platform/linux/names/host_lookup.h"
#include "platform/linux/samba/samba_calls.h"

namespace {

// Our client settings: names are looked up through the system resolver only (no NetBIOS
// broadcasts or WINS), and no Kerberos, which would go looking for a KDC on its own.
constexpr char kClientConfig[] = "[global]\n"
                                 "\tname resolve order = host\n"
                                 "\tclient use kerberos = off\n";

// The path of our client configuration: an anonymous memory file, so nothing is written to disk.
// Empty when it could not be made.
const std::string& ClientConfigPath()
{
    static const std::string path = [] {
        const int fd = memfd_create("zeltor-smb.conf", MFD_CLOEXEC);
        if (fd < 0)
            return std::string();
        if (write(fd, kClientConfig, sizeof kClientConfig - 1) != static_cast<ssize_t>(sizeof kClientConfig - 1)) {
            close(fd);
            return std::string();
        }
        return "/proc/self/fd/" + std::to_string(fd); // kept open for the life of the process
    }();
    return path;
}

// libsmbclient keeps one configuration for the whole process and, built without thread support
// as Debian's is, reloads it whenever a context is made: from ~/.smb/smb.conf when HOME is set,
// else from the system smb.conf. HOME is unset for that call so no user file is read, and the
// configuration is then replaced by ours. Called between samba_calls_enter and _leave, as every
// call into the library is.
SMBCCTX* NewContext()
{
    const std::string& configPath = ClientConfigPath();
    if (configPath.empty())
        return nullptr;
    std::optional<std::string> home;
    if (const char* value = std::getenv("HOME"))
        home = value;
    unsetenv("HOME");
    SMBCCTX* context = smbc_new_context();
    if (home)
        setenv("HOME", home->c_str(), 1);
    if (context != nullptr && smbc_setConfiguration(context, configPath.c_str()) != 0) {
        smbc_free_context(context, 1);
        return nullptr;
    }
    return context;
}

// Percent-encodes a URL path component; libsmbclient decodes it again.
std::string UrlComponent(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || (c != 0 && std::strchr("-._~$", c) != nullptr)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// libsmbclient reports failures in errno, mapped from the NT status (source3/lib/errmap_unix.c):
// a refused logon and a refused share both come back as EACCES and a missing server name and a
// missing share both as ENOENT, so which step failed tells them apart.
std::uint32_t Win32FromErrno(int error, bool shareStep)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return shareStep ? win32_error::kAccessDenied : win32_error::kLogonFailure;
    case ENOENT:
    case ENODEV:
        return shareStep ? win32_error::kBadNetName : win32_error::kBadNetPath;
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ECONNRESET:
    case ECONNABORTED:
    case ENETRESET:
    case ESHUTDOWN:
    case EPIPE:
        return win32_error::kBadNetPath;
    case ETIMEDOUT:
        return win32_error::kSemTimeout;
    case ENETDOWN:
        return win32_error::kNoNetwork;
    case ENOMEM:
        return win32_error::kNotEnoughMemory;
    default:
        return win32_error::kUnexpectedNetError;
    }
}

// Opens and closes the directory at url, which makes libsmbclient log on and connect and keep
// the connection in the context.
std::uint32_t Visit(SMBCCTX* context, const std::string& url, bool shareStep)
{
    errno = 0;
    SMBCFILE* dir = smbc_getFunctionOpendir(context)(context, url.c_str());
    if (dir == nullptr)
        return Win32FromErrno(errno, shareStep);
    smbc_getFunctionClosedir(context)(context, dir);
    return 0;
}

// Held for each call into libsmbclient, which shares its scratch state with the other Samba
// clients of the process (winreg_client.h); a call that waits on a silent server holds them too.
class SambaCalls {
public:
    SambaCalls() { samba_calls_enter(); }
    ~SambaCalls() { samba_calls_leave(); }
    SambaCalls(const SambaCalls&) = delete;
    SambaCalls& operator=(const SambaCalls&) = delete;
};

// The fixed buffers of libsmbclient's authentication callback (fstring).
constexpr size_t kAuthFieldChars = 255;

} // namespace

SmbCredentials::SmbCredentials(std::string workgroup, std::string user, std::string_view password)
    : workgroup(std::move(workgroup)), user(std::move(user))
{
    PrepareSecretText(this->password, password.size());
    this->password.append(password);
}

SmbCredentials::SmbCredentials(std::string workgroup, std::string user, const CString& password)
    : workgroup(std::move(workgroup)), user(std::move(user))
{
    // Room for the longest UTF-8 form, so that the conversion never moves the text.
    PrepareSecretText(this->password, 3 * password.size());
    AppendUtf16AsUtf8(this->password, password);
}

SmbCredentials::SmbCredentials(const SmbCredentials& other)
    : workgroup(other.workgroup), user(other.user), ticketCache(other.ticketCache)
{
    PrepareSecretText(password, other.password.size());
    password.append(other.password);
}

SmbCredentials& SmbCredentials::operator=(const SmbCredentials& other)
{
    if (this != &other) {
        workgroup = other.workgroup;
        user = other.user;
        ticketCache = other.ticketCache;
        PrepareSecretText(password, other.password.size());
        password.append(other.password);
    }
    return *this;
}

SmbCredentials::~SmbCredentials()
{
    WipeText(password);
}

SmbSession::SmbSession(const SmbCredentials& credentials) : m_credentials(credentials) {}

SmbSession::~SmbSession()
{
    if (m_context != nullptr) {
        SambaCalls calls;
        smbc_free_context(m_context, 1);
    }
}

void SmbSession::SupplyCredentials(SMBCCTX* context, const char*, const char*, char* workgroup, int workgroupSize,
                                   char* user, int userSize, char* password, int passwordSize)
{
    const auto* self = static_cast<const SmbSession*>(smbc_getOptionUserData(context));
    std::snprintf(workgroup, static_cast<size_t>(workgroupSize), "%s", self->m_credentials.workgroup.c_str());
    std::snprintf(user, static_cast<size_t>(userSize), "%s", self->m_credentials.user.c_str());
    std::snprintf(password, static_cast<size_t>(passwordSize), "%s", self->m_credentials.password.c_str());
}

std::uint32_t SmbSession::Open(const std::string& server, std::uint16_t port, const std::string& share,
                               const SmbCredentials& credentials, int timeoutMs, std::unique_ptr<SmbSession>* session)
{
    // Cut short, a name or password would log on as someone else, or anonymously.
    if (credentials.workgroup.size() > kAuthFieldChars || credentials.user.size() > kAuthFieldChars)
        return win32_error::kLogonFailure;
    if (credentials.password.size() > kAuthFieldChars)
        return win32_error::kInvalidPassword;
    if (server.empty())
        return win32_error::kBadNetPath;

    std::unique_ptr<SmbSession> opened(new SmbSession(credentials));
    SambaCalls calls;
    SMBCCTX* context = NewContext();
    if (context == nullptr)
        return win32_error::kNotEnoughMemory;
    smbc_setOptionUserData(context, opened.get());
    smbc_setFunctionAuthDataWithContext(context, &SmbSession::SupplyCredentials);
    // A refused logon must fail, not fall back to a guest session.
    smbc_setOptionNoAutoAnonymousLogin(context, true);
    smbc_setOptionUseKerberos(context, false);
    smbc_setOptionFallbackAfterKerberos(context, false);
    smbc_setOptionUseCCache(context, false);
    smbc_setTimeout(context, timeoutMs);
    smbc_setPort(context, port);
    if (smbc_init_context(context) == nullptr) {
        smbc_free_context(context, 1);
        return win32_error::kNotEnoughMemory;
    }
    opened->m_context = context;

    const std::string root = "smb://" + UrlComponent(server) + "/";
    if (std::uint32_t result = Visit(context, root, false); result != 0)
        return result;
    if (!share.empty()) {
        if (std::uint32_t result = Visit(context, root + UrlComponent(share) + "/", true); result != 0)
            return result;
    }
    *session = std::move(opened);
    return 0;
}

bool IsUnreachableError(std::uint32_t code)
{
    return code == win32_error::kBadNetPath || code == win32_error::kSemTimeout || code == win32_error::kNoNetwork;
}

std::uint32_t SmbServerFor(const DnsResolver& dns, const std::string& machine, int timeoutMs, std::string* server)
{
    in_addr address {};
    if (inet_pton(AF_INET, machine.c_str(), &address) == 1) {
        *server = machine;
        return 0;
    }
    if (!dns.HasServer()) {
        std::vector<HostAddress> found;
        if (const int result = LookUpHostWithin(machine, kSmbPort, timeoutMs, &found); result != 0)
            return result == EAI_AGAIN ? win32_error::kSemTimeout : win32_error::kBadNetPath;
        *server = machine;
        for (const HostAddress& a : found) {
            char text[INET_ADDRSTRLEN] = {};
            if (a.address.ss_family == AF_INET &&
                inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&a.address)->sin_addr, text, sizeof text) != nullptr) {
                *server = text;
                break;
            }
        }
        return 0;
    }
    std::vector<std::string> addresses;
    if (dns.QueryIpv4(machine, &addresses) != DnsStatus::Ok || addresses.empty())
        return win32_error::kBadNetPath;
    *server = addresses.front();
    return 0;
}
