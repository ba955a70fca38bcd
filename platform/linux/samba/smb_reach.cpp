#include "platform/linux/samba/smb_reach.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "directory/win32_error_text.h"
#include "platform/linux/names/host_lookup.h"
#include "platform/linux/samba/smb_session.h"

namespace {

// Connects a socket to address within the time left; 0 or errno.
int ConnectWithin(const sockaddr* address, socklen_t length, int timeoutMs)
{
    const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int error = 0;
    if (connect(fd, address, length) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd waiting{ fd, POLLOUT, 0 };
            const int ready = poll(&waiting, 1, timeoutMs);
            socklen_t size = sizeof error;
            if (ready == 0)
                error = ETIMEDOUT;
            else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = errno;
        }
    }
    close(fd);
    return error;
}

} // namespace

std::uint32_t ReachSmbPort(const DnsResolver& dns, const std::string& machine, std::uint16_t port, int timeoutMs,
                           std::string* address)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string server;
    if (std::uint32_t result = SmbServerFor(dns, machine, timeoutMs, &server); result != 0)
        return result;
    std::vector<HostAddress> addresses;
    if (server.empty())
        return win32_error::kBadNetPath;
    if (const int resolved = LookUpHostWithin(server, port, MillisecondsLeft(deadline), &addresses); resolved != 0)
        return resolved == EAI_AGAIN ? win32_error::kSemTimeout : win32_error::kBadNetPath;
    std::uint32_t result = win32_error::kBadNetPath;
    for (const HostAddress& a : addresses) {
        const auto* socketAddress = reinterpret_cast<const sockaddr*>(&a.address);
        const int error = ConnectWithin(socketAddress, a.length, MillisecondsLeft(deadline));
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = socketAddress->sa_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&a.address)->sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&a.address)->sin_addr);
        if (error == 0 && inet_ntop(socketAddress->sa_family, raw, text, sizeof text) != nullptr) {
            *address = text;
            return 0;
        }
        if (error == ETIMEDOUT)
            result = win32_error::kSemTimeout;
    }
    return result;
}
