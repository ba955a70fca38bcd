// Network connections to a remote machine and the system's texts for error codes
// (WNetAddConnection2W, WNetCancelConnectionW, FormatMessageW, LocalFree).
#pragma once

#include <cstdint>

#include "framework/cstring.h"

class INetworkConnector {
public:
    virtual ~INetworkConnector() = default;
    // Opens an authenticated connection to remoteName ("\\machine"): resource type any, no local
    // name, no provider, flags 0. The texts are passed exactly as given. 0, or a Win32 error code.
    virtual std::uint32_t AddConnection(const CString& remoteName, const CString& password,
                                        const CString& userName) = 0;
    virtual std::uint32_t CancelConnection(const CString& remoteName, bool force) = 0;
    // FormatMessageW(FROM_SYSTEM | ALLOCATE_BUFFER, code, language 0x0400): the number of
    // characters written to *buffer, 0 when the system has no text (then *buffer is null).
    virtual std::uint32_t FormatMessage(std::uint32_t code, char16_t** buffer) = 0;
    virtual void LocalFree(char16_t* buffer) = 0;
    // What the connector knows of the last AddConnection that failed beyond its code: which step
    // of the connection found nothing or did not answer (the name's look-up, the port, the
    // logon), as one sentence; empty after a refusal, and when it knows nothing more (the Windows
    // connector).
    virtual CString LastFailureStep() const { return CString(); }
};
