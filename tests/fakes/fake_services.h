// Scripted services for the dialog tests: each answers as the test set it up and records what it
// was asked, and counts what was acquired and released.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "directory/directory_service.h"
#include "directory/network_connector.h"
#include "perf/counter_source.h"

class FakeDirectoryService : public IDirectoryService {
public:
    CString computerName = u"WORKSTATION1";
    std::uint32_t joinResult = 0;
    int joinStatus = NetSetupWorkgroupName;
    CString joinName = u"WORKGROUP";
    std::uint32_t bindResult = 0;
    std::uint32_t credResult = 0;
    std::uint32_t infoResult = 0;
    std::vector<DsControllerInfo1> controllers;

    // What was asked.
    std::vector<CString> calls;
    CString lastJoinServer, lastBindDomain, lastCredUser, lastCredDomain, lastCredPassword, lastInfoDomain;
    std::uint32_t lastComputerNameChars = 0;
    int outstandingJoinBuffers = 0, outstandingBindings = 0, outstandingCredentials = 0, outstandingInfos = 0;

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
    CString m_joinBuffer;
};

class FakeNetworkConnector : public INetworkConnector {
public:
    struct Attempt {
        CString remoteName, password, userName;
    };
    std::deque<std::uint32_t> addResults; // next results of AddConnection; 0 when empty
    std::vector<Attempt> attempts;
    std::vector<CString> cancelled;
    int outstandingMessages = 0;
    CString failureStep; // what LastFailureStep says

    std::uint32_t AddConnection(const CString& remoteName, const CString& password, const CString& userName) override;
    std::uint32_t CancelConnection(const CString& remoteName, bool force) override;
    std::uint32_t FormatMessage(std::uint32_t code, char16_t** buffer) override;
    void LocalFree(char16_t* buffer) override;
    CString LastFailureStep() const override { return failureStep; }
};

// A counter source whose counters read values set by the test.
class FakeCounterSource : public ICounterSource {
public:
    std::deque<PDH_STATUS> connectResults; // next results of ConnectMachine; 0 when empty
    PDH_STATUS openResult = 0;
    std::deque<PDH_STATUS> collectResults; // next results of CollectQueryData; 0 when empty
    std::vector<CString> unpublishedPaths; // full paths AddCounter refuses
    // Value of each counter by its path without the machine part; CStatus valid unless listed
    // in invalidPaths.
    // PDH_FMT_LONG holds it at the largest LONG, as the engine does; PDH_FMT_LARGE and
    // PDH_FMT_DOUBLE give it whole.
    std::vector<std::pair<CString, std::int64_t>> values;
    std::vector<CString> invalidPaths;

    int connectCalls = 0;
    int sleeps = 0;
    std::uint32_t sleptMs = 0;
    int collects = 0;
    int openQueries = 0; // opened and not yet closed
    std::vector<CString> connectedMachines;
    std::vector<CString> addedPaths;
    std::vector<std::uintptr_t> queryUserData;

    PDH_STATUS ConnectMachine(const CString& machine) override;
    PDH_STATUS OpenQuery(std::uintptr_t userData, PdhQuery** query) override;
    PDH_STATUS AddCounter(PdhQuery* query, const CString& fullPath, std::uintptr_t userData,
                          PdhCounter** counter) override;
    PDH_STATUS CollectQueryData(PdhQuery* query) override;
    PDH_STATUS GetFormattedCounterValue(PdhCounter* counter, std::uint32_t format, PdhFormattedValue* value) override;
    // A raw count (PERF_COUNTER_LARGE_RAWCOUNT) of the value, or the type given in rawTypes.
    PDH_STATUS GetRawCounterValue(PdhCounter* counter, std::uint32_t* type, RawCounterSample* sample) override;
    PDH_STATUS CloseQuery(PdhQuery* query) override;
    void Sleep(std::uint32_t milliseconds) override;

    std::vector<std::pair<CString, std::uint32_t>> rawTypes;

    void SetValue(const CString& path, std::int64_t value);

private:
    struct Counter {
        PdhQuery* query;
        CString path; // without machine part
    };
    std::vector<std::unique_ptr<Counter>> m_counters;
    std::uintptr_t m_nextQuery = 1;
};
