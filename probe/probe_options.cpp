#include "probe/probe_options.h"

#include <charconv>
#include <cmath>

#include "perf/counter_path.h"

namespace {

constexpr double kMaxIntervalSeconds = 24 * 60 * 60;
constexpr std::uint32_t kMaxSamples = 1'000'000'000;

constexpr std::string_view kPasswordRefused =
    "the password is not taken from the command line, where other users of this computer can "
    "read it. Type it when asked (on a terminal), or give it on standard input with "
    "--password-stdin, or in a file that only you can read with --password-file=FILE";

// Options that would carry a password, refused with the reason whatever follows them.
constexpr std::string_view kPasswordOptions[] = { "-p", "--password", "--pass", "--passwd", "--pwd" };

struct OptionDefinition {
    char shortName; // 0: none
    std::string_view longName;
    bool takesValue;
};

constexpr OptionDefinition kOptions[] = {
    { 'h', "help", false },       { 'V', "version", false }, { 0, "list-dcs", false },  { 'f', "format", true },
    { 'i', "interval", true },    { 'n', "samples", true },  { 'u', "user", true },     { 0, "password-stdin", false },
    { 0, "password-file", true }, { 'w', "warning", true },  { 'c', "critical", true }, { 0, "health", false },
    { 0, "replication", false },
};

const OptionDefinition* FindLong(std::string_view name)
{
    for (const OptionDefinition& option : kOptions) {
        if (option.longName == name)
            return &option;
    }
    return nullptr;
}

const OptionDefinition* FindShort(char name)
{
    for (const OptionDefinition& option : kOptions) {
        if (option.shortName != 0 && option.shortName == name)
            return &option;
    }
    return nullptr;
}

bool IsPasswordOption(std::string_view arg)
{
    const std::string_view name = arg.substr(0, arg.find('='));
    for (std::string_view option : kPasswordOptions) {
        if (name == option)
            return true;
    }
    // -pSECRET
    return arg.size() > 2 && arg.starts_with("-p");
}

std::optional<OutputFormat> ParseFormat(std::string_view name)
{
    if (name == "table")
        return OutputFormat::Table;
    if (name == "csv")
        return OutputFormat::Csv;
    if (name == "json")
        return OutputFormat::Json;
    if (name == "prometheus")
        return OutputFormat::Prometheus;
    if (name == "nagios")
        return OutputFormat::Nagios;
    return std::nullopt;
}

// Seconds with an optional fraction, as whole milliseconds.
std::optional<std::uint32_t> ParseInterval(std::string_view text)
{
    double seconds = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), seconds, std::chars_format::fixed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds) ||
        seconds <= 0 || seconds > kMaxIntervalSeconds)
        return std::nullopt;
    const auto ms = static_cast<std::uint32_t>(std::llround(seconds * 1000));
    return ms > 0 ? std::optional(ms) : std::nullopt;
}

std::optional<std::uint32_t> ParseCount(std::string_view text)
{
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > kMaxSamples)
        return std::nullopt;
    return value;
}

// A counter path without its machine: \object(instance)\counter.
bool IsCounterPathWithoutMachine(const CString& path)
{
    if (!path.starts_with(u"\\") || path.starts_with(u"\\\\"))
        return false;
    return ParseCounterPath("\\\\machine" + path.ToUtf8()).has_value();
}

class Parser {
public:
    explicit Parser(const std::vector<CString>& args) : m_args(args) {}

    ParsedOptions Run()
    {
        std::vector<CString> positional;
        bool optionsEnded = false;
        for (m_next = 0; m_next < m_args.size() && m_result.error.empty();) {
            const CString& arg = m_args[m_next++];
            const std::string utf8 = arg.ToUtf8();
            if (optionsEnded || utf8 == "-" || !utf8.starts_with('-')) {
                if (utf8 == "/?")
                    m_result.options.help = true;
                else
                    positional.push_back(arg);
            } else if (utf8 == "--") {
                optionsEnded = true;
            } else if (IsPasswordOption(utf8)) {
                Fail(std::string(kPasswordRefused));
            } else if (utf8 == "-?") {
                m_result.options.help = true;
            } else if (utf8.starts_with("--")) {
                LongOption(utf8.substr(2));
            } else {
                ShortOption(utf8);
            }
        }
        if (m_result.error.empty())
            Check(positional);
        return std::move(m_result);
    }

private:
    void Fail(std::string message)
    {
        if (m_result.error.empty())
            m_result.error = std::move(message);
    }

    // --name, --name=VALUE, --name VALUE.
    void LongOption(std::string_view body)
    {
        const std::size_t equals = body.find('=');
        const std::string_view name = body.substr(0, equals);
        Option(FindLong(name), "--" + std::string(name),
               equals != std::string_view::npos ? std::optional(body.substr(equals + 1)) : std::nullopt);
    }

    // -x, -xVALUE, -x VALUE.
    void ShortOption(std::string_view arg)
    {
        Option(FindShort(arg[1]), std::string(arg.substr(0, 2)),
               arg.size() > 2 ? std::optional(arg.substr(2)) : std::nullopt);
    }

    // attached: the value written in the same argument as the option's name.
    void Option(const OptionDefinition* option, const std::string& shown, std::optional<std::string_view> attached)
    {
        if (option == nullptr)
            Fail("unknown option '" + shown + "'");
        else if (!option->takesValue && attached)
            Fail("option '" + shown + "' takes no value");
        else if (!option->takesValue)
            Apply(*option, {});
        else
            Apply(*option, attached ? CString::FromUtf8(*attached) : TakeValue(shown));
    }

    CString TakeValue(const std::string& option)
    {
        if (m_next >= m_args.size()) {
            Fail("option '" + option + "' needs a value");
            return {};
        }
        return m_args[m_next++];
    }

    void Apply(const OptionDefinition& option, const CString& value)
    {
        if (!m_result.error.empty())
            return;
        ProbeOptions& o = m_result.options;
        const std::string text = value.ToUtf8();
        const std::string_view name = option.longName;
        if (name == "help") {
            o.help = true;
        } else if (name == "version") {
            o.version = true;
        } else if (name == "list-dcs") {
            o.listDcs = true;
        } else if (name == "health") {
            o.health = true;
        } else if (name == "replication") {
            o.replication = true;
        } else if (name == "format") {
            o.format = ParseFormat(text);
            if (!o.format)
                Fail("unknown format '" + text + "': use table, csv, json, prometheus or nagios");
        } else if (name == "interval") {
            const auto ms = ParseInterval(text);
            if (ms)
                o.intervalMs = *ms;
            else
                Fail("'" + text + "' is not an interval: give seconds above 0 and at most 86400, e.g. 1 or 0.5");
        } else if (name == "samples") {
            const auto count = ParseCount(text);
            if (count)
                o.samples = *count;
            else
                Fail("'" + text + "' is not a number of samples: give a whole number, 0 for until interrupted");
        } else if (name == "user") {
            o.userName = value;
            if (value.IsEmpty())
                Fail("the user name is empty");
        } else if (name == "password-stdin") {
            SetPasswordSource(PasswordSource::StandardInput);
        } else if (name == "password-file") {
            SetPasswordSource(PasswordSource::File);
            o.passwordFile = value;
            if (value.IsEmpty())
                Fail("the password file's name is empty");
        } else if (name == "warning" || name == "critical") {
            Threshold(name == "warning" ? o.warnings : o.criticals, std::string(name), text);
        }
    }

    void SetPasswordSource(PasswordSource source)
    {
        if (m_result.options.passwordSource != PasswordSource::Terminal && m_result.options.passwordSource != source)
            Fail("give the password either on standard input or in a file, not both");
        m_result.options.passwordSource = source;
    }

    void Threshold(std::vector<ThresholdOption>& into, const std::string& option, const std::string& text)
    {
        const std::size_t equals = text.rfind('=');
        if (equals == std::string::npos && ParseThresholdRange(text)) {
            // A range alone: the clock offset's, which --health checks.
            into.push_back({ std::string(), *ParseThresholdRange(text) });
            return;
        }
        if (equals == std::string::npos || equals == 0) {
            Fail(CounterRangeNeeded(option));
            return;
        }
        auto range = ParseThresholdRange(std::string_view(text).substr(equals + 1));
        if (!range) {
            Fail("'" + text.substr(equals + 1) + "' is not a threshold range: use e.g. 80, 10:, ~:5, 10:20 or @10:20");
            return;
        }
        into.push_back({ text.substr(0, equals), std::move(*range) });
    }

    static std::string CounterRangeNeeded(const std::string& option)
    {
        return "--" + option + " takes COUNTER=RANGE, e.g. 1=80 or '\\Memory\\% Committed Bytes In Use=90'";
    }

    // --health DC: one check, no counter paths; the ranges are the clock offset's.
    void CheckHealth(const std::vector<CString>& positional)
    {
        ProbeOptions& o = m_result.options;
        if (o.listDcs)
            Fail("--health and --list-dcs do not go together");
        else if (positional.size() != 1)
            Fail("--health takes one domain controller and no counter paths");
        else if (o.format == OutputFormat::Csv)
            Fail("--health writes a table, json, prometheus or nagios");
        else if (o.samples != 1)
            Fail("--health checks once: leave out --samples");
        for (const auto* list : { &o.warnings, &o.criticals }) {
            for (const ThresholdOption& option : *list) {
                if (!option.counter.empty() && option.counter != "clock")
                    Fail(
                        "with --health, --warning and --critical take the clock offset's RANGE in seconds, e.g. -w 60 -c 240");
            }
        }
        if (m_result.error.empty())
            o.machine = positional.front();
    }

    // --replication DC: one read, no counter paths; the ranges are of how long a partner failed.
    void CheckReplication(const std::vector<CString>& positional)
    {
        ProbeOptions& o = m_result.options;
        if (o.listDcs || o.health)
            Fail("--replication goes with neither --list-dcs nor --health");
        else if (positional.size() != 1)
            Fail("--replication takes one domain controller and no counter paths");
        else if (o.format == OutputFormat::Csv)
            Fail("--replication writes a table, json, prometheus or nagios");
        else if (o.samples != 1)
            Fail("--replication reads once: leave out --samples");
        for (const auto* list : { &o.warnings, &o.criticals }) {
            for (const ThresholdOption& option : *list) {
                if (!option.counter.empty() && option.counter != "failing")
                    Fail("with --replication, --warning and --critical take a RANGE of seconds a partner has been "
                         "failing, e.g. -w 3600 -c 86400");
            }
        }
        if (m_result.error.empty())
            o.machine = positional.front();
    }

    void Check(const std::vector<CString>& positional)
    {
        ProbeOptions& o = m_result.options;
        if (o.help || o.version)
            return;
        if (o.userName.IsEmpty() && o.passwordSource != PasswordSource::Terminal) {
            Fail("a password is only used with --user");
            return;
        }
        if ((!o.warnings.empty() || !o.criticals.empty()) && o.format != OutputFormat::Nagios) {
            Fail("--warning and --critical are for --format=nagios");
            return;
        }
        if (o.replication) {
            CheckReplication(positional);
            return;
        }
        if (o.health) {
            CheckHealth(positional);
            return;
        }
        for (const auto* list : { &o.warnings, &o.criticals }) {
            for (const ThresholdOption& option : *list) {
                if (option.counter.empty()) {
                    Fail(CounterRangeNeeded(list == &o.warnings ? "warning" : "critical"));
                    return;
                }
            }
        }
        const bool nagios = o.format == OutputFormat::Nagios;
        if (o.listDcs) {
            if (!positional.empty())
                Fail("--list-dcs takes no machine and no counter paths");
            else if (o.format == OutputFormat::Prometheus || nagios)
                Fail("--list-dcs writes a table, csv or json");
            return;
        }
        if (positional.empty()) {
            Fail("no machine given");
            return;
        }
        o.machine = positional.front();
        o.paths.assign(positional.begin() + 1, positional.end());
        for (const CString& path : o.paths) {
            if (!IsCounterPathWithoutMachine(path)) {
                Fail("'" + path.ToUtf8() +
                     "' is not a counter path: write \\object(instance)\\counter without the machine, e.g. "
                     "'\\Memory\\Page Faults/sec'");
                return;
            }
        }
        if ((o.format == OutputFormat::Prometheus || nagios) && o.samples != 1)
            Fail(std::string("--format=") + (nagios ? "nagios" : "prometheus") +
                 " reports one sample: leave out --samples");
    }

    const std::vector<CString>& m_args;
    std::size_t m_next = 0;
    ParsedOptions m_result;
};

// The format asked for anywhere before "--", so that a plugin's bad command line still gets the
// plugin's answer.
std::optional<OutputFormat> FormatAsked(const std::vector<CString>& args)
{
    std::optional<OutputFormat> format;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string arg = args[i].ToUtf8();
        if (arg == "--")
            break;
        std::optional<OutputFormat> asked;
        if ((arg == "-f" || arg == "--format") && i + 1 < args.size())
            asked = ParseFormat(args[++i].ToUtf8());
        else if (arg.starts_with("--format="))
            asked = ParseFormat(std::string_view(arg).substr(9));
        else if (arg.starts_with("-f") && !arg.starts_with("--"))
            asked = ParseFormat(std::string_view(arg).substr(2));
        if (asked)
            format = asked;
    }
    return format;
}

} // namespace

ParsedOptions ParseProbeOptions(const std::vector<CString>& args)
{
    ParsedOptions parsed = Parser(args).Run();
    if (!parsed.error.empty())
        parsed.options.format = FormatAsked(args);
    return parsed;
}

std::string ProbeUsage(std::string_view programName)
{
    const std::string name(programName);
    return "Usage: " + name +
           " [OPTION...] MACHINE [COUNTER-PATH...]\n"
           "       " +
           name +
           " --list-dcs [--user=NAME] [--format=table|csv|json]\n"
           "       " +
           name +
           " --health [--user=NAME] [--format=table|json|prometheus|nagios] DC\n"
           "       " +
           name +
           " --replication [--user=NAME] [--format=table|json|prometheus|nagios] DC\n"
           "\n"
           "Reads the performance counters of MACHINE as the Zeltor window does, for scripts and\n"
           "monitoring systems. Without COUNTER-PATHs it reads the window's thirteen counters, in the\n"
           "window's order. A COUNTER-PATH names no machine: \\Object(Instance)\\Counter, for example\n"
           "'\\Memory\\Page Faults/sec'. MACHINE '.' or 'localhost' is this computer.\n"
           "\n"
           "Sampling:\n"
           "  -i, --interval=SECONDS     time between samples, fractions allowed (default 1)\n"
           "  -n, --samples=N            samples to take (default 1; 0: until interrupted). The first\n"
           "                             is taken one interval after the counters are set up, so that\n"
           "                             rates have a value.\n"
           "Output (standard output):\n"
           "  -f, --format=FORMAT        table    aligned text (the default on a terminal)\n"
           "                             csv      the system sampler's CSV (the default otherwise)\n"
           "                             json     one JSON object per sample, one per line\n"
           "                             prometheus  the Prometheus text format, one sample\n"
           "                             nagios   a Nagios/Icinga plugin's line, one sample\n"
           "  -w, --warning=COUNTER=RANGE   nagios: a warning threshold; COUNTER is a counter path\n"
           "  -c, --critical=COUNTER=RANGE  or its place in the list (1 for the first). RANGE as in\n"
           "                             plugins: 80 (alert above 80 or below 0), 10: (below 10),\n"
           "                             ~:80 (above 80), 10:80 (outside), @10:80 (inside).\n"
           "  A counter that cannot be added or read is shown as unavailable, never as 0.\n"
           "Credentials (a connection to \\\\MACHINE is opened first, as the window's Update does):\n"
           "  -u, --user=NAME            user name, as DOMAIN\\user or user@domain\n"
           "      --password-stdin       read the password from the first line of standard input\n"
           "      --password-file=FILE   read it from the first line of FILE, which no one but its\n"
           "                             owner (you) may be able to read\n"
           "  Without these two, the password is asked for on the terminal, without echo. It is\n"
           "  never taken from the command line, where other users can read it.\n"
           "Discovery:\n"
           "      --list-dcs             print the domain this computer has joined, then each of its\n"
           "                             domain controllers, one a line\n"
           "Health (--health DC: the domain controller's services, each checked at once, within 5 s):\n"
           "  LDAP's rootDSE at 389 and at the global catalog's 3268, a Kerberos (GSSAPI) bind with the\n"
           "  credentials and a read of the domain object, the controller's own KDC, its DNS server's\n"
           "  records of it, its clock (currentTime) and its SYSVOL and NETLOGON shares. Without --user,\n"
           "  the bind and the shares use your Kerberos ticket. With --format=nagios, -w and -c take a\n"
           "  RANGE of the clock offset's size in seconds (e.g. -w 60 -c 240).\n"
           "Replication (--replication DC: what the controller says of its inbound replication):\n"
           "  a line per naming context and partner: the last success, the consecutive failures and\n"
           "  the last attempt's result; the pending operations and the forest's tombstone lifetime\n"
           "  (60 days when the forest does not set it). Read over DRSUAPI with packet privacy as a\n"
           "  domain administrator or controller. With --format=nagios, -w and -c take a RANGE of the\n"
           "  seconds a partner has been failing (defaults -w 3600 -c 86400); a last success older\n"
           "  than the tombstone lifetime is CRITICAL, a controller that cannot be read UNKNOWN.\n"
           "  -h, --help                 show this text\n"
           "  -V, --version              show the version\n"
           "\n"
           "Exit status: 0 done; 1 the output could not be written; 2 bad command line; 3 no\n"
           "password; 4 the connection failed or the logon was refused; 5 the counters could not be\n"
           "initialized; 6 a collection failed (its sample shows every counter unavailable); 7 no\n"
           "domain or no controller found; 8 a health check failed; 9 a replication partner's last\n"
           "attempt failed; 130 interrupted. With\n"
           "--format=nagios: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n";
}
