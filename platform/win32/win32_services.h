// The operating system's services as the program uses them: the directory (netapi32, ntdsapi),
// network connections (mpr) and performance counters (pdh). Each lives in its own source file,
// since the system headers of the libraries do not all go together in one.
#pragma once

#include <map>
#include <memory>

#include "directory/directory_service.h"
#include "directory/network_connector.h"
#include "perf/counter_source.h"

class Win32DirectoryService : public IDirectoryService {
public:
    Win32DirectoryService();
    ~Win32DirectoryService() override;

    CString GetComputerName(std::uint32_t bufferChars) override;
    std::uint32_t NetGetJoinInformation(const CString& server, const char16_t** nameBuffer, int* status) override;
    void NetApiBufferFree(const char16_t* buffer) override;
    std::uint32_t DsBind(const CString& domain, DsBinding** binding) override;
    std::uint32_t DsMakePasswordCredentials(const CString& user, const CString& domain, const CString& password,
                                            DsCredential** credential) override;
    void DsFreePasswordCredentials(DsCredential* credential) override;
    std::uint32_t DsBindWithCred(const CString& domain, DsCredential* credential, DsBinding** binding) override;
    std::uint32_t DsGetDomainControllerInfo(DsBinding* binding, const CString& domain, std::uint32_t level,
                                            std::uint32_t* count, const DsControllerInfo1** infos) override;
    void DsFreeDomainControllerInfo(std::uint32_t level, std::uint32_t count, const DsControllerInfo1* infos) override;
    std::uint32_t DsUnBind(DsBinding** binding) override;

private:
    // The copies handed out, each with the system's array it was made from.
    struct InfoCopy {
        std::unique_ptr<DsControllerInfo1[]> records;
        std::uint32_t count = 0;
        void* systemArray = nullptr;
    };
    std::map<const DsControllerInfo1*, InfoCopy> m_infos;
};

class Win32NetworkConnector : public INetworkConnector {
public:
    std::uint32_t AddConnection(const CString& remoteName, const CString& password, const CString& userName) override;
    std::uint32_t CancelConnection(const CString& remoteName, bool force) override;
    std::uint32_t FormatMessage(std::uint32_t code, char16_t** buffer) override;
    void LocalFree(char16_t* buffer) override;
};

class Win32CounterSource : public ICounterSource {
public:
    PDH_STATUS ConnectMachine(const CString& machine) override;
    PDH_STATUS OpenQuery(std::uintptr_t userData, PdhQuery** query) override;
    PDH_STATUS AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t userData,
                          PdhCounter** counter) override;
    PDH_STATUS CollectQueryData(PdhQuery* query) override;
    PDH_STATUS GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format, PdhFormattedValue* value) override;
    PDH_STATUS GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample) override;
    PDH_STATUS CloseQuery(PdhQuery* query) override;
    void Sleep(std::uint32_t milliseconds) override;
};
