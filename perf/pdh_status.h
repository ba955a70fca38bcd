// PDH status codes that the program and the counter sources use (pdhmsg.h values).
#pragma once

#include <cstdint>

constexpr std::uint32_t PDH_CSTATUS_VALID_DATA = 0x00000000;
constexpr std::uint32_t PDH_CSTATUS_NEW_DATA = 0x00000001;
constexpr std::uint32_t PDH_CSTATUS_NO_MACHINE = 0x800007D0;
constexpr std::uint32_t PDH_CSTATUS_NO_INSTANCE = 0x800007D1;
constexpr std::uint32_t PDH_CSTATUS_NO_OBJECT = 0xC0000BB8;
constexpr std::uint32_t PDH_CSTATUS_NO_COUNTER = 0xC0000BB9;
constexpr std::uint32_t PDH_CSTATUS_INVALID_DATA = 0xC0000BBA;
constexpr std::uint32_t PDH_MEMORY_ALLOCATION_FAILURE = 0xC0000BBB;
constexpr std::uint32_t PDH_INVALID_HANDLE = 0xC0000BBC;
constexpr std::uint32_t PDH_INVALID_ARGUMENT = 0xC0000BBD;
constexpr std::uint32_t PDH_CSTATUS_BAD_COUNTERNAME = 0xC0000BC0;
constexpr std::uint32_t PDH_INSUFFICIENT_BUFFER = 0xC0000BC2;
constexpr std::uint32_t PDH_CANNOT_CONNECT_MACHINE = 0xC0000BC3;
constexpr std::uint32_t PDH_INVALID_DATA = 0xC0000BC6;
constexpr std::uint32_t PDH_CANNOT_READ_NAME_STRINGS = 0xC0000BC8;
constexpr std::uint32_t PDH_NO_DATA = 0x800007D5;
constexpr std::uint32_t PDH_ACCESS_DENIED = 0xC0000BDB;

// A Win32 error as a status (HRESULT_FROM_WIN32), as the counter library passes on errors of the
// system beneath it. The sources report a refused logon so: final, never retried, and shown with
// the system's text for the error.
constexpr std::uint32_t kWin32StatusFacility = 0x80070000;
constexpr std::uint32_t PdhStatusFromWin32(std::uint32_t code)
{
    return kWin32StatusFacility | (code & 0xFFFF);
}
constexpr bool IsWin32Status(std::uint32_t status)
{
    return (status & 0xFFFF0000) == kWin32StatusFacility;
}
