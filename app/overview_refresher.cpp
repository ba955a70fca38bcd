#include "app/overview_refresher.h"

#include <deque>

#include "directory/win32_error_text.h"
#include "perf/pdh_status.h"

// -- One controller -------------------------------------------------------------------------------

namespace {

ControllerSession::Settings SessionSettings(CString machine, CString userName, CString password,
                                            ControllerSession::Wait wait)
{
    ControllerSession::Settings settings;
    settings.machine = std::move(machine);
    settings.userName = std::move(userName);
    settings.password = std::move(password);
    settings.wait = std::move(wait);
    return settings; // a refusal is kept until the user asks again: no backoff
}

} // namespace

OverviewCollector::OverviewCollector(ControllerConnection connection, CString machine, CString userName,
                                     CString password, Wait wait, Clock clock)
    : m_connection(std::move(connection)), m_wait(wait), m_clock(std::move(clock)),
      m_session(*m_connection.network, *m_connection.counters,
                SessionSettings(std::move(machine), std::move(userName), std::move(password), std::move(wait)))
{
    m_set = m_session.AddSet({ kOverviewCounterPaths.begin(), kOverviewCounterPaths.end() });
}

OverviewSample OverviewCollector::Collect()
{
    ControllerSession::Collection collection = m_session.Collect(m_set);
    if (collection.failed == ControllerSession::Step::None && collection.opened && m_wait(kRateIntervalMs))
        collection = m_session.Collect(m_set);
    OverviewSample sample;
    sample.takenMs = m_clock();
    if (collection.failed != ControllerSession::Step::None) {
        sample.status = collection.status; // after a refusal nothing was sent; the row keeps saying why
        return sample;
    }
    bool any = false;
    for (std::size_t i = 0; i < sample.figures.size(); ++i) {
        PdhFormattedValue value;
        // As the probe reads a value: 64 bits wide, and anything but valid data is none.
        PdhCounter* counter = m_session.Counter(m_set, i);
        if (counter != nullptr &&
            m_connection.counters->GetFormattedCounterValue(counter, PDH_FMT_LARGE_FORMAT, &value) == 0 &&
            value.CStatus == PDH_CSTATUS_VALID_DATA) {
            sample.figures[i] = value.largeValue;
            any = true;
        }
    }
    if (!any)
        sample.status = PDH_NO_DATA;
    return sample;
}

// -- The workers ----------------------------------------------------------------------------------

struct OverviewRefresher::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopped = false;
    std::uint32_t intervalMs = 5000;
    std::deque<std::pair<std::size_t, OverviewSample>> results;
    std::deque<std::pair<std::size_t, HealthReport>> healthResults;
    std::deque<std::pair<std::size_t, ReplicationStatus>> replicationResults;
    Notify notify;
    CString userName, password;
    std::shared_ptr<IHealthService> health;
    std::uint32_t healthIntervalMs = 60000;
    std::uint32_t replicationIntervalMs = 300000;
    std::size_t running = 0;
};

// One controller's, under Shared::mutex.
struct OverviewRefresher::Worker {
    bool now = false;                // the user asked for the counters
    bool healthNow = false;          // and for the health check
    bool replicationNow = false;     // and for the replication
    std::uint64_t collections = 0;   // the counters' collections so far
    bool refused = false;            // the counters' logon is refused (kept by their session)
    bool healthRefused = false;      // the health check's logon was refused
    bool replicationRefused = false; // the replication's logon was refused
    // A collection ended, the user asked, or the work stops: the health and replication threads
    // wait on it.
    std::condition_variable wake;

    // Whether any reader of the controller had its logon refused: the others send nothing then.
    bool AnyRefused() const { return refused || healthRefused || replicationRefused; }
    // A reader beside the counters waits until they have collected `after` times: their logon
    // comes first, so that wrong credentials are refused once, not by each reader. False once the
    // work stops; else *withheld says whether the reader is to send nothing.
    bool AwaitCollection(Shared& shared, std::uint64_t after, bool* withheld)
    {
        std::unique_lock lock(shared.mutex);
        wake.wait(lock, [&] { return shared.stopped || collections >= after; });
        *withheld = AnyRefused();
        return !shared.stopped;
    }
    // After a reader's result, under its lock: waits intervalMs, or for the user's ask (asked),
    // after which the next read waits for the counters' next collection. False once the work stops.
    bool AwaitNextRead(Shared& shared, std::unique_lock<std::mutex>& lock, std::uint32_t intervalMs, bool& asked,
                       std::uint64_t& after)
    {
        const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(intervalMs);
        wake.wait_until(lock, due, [&] { return shared.stopped || asked; });
        if (shared.stopped)
            return false;
        if (asked) {
            asked = false;
            after = collections + 1;
        }
        return true;
    }
};

namespace {

// The controller's name without the backslashes of a machine path.
std::string ControllerName(const CString& machine)
{
    std::string name = machine.ToUtf8();
    while (name.starts_with('\\'))
        name.erase(0, 1);
    return name;
}

} // namespace

std::int64_t OverviewRefresher::NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

OverviewRefresher::OverviewRefresher(const std::vector<CString>& machines, Settings settings, Notify notify)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->intervalMs = settings.intervalMs;
    m_shared->notify = std::move(notify);
    m_shared->userName = settings.userName;
    m_shared->password = settings.password;
    std::fill(settings.password.begin(), settings.password.end(), u'\0');
    m_shared->health = settings.health;
    m_shared->healthIntervalMs = settings.healthIntervalMs;
    m_shared->replicationIntervalMs = settings.replicationIntervalMs;
    m_shared->running = machines.size() * (1 + (settings.health ? 1 : 0) + (settings.replication ? 1 : 0));
    for (std::size_t row = 0; row < machines.size(); ++row) {
        auto worker = std::make_shared<Worker>();
        m_workers.push_back(worker);
        m_threads.emplace_back(&OverviewRefresher::Run, m_shared, worker, row, settings.connect(), machines[row]);
        if (settings.health)
            m_threads.emplace_back(&OverviewRefresher::RunHealthChecks, m_shared, worker, row, machines[row]);
        if (settings.replication)
            m_threads.emplace_back(&OverviewRefresher::RunReplicationReads, m_shared, worker, row, machines[row],
                                   settings.replication());
    }
}

OverviewRefresher::~OverviewRefresher()
{
    Stop();
    for (std::thread& thread : m_threads)
        thread.join();
    std::fill(m_shared->password.begin(), m_shared->password.end(), u'\0');
}

void OverviewRefresher::Stop()
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->stopped = true;
    m_shared->results.clear();
    m_shared->healthResults.clear();
    m_shared->replicationResults.clear();
    m_shared->changed.notify_all();
    for (const std::shared_ptr<Worker>& worker : m_workers)
        worker->wake.notify_all();
}

void OverviewRefresher::SetInterval(std::uint32_t milliseconds)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->intervalMs = milliseconds;
    m_shared->changed.notify_all();
}

std::uint32_t OverviewRefresher::Interval() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->intervalMs;
}

void OverviewRefresher::RefreshNow(std::size_t row)
{
    if (row >= m_workers.size())
        return;
    const std::lock_guard lock(m_shared->mutex);
    m_workers[row]->now = true;
    m_workers[row]->healthNow = true;
    m_workers[row]->replicationNow = true;
    m_shared->changed.notify_all();
    m_workers[row]->wake.notify_all();
}

bool OverviewRefresher::HasEnded() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->running == 0;
}

std::vector<std::pair<std::size_t, OverviewSample>> OverviewRefresher::TakeResults()
{
    const std::lock_guard lock(m_shared->mutex);
    std::vector<std::pair<std::size_t, OverviewSample>> taken(m_shared->results.begin(), m_shared->results.end());
    m_shared->results.clear();
    return taken;
}

std::vector<std::pair<std::size_t, ReplicationStatus>> OverviewRefresher::TakeReplicationResults()
{
    const std::lock_guard lock(m_shared->mutex);
    std::vector<std::pair<std::size_t, ReplicationStatus>> taken(m_shared->replicationResults.begin(),
                                                                 m_shared->replicationResults.end());
    m_shared->replicationResults.clear();
    return taken;
}

std::vector<std::pair<std::size_t, HealthReport>> OverviewRefresher::TakeHealthResults()
{
    const std::lock_guard lock(m_shared->mutex);
    std::vector<std::pair<std::size_t, HealthReport>> taken(m_shared->healthResults.begin(),
                                                            m_shared->healthResults.end());
    m_shared->healthResults.clear();
    return taken;
}

void OverviewRefresher::Run(std::shared_ptr<Shared> shared, const std::shared_ptr<Worker>& worker, std::size_t row,
                            ControllerConnection connection, const CString& machine)
{
    CString userName, password;
    {
        const std::lock_guard lock(shared->mutex);
        userName = shared->userName;
        password = shared->password;
    }
    const auto wait = [&shared](std::uint32_t milliseconds) {
        std::unique_lock lock(shared->mutex);
        return !shared->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                         [&] { return shared->stopped; });
    };
    RunCollections(shared, worker, row, std::move(connection), machine, userName, password, wait);
    std::fill(password.begin(), password.end(), u'\0');
    const std::lock_guard lock(shared->mutex);
    --shared->running;
}

void OverviewRefresher::RunCollections(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Worker>& worker,
                                       std::size_t row, ControllerConnection connection, const CString& machine,
                                       const CString& userName, const CString& password,
                                       const OverviewCollector::Wait& wait)
{
    // The collector goes (its query closed, its connection cancelled) before the worker counts
    // as ended.
    OverviewCollector collector(std::move(connection), machine, userName, password, wait, &OverviewRefresher::NowMs);
    for (;;) {
        bool withheld = false;
        {
            const std::lock_guard lock(shared->mutex);
            withheld = worker->healthRefused || worker->replicationRefused;
        }
        OverviewSample sample;
        if (withheld) {
            // The health check's or the replication's logon with these credentials was refused:
            // nothing is sent.
            sample.status = PdhStatusFromWin32(win32_error::kLogonFailure);
            sample.takenMs = NowMs();
        } else {
            sample = collector.Collect();
        }
        std::unique_lock lock(shared->mutex);
        if (shared->stopped)
            break;
        ++worker->collections;
        worker->refused = withheld || collector.IsRefused();
        worker->wake.notify_all();
        shared->results.emplace_back(row, sample);
        // Under the lock, so that nothing is told once Stop has returned.
        if (shared->notify)
            shared->notify();
        // The next collection: an interval after this one, at once when the user asks, and after
        // a refused logon only when the user asks.
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            if (shared->stopped || worker->now)
                break;
            if (worker->refused) {
                shared->changed.wait(lock);
                continue;
            }
            const auto due = start + std::chrono::milliseconds(shared->intervalMs);
            if (std::chrono::steady_clock::now() >= due)
                break;
            shared->changed.wait_until(lock, due);
        }
        if (shared->stopped)
            break;
        if (worker->now) {
            worker->now = false;
            worker->healthRefused = false;
            worker->replicationRefused = false;
            lock.unlock();
            collector.AllowRetry();
        }
    }
}

void OverviewRefresher::RunHealthChecks(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Worker>& worker,
                                        std::size_t row, const CString& machine)
{
    HealthTarget target;
    target.controller = ControllerName(machine);
    {
        const std::lock_guard lock(shared->mutex);
        target.user = shared->userName;
        target.password = shared->password;
    }
    std::uint64_t after = 1;
    bool withheld = false;
    while (worker->AwaitCollection(*shared, after, &withheld)) {
        target.credentialsWithheld = withheld ? "the logon was refused; Refresh tries again" : "";
        const HealthReport report = RunHealthCheck(shared->health, target);
        std::unique_lock lock(shared->mutex);
        if (shared->stopped)
            break;
        if (report.refusedLogon)
            worker->healthRefused = true;
        shared->healthResults.emplace_back(row, report);
        if (shared->notify)
            shared->notify();
        if (!worker->AwaitNextRead(*shared, lock, shared->healthIntervalMs, worker->healthNow, after))
            break;
    }
    const std::lock_guard lock(shared->mutex);
    --shared->running;
}

void OverviewRefresher::RunReplicationReads(const std::shared_ptr<Shared>& shared,
                                            const std::shared_ptr<Worker>& worker, std::size_t row,
                                            const CString& machine, const std::shared_ptr<IReplicationService>& service)
{
    ReplicationTarget target;
    target.controller = ControllerName(machine);
    {
        const std::lock_guard lock(shared->mutex);
        target.user = shared->userName;
        target.password = shared->password;
    }
    // As the health checks: after the counters' logon, and never with credentials refused to any
    // reader of the controller.
    std::uint64_t after = 1;
    bool withheld = false;
    while (worker->AwaitCollection(*shared, after, &withheld)) {
        ReplicationStatus status;
        if (withheld) {
            status.error = win32_error::kLogonFailure;
            status.errorText = "not read: the logon was refused; Refresh tries again";
        } else {
            status = service->Read(target, kReplicationReadTimeoutMs);
        }
        std::unique_lock lock(shared->mutex);
        if (shared->stopped)
            break;
        if (status.refusedLogon)
            worker->replicationRefused = true;
        shared->replicationResults.emplace_back(row, std::move(status));
        if (shared->notify)
            shared->notify();
        if (!worker->AwaitNextRead(*shared, lock, shared->replicationIntervalMs, worker->replicationNow, after))
            break;
    }
    const std::lock_guard lock(shared->mutex);
    --shared->running;
}
