// zeltor-exporter's log: one line a record on standard error, in logfmt or JSON as Prometheus'
// exporters write them (ts, level, msg, then the record's own fields), below a level left out.
//
//   ts=2026-12-09T12:00:00.123Z level=warn msg="target refused" target=dc9.example.org auth=monitor
//   {"ts":"2026-12-09T12:00:00.123Z","level":"warn","msg":"target refused","target":"dc9.example.org","auth":"monitor"}
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class LogLevel { Debug, Info, Warn, Error };

class ExporterLog {
public:
    enum class Format { Logfmt, Json };
    using Fields = std::vector<std::pair<std::string, std::string>>;
    using Sink = std::function<void(const std::string& line)>;

    // "debug", "info", "warn", "error"; "logfmt", "json".
    static std::optional<LogLevel> LevelNamed(std::string_view name);
    static std::optional<Format> FormatNamed(std::string_view name);

    // sink: takes each line with its line break (none: standard error).
    ExporterLog(LogLevel least, Format format, Sink sink = {});

    void operator()(LogLevel level, const std::string& message, const Fields& fields = {}) const;
    bool Shows(LogLevel level) const { return level >= m_least; }

    // One record's line, at the given time (seconds since the epoch).
    std::string Line(double time, LogLevel level, const std::string& message, const Fields& fields) const;

private:
    LogLevel m_least;
    Format m_format;
    Sink m_sink;
    mutable std::mutex m_mutex; // one line at a time on the sink
};
