#include "platform/linux/exporter/target_sessions.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"
#include "perf/pdh_status.h"
#include "platform/linux/counters/linux_counter_source.h"
#include "platform/linux/remote/remote_counter_source.h"

namespace {

// What adding a counter gives when the target lacks it (its object, counter or instance), as
// opposed to a failure of the connection, which fails the whole probe.
bool TargetLacksCounter(PDH_STATUS status)
{
    return status == PDH_CSTATUS_NO_OBJECT || status == PDH_CSTATUS_NO_COUNTER || status == PDH_CSTATUS_NO_INSTANCE ||
           status == PDH_CSTATUS_BAD_COUNTERNAME;
}

// What a collection asks of a target that lacks all of a module's counters.
constexpr char kSentinelPath[] = "\\Memory\\Page Faults/sec";

} // namespace

struct TargetSessions::Session {
    std::string target;
    std::string auth;
    std::condition_variable idle; // under TargetSessions::m_mutex
    bool busy = false;
    Clock::time_point lastUsed; // under TargetSessions::m_mutex

    // Only the collection that holds busy touches what follows.
    SmbCredentials given; // the auth's when the session was made
    CredentialRegistry credentials;
    CredentialRegistry::Id credentialId = 0;
    std::unique_ptr<RemoteCounterSource> source;
    struct ModuleQuery {
        PdhQuery* query = nullptr;
        std::vector<PdhCounter*> counters;
        std::vector<PDH_STATUS> addStatus;
        Clock::time_point added;
        bool lacking = false; // some counter could not be added
    };
    std::map<std::string, ModuleQuery> queries; // by module
    std::uint32_t refusal = 0;                  // the Win32 error of the refused logon; 0 while none
    Clock::time_point refusedUntil;
};

struct TargetSessions::Result {
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    ProbeOutcome outcome;
};

TargetSessions::TargetSessions(Settings settings, std::map<std::string, SmbCredentials> credentials,
                               RegistryFactory factory, Logger logger)
    : m_settings(settings), m_credentials(std::move(credentials)), m_factory(std::move(factory)),
      m_logger(std::move(logger))
{
}

TargetSessions::~TargetSessions()
{
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_inFlight == 0; });
        m_stopping = true;
    }
    m_jobQueued.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void TargetSessions::RunOnWorker(Job job)
{
    // under m_mutex
    // A worker that has counted itself idle but is not yet waiting again takes the job as soon
    // as it is: a new one is made only when no worker is idle, and only below the limit.
    m_jobs.push_back(std::move(job));
    if (m_idleWorkers < m_jobs.size() && m_workers.size() < m_settings.maxConcurrent)
        m_workers.emplace_back([this] { Work(); });
    else
        m_jobQueued.notify_one();
}

void TargetSessions::Work()
{
    std::unique_lock lock(m_mutex);
    ++m_idleWorkers;
    for (;;) {
        m_jobQueued.wait(lock, [&] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        --m_idleWorkers;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job.collect();
        lock.lock();
        ++m_idleWorkers;
        job.finish();
        lock.unlock();
        job = {}; // what it held (its session, maybe the last hold on it) goes outside the lock
        lock.lock();
    }
}

std::shared_ptr<TargetSessions::Session> TargetSessions::SessionFor(const std::string& target, const std::string& auth)
{
    // under m_mutex
    const auto given = m_credentials.find(auth);
    if (given == m_credentials.end())
        return nullptr; // an auth a reading of the configuration took away while its scrape began
    std::shared_ptr<Session>& session = m_sessions[{ AsciiLowercase(target), auth }];
    if (!session) {
        session = std::make_shared<Session>();
        session->target = target;
        session->auth = auth;
        session->given = given->second;
        session->credentialId = session->credentials.Add(target, session->given);
        session->source = std::make_unique<RemoteCounterSource>(m_factory(session->credentials),
                                                                LinuxCounterSource::SleepMilliseconds);
    }
    return session;
}

std::vector<std::shared_ptr<TargetSessions::Session>> TargetSessions::TakeIdleSessions(Clock::time_point now)
{
    // under m_mutex. A session that keeps a backoff stays until it ends, or a new one would send
    // the refused credentials again at once. Its refusal is written only while busy, which is
    // set and cleared under the lock.
    std::vector<std::shared_ptr<Session>> unused;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        const Session& session = *it->second;
        if (!session.busy && now - session.lastUsed >= m_settings.sessionIdle &&
            (session.refusal == 0 || now >= session.refusedUntil)) {
            unused.push_back(std::move(it->second));
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
    return unused;
}

ProbeOutcome TargetSessions::Failure(std::uint32_t status) const
{
    ProbeOutcome outcome;
    outcome.status = status;
    outcome.statusText = StatusText(status);
    return outcome;
}

void TargetSessions::NoteRefusal(Session& session)
{
    const std::optional<CredentialRegistry::Entry> entry = session.credentials.Find(session.target);
    if (!entry || entry->refusal == 0 || session.refusal != 0)
        return;
    session.refusal = entry->refusal;
    session.refusedUntil = Clock::now() + m_settings.refusedLogonBackoff;
    {
        const std::lock_guard lock(m_mutex);
        ++m_refusedLogons;
    }
    m_logger("target " + session.target + " refused the logon of auth " + session.auth + " (" +
             StatusText(PdhStatusFromWin32(session.refusal)) + "); not tried again for " +
             std::to_string(std::chrono::duration_cast<std::chrono::seconds>(m_settings.refusedLogonBackoff).count()) +
             " s");
}

ProbeOutcome TargetSessions::Collect(Session& session, const ExporterModule& module)
{
    if (session.refusal != 0) {
        if (Clock::now() < session.refusedUntil)
            return Failure(PdhStatusFromWin32(session.refusal)); // nothing is sent
        // The backoff is over: the credentials once more, as new ones.
        const CredentialRegistry::Id refused = session.credentialId;
        session.credentialId = session.credentials.Add(session.target, session.given);
        session.credentials.Remove(refused);
        session.refusal = 0;
    }
    RemoteCounterSource& source = *session.source;
    Session::ModuleQuery& query = session.queries[module.name];
    if (query.query != nullptr && query.lacking && Clock::now() - query.added >= m_settings.lackingRetry) {
        source.CloseQuery(query.query);
        query = {};
    }
    if (query.query == nullptr) {
        query.added = Clock::now();
        if (PDH_STATUS status = source.OpenQuery(0, &query.query); status != 0)
            return Failure(status);
        for (const std::string& path : module.paths) {
            PdhCounter* counter = nullptr;
            const PDH_STATUS status = source.AddCounter(query.query, CString::FromUtf8("\\\\" + session.target + path), 0, &counter);
            if (status != 0 && !TargetLacksCounter(status)) {
                // The connection failed: the counters are added again on the next scrape.
                source.CloseQuery(query.query);
                session.queries.erase(module.name);
                NoteRefusal(session);
                return Failure(status);
            }
            query.counters.push_back(status == 0 ? counter : nullptr);
            query.addStatus.push_back(status);
            query.lacking = query.lacking || status != 0;
        }
        // A target that lacks every counter of the module (a controller without the directory's
        // counters) is still asked something in each collection, so that its success says it
        // answered rather than that nothing was asked: a counter every Windows machine has, not
        // reported.
        if (std::none_of(query.counters.begin(), query.counters.end(), [](PdhCounter* c) { return c != nullptr; })) {
            PdhCounter* sentinel = nullptr;
            const PDH_STATUS status = source.AddCounter(query.query, CString::FromUtf8("\\\\" + session.target + kSentinelPath), 0, &sentinel);
            if (status != 0 && !TargetLacksCounter(status)) {
                source.CloseQuery(query.query);
                session.queries.erase(module.name);
                NoteRefusal(session);
                return Failure(status);
            }
        }
    }
    if (PDH_STATUS status = source.CollectQueryData(query.query); status != 0) {
        NoteRefusal(session);
        return Failure(status);
    }
    ProbeOutcome outcome;
    outcome.success = true;
    for (std::size_t i = 0; i < module.paths.size(); ++i) {
        CounterReading reading;
        reading.path = module.paths[i];
        reading.addStatus = query.addStatus[i];
        if (query.counters[i] != nullptr)
            source.GetRawCounterValue(query.counters[i], &reading.type, &reading.sample);
        outcome.counters.push_back(std::move(reading));
    }
    return outcome;
}

ProbeOutcome TargetSessions::Probe(const std::string& target, const ExporterModule& module, const ExporterAuth& auth,
                                   Clock::time_point deadline)
{
    const Clock::time_point start = Clock::now();
    const auto finished = [&](ProbeOutcome outcome) {
        outcome.durationSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        return outcome;
    };
    const ProbeOutcome timedOut = Failure(PdhStatusFromWin32(win32_error::kSemTimeout));

    std::shared_ptr<Session> session;
    const auto result = std::make_shared<Result>();
    std::vector<std::shared_ptr<Session>> unused;
    // Closing a connection logs off at its target, which may be slow to answer: not on the way of
    // this scrape, nor under the lock.
    const auto closeUnused = [&] {
        if (!unused.empty())
            std::thread([closing = std::move(unused)]() mutable { closing.clear(); }).detach();
        unused.clear();
    };
    {
        std::unique_lock lock(m_mutex);
        unused = TakeIdleSessions(start);
        session = SessionFor(target, auth.name);
        if (!session) {
            closeUnused();
            return finished(Failure(PdhStatusFromWin32(win32_error::kNotConnected)));
        }
        session->lastUsed = start;
        // Another scrape of the session first, then a free place among the collections.
        if (!session->idle.wait_until(lock, deadline, [&] { return !session->busy; })) {
            closeUnused();
            return finished(timedOut);
        }
        if (!m_changed.wait_until(lock, deadline, [&] { return m_inFlight < m_settings.maxConcurrent; })) {
            closeUnused();
            return finished(timedOut);
        }
        session->busy = true;
        ++m_inFlight;
        // The collection goes on past the deadline when the target is slow, holding its session
        // and its place until the engine's own bounds end it.
        RunOnWorker({ [this, session, result, module] {
                          ProbeOutcome outcome = Collect(*session, module);
                          const std::lock_guard lock(result->mutex);
                          result->outcome = std::move(outcome);
                      },
                      [this, session, result] {
                          session->busy = false;
                          session->lastUsed = Clock::now();
                          --m_inFlight;
                          session->idle.notify_all();
                          m_changed.notify_all();
                          {
                              const std::lock_guard lock(result->mutex);
                              result->done = true;
                          }
                          result->ready.notify_all();
                      } });
    }
    closeUnused();

    std::unique_lock lock(result->mutex);
    if (!result->ready.wait_until(lock, deadline, [&] { return result->done; }))
        return finished(timedOut);
    return finished(std::move(result->outcome));
}

void TargetSessions::Renew(std::map<std::string, SmbCredentials> credentials, const std::set<std::string>& renewed)
{
    std::vector<std::shared_ptr<Session>> closing;
    {
        const std::lock_guard lock(m_mutex);
        m_credentials = std::move(credentials);
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if (renewed.contains(it->first.second)) {
                closing.push_back(std::move(it->second)); // a collection under way keeps it to its end
                it = m_sessions.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Their logoffs off the caller's way, as for idle sessions.
    if (!closing.empty())
        std::thread([closing = std::move(closing)]() mutable { closing.clear(); }).detach();
}

std::uint64_t TargetSessions::RefusedLogons() const
{
    const std::lock_guard lock(m_mutex);
    return m_refusedLogons;
}

std::uint64_t TargetSessions::SessionCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_sessions.size();
}

std::uint64_t TargetSessions::CollectionsInFlight() const
{
    const std::lock_guard lock(m_mutex);
    return m_inFlight;
}
