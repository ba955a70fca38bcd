// One controller's session, as every reader of a controller keeps it: the overview's workers, the
// exporter's sessions and the probe. It opens the connection with the credentials, adds each set
// of counters once and collects it, keeps a refused logon (nothing is sent with those credentials
// until new ones are given or the backoff ends: a domain locks an account after a few refused
// logons), waits only through its Wait, and cancels its connection and closes its queries when
// it goes. The platform gives only the connection: the counter source and the network connector.
// Used by one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "directory/kept_refusal.h"
#include "directory/network_connector.h"
#include "perf/counter_source.h"

// What one controller is read through: its own counter source and network connector (the
// connector's connection is the one the counters ride). Made on one thread, used only on the one
// that collects.
struct ControllerConnection {
    std::shared_ptr<void> keep; // whatever the two below need: it goes after them
    std::unique_ptr<INetworkConnector> network;
    std::unique_ptr<ICounterSource> counters;
};
using ControllerConnectionFactory = std::function<ControllerConnection()>;

class ControllerSession {
public:
    using Clock = std::chrono::steady_clock;
    // Waits this long; false when the work is cancelled (then the collection ends at once with
    // what it has). The only wait the session makes.
    using Wait = std::function<bool(std::uint32_t milliseconds)>;

    struct Settings {
        CString machine;
        // With a user name, a connection to "\\" + machine is opened with it and the password
        // before the first collection; without one the counters go as the user's own ticket.
        CString userName, password;
        Wait wait;
        // A refused logon is kept until AllowRetry; with a backoff, also only until it ends, when
        // the credentials go once more as new ones.
        std::optional<Clock::duration> refusalBackoff;
        // A set that lacked a counter adds its counters again after this (a provider that was not
        // ready, an object installed later); never without one.
        std::optional<Clock::duration> lackingRetry;
    };

    // Where a collection failed: the connection's logon (its Win32 error as a status,
    // PdhStatusFromWin32), connecting the machine and adding the set's counters, or collecting.
    enum class Step { None, Logon, Open, Collect };
    struct Collection {
        Step failed = Step::None;
        PDH_STATUS status = 0;
        bool refused = false; // the logon was refused, in this collection or (kept) an earlier one
        bool kept = false;    // the refusal kept from an earlier collection: nothing was sent
        bool opened = false;  // the set's counters were added for this collection (its first sample)
    };

    ControllerSession(INetworkConnector& network, ICounterSource& counters, Settings settings);
    // Close.
    ~ControllerSession();
    ControllerSession(const ControllerSession&) = delete;
    ControllerSession& operator=(const ControllerSession&) = delete;

    // A set of counters collected together, by their paths without the machine
    // ("\Memory\Page Faults/sec"); its index for Collect.
    std::size_t AddSet(std::vector<CString> paths);
    // One collection of the set at index. A counter the machine lacks is left out (Counter gives null, AddStatus
    // why); any other failure to add one fails the collection. A failure of the connection closes
    // the set's query, so that the next collection connects and adds its counters anew.
    Collection Collect(std::size_t index);
    // The set's i-th counter as the last collection added it: the source's handle, null when it
    // was not added, and the status of its adding.
    PdhCounter* Counter(std::size_t set, std::size_t i) const;
    PDH_STATUS AddStatus(std::size_t set, std::size_t i) const;

    // A refused logon is kept: collections give it without sending anything.
    bool IsRefused() const;
    // After a refusal, the credentials go anew (the user asked), on a new connection: the refused
    // one is dropped.
    void AllowRetry();
    // Cancels the connection, then closes the queries, as the window ends; a collection after
    // it opens them again.
    void Close();

    // While the machine refuses access for now: a retry every 100 ms, at most 151 of them, as
    // the counter query's connection.
    static constexpr std::uint32_t kConnectWaitMs = 100;
    static constexpr int kMaxAccessDeniedRetries = 151;

private:
    struct Set {
        std::vector<CString> paths;
        PdhQuery* query = nullptr;
        std::vector<PdhCounter*> counters;
        std::vector<PDH_STATUS> addStatus;
        Clock::time_point added;
        bool lacking = false; // some counter could not be added
    };
    PDH_STATUS Open(Set& set);
    void CloseSet(Set& set);
    Collection Failure(Set& set, Step step, PDH_STATUS status);

    INetworkConnector& m_network;
    ICounterSource& m_counters;
    Settings m_settings;
    std::vector<Set> m_sets;
    bool m_connected = false;          // the network connection is open
    KeptRefusal<PDH_STATUS> m_refusal; // its own status (a wrong password, a locked account ...)
};
