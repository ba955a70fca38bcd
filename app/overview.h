// The domain at a glance: one row per controller with its state, five figures, its health and its
// replication, the marks of figures past their thresholds, and the order of the rows. Portable;
// the figures come from OverviewCollector (app/overview_refresher.h), each controller on a worker
// of its own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/counter_set.h"
#include "directory/health_check.h"
#include "directory/replication_status.h"
#include "framework/cstring.h"
#include "perf/counter_source.h"

enum class ControllerState {
    Reading,            // nothing heard yet since the rows were made or the user asked again
    Answering,          // the last collection gave figures
    NotAnswering,       // the machine could not be reached, or stopped answering
    CredentialsRefused, // the logon was refused: not tried again until the user asks
    NoPerformanceData,  // the machine answered but has none of the counters
};

// The words the state column shows, without the status text that follows them.
const char16_t* ControllerStateName(ControllerState state);

// What a status of the counter engine (or a Win32 error passed on as a status, as a refused logon
// is) means for the row.
ControllerState ControllerStateOfStatus(PDH_STATUS status);

enum OverviewColumn : int {
    kOverviewController,
    kOverviewState,
    kOverviewProcessor,
    kOverviewMemory,
    kOverviewFreeDisk,
    kOverviewLsassHandles,
    kOverviewPageFaults,
    kOverviewAge,
    kOverviewHealth,
    kOverviewReplication,
    kOverviewColumnCount,
};

struct OverviewColumnInfo {
    const char16_t* heading;
    int widthDlu; // the column's width in dialog units
};
extern const std::array<OverviewColumnInfo, kOverviewColumnCount> kOverviewColumns;

// The figures, in column order from kOverviewProcessor, and their counters (from the main
// window's counter set, so that both read the same counters).
inline constexpr int kOverviewFigureCount = 5;
inline constexpr std::array<const char16_t*, kOverviewFigureCount> kOverviewCounterPaths = {
    kCounterSetPaths[0], // % Processor Time
    kCounterSetPaths[1], // % Committed Bytes In Use
    kCounterSetPaths[2], // % Free Space
    kCounterSetPaths[6], // lsass Handle Count
    kCounterSetPaths[8], // Page Faults/sec
};

using OverviewFigures = std::array<std::optional<std::int64_t>, kOverviewFigureCount>;

// One collection on one controller: its status (0 when it gave figures), the figures it gave
// (none for a counter without valid data) and when it was taken (a monotonic clock in ms).
struct OverviewSample {
    PDH_STATUS status = 0;
    OverviewFigures figures;
    std::int64_t takenMs = 0;
};

// A figure at or past its limit is marked: above for the processor, committed memory, LSASS
// handles and page faults, below for the free disk space.
struct OverviewThresholds {
    std::int64_t processorHigh = 90;
    std::int64_t memoryHigh = 90;
    std::int64_t freeDiskLow = 10;
    std::int64_t lsassHandlesHigh = 20000;
    std::int64_t pageFaultsHigh = 10000;
};

struct OverviewRow {
    CString name;
    ControllerState state = ControllerState::Reading;
    PDH_STATUS status = 0;
    // The last figures the controller gave, kept (with their age) while it fails.
    OverviewFigures figures;
    std::optional<std::int64_t> takenMs;
    // The last health check's, none before the first.
    std::optional<HealthReport> health;
    // The last replication read, and when (seconds since 1970, and the refresher's clock).
    std::optional<ReplicationStatus> replication;
    std::int64_t replicationReadUnix = 0;
    std::int64_t replicationReadMs = 0;
};

// The health column's text: "ok", or what fails in words with each failing check's reason
// ("LDAP, Kerberos failing (LDAP: ...; Kerberos: ...)", "clock 7 min ahead").
CString HealthCellText(const HealthReport& report);

class OverviewModel {
public:
    explicit OverviewModel(const std::vector<CString>& names, OverviewThresholds thresholds = {});

    std::size_t RowCount() const { return m_rows.size(); }
    const OverviewRow& Row(std::size_t row) const { return m_rows.at(row); }

    // Takes a collection's result into the row; true when the row's state changed.
    bool Apply(std::size_t index, const OverviewSample& sample);
    // Takes a health check's report into the row.
    void ApplyHealth(std::size_t index, const HealthReport& report);
    // Takes a replication read into the row, read at unixSeconds (nowMs on the refresher's clock):
    // its cell is the summary in words ("ok, 2 partners", "DC2 failing for 3 h: <why>").
    void ApplyReplication(std::size_t index, const ReplicationStatus& status, std::int64_t unixSeconds,
                          std::int64_t nowMs);
    // The user asked for the row again: it reads until the next result.
    void MarkReading(std::size_t index);

    // The figure at or past its threshold.
    bool IsPastThreshold(std::size_t index, int figure) const;
    // A cell as the list shows it at nowMs: a figure past its threshold carries its mark in words
    // ("95 (high)", "4 (low)"), a failed state the engine's text for its status.
    CString CellText(std::size_t index, int column, std::int64_t nowMs) const;
    // The row read out: each column's heading with its text.
    CString RowDescription(std::size_t index, std::int64_t nowMs) const;

    // Orders the rows by column; rows without a figure go last either way, ties keep the
    // controllers' order by name.
    void SortBy(int column, bool ascending);
    int SortColumn() const { return m_sortColumn; }
    bool SortAscending() const { return m_sortAscending; }
    // The row shown at each position, and the position of a row.
    const std::vector<std::size_t>& Order() const { return m_order; }
    std::size_t PositionOf(std::size_t row) const;

private:
    void Resort();

    std::vector<OverviewRow> m_rows;
    OverviewThresholds m_thresholds;
    std::vector<std::size_t> m_order;
    int m_sortColumn = kOverviewController;
    bool m_sortAscending = true;
};
