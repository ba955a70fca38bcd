// The instance names of processes in Process(NAME): the rule that the local counter source
// finds a process by and that the Samba provider publishes it under.
//
// A process's name is its comm; when the kernel cut comm at 15 characters, the base name of its
// executable without extension stands for it if that goes on from comm. In the instance name,
// the characters that a counter path gives a meaning to ("(", ")", "#", "/", "\") and control
// characters are replaced as Windows replaces them in instance names ("[", "]", and "_"), and
// bytes that are not UTF-8 by "?", so that every instance can be named in a path.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

constexpr std::size_t kCommLength = 15; // TASK_COMM_LEN less the terminating zero

// "/usr/sbin/name.bin" -> "name".
std::string_view BaseNameWithoutExtension(std::string_view path);

// A process name with the characters replaced that an instance name cannot hold.
std::string InstanceNameOf(std::string_view processName);

// Whether comm may be the start of a longer name that the kernel cut.
inline bool CommMayBeCut(std::string_view comm)
{
    return comm.size() == kCommLength;
}

// The base name of the executable of process pid (a directory of procDirectory) when comm is a
// cut one and the executable's name goes on from it; else empty.
std::string UncutProcessName(std::string_view comm, int procDirectory, const char* pid);

// The instance name of the process of that comm.
std::string ProcessInstanceName(std::string_view comm, int procDirectory, const char* pid);

// comm as read from /proc/PID/comm, without the newline the kernel ends it with.
std::string_view WithoutNewline(std::string_view text);

// Whether a /proc entry's name is a PID.
bool IsPidName(const char* name);
