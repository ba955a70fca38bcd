// zeltor-exporter's command line, in the forms Prometheus' exporters take (--name VALUE and
// --name=VALUE), and the listen address's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ListenAddress {
    std::string host; // an IPv4 or IPv6 address; empty: every address of the machine
    std::uint16_t port = 0;

    bool operator==(const ListenAddress&) const = default;
};

// "address:port", "[v6address]:port" or ":port" (every address): the address or the problem.
std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* problem);
// The text ParseListenAddress reads.
std::string ListenAddressText(const ListenAddress& address);

struct ExporterOptions {
    std::string configPath = "/etc/zeltor-exporter/zeltor-exporter.yml";
    std::string webConfigPath;
    std::vector<ListenAddress> listen; // --web.listen-address, each; empty: the configuration's listen
    std::string logLevel = "info";     // debug, info, warn, error
    std::string logFormat = "logfmt";  // logfmt, json
    bool checkConfig = false;
    bool version = false;
    bool help = false;
};

// The options of arguments (without the program's name): empty, or the problem, naming the
// option it concerns.
std::optional<std::string> ParseExporterOptions(const std::vector<std::string>& arguments, ExporterOptions* options);

extern const char kExporterUsage[];
