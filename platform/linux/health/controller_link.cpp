#include "platform/linux/health/controller_link.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/linux/names/host_lookup.h"
#include "platform/linux/samba/smb_session.h"

int MsBefore(HealthDeadline deadline)
{
    return std::max(1, MillisecondsLeft(deadline));
}

std::string ControllerAddress(const std::optional<DnsServer>& dnsServer, const HealthTarget& target,
                              HealthDeadline deadline, std::string* error)
{
    if (!target.address.empty())
        return target.address;
    const std::string& controller = target.controller;
    std::string address;
    const DnsResolver dns(dnsServer);
    if (SmbServerFor(dns, controller, MsBefore(deadline), &address) != 0 || address.empty()) {
        *error = "no address found for " + controller;
        return {};
    }
    return address;
}

int ConnectBefore(const std::string& address, std::uint16_t port, HealthDeadline deadline, std::string* error)
{
    const std::string where = "connecting to " + address + ":" + std::to_string(port) + ": ";
    std::vector<HostAddress> addresses;
    if (const int found = LookUpHostWithin(address, port, MsBefore(deadline), &addresses);
        found != 0 || addresses.empty()) {
        *error = where + (found == 0 ? "no address" : gai_strerror(found));
        return -1;
    }
    int lastError = ETIMEDOUT;
    for (const HostAddress& a : addresses) {
        const int fd = socket(a.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int result = 0;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.length) != 0) {
            result = errno;
            if (result == EINPROGRESS) {
                pollfd waiting{ fd, POLLOUT, 0 };
                const int ready = poll(&waiting, 1, MsBefore(deadline));
                socklen_t size = sizeof result;
                if (ready == 0)
                    result = ETIMEDOUT;
                else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0)
                    result = errno;
            }
        }
        if (result == 0) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        close(fd);
        lastError = result;
    }
    *error = where + std::generic_category().message(lastError);
    return -1;
}
