// Text helpers the output formats share: JSON strings, CSV cells and the two time formats.
#include <cstdio>
#include <cstdlib>

#include "probe/sample_writer.h"

std::string JsonString(std::string_view utf8)
{
    std::string out = "\"";
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string CsvCell(std::string_view utf8)
{
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string PdhCsvTime(const LocalTime& t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d.%03d", t.month, t.day, t.year, t.hour, t.minute,
                  t.second, t.millisecond);
    return text;
}

std::string IsoTime(const LocalTime& t)
{
    const int offset = std::abs(t.utcOffsetMinutes);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.millisecond, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}
