#include "perf/counter_query.h"

#include <new>

#include "framework/afxwin.h"
#include "perf/pdh_status.h"
#include "perf/status_text.h"

namespace {

constexpr std::uint32_t kConnectWaitMs = 100;
// While the machine refuses access: up to 151 retries after the first attempt, that is 152
// attempts and 152 waits of 100 ms, about 15.2 s.
constexpr int kMaxAccessDeniedRetries = 151;
constexpr std::uintptr_t kQueryUserData = 1;

} // namespace

CCounterQuery::CCounterQuery(ICounterSource& source) : m_source(source) {}

CCounterQuery::~CCounterQuery()
{
    Close();
}

BOOL CCounterQuery::Initialize(const CString& machine)
{
    PDH_STATUS status = 0;
    {
        CWaitCursor wait;
        m_source.Sleep(kConnectWaitMs);
        status = m_source.ConnectMachine(machine);
        int retries = 0;
        while (status == PDH_ACCESS_DENIED) {
            ++retries;
            m_source.Sleep(kConnectWaitMs);
            status = m_source.ConnectMachine(machine);
            if (retries >= kMaxAccessDeniedRetries)
                break;
        }
    }
    if (status != 0) {
        AfxMessageBox(u"Could not initialize.\n" + PdhStatusMessage(status), MB_ICONSTOP | MB_OK);
        return FALSE;
    }
    PdhQuery* query = nullptr;
    status = m_source.OpenQuery(kQueryUserData, &query);
    if (status != 0) {
        AfxMessageBox(u"Could not initialize.\n" + PdhStatusMessage(status), MB_ICONSTOP | MB_OK);
        return FALSE;
    }
    m_hQuery = query;
    m_strMachine = machine;
    return TRUE;
}

int CCounterQuery::AddCounter(const CString& path, PDH_STATUS* status)
{
    const CString fullPath = u"\\\\" + m_strMachine + path;
    auto record = std::unique_ptr<PDHCounterStruct>(new (std::nothrow) PDHCounterStruct);
    if (status != nullptr)
        *status = PDH_MEMORY_ALLOCATION_FAILURE;
    if (!record)
        return -1;
    const PDH_STATUS added =
        m_source.AddCounter(m_hQuery, fullPath, reinterpret_cast<std::uintptr_t>(record.get()), &record->hCounter);
    if (status != nullptr)
        *status = added;
    if (added != 0)
        return -1;
    record->nIndex = m_nNextIndex++;
    record->lValue = 0;
    m_arrCounters.push_back(std::move(record));
    return m_arrCounters.back()->nIndex;
}

BOOL CCounterQuery::Collect()
{
    const PDH_STATUS status = m_source.CollectQueryData(m_hQuery);
    if (status == 0)
        return TRUE;
    AfxMessageBox(PdhStatusMessage(status), MB_ICONSTOP | MB_OK);
    return FALSE;
}

PDHCounterStruct* CCounterQuery::FindCounter(int handle)
{
    for (const auto& record : m_arrCounters) {
        if (record->nIndex == handle)
            return record.get();
    }
    return nullptr;
}

BOOL CCounterQuery::UpdateValue(PDHCounterStruct* record)
{
    PdhFormattedValue value;
    if (m_source.GetFormattedCounterValue(record->hCounter, PDH_FMT_LONG_FORMAT, &value) != 0)
        return FALSE;
    // Anything but valid data counts as a failure, new data included.
    if (value.CStatus != PDH_CSTATUS_VALID_DATA)
        return FALSE;
    record->lValue = value.longValue;
    return TRUE;
}

int CCounterQuery::GetCounterValue(int handle)
{
    PDHCounterStruct* record = FindCounter(handle);
    if (record == nullptr || !UpdateValue(record))
        return 0;
    return record->lValue;
}

void CCounterQuery::Close()
{
    if (m_hQuery != nullptr) {
        m_source.CloseQuery(m_hQuery);
        m_hQuery = nullptr;
    }
    m_arrCounters.clear();
}
