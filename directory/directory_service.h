// The operating system's domain-membership and directory services, as discovery uses them
// (NetGetJoinInformation, DsBindW and friends). Handles and buffers given out here are released
// through the matching call; every call returns a Win32 status, 0 for success.
#pragma once

#include <cstdint>

#include "framework/cstring.h"

// NETSETUP_JOIN_STATUS.
enum JoinStatus : int {
    NetSetupUnknownStatus = 0,
    NetSetupUnjoined = 1,
    NetSetupWorkgroupName = 2,
    NetSetupDomainName = 3,
};

// DS_DOMAIN_CONTROLLER_INFO_1: the record the directory lists per controller.
struct DsControllerInfo1 {
    CString NetbiosName;
    CString DnsHostName;
    CString SiteName;
    CString ComputerObjectName;
    CString ServerObjectName;
    bool fIsPdc = false;
    bool fDsEnabled = false;
};

struct DsBinding;    // a directory binding (HANDLE of DsBindW)
struct DsCredential; // a credential handle (RPC_AUTH_IDENTITY_HANDLE)

class IDirectoryService {
public:
    virtual ~IDirectoryService() = default;

    // GetComputerNameW with a buffer of bufferChars characters.
    virtual CString GetComputerName(std::uint32_t bufferChars) = 0;

    // NetGetJoinInformation: on success *nameBuffer is a buffer to release with NetApiBufferFree.
    virtual std::uint32_t NetGetJoinInformation(const CString& server, const char16_t** nameBuffer, int* status) = 0;
    virtual void NetApiBufferFree(const char16_t* buffer) = 0;

    // DsBindW with no controller name.
    virtual std::uint32_t DsBind(const CString& domain, DsBinding** binding) = 0;
    virtual std::uint32_t DsMakePasswordCredentials(const CString& user, const CString& domain, const CString& password,
                                                    DsCredential** credential) = 0;
    virtual void DsFreePasswordCredentials(DsCredential* credential) = 0;
    // DsBindWithCredW with no controller name.
    virtual std::uint32_t DsBindWithCred(const CString& domain, DsCredential* credential, DsBinding** binding) = 0;
    // DsGetDomainControllerInfoW at information level 1.
    virtual std::uint32_t DsGetDomainControllerInfo(DsBinding* binding, const CString& domain, std::uint32_t level,
                                                    std::uint32_t* count, const DsControllerInfo1** infos) = 0;
    virtual void DsFreeDomainControllerInfo(std::uint32_t level, std::uint32_t count,
                                            const DsControllerInfo1* infos) = 0;
    // DsUnBindW: releases the binding and empties *binding.
    virtual std::uint32_t DsUnBind(DsBinding** binding) = 0;
};
