// The two netapi32 calls, apart: lm.h's join-status names are also the directory service's.
#pragma once

#include <cstdint>

// NetGetJoinInformation: on success *name is a buffer for SystemNetApiBufferFree.
std::uint32_t SystemNetGetJoinInformation(const wchar_t* server, wchar_t** name, int* status);
void SystemNetApiBufferFree(void* buffer);
