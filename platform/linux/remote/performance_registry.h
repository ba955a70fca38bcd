// A machine's HKEY_PERFORMANCE_DATA as the remote counter source reads it: opened once per
// connection, then queried by value name. Results are Win32 error codes, as RegQueryValueEx
// gives them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

class IPerformanceKey {
public:
    virtual ~IPerformanceKey() = default;
    // One BaseRegQueryValue into buffer: 0 with *length bytes and their *type, ERROR_MORE_DATA
    // (with *needed when the server says how much), or the error that ended the exchange.
    virtual std::uint32_t QueryValue(const std::string& name, std::span<std::uint8_t> buffer, std::uint32_t* length,
                                     std::uint32_t* type, std::uint32_t* needed) = 0;
    // False once the credentials it was opened with are withdrawn or replaced.
    virtual bool IsCurrent() const = 0;
};

class IPerformanceRegistry {
public:
    virtual ~IPerformanceRegistry() = default;
    // Connects to machine's Remote Registry and opens HKEY_PERFORMANCE_DATA: 0 and *key, or a
    // Win32 error code.
    virtual std::uint32_t Open(const std::string& machine, std::unique_ptr<IPerformanceKey>* key) = 0;
};

// Win32 codes the source tells apart besides those of win32_error (winerror.h), and the value
// types of the name table (winnt.h).
namespace registry_error {
inline constexpr std::uint32_t kFileNotFound = 2; // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kMoreData = 234;   // ERROR_MORE_DATA
inline constexpr std::uint32_t kRegBinary = 3;    // REG_BINARY
inline constexpr std::uint32_t kRegMultiSz = 7;   // REG_MULTI_SZ
} // namespace registry_error
