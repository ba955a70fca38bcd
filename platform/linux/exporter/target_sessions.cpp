#include "platform/linux/exporter/target_sessions.h"

#include <vector>

#include "app/controller_session.h"
#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"
#include "perf/pdh_status.h"
#include "platform/linux/counters/linux_counter_source.h"
#include "platform/linux/remote/remote_counter_source.h"

namespace {

// A session's logon as the exporter makes it: the auth's credentials recorded for the target in
// the session's own registry, which the Remote Registry's connection logs on with. It opens no
// connection of its own, and takes its credentials from the auth rather than from the texts
// passed (a keytab auth has a ticket, not a password).
class AuthLogon : public INetworkConnector {
public:
    AuthLogon(CredentialRegistry& registry, std::string target, const SmbCredentials& credentials)
        : m_registry(registry), m_target(std::move(target)), m_credentials(credentials)
    {
    }
    std::uint32_t AddConnection(const CString&, const CString&, const CString&) override
    {
        m_id = m_registry.Add(m_target, m_credentials);
        return 0;
    }
    std::uint32_t CancelConnection(const CString&, bool) override
    {
        m_registry.Remove(m_id);
        return 0;
    }
    // The exporter says a status with StatusText.
    std::uint32_t FormatMessage(std::uint32_t, char16_t** buffer) override
    {
        *buffer = nullptr;
        return 0;
    }
    void LocalFree(char16_t*) override {}

private:
    CredentialRegistry& m_registry;
    std::string m_target;
    const SmbCredentials& m_credentials;
    CredentialRegistry::Id m_id = 0;
};

// A target's name once for all its spellings: the case, and a final dot (an absolute DNS name),
// make no other session.
std::string TargetName(const std::string& target)
{
    return target.size() > 1 && target.back() == '.' ? target.substr(0, target.size() - 1) : target;
}

} // namespace

struct TargetSessions::Session {
    Session(std::string name, std::string authName, const SmbCredentials& auth, const RegistryFactory& factory,
            const TargetSessions::Settings& settings)
        : target(std::move(name)), auth(std::move(authName)), given(auth), logon(credentials, target, given),
          source(factory(credentials), LinuxCounterSource::SleepMilliseconds),
          controller(logon, source, ControllerSettings(target, auth, settings))
    {
    }
    static ControllerSession::Settings ControllerSettings(const std::string& target, const SmbCredentials& auth,
                                                          const TargetSessions::Settings& settings)
    {
        ControllerSession::Settings controller;
        controller.machine = CString::FromUtf8(target);
        // The auth's user name, so that the session logs on; its password is the logon's own.
        controller.userName = CString::FromUtf8(auth.user);
        // A collection never waits (access denied for now is tried again by the next scrape).
        controller.wait = [](std::uint32_t) { return false; };
        controller.refusalBackoff = settings.refusedLogonBackoff;
        controller.lackingRetry = settings.lackingRetry;
        return controller;
    }

    const std::string target;
    const std::string auth;
    bool busy = false;          // under TargetSessions::m_mutex
    Clock::time_point lastUsed; // under TargetSessions::m_mutex
    // The last refusal of the credentials, by the counters' logon or the health checks', under
    // TargetSessions::m_mutex: its status (0: none), the end of its backoff, and whether a reader
    // has taken the one try after it.
    std::uint32_t refusal = 0;
    Clock::time_point refusedUntil;
    bool trying = false;
    // The replication module's reader, made at its first scrape and kept with its connection
    // while the session lives; replicating (under TargetSessions::m_mutex) while a scrape uses it.
    std::shared_ptr<IReplicationService> replication;
    bool replicating = false;

    // Only the collection that holds busy touches what follows; the controller goes first.
    const SmbCredentials given; // the auth's when the session was made: a reload may change the auth's
    CredentialRegistry credentials;
    AuthLogon logon;
    RemoteCounterSource source;
    ControllerSession controller;
    std::map<std::string, std::size_t> sets; // the controller's set of each module, by its name
};

struct TargetSessions::Result {
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    ProbeOutcome outcome;
};

TargetSessions::TargetSessions(Settings settings, std::map<std::string, SmbCredentials> credentials,
                               RegistryFactory factory, Logger logger)
    : m_settings(std::move(settings)), m_credentials(std::move(credentials)), m_factory(std::move(factory)),
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
    const std::string name = TargetName(target);
    std::shared_ptr<Session>& session = m_sessions[{ AsciiLowercase(name), auth }];
    if (!session)
        session = std::make_shared<Session>(name, auth, given->second, m_factory, m_settings);
    return session;
}

void TargetSessions::CloseIdleSessions(Clock::time_point now)
{
    // under m_mutex. A session that keeps a backoff stays until it ends, or a new one would send
    // the refused credentials again at once. Its refusal changes only while busy, which is set
    // and cleared under the lock. Closing logs off at the target, which may be slow to answer:
    // on a worker, neither on the way of this scrape nor under the lock, and waited for when the
    // exporter ends.
    std::vector<std::shared_ptr<Session>> idle;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        const Session& session = *it->second;
        if (!session.busy && now - session.lastUsed >= m_settings.sessionIdle && !session.controller.IsRefused() &&
            !(session.refusal != 0 && now < session.refusedUntil)) {
            idle.push_back(std::move(it->second));
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
    if (!idle.empty())
        RunOnWorker({ [closing = std::move(idle)]() mutable { closing.clear(); }, [] {} });
}

ProbeOutcome TargetSessions::Failure(std::uint32_t status) const
{
    ProbeOutcome outcome;
    outcome.status = status;
    outcome.statusText = StatusText(status);
    return outcome;
}

void TargetSessions::NoteRefusal(const Session& session, std::uint32_t status)
{
    {
        const std::lock_guard lock(m_mutex);
        ++m_refusedLogons;
    }
    m_logger("target " + session.target + " refused the logon of auth " + session.auth + " (" + StatusText(status) +
             "); not tried again for " +
             std::to_string(std::chrono::duration_cast<std::chrono::seconds>(m_settings.refusedLogonBackoff).count()) +
             " s");
}

bool TargetSessions::MaySend(Session& session, Clock::time_point now, bool* trying) const
{
    *trying = false;
    if (session.refusal == 0)
        return true;
    if (now < session.refusedUntil || session.trying)
        return false;
    session.trying = *trying = true;
    return true;
}

void TargetSessions::Settle(Session& session, bool trying, bool refused, std::uint32_t status,
                            Clock::time_point now) const
{
    if (refused) {
        session.refusal = status;
        session.refusedUntil = now + m_settings.refusedLogonBackoff;
        session.trying = false;
    } else if (trying) {
        session.refusal = 0;
        session.trying = false;
    }
}

ProbeOutcome TargetSessions::Collect(Session& session, const ExporterModule& module,
                                     ControllerSession::Collection* collected)
{
    const auto [set, added] = session.sets.try_emplace(module.name);
    if (added) {
        std::vector<CString> paths;
        for (const std::string& path : module.paths)
            paths.push_back(CString::FromUtf8(path));
        set->second = session.controller.AddSet(std::move(paths));
    }
    const ControllerSession::Collection collection = session.controller.Collect(set->second);
    *collected = collection;
    if (collection.failed != ControllerSession::Step::None) {
        if (collection.refused && !collection.kept)
            NoteRefusal(session, collection.status);
        return Failure(collection.status);
    }
    ProbeOutcome outcome;
    outcome.success = true;
    for (std::size_t i = 0; i < module.paths.size(); ++i) {
        CounterReading reading;
        reading.path = module.paths[i];
        reading.addStatus = session.controller.AddStatus(set->second, i);
        if (PdhCounter* counter = session.controller.Counter(set->second, i))
            session.source.GetRawCounterValue(counter, &reading.type, &reading.sample);
        outcome.counters.push_back(std::move(reading));
    }
    return outcome;
}

ProbeOutcome TargetSessions::Probe(const std::string& target, const ExporterModule& module, const ExporterAuth& auth,
                                   Clock::time_point deadline)
{
    if (module.health)
        return CheckHealth(target, auth, deadline);
    if (module.replication)
        return ReadReplication(target, auth, deadline);
    const Clock::time_point start = Clock::now();
    const auto finished = [&](ProbeOutcome outcome) {
        outcome.durationSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        return outcome;
    };
    const auto result = std::make_shared<Result>();
    std::shared_ptr<Session> session; // a session closed meanwhile goes outside the lock
    {
        std::unique_lock lock(m_mutex);
        CloseIdleSessions(start);
        session = SessionFor(target, auth.name);
        if (!session)
            return finished(Failure(PdhStatusFromWin32(win32_error::kNotConnected)));
        session->lastUsed = start;
        // One condition: the session free of another scrape (two modules of one controller share
        // it) and a free place among the collections, both seen at once.
        if (!m_changed.wait_until(lock, deadline,
                                  [&] { return !session->busy && m_inFlight < m_settings.maxConcurrent; }))
            return finished(Failure(PdhStatusFromWin32(win32_error::kSemTimeout)));
        // A refusal the health checks saw withholds the credentials from the counters too.
        bool trying = false;
        if (!MaySend(*session, Clock::now(), &trying))
            return finished(Failure(session->refusal));
        session->busy = true;
        ++m_inFlight;
        // The collection goes on past the deadline when the target is slow, holding its session
        // and its place until the engine's own bounds end it.
        const auto collection = std::make_shared<ControllerSession::Collection>();
        RunOnWorker({ [this, session, result, module, collection] {
                         ProbeOutcome outcome = Collect(*session, module, collection.get());
                         const std::lock_guard lock(result->mutex);
                         result->outcome = std::move(outcome);
                     },
                      [this, session, result, collection, trying] {
                          // A refusal kept by the controller's session is already the session's.
                          if (!collection->kept)
                              Settle(*session, trying, collection->refused, collection->status, Clock::now());
                          else
                              session->trying = false;
                          session->busy = false;
                          session->lastUsed = Clock::now();
                          --m_inFlight;
                          m_changed.notify_all();
                          {
                              const std::lock_guard lock(result->mutex);
                              result->done = true;
                          }
                          result->ready.notify_all();
                      } });
    }

    std::unique_lock lock(result->mutex);
    if (!result->ready.wait_until(lock, deadline, [&] { return result->done; }))
        return finished(Failure(PdhStatusFromWin32(win32_error::kSemTimeout)));
    return finished(std::move(result->outcome));
}

ProbeOutcome TargetSessions::CheckHealth(const std::string& target, const ExporterAuth& auth,
                                         Clock::time_point deadline)
{
    const Clock::time_point start = Clock::now();
    if (!m_settings.health) {
        ProbeOutcome none;
        none.statusText = "this exporter has no health checks";
        return none;
    }
    HealthTarget checked;
    bool trying = false;
    std::shared_ptr<Session> session;
    {
        const std::lock_guard lock(m_mutex);
        CloseIdleSessions(start);
        session = SessionFor(target, auth.name);
        if (!session) {
            ProbeOutcome gone = Failure(PdhStatusFromWin32(win32_error::kNotConnected));
            gone.durationSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            return gone;
        }
        session->lastUsed = start;
        if (!MaySend(*session, start, &trying)) {
            const auto left = std::chrono::ceil<std::chrono::seconds>(session->refusedUntil - start).count();
            checked.credentialsWithheld = "the logon of auth " + auth.name + " was refused (" +
                                          StatusText(session->refusal) + "); not tried again for " +
                                          std::to_string(std::max<long long>(left, 0)) + " s";
        }
    }
    // The credentials the session was made with (read only, never changed while it lives).
    checked.controller = session->target;
    checked.user = CString::FromUtf8(session->given.user);
    checked.password = CString::FromUtf8(session->given.password);
    checked.ticketCache = session->given.ticketCache;
    // The whole check within the connection's bound and the scrape's, less the time its end
    // takes to be noticed.
    const auto budget = std::min(m_settings.connectionBound, deadline - start - std::chrono::milliseconds(300));
    HealthCheckOptions options;
    options.totalTimeoutMs =
        std::max(100, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(budget).count()));
    options.checkTimeoutMs = std::min(options.checkTimeoutMs, options.totalTimeoutMs);
    HealthReport report = RunHealthCheck(m_settings.health, checked, options);

    const std::uint32_t refused = PdhStatusFromWin32(win32_error::kLogonFailure);
    {
        const std::lock_guard lock(m_mutex);
        Settle(*session, trying, report.refusedLogon, refused, Clock::now());
        session->lastUsed = Clock::now();
    }
    if (report.refusedLogon)
        NoteRefusal(*session, refused);
    ProbeOutcome outcome;
    outcome.success = true;
    if (!report.AllPassed())
        outcome.statusText = HealthSummary(report);
    outcome.health = std::move(report);
    outcome.durationSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    return outcome;
}

ProbeOutcome TargetSessions::ReadReplication(const std::string& target, const ExporterAuth& auth,
                                             Clock::time_point deadline)
{
    const Clock::time_point start = Clock::now();
    const auto finished = [&](ReplicationStatus status) {
        ProbeOutcome outcome;
        outcome.success = status.read;
        if (!status.read) {
            outcome.status = PdhStatusFromWin32(status.error != 0 ? status.error : win32_error::kNotConnected);
            outcome.statusText = status.errorText;
        }
        outcome.replication = std::move(status);
        outcome.durationSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        return outcome;
    };
    ReplicationStatus withheld;
    if (!m_settings.replication) {
        withheld.errorText = "this exporter reads no replication";
        return finished(std::move(withheld));
    }
    bool trying = false;
    std::shared_ptr<Session> session;
    {
        std::unique_lock lock(m_mutex);
        CloseIdleSessions(start);
        session = SessionFor(target, auth.name);
        if (!session) {
            withheld.errorText = StatusText(PdhStatusFromWin32(win32_error::kNotConnected));
            return finished(std::move(withheld));
        }
        session->lastUsed = start;
        // Two scrapes of one controller's replication take turns on its one connection.
        if (!m_changed.wait_until(lock, deadline, [&] { return !session->replicating; })) {
            withheld.error = win32_error::kSemTimeout;
            withheld.errorText = "the replication of " + target + " is still being read by another scrape";
            return finished(std::move(withheld));
        }
        if (!MaySend(*session, Clock::now(), &trying)) {
            const auto left = std::chrono::ceil<std::chrono::seconds>(session->refusedUntil - Clock::now()).count();
            withheld.error = win32_error::kLogonFailure;
            withheld.refusedLogon = true;
            withheld.errorText = "the logon of auth " + auth.name + " was refused (" + StatusText(session->refusal) +
                                 "); not tried again for " + std::to_string(std::max<long long>(left, 0)) + " s";
            return finished(std::move(withheld));
        }
        // The reader logs on with a user and password or the process's own ticket; a keytab's
        // ticket is not handed to it, and no other identity goes in its place.
        if (!session->given.ticketCache.empty()) {
            withheld.errorText =
                "auth " + auth.name + " logs on with a keytab, which the replication module does not use";
            return finished(std::move(withheld));
        }
        session->replicating = true;
        if (!session->replication)
            session->replication = m_settings.replication();
    }
    ReplicationTarget read;
    read.controller = session->target;
    read.user = CString::FromUtf8(session->given.user);
    read.password = CString::FromUtf8(session->given.password);
    // Within the connection's bound and the scrape's, less the time its end takes to be noticed.
    const auto budget = std::min(m_settings.connectionBound, deadline - Clock::now() - std::chrono::milliseconds(300));
    ReplicationStatus status =
        session->replication
            ->Read(read, std::max(100, static_cast<int>(
                                           std::chrono::duration_cast<std::chrono::milliseconds>(budget).count())));

    const std::uint32_t refused = PdhStatusFromWin32(win32_error::kLogonFailure);
    {
        const std::lock_guard lock(m_mutex);
        Settle(*session, trying, status.refusedLogon, refused, Clock::now());
        session->replicating = false;
        session->lastUsed = Clock::now();
    }
    m_changed.notify_all();
    if (status.refusedLogon)
        NoteRefusal(*session, refused);
    return finished(std::move(status));
}

void TargetSessions::Renew(std::map<std::string, SmbCredentials> credentials, const std::set<std::string>& renewed)
{
    const std::lock_guard lock(m_mutex);
    m_credentials = std::move(credentials);
    std::vector<std::shared_ptr<Session>> closing;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (renewed.contains(it->first.second)) {
            closing.push_back(std::move(it->second)); // a collection under way keeps it to its end
            it = m_sessions.erase(it);
        } else {
            ++it;
        }
    }
    // Their logoffs on a worker, as for idle sessions, and waited for when the exporter ends.
    if (!closing.empty())
        RunOnWorker({ [closing = std::move(closing)]() mutable { closing.clear(); }, [] {} });
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
