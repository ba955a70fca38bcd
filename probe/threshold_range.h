// Threshold ranges as monitoring plugins take them (the Nagios plugin development guidelines):
// "[@]start:end". start defaults to 0 and may be "~" (no lower bound); an empty end has no upper
// bound; a range without ':' is "0:end". A value outside the range alerts, or inside it with '@'.
//   10     alert below 0 or above 10       10:     alert below 10
//   ~:10   alert above 10                  10:20   alert outside 10..20
//   @10:20 alert from 10 to 20, both included
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct ThresholdRange {
    std::optional<double> low;  // none: no lower bound
    std::optional<double> high; // none: no upper bound
    bool alertInside = false;   // '@'
    std::string text;           // as given, for the performance data
};

// Empty when text does not follow the syntax, or its start lies above its end.
std::optional<ThresholdRange> ParseThresholdRange(std::string_view text);

bool Alerts(const ThresholdRange& range, double value);
