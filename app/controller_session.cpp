#include "app/controller_session.h"

#include <algorithm>

#include "directory/win32_error_text.h"
#include "perf/pdh_status.h"

namespace {

bool IsRefusal(PDH_STATUS status)
{
    return IsWin32Status(status) && IsRefusedLogon(status & 0xFFFF);
}

// The machine could not be reached or its connection failed, as opposed to an answer it gave.
bool IsConnectionFailure(PDH_STATUS status)
{
    return status == PDH_CSTATUS_NO_MACHINE || status == PDH_CANNOT_CONNECT_MACHINE || status == PDH_ACCESS_DENIED ||
           IsWin32Status(status);
}

// What adding a counter gives when the machine lacks it (its object, counter or instance).
bool MachineLacksCounter(PDH_STATUS status)
{
    return status == PDH_CSTATUS_NO_OBJECT || status == PDH_CSTATUS_NO_COUNTER || status == PDH_CSTATUS_NO_INSTANCE ||
           status == PDH_CSTATUS_BAD_COUNTERNAME;
}

// What a set asks of a machine that lacks all of its counters, so that a collection's success
// says the machine answered rather than that nothing was asked: a counter every Windows machine
// has.
constexpr char16_t kSentinelPath[] = u"\\Memory\\Page Faults/sec";

} // namespace

ControllerSession::ControllerSession(INetworkConnector& network, ICounterSource& counters, Settings settings)
    : m_network(network), m_counters(counters), m_settings(std::move(settings)), m_refusal(m_settings.refusalBackoff)
{
}

ControllerSession::~ControllerSession()
{
    Close();
    std::fill(m_settings.password.begin(), m_settings.password.end(), u'\0');
}

std::size_t ControllerSession::AddSet(std::vector<CString> paths)
{
    m_sets.push_back({});
    m_sets.back().paths = std::move(paths);
    return m_sets.size() - 1;
}

PdhCounter* ControllerSession::Counter(std::size_t set, std::size_t i) const
{
    const Set& s = m_sets[set];
    return i < s.counters.size() ? s.counters[i] : nullptr;
}

PDH_STATUS ControllerSession::AddStatus(std::size_t set, std::size_t i) const
{
    const Set& s = m_sets[set];
    return i < s.addStatus.size() ? s.addStatus[i] : PDH_CSTATUS_NO_COUNTER;
}

bool ControllerSession::IsRefused() const
{
    return m_refusal.Holding() != nullptr;
}

void ControllerSession::AllowRetry()
{
    if (!m_refusal.Kept())
        return;
    m_refusal.Clear();
    if (m_connected) {
        m_network.CancelConnection(u"\\\\" + m_settings.machine, true);
        m_connected = false;
    }
}

void ControllerSession::Close()
{
    if (m_connected)
        m_network.CancelConnection(u"\\\\" + m_settings.machine, true);
    m_connected = false;
    for (Set& set : m_sets)
        CloseSet(set);
}

void ControllerSession::CloseSet(Set& set)
{
    if (set.query != nullptr)
        m_counters.CloseQuery(set.query);
    set.query = nullptr;
    set.counters.clear();
    set.addStatus.clear();
    set.lacking = false;
}

ControllerSession::Collection ControllerSession::Failure(Set& set, Step step, PDH_STATUS status)
{
    if (step != Step::Collect || IsConnectionFailure(status))
        CloseSet(set);
    if (IsRefusal(status))
        m_refusal.Keep(status);
    Collection collection;
    collection.failed = step;
    collection.status = status;
    collection.refused = IsRefusal(status);
    return collection;
}

PDH_STATUS ControllerSession::Open(Set& set)
{
    const CString machine = u"\\\\" + m_settings.machine;
    PDH_STATUS status = m_counters.ConnectMachine(m_settings.machine);
    for (int retries = 0; status == PDH_ACCESS_DENIED && retries < kMaxAccessDeniedRetries; ++retries) {
        if (!m_settings.wait(kConnectWaitMs))
            return status;
        status = m_counters.ConnectMachine(m_settings.machine);
    }
    if (status != 0)
        return status;
    if ((status = m_counters.OpenQuery(0, &set.query)) != 0) {
        set.query = nullptr;
        return status;
    }
    set.added = Clock::now();
    for (const CString& path : set.paths) {
        PdhCounter* counter = nullptr;
        status = m_counters.AddCounter(set.query, machine + path, 0, &counter);
        if (status != 0 && !MachineLacksCounter(status))
            return status;
        set.counters.push_back(status == 0 ? counter : nullptr);
        set.addStatus.push_back(status);
        set.lacking = set.lacking || status != 0;
    }
    if (std::none_of(set.counters.begin(), set.counters.end(), [](PdhCounter* c) { return c != nullptr; })) {
        PdhCounter* sentinel = nullptr;
        status = m_counters.AddCounter(set.query, machine + kSentinelPath, 0, &sentinel);
        if (status != 0 && !MachineLacksCounter(status))
            return status;
    }
    return 0;
}

ControllerSession::Collection ControllerSession::Collect(std::size_t index)
{
    Set& set = m_sets[index];
    if (m_refusal.Kept()) {
        if (const PDH_STATUS* refusal = m_refusal.Holding()) {
            Collection kept;
            kept.failed = Step::Logon;
            kept.status = *refusal;
            kept.refused = kept.kept = true;
            return kept;
        }
        AllowRetry(); // the backoff is over
    }
    if (!m_settings.userName.IsEmpty() && !m_connected) {
        const std::uint32_t result =
            m_network.AddConnection(u"\\\\" + m_settings.machine, m_settings.password, m_settings.userName);
        if (result != 0)
            return Failure(set, Step::Logon, PdhStatusFromWin32(result));
        m_connected = true;
    }
    if (set.query != nullptr && set.lacking && m_settings.lackingRetry &&
        Clock::now() - set.added >= *m_settings.lackingRetry)
        CloseSet(set);
    Collection collection;
    if (set.query == nullptr) {
        if (const PDH_STATUS status = Open(set); status != 0)
            return Failure(set, Step::Open, status);
        collection.opened = true;
    }
    if (const PDH_STATUS status = m_counters.CollectQueryData(set.query); status != 0)
        return Failure(set, Step::Collect, status);
    return collection;
}
