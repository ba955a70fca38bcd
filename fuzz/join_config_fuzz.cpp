// The readers of Samba's smb.conf and SSSD's sssd.conf: the first half of the input is one
// file, the rest the other. Files are handed over as memory-backed descriptors.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "directory/directory_service.h"
#include "platform/linux/directory/join_information.h"

namespace {

// A path that reads back the given bytes.
struct MemoryFile {
    explicit MemoryFile(const std::uint8_t* data, std::size_t size) : fd(memfd_create("conf", 0))
    {
        if (fd < 0 || (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)))
            std::abort();
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    ~MemoryFile() { close(fd); }
    int fd;
    std::string path;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t half = size / 2;
    MemoryFile smb(data, half);
    MemoryFile sssd(data + half, size - half);
    const JoinInformation info = ReadJoinInformation(smb.path, sssd.path);
    if (info.result != 0)
        std::abort(); // both files exist and are readable
    if (info.status < NetSetupUnknownStatus || info.status > NetSetupDomainName)
        std::abort();
    // Only a member or a workgroup computer has a name; Samba's default workgroup counts.
    if ((info.status == NetSetupDomainName || info.status == NetSetupWorkgroupName) && info.name.empty())
        std::abort();
    return 0;
}
