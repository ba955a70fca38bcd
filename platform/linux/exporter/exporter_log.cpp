#include "platform/linux/exporter/exporter_log.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

const char* LevelName(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug:
        return "debug";
    case LogLevel::Info:
        return "info";
    case LogLevel::Warn:
        return "warn";
    case LogLevel::Error:
        return "error";
    }
    return "info";
}

// RFC 3339 in UTC with milliseconds.
std::string Timestamp(double time)
{
    const double whole = std::floor(time);
    const auto seconds = static_cast<std::time_t>(whole);
    const int milliseconds = std::min(999, static_cast<int>((time - whole) * 1000));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds);
    return text;
}

// A control character as \n, \t or \u00XX.
void Escape(char c, std::string& out)
{
    switch (c) {
    case '\n':
        out += "\\n";
        break;
    case '\r':
        out += "\\r";
        break;
    case '\t':
        out += "\\t";
        break;
    default: {
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
        out += code;
    }
    }
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += { '\\', c };
        else if (static_cast<unsigned char>(c) < 0x20)
            Escape(c, out);
        else
            out += c;
    }
    return out + "\"";
}

// A logfmt value: bare when it has no space, quote, '=' or control character, else quoted and
// escaped as a JSON string is.
std::string LogfmtValue(std::string_view text)
{
    bool bare = !text.empty();
    for (char c : text)
        bare = bare && c != ' ' && c != '"' && c != '=' && c != '\\' && static_cast<unsigned char>(c) >= 0x20;
    return bare ? std::string(text) : JsonString(text);
}

} // namespace

std::optional<LogLevel> ExporterLog::LevelNamed(std::string_view name)
{
    for (LogLevel level : { LogLevel::Debug, LogLevel::Info, LogLevel::Warn, LogLevel::Error }) {
        if (name == LevelName(level))
            return level;
    }
    return std::nullopt;
}

std::optional<ExporterLog::Format> ExporterLog::FormatNamed(std::string_view name)
{
    if (name == "logfmt")
        return Format::Logfmt;
    if (name == "json")
        return Format::Json;
    return std::nullopt;
}

ExporterLog::ExporterLog(LogLevel least, Format format, Sink sink)
    : m_least(least), m_format(format), m_sink(std::move(sink))
{
}

std::string ExporterLog::Line(double time, LogLevel level, const std::string& message, const Fields& fields) const
{
    Fields all{ { "ts", Timestamp(time) }, { "level", LevelName(level) }, { "msg", message } };
    all.insert(all.end(), fields.begin(), fields.end());
    std::string line;
    if (m_format == Format::Json) {
        line = "{";
        for (const auto& [key, value] : all)
            line += (line.size() > 1 ? "," : "") + JsonString(key) + ":" + JsonString(value);
        line += "}";
    } else {
        for (const auto& [key, value] : all)
            line += (line.empty() ? "" : " ") + key + "=" + LogfmtValue(value);
    }
    return line + "\n";
}

void ExporterLog::operator()(LogLevel level, const std::string& message, const Fields& fields) const
{
    if (!Shows(level))
        return;
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const std::string line = Line(now, level, message, fields);
    const std::lock_guard lock(m_mutex);
    if (m_sink) {
        m_sink(line);
    } else {
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    }
}
