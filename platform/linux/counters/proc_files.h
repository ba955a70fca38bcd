// Reading procfs files: each is opened, read whole and closed again, so nothing stays open
// between samples.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <fcntl.h>

// Reads the file at path (relative to directory when that is an open directory) into buffer,
// replacing what it held; false when it cannot be opened or read.
bool ReadWholeFile(const char* path, std::string& buffer, int directory = AT_FDCWD);

// Whether procfs is mounted at procRoot (and not a copy of its files).
bool IsProcfs(const std::string& procRoot);

// Whether st_size of procRoot's /PID/fd directories is the number of open descriptors: procfs
// reports it so from Linux 6.2 on; before that, and on any other file system, it is not.
bool FdDirectorySizeIsCount(const std::string& procRoot);

// The number of open descriptors listed in a /proc/PID/fd directory: its st_size when
// sizeIsCount, else its entries counted. Empty when the directory cannot be read, with
// *error the reason (ENOENT once the process has ended, EACCES for another user's process).
std::optional<std::uint64_t> CountOpenDescriptors(const std::string& fdDirectory, bool sizeIsCount, int* error);

// The kernel release "major.minor..." of uname at least the given version.
bool KernelReleaseAtLeast(const char* release, int major, int minor);
