#include "exporter/exporter_options.h"

#include <charconv>

const char kExporterUsage[] =
    "Usage: zeltor-exporter [--config FILE] [--web.config.file FILE] [--web.listen-address ADDRESS]...\n"
    "                       [--log.level LEVEL] [--log.format FORMAT] [--check-config]\n"
    "Serves the performance counters of Windows domain controllers to Prometheus:\n"
    "GET /probe?target=HOST&module=NAME&auth=NAME, the exporter's own figures on /metrics,\n"
    "an auth's targets for Prometheus' discovery on /sd?auth=NAME.\n\n"
    "  --config FILE   the configuration (default /etc/zeltor-exporter/zeltor-exporter.yml)\n"
    "  --web.config.file FILE\n"
    "                  TLS and basic authentication, as Prometheus' exporters take them\n"
    "  --web.listen-address ADDRESS\n"
    "                  address:port, [v6address]:port or :port to listen on, instead of the\n"
    "                  configuration's listen; may be given more than once\n"
    "  --log.level LEVEL\n"
    "                  debug, info, warn or error (default info)\n"
    "  --log.format FORMAT\n"
    "                  logfmt or json (default logfmt)\n"
    "  --check-config  read the configuration, the password files and keytabs and the web configuration,\n"
    "                  then end\n"
    "  --version       show the version\n"
    "SIGHUP or POST /-/reload reads the configuration, the web configuration's users and the secret files again.\n";

std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string* problem)
{
    const auto refuse = [&] {
        *problem = "\"" + std::string(text) + "\" is not address:port, [v6address]:port or :port";
        return std::nullopt;
    };
    std::string_view host, port;
    if (text.starts_with('[')) {
        const auto close = text.find("]:");
        if (close == std::string_view::npos)
            return refuse();
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        if (host.empty())
            return refuse();
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string_view::npos || text.find(':') != colon)
            return refuse();
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    unsigned long number = 0;
    const auto result = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || result.ec != std::errc() || result.ptr != port.data() + port.size() || number > 65535)
        return refuse();
    return ListenAddress{ std::string(host), static_cast<std::uint16_t>(number) };
}

std::string ListenAddressText(const ListenAddress& address)
{
    const std::string port = std::to_string(address.port);
    if (address.host.find(':') != std::string::npos)
        return "[" + address.host + "]:" + port;
    return address.host + ":" + port;
}

std::optional<std::string> ParseExporterOptions(const std::vector<std::string>& arguments, ExporterOptions* options)
{
    ExporterOptions read;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> value;
        if (const auto equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.erase(equals);
        }
        const auto takeValue = [&]() -> std::optional<std::string> {
            if (value)
                return value;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        const auto flag = [&](bool* field) -> std::optional<std::string> {
            if (value)
                return "option " + name + " takes no value";
            *field = true;
            return std::nullopt;
        };
        std::optional<std::string> problem;
        if (name == "--config" || name == "--config.file" || name == "--web.config.file" ||
            name == "--web.listen-address" || name == "--log.level" || name == "--log.format") {
            const std::optional<std::string> given = takeValue();
            if (!given)
                return "option " + name + " needs a value";
            if (name == "--config" || name == "--config.file") {
                read.configPath = *given;
            } else if (name == "--web.config.file") {
                read.webConfigPath = *given;
            } else if (name == "--web.listen-address") {
                std::string why;
                const std::optional<ListenAddress> address = ParseListenAddress(*given, &why);
                if (!address)
                    return "option --web.listen-address: " + why;
                read.listen.push_back(*address);
            } else if (name == "--log.level") {
                if (*given != "debug" && *given != "info" && *given != "warn" && *given != "error")
                    return "option --log.level: \"" + *given + "\" is not debug, info, warn or error";
                read.logLevel = *given;
            } else {
                if (*given != "logfmt" && *given != "json")
                    return "option --log.format: \"" + *given + "\" is not logfmt or json";
                read.logFormat = *given;
            }
        } else if (name == "--check-config") {
            problem = flag(&read.checkConfig);
        } else if (name == "--version") {
            problem = flag(&read.version);
        } else if (name == "--help" || name == "-h") {
            problem = flag(&read.help);
        } else if (name.starts_with("-")) {
            return "unknown option " + name;
        } else {
            return "unexpected argument \"" + name + "\"";
        }
        if (problem)
            return problem;
    }
    *options = std::move(read);
    return std::nullopt;
}
