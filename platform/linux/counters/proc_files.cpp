#include "platform/linux/counters/proc_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr long kProcSuperMagic = 0x9fa0; // PROC_SUPER_MAGIC, linux/magic.h
constexpr std::size_t kReadChunk = 4096;

} // namespace

bool ReadWholeFile(const char* path, std::string& buffer, int directory)
{
    buffer.clear();
    const int fd = openat(directory, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    for (;;) {
        const std::size_t used = buffer.size();
        buffer.resize(used + kReadChunk);
        const ssize_t n = read(fd, buffer.data() + used, kReadChunk);
        if (n < 0 && errno == EINTR) {
            buffer.resize(used);
            continue;
        }
        buffer.resize(used + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n <= 0) {
            ok = n == 0;
            break;
        }
    }
    close(fd);
    return ok;
}

bool KernelReleaseAtLeast(const char* release, int major, int minor)
{
    int releaseMajor = 0;
    int releaseMinor = 0;
    if (std::sscanf(release, "%d.%d", &releaseMajor, &releaseMinor) != 2)
        return false;
    return releaseMajor > major || (releaseMajor == major && releaseMinor >= minor);
}

bool IsProcfs(const std::string& procRoot)
{
    struct statfs fs {};
    return statfs(procRoot.c_str(), &fs) == 0 && fs.f_type == kProcSuperMagic;
}

bool FdDirectorySizeIsCount(const std::string& procRoot)
{
    if (!IsProcfs(procRoot))
        return false;
    struct utsname u {};
    return uname(&u) == 0 && KernelReleaseAtLeast(u.release, 6, 2);
}

std::optional<std::uint64_t> CountOpenDescriptors(const std::string& fdDirectory, bool sizeIsCount, int* error)
{
    *error = 0;
    if (sizeIsCount) {
        struct stat st {};
        if (stat(fdDirectory.c_str(), &st) != 0) {
            *error = errno;
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(st.st_size);
    }
    DIR* dir = opendir(fdDirectory.c_str());
    if (dir == nullptr) {
        *error = errno;
        return std::nullopt;
    }
    std::uint64_t count = 0;
    errno = 0;
    while (const dirent* entry = readdir(dir)) { // NOLINT(concurrency-mt-unsafe): a stream of this call alone
        if (entry->d_name[0] != '.')
            ++count;
    }
    *error = errno;
    closedir(dir);
    if (*error != 0)
        return std::nullopt;
    return count;
}
