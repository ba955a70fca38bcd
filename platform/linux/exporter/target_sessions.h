// The exporter's connections: one session per target and auth, kept between scrapes, each a
// ControllerSession with its own credentials (a CredentialRegistry of its own, so that two auths
// of one target never share a logon) and its own counter source over the target's Remote
// Registry. A target is one session however its name is written (case, a final dot).
//
// A logon the target refused is kept by the session, which gives the refusal at once, without a
// packet, until the backoff ends, and then sends the credentials anew for one more try. A session
// no scrape has used for the idle time is closed on a worker, but not while it keeps a refusal's
// backoff. Collections run on worker threads, at most maxConcurrent at once; a scrape waits for
// its result until its deadline and no longer, so that a silent target holds only its own
// scrapes. Two scrapes of one session (two modules of a controller) take turns. The workers are
// made as collections need them (never more than maxConcurrent) and kept, so that a scrape in
// steady state makes no thread.
//
// The health module's checks run on the scrape's own thread (each exchange on one of its own),
// beside the session's collections: they neither wait for the session nor hold it, nor take a
// place among the collections. They send the session's credentials, and share its refusal: a
// logon refused to either the counters or the checks withholds the credentials from both until
// the backoff ends, and then one of them, whichever comes first, tries them again.
//
// The replication module reads on the scrape's own thread too, beside the collections, through a
// reader of the session's own that keeps its connection (its bound DRSUAPI handle) between
// scrapes and closes it with the session. It sends the session's credentials and shares its
// refusal as the health checks do; two scrapes of it take turns on that one connection.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/controller_session.h"
#include "directory/health_check.h"
#include "directory/replication_status.h"
#include "exporter/exporter_config.h"
#include "exporter/exporter_metrics.h"
#include "platform/linux/remote/performance_registry.h"
#include "platform/linux/samba/credential_registry.h"

class TargetSessions {
public:
    using Clock = std::chrono::steady_clock;
    // Makes a session's registry over the session's own credentials (the tests give a fake).
    using RegistryFactory = std::function<std::unique_ptr<IPerformanceRegistry>(CredentialRegistry& credentials)>;
    using Logger = std::function<void(const std::string& line)>;

    struct Settings {
        Clock::duration refusedLogonBackoff = std::chrono::minutes(15);
        unsigned maxConcurrent = 16;
        Clock::duration sessionIdle = std::chrono::minutes(5);
        // A counter the target lacked when the module's counters were added is looked for again
        // after this (a provider that was not ready, an object installed later).
        Clock::duration lackingRetry = std::chrono::minutes(1);
        // The health module's checks (none: the module answers that this exporter has none), and
        // the bound of a whole check of one target (the connection's bound).
        std::shared_ptr<IHealthService> health;
        Clock::duration connectionBound = std::chrono::seconds(10);
        // Makes the replication module's reader of one session, which keeps its connection to
        // the controller (none: the module answers that this exporter reads none).
        std::function<std::shared_ptr<IReplicationService>()> replication;
    };

    // passwords: each auth's, by the auth's name (wiped when the object goes).
    TargetSessions(Settings settings, std::map<std::string, SmbCredentials> credentials, RegistryFactory factory,
                   Logger logger);
    // Waits for the collections and the closings still running (each within the engine's own
    // bounds), and ends the workers.
    ~TargetSessions();
    TargetSessions(const TargetSessions&) = delete;
    TargetSessions& operator=(const TargetSessions&) = delete;

    // One collection of module's counters (or its health checks) on target as auth, answered by
    // deadline.
    ProbeOutcome Probe(const std::string& target, const ExporterModule& module, const ExporterAuth& auth,
                       Clock::time_point deadline);

    // New credentials, from a reading of the configuration again: the sessions of the auths in
    // renewed (their credentials or targets changed, or they are gone) are closed, the others kept
    // with their logons.
    void Renew(std::map<std::string, SmbCredentials> credentials, const std::set<std::string>& renewed);

    std::uint64_t RefusedLogons() const;
    std::uint64_t SessionCount() const;
    std::uint64_t CollectionsInFlight() const;

private:
    struct Session;
    struct Result;

    std::shared_ptr<Session> SessionFor(const std::string& target, const std::string& auth);
    // Takes the idle sessions out of the table and closes them on a worker.
    void CloseIdleSessions(Clock::time_point now);
    ProbeOutcome Collect(Session& session, const ExporterModule& module, ControllerSession::Collection* collected);
    ProbeOutcome CheckHealth(const std::string& target, const ExporterAuth& auth, Clock::time_point deadline);
    ProbeOutcome ReadReplication(const std::string& target, const ExporterAuth& auth, Clock::time_point deadline);
    // Under m_mutex: whether the session's credentials may go now. After a refusal they may once
    // its backoff has ended, to one reader at a time: *trying tells this one it took that try.
    bool MaySend(Session& session, Clock::time_point now, bool* trying) const;
    // Under m_mutex: what a reader that sent the credentials (or took the try) saw of them.
    void Settle(Session& session, bool trying, bool refused, std::uint32_t status, Clock::time_point now) const;
    ProbeOutcome Failure(std::uint32_t status) const;
    // A collection on a worker: collect runs outside m_mutex, then finish under it, with the
    // worker already counted idle, so that the next scrape of whoever finish answers finds that
    // worker free rather than making another.
    struct Job {
        std::function<void()> collect;
        std::function<void()> finish;
    };
    // Under m_mutex: the job runs on an idle worker, or on a new one when none is idle.
    void RunOnWorker(Job job);
    void Work();
    void NoteRefusal(const Session& session, std::uint32_t status);

    Settings m_settings;
    std::map<std::string, SmbCredentials> m_credentials;
    RegistryFactory m_factory;
    Logger m_logger;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed; // a collection ended: a session and a place are free
    std::map<std::pair<std::string, std::string>, std::shared_ptr<Session>>
        m_sessions; // by TargetName in lower case, auth
    unsigned m_inFlight = 0;
    std::condition_variable m_jobQueued;
    std::deque<Job> m_jobs;
    std::vector<std::thread> m_workers;
    std::size_t m_idleWorkers = 0;
    bool m_stopping = false;
    std::uint64_t m_refusedLogons = 0;
};
