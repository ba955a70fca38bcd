#include "platform/linux/exporter/yaml_config.h"

namespace yaml_config {

void Fail(const YAML::Node& node, const std::string& message)
{
    const YAML::Mark mark = node.Mark();
    throw Error{ (mark.line >= 0 ? "line " + std::to_string(mark.line + 1) + ": " : std::string()) + message };
}

void OnlyKeys(const YAML::Node& map, const std::string& what, const std::set<std::string>& known, bool listKnown)
{
    if (!map.IsMap())
        Fail(map, what + " must be a mapping");
    for (const auto& entry : map) {
        const auto key = entry.first.as<std::string>();
        if (known.contains(key))
            continue;
        std::string message = "unknown key " + key;
        message += " in " + what;
        if (listKnown) {
            std::string names;
            for (const std::string& name : known)
                names += (names.empty() ? "" : ", ") + name;
            message += " (this exporter knows: " + names + ")";
        }
        Fail(entry.first, message);
    }
}

} // namespace yaml_config
