// What the exporter's two YAML files (its configuration and the web configuration) share in
// reading them: a mistake is reported with the line it is on, and a key the reader does not
// know is a mistake, never silently dropped.
#pragma once

#include <yaml-cpp/yaml.h>

#include <optional>
#include <set>
#include <string>

namespace yaml_config {

// A mistake in the file, with its message for the user.
struct Error {
    std::string message;
};

// Throws Error: "line N: message" (the node's line), or the message alone when it has none.
[[noreturn]] void Fail(const YAML::Node& node, const std::string& message);

// Throws Error when map is not a mapping or has a key outside known; with listKnown, the message
// names the keys that are known.
void OnlyKeys(const YAML::Node& map, const std::string& what, const std::set<std::string>& known,
              bool listKnown = false);

// Parses text and hands its root to read (which throws Error); the message of the first mistake,
// yaml-cpp's own included, or nothing.
template <typename Read>
std::optional<std::string> Parse(const std::string& text, Read&& read)
{
    try {
        read(YAML::Load(text));
    } catch (const Error& error) {
        return error.message;
    } catch (const YAML::Exception& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

} // namespace yaml_config
