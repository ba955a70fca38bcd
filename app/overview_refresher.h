// The overview's background work: each controller on a worker thread of its own, with its own
// network connection and counter source, so that a controller that does not answer holds only its
// own row. The window's thread never waits for one: it is told that results are queued and takes
// them (TakeResults).
//
// With a health service, each controller's health is checked on a second thread of its own,
// beside its counters and less often (healthIntervalMs): a check is a dozen exchanges with the
// controller, among them a Kerberos exchange and three logons, where a collection is one query,
// and what it watches changes slowly. The check shares the counters' credentials and their
// refusal: its first check waits for the counters' first logon, it sends no credentials while
// the counters' logon is refused, and a logon refused to it stops the counters' too, until the
// user asks again (RefreshNow).
//
// With a replication service, each controller's replication is read on a third thread, through a
// reader of its own that keeps its connection, less often still (replicationIntervalMs): what it
// watches is counted in hours (a partner failing for an hour, no success for a day), and each
// read asks the controller for every naming context's neighbours. It shares the credentials and
// the refusal as the health check does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "app/controller_session.h"
#include "app/overview.h"
#include "directory/health_check.h"
#include "directory/replication_status.h"

// One controller's figures over its session (ControllerSession), each collection within the
// session's bounds. Its wait returns false when the work is cancelled; then the collection ends at
// once with what it has.
class OverviewCollector {
public:
    using Wait = ControllerSession::Wait;
    using Clock = std::function<std::int64_t()>;

    // With a user name, a connection to "\\" + machine is opened with the user name and password
    // before the first collection (else the counters go as the user's own ticket).
    OverviewCollector(ControllerConnection connection, CString machine, CString userName, CString password, Wait wait,
                      Clock clock);
    OverviewCollector(const OverviewCollector&) = delete;
    OverviewCollector& operator=(const OverviewCollector&) = delete;

    OverviewSample Collect();
    // After a refused logon nothing is sent until the user asks again (AllowRetry).
    bool IsRefused() const { return m_session.IsRefused(); }
    void AllowRetry() { m_session.AllowRetry(); }

    // A first collection is followed by a second this long after, so that the rates have two
    // samples.
    static constexpr std::uint32_t kRateIntervalMs = 1000;

private:
    ControllerConnection m_connection; // goes after the session, which closes what it opened
    Wait m_wait;
    Clock m_clock;
    ControllerSession m_session;
    std::size_t m_set = 0;
};

// Makes a reader of one controller's replication, which keeps its connection between reads.
using ReplicationReaderFactory = std::function<std::shared_ptr<IReplicationService>()>;

class OverviewRefresher {
public:
    struct Settings {
        ControllerConnectionFactory connect;
        CString userName, password;
        std::uint32_t intervalMs = 5000;
        std::shared_ptr<IHealthService> health; // none: no health checks
        std::uint32_t healthIntervalMs = 60000;
        // Makes a controller's replication reader (none: no replication read).
        ReplicationReaderFactory replication;
        std::uint32_t replicationIntervalMs = 300000;
    };
    // Told on a worker's thread that results are queued; it must not wait (it posts a message to
    // the window's thread). Never called once Stop has returned.
    using Notify = std::function<void()>;

    OverviewRefresher(const std::vector<CString>& machines, Settings settings, Notify notify);
    // Stops and waits for the workers (each within the engine's bounds).
    ~OverviewRefresher();
    OverviewRefresher(const OverviewRefresher&) = delete;
    OverviewRefresher& operator=(const OverviewRefresher&) = delete;

    // Ends the work without waiting: every worker stops at its next wait, and the connections are
    // cancelled by the workers as they end.
    void Stop();
    // The time between the end of a controller's collection and its next one.
    void SetInterval(std::uint32_t milliseconds);
    std::uint32_t Interval() const;
    // Collects row's controller at once, and checks its health and reads its replication once the
    // collection has logged on; a refused logon is tried again, since the user asked.
    void RefreshNow(std::size_t row);

    // The results queued since the last call, oldest first: (row, sample).
    std::vector<std::pair<std::size_t, OverviewSample>> TakeResults();
    // The health reports queued since the last call, oldest first: (row, report).
    std::vector<std::pair<std::size_t, HealthReport>> TakeHealthResults();
    // The replication read since the last call, oldest first: (row, status).
    std::vector<std::pair<std::size_t, ReplicationStatus>> TakeReplicationResults();
    // Every worker has ended (after Stop, once each has left the network).
    bool HasEnded() const;

    static std::int64_t NowMs();

private:
    struct Shared;
    struct Worker;
    static void Run(std::shared_ptr<Shared> shared, const std::shared_ptr<Worker>& worker, std::size_t row,
                    ControllerConnection connection, const CString& machine);
    static void RunCollections(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Worker>& worker,
                               std::size_t row, ControllerConnection connection, const CString& machine,
                               const CString& userName, const CString& password, const OverviewCollector::Wait& wait);
    // Its thread holds its own copies of the arguments.
    static void RunHealthChecks(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Worker>& worker,
                                std::size_t row, const CString& machine);
    static void RunReplicationReads(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Worker>& worker,
                                    std::size_t row, const CString& machine,
                                    const std::shared_ptr<IReplicationService>& service);
    // A read's bound: the connection's and the call's together.
    static constexpr int kReplicationReadTimeoutMs = 10000;

    std::shared_ptr<Shared> m_shared;
    std::vector<std::shared_ptr<Worker>> m_workers;
    std::vector<std::thread> m_threads;
};
