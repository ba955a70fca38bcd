#include "probe/threshold_range.h"

#include <charconv>
#include <cmath>

namespace {

// A whole decimal number with an optional sign and fraction, nothing else.
std::optional<double> ParseNumber(std::string_view text)
{
    if (text.empty() || text.front() == '+')
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<ThresholdRange> ParseThresholdRange(std::string_view text)
{
    ThresholdRange range;
    range.text = text;
    if (text.starts_with('@')) {
        range.alertInside = true;
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        range.low = 0.0;
        range.high = ParseNumber(text);
        if (!range.high)
            return std::nullopt;
    } else {
        const std::string_view start = text.substr(0, colon);
        const std::string_view end = text.substr(colon + 1);
        if (start == "~") {
            range.low.reset();
        } else if (start.empty()) {
            range.low = 0.0;
        } else {
            range.low = ParseNumber(start);
            if (!range.low)
                return std::nullopt;
        }
        if (!end.empty()) {
            range.high = ParseNumber(end);
            if (!range.high)
                return std::nullopt;
        }
    }
    if (range.low && range.high && *range.low > *range.high)
        return std::nullopt;
    return range;
}

bool Alerts(const ThresholdRange& range, double value)
{
    const bool inside = (!range.low || value >= *range.low) && (!range.high || value <= *range.high);
    return range.alertInside ? inside : !inside;
}
