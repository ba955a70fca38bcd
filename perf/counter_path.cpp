#include "perf/counter_path.h"

#include <charconv>

std::optional<CounterPath> ParseCounterPath(std::string_view path)
{
    if (!path.starts_with("\\\\"))
        return std::nullopt;
    path.remove_prefix(2);
    const std::size_t machineEnd = path.find('\\');
    const std::size_t counterStart = path.rfind('\\');
    if (machineEnd == std::string_view::npos || machineEnd == 0 || counterStart == machineEnd)
        return std::nullopt;

    CounterPath parsed;
    parsed.machine = path.substr(0, machineEnd);
    parsed.counter = path.substr(counterStart + 1);
    std::string_view object = path.substr(machineEnd + 1, counterStart - machineEnd - 1);
    if (parsed.counter.empty() || object.empty())
        return std::nullopt;

    const std::size_t open = object.find('(');
    if (open != std::string_view::npos) {
        if (object.back() != ')')
            return std::nullopt;
        std::string_view instance = object.substr(open + 1, object.size() - open - 2);
        object = object.substr(0, open);
        const std::size_t slash = instance.find('/');
        if (slash != std::string_view::npos) {
            parsed.parent = instance.substr(0, slash);
            instance.remove_prefix(slash + 1);
        }
        const std::size_t hash = instance.rfind('#');
        if (hash != std::string_view::npos) {
            const std::string_view digits = instance.substr(hash + 1);
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed.index);
            if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || parsed.index < 0)
                return std::nullopt;
            instance = instance.substr(0, hash);
        }
        if (instance.empty())
            return std::nullopt;
        parsed.hasInstance = true;
        parsed.instance = instance;
    } else if (object.find(')') != std::string_view::npos) {
        return std::nullopt;
    }
    if (object.empty())
        return std::nullopt;
    parsed.object = object;
    return parsed;
}
