#include "app/overview.h"

#include <algorithm>
#include <limits>
#include <string>

#include "directory/win32_error_text.h"
#include "framework/ascii_case.h"
#include "perf/pdh_status.h"
#include "perf/status_text.h"

const std::array<OverviewColumnInfo, kOverviewColumnCount> kOverviewColumns = { {
    { u"Controller", 56 },
    { u"State", 104 },
    { u"Processor %", 50 },
    { u"Committed memory %", 74 },
    { u"Free disk %", 48 },
    { u"LSASS handles", 58 },
    { u"Page faults/sec", 62 },
    { u"Age", 26 },
    { u"Health", 90 },
    { u"Replication", 110 },
} };

const char16_t* ControllerStateName(ControllerState state)
{
    switch (state) {
    case ControllerState::Reading:
        return u"reading";
    case ControllerState::Answering:
        return u"answering";
    case ControllerState::NotAnswering:
        return u"not answering";
    case ControllerState::CredentialsRefused:
        return u"credentials refused";
    case ControllerState::NoPerformanceData:
        return u"no performance data";
    }
    return u"";
}

ControllerState ControllerStateOfStatus(PDH_STATUS status)
{
    if (status == 0)
        return ControllerState::Answering;
    if (IsWin32Status(status))
        return IsRefusedLogon(status & 0xFFFF) ? ControllerState::CredentialsRefused : ControllerState::NotAnswering;
    switch (status) {
    // The machine answered, but its performance data could not be had: no name table, no data,
    // none of the objects or counters, data that does not parse, or a user who may not read it.
    case PDH_CANNOT_READ_NAME_STRINGS:
    case PDH_NO_DATA:
    case PDH_CSTATUS_NO_OBJECT:
    case PDH_CSTATUS_NO_COUNTER:
    case PDH_CSTATUS_NO_INSTANCE:
    case PDH_CSTATUS_INVALID_DATA:
    case PDH_INVALID_DATA:
    case PDH_ACCESS_DENIED:
        return ControllerState::NoPerformanceData;
    default:
        return ControllerState::NotAnswering;
    }
}

namespace {

enum class Limit { Above, Below };
constexpr Limit kFigureLimits[kOverviewFigureCount] = { Limit::Above, Limit::Above, Limit::Below, Limit::Above,
                                                        Limit::Above };

CString Decimal(std::int64_t value)
{
    return CString::FromUtf8(std::to_string(value));
}

// The status's text on one line.
CString OneLine(CString text)
{
    std::replace(text.begin(), text.end(), u'\n', u' ');
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\r'))
        text.pop_back();
    std::replace(text.begin(), text.end(), u'\r', u' ');
    return text;
}

} // namespace

CString HealthCellText(const HealthReport& report)
{
    if (report.AllPassed())
        return u"ok";
    // The summary names the failing checks; the reasons follow, but the clock's, which the
    // summary already says in words. One reason for all (credentials withheld) is said once.
    std::string reasons;
    std::vector<const HealthCheckResult*> failed;
    for (const HealthCheckResult& check : report.checks) {
        if (!check.success && !(check.kind == HealthCheckKind::Time && report.facts.clockOffsetSeconds))
            failed.push_back(&check);
    }
    const bool one = failed.size() > 1 && std::all_of(failed.begin(), failed.end(), [&](const HealthCheckResult* c) {
                         return c->detail == failed.front()->detail;
                     });
    if (one)
        reasons = failed.front()->detail;
    for (std::size_t i = 0; i < failed.size() && !one; ++i)
        reasons += (i == 0 ? "" : "; ") + std::string(HealthCheckWords(failed[i]->kind)) + ": " + failed[i]->detail;
    return OneLine(CString::FromUtf8(HealthSummary(report) + (reasons.empty() ? "" : " (" + reasons + ")")));
}

OverviewModel::OverviewModel(const std::vector<CString>& names, OverviewThresholds thresholds)
    : m_thresholds(thresholds)
{
    for (const CString& name : names) {
        OverviewRow row;
        row.name = name;
        m_rows.push_back(std::move(row));
    }
    Resort();
}

bool OverviewModel::Apply(std::size_t index, const OverviewSample& sample)
{
    OverviewRow& row = m_rows.at(index);
    const ControllerState before = row.state;
    row.status = sample.status;
    row.state = ControllerStateOfStatus(sample.status);
    if (sample.status == 0) {
        row.figures = sample.figures;
        row.takenMs = sample.takenMs;
    }
    Resort();
    return row.state != before;
}

void OverviewModel::ApplyHealth(std::size_t index, const HealthReport& report)
{
    m_rows.at(index).health = report;
    Resort();
}

void OverviewModel::ApplyReplication(std::size_t index, const ReplicationStatus& status, std::int64_t unixSeconds,
                                     std::int64_t nowMs)
{
    OverviewRow& row = m_rows.at(index);
    row.replication = status;
    row.replicationReadUnix = unixSeconds;
    row.replicationReadMs = nowMs;
    Resort();
}

void OverviewModel::MarkReading(std::size_t index)
{
    OverviewRow& row = m_rows.at(index);
    row.state = ControllerState::Reading;
    row.status = 0;
    Resort();
}

bool OverviewModel::IsPastThreshold(std::size_t index, int figure) const
{
    const std::optional<std::int64_t>& value = m_rows.at(index).figures.at(static_cast<std::size_t>(figure));
    if (!value)
        return false;
    const std::int64_t limits[kOverviewFigureCount] = { m_thresholds.processorHigh, m_thresholds.memoryHigh,
                                                        m_thresholds.freeDiskLow, m_thresholds.lsassHandlesHigh,
                                                        m_thresholds.pageFaultsHigh };
    return kFigureLimits[figure] == Limit::Above ? *value >= limits[figure] : *value <= limits[figure];
}

CString OverviewModel::CellText(std::size_t index, int column, std::int64_t nowMs) const
{
    const OverviewRow& row = m_rows.at(index);
    switch (column) {
    case kOverviewController:
        return row.name;
    case kOverviewState: {
        CString text = ControllerStateName(row.state);
        if (row.state != ControllerState::Reading && row.state != ControllerState::Answering)
            text += u": " + OneLine(PdhStatusMessage(row.status));
        return text;
    }
    case kOverviewAge:
        if (!row.takenMs)
            return CString();
        return Decimal(std::max<std::int64_t>(0, nowMs - *row.takenMs) / 1000) + u" s";
    case kOverviewHealth:
        return row.health ? HealthCellText(*row.health) : CString();
    case kOverviewReplication:
        // How long a partner has failed goes on from the read's time as the figures' age does.
        return row.replication
                   ? OneLine(CString::FromUtf8(
                         ReplicationSummary(*row.replication,
                                            row.replicationReadUnix +
                                                std::max<std::int64_t>(0, nowMs - row.replicationReadMs) / 1000)))
                   : CString();
    default:
        break;
    }
    const int figure = column - kOverviewProcessor;
    if (figure < 0 || figure >= kOverviewFigureCount)
        return CString();
    const std::optional<std::int64_t>& value = row.figures[static_cast<std::size_t>(figure)];
    if (!value)
        return CString();
    CString text = Decimal(*value);
    if (IsPastThreshold(index, figure))
        text += kFigureLimits[figure] == Limit::Above ? u" (high)" : u" (low)";
    return text;
}

CString OverviewModel::RowDescription(std::size_t index, std::int64_t nowMs) const
{
    CString text;
    for (int column = 0; column < kOverviewColumnCount; ++column) {
        const CString cell = CellText(index, column, nowMs);
        if (column != 0)
            text += u", ";
        text += CString(kOverviewColumns[static_cast<std::size_t>(column)].heading) + u": " +
                (cell.empty() ? CString(u"none") : cell);
    }
    return text;
}

void OverviewModel::SortBy(int column, bool ascending)
{
    if (column < 0 || column >= kOverviewColumnCount)
        return;
    m_sortColumn = column;
    m_sortAscending = ascending;
    Resort();
}

std::size_t OverviewModel::PositionOf(std::size_t row) const
{
    return static_cast<std::size_t>(std::find(m_order.begin(), m_order.end(), row) - m_order.begin());
}

void OverviewModel::Resort()
{
    m_order.resize(m_rows.size());
    for (std::size_t i = 0; i < m_order.size(); ++i)
        m_order[i] = i;
    // The sort key of a row: nothing (last either way), or a number, or the name.
    const auto key = [&](std::size_t i) -> std::optional<std::int64_t> {
        const OverviewRow& row = m_rows[i];
        switch (m_sortColumn) {
        case kOverviewState:
            return static_cast<std::int64_t>(row.state);
        case kOverviewAge:
            if (!row.takenMs)
                return std::nullopt;
            return -*row.takenMs; // the oldest figures have the largest age
        case kOverviewHealth:
            if (!row.health)
                return std::nullopt;
            // The healthy first, then by how many checks fail.
            return std::count_if(row.health->checks.begin(), row.health->checks.end(),
                                 [](const HealthCheckResult& check) { return !check.success; });
        case kOverviewReplication:
            if (!row.replication)
                return std::nullopt;
            // Replicating first, then by how many partners fail, then those that could not be read.
            if (!row.replication->read)
                return std::numeric_limits<std::int64_t>::max();
            return std::count_if(row.replication->neighbors.begin(), row.replication->neighbors.end(),
                                 [](const ReplicationNeighbor& n) { return n.lastResult != 0; });
        default:
            break;
        }
        const int figure = m_sortColumn - kOverviewProcessor;
        if (figure >= 0 && figure < kOverviewFigureCount)
            return row.figures[static_cast<std::size_t>(figure)];
        return 0;
    };
    const auto byName = [&](std::size_t a, std::size_t b) {
        const std::string x = AsciiLowercase(m_rows[a].name.ToUtf8()), y = AsciiLowercase(m_rows[b].name.ToUtf8());
        return x != y ? x < y : a < b;
    };
    std::sort(m_order.begin(), m_order.end(), [&](std::size_t a, std::size_t b) {
        const std::optional<std::int64_t> ka = key(a), kb = key(b);
        if (ka.has_value() != kb.has_value())
            return ka.has_value();
        if (ka && *ka != *kb)
            return m_sortAscending ? *ka < *kb : *ka > *kb;
        if (m_sortColumn == kOverviewController)
            return m_sortAscending ? byName(a, b) : byName(b, a);
        return byName(a, b);
    });
}
