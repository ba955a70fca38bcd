#include "perfd/perfd_options.h"

#include <getopt.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/linux/config/ini_file.h"
#include "platform/linux/shell/process_spawn.h"

namespace {

// STATEDIR of Debian's Samba (smbd -b), where it looks when smb.conf names none.
constexpr const char* kDebianStateDirectory = "/var/lib/samba";
// Where Debian installs Samba's programs (smbd -b: SBINDIR).
constexpr const char* kDebianSambaPrograms = "/usr/sbin/";
constexpr double kShortestInterval = 0.1;
constexpr double kLongestInterval = 3600.0;

constexpr const char* kUsage =
    "Usage: zeltor-perfd [OPTION]...\n"
    "Fills Samba's performance databases (STATE/perfmon/names.tdb and data.tdb) with this\n"
    "machine's counters, so that Samba's winreg server answers HKEY_PERFORMANCE_DATA as Windows\n"
    "does. Runs until SIGTERM or SIGINT, then empties the databases.\n"
    "\n"
    "  -s, --configfile=FILE   smb.conf to take the state directory from\n"
    "                          (default /etc/samba/smb.conf)\n"
    "      --state-dir=DIR     Samba's state directory (default: smb.conf's \"state directory\",\n"
    "                          else /var/lib/samba)\n"
    "  -i, --interval=SECONDS  time between updates, 0.1 to 3600 (default 1)\n"
    "      --lsass=NAME        the process that also answers as Process(lsass); empty for none\n"
    "                          (default samba: the process of a Samba AD DC that holds the\n"
    "                          directory); only a process that root runs from Samba's\n"
    "                          program may stand in\n"
    "      --lsass-program=PATH  the program it must run (default /usr/sbin/NAME, where\n"
    "                          Debian installs Samba's samba and smbd)\n"
    "      --processes=NAME[,NAME...]\n"
    "                          publish the processes of these instance names (besides\n"
    "                          _Total, the sums over every process, and lsass); default:\n"
    "                          those named as the lsass stand-in\n"
    "      --all-processes     publish every process (costs Samba's server about 0.25 ms\n"
    "                          of CPU per process at each answer)\n"
    "      --readers=GROUP     databases readable by root and this group alone (name or\n"
    "                          number; Samba reads them as each caller); default: by all\n"
    "      --proc=DIR          where procfs is mounted (default /proc)\n"
    "  -h, --help              this text\n"
    "  -V, --version           the version\n";

} // namespace

PerfdCommand ParsePerfdOptions(int argc, char** argv, PerfdOptions* options, std::string* message)
{
    enum { kStateDir = 1000, kLsass, kLsassProgram, kProcesses, kAllProcesses, kReaders, kProc };
    static const option kOptions[] = {
        { "configfile", required_argument, nullptr, 's' },
        { "state-dir", required_argument, nullptr, kStateDir },
        { "interval", required_argument, nullptr, 'i' },
        { "lsass", required_argument, nullptr, kLsass },
        { "lsass-program", required_argument, nullptr, kLsassProgram },
        { "processes", required_argument, nullptr, kProcesses },
        { "all-processes", no_argument, nullptr, kAllProcesses },
        { "readers", required_argument, nullptr, kReaders },
        { "proc", required_argument, nullptr, kProc },
        { "help", no_argument, nullptr, 'h' },
        { "version", no_argument, nullptr, 'V' },
        { nullptr, 0, nullptr, 0 },
    };
    optind = 0; // getopt's state starts afresh for each parse
    opterr = 0;
    for (;;) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the options are read once, before any thread starts.
        const int option = getopt_long(argc, argv, ":s:i:hV", kOptions, nullptr);
        if (option == -1)
            break;
        switch (option) {
        case 's':
            options->configFile = optarg;
            options->configFileGiven = true;
            break;
        case kStateDir:
            options->stateDirectory = optarg;
            break;
        case 'i': {
            char* end = nullptr;
            errno = 0;
            const double seconds = std::strtod(optarg, &end);
            if (errno != 0 || end == optarg || *end != '\0' || !std::isfinite(seconds) || seconds < kShortestInterval ||
                seconds > kLongestInterval) {
                *message = std::string("the interval must be a number of seconds from 0.1 to 3600: ") + optarg;
                return PerfdCommand::Error;
            }
            options->intervalSeconds = seconds;
            break;
        }
        case kLsass:
            options->lsassStandIn = optarg;
            break;
        case kLsassProgram:
            if (optarg[0] != '/') {
                *message = std::string("the program of the lsass stand-in must be an absolute path: ") + optarg;
                return PerfdCommand::Error;
            }
            options->lsassProgram = optarg;
            break;
        case kProcesses: {
            options->processes.clear();
            const std::string list = optarg;
            for (std::size_t start = 0; start <= list.size();) {
                std::size_t end = list.find(',', start);
                if (end == std::string::npos)
                    end = list.size();
                if (end > start)
                    options->processes.push_back(list.substr(start, end - start));
                start = end + 1;
            }
            if (options->processes.empty()) {
                *message = std::string("--processes needs at least one process name: ") + optarg;
                return PerfdCommand::Error;
            }
            break;
        }
        case kAllProcesses:
            options->allProcesses = true;
            break;
        case kReaders: {
            char* end = nullptr;
            errno = 0;
            const long number = std::strtol(optarg, &end, 10);
            if (errno == 0 && end != optarg && *end == '\0' && number >= 0) {
                options->readersGroup = number;
                break;
            }
            group entry{};
            group* found = nullptr;
            std::vector<char> buffer(16384);
            if (getgrnam_r(optarg, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
                *message = std::string("no such group: ") + optarg;
                return PerfdCommand::Error;
            }
            options->readersGroup = static_cast<long>(found->gr_gid);
            break;
        }
        case kProc:
            options->procRoot = optarg;
            break;
        case 'h':
            *message = kUsage;
            return PerfdCommand::Help;
        case 'V':
            return PerfdCommand::Version;
        case ':':
            *message = std::string("option ") + argv[optind - 1] + " needs a value";
            return PerfdCommand::Error;
        default:
            *message = std::string("unknown option ") + argv[optind - 1];
            return PerfdCommand::Error;
        }
    }
    if (optind < argc) {
        *message = std::string("unexpected argument ") + argv[optind];
        return PerfdCommand::Error;
    }
    if (options->allProcesses && !options->processes.empty()) {
        *message = "--processes and --all-processes exclude each other";
        return PerfdCommand::Error;
    }
    if (options->stateDirectory.empty() && options->configFileGiven && options->configFile.empty()) {
        *message = "the configuration file name is empty";
        return PerfdCommand::Error;
    }
    return PerfdCommand::Run;
}

bool ResolveStateDirectory(const PerfdOptions& options, std::string* directory, std::string* error)
{
    if (!options.stateDirectory.empty()) {
        *directory = options.stateDirectory;
        return true;
    }
    std::vector<IniSection> sections;
    int readError = 0;
    switch (ReadIniFile(options.configFile, &sections, &readError)) {
    case IniReadResult::Read:
        break;
    case IniReadResult::Missing:
        if (options.configFileGiven) {
            *error = "cannot read " + options.configFile + ": " + std::generic_category().message(ENOENT);
            return false;
        }
        *directory = kDebianStateDirectory;
        return true;
    case IniReadResult::Unreadable:
        *error = "cannot read " + options.configFile + ": " + std::generic_category().message(readError);
        return false;
    }
    const std::string* configured = FindIniValue(sections, "global", "statedirectory");
    *directory = configured != nullptr && !configured->empty() ? *configured : kDebianStateDirectory;
    return true;
}

std::optional<std::vector<std::string>> PublishedProcessNames(const PerfdOptions& options)
{
    if (options.allProcesses)
        return std::nullopt;
    if (!options.processes.empty())
        return options.processes;
    if (options.lsassStandIn.empty())
        return std::vector<std::string>{};
    return std::vector<std::string>{ options.lsassStandIn };
}

std::string FedConfigFile(const PerfdOptions& options)
{
    if (options.configFileGiven || (options.stateDirectory.empty() && access(options.configFile.c_str(), R_OK) == 0))
        return options.configFile;
    return {};
}

std::optional<int> RestrictAnonymous(const std::string& configFile)
{
    constexpr int kBoundMs = 10'000;
    const auto number = [](const std::string& text) -> std::optional<int> {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (errno != 0 || end == text.c_str() || (*end != '\0' && *end != '\n'))
            return std::nullopt;
        return static_cast<int>(value);
    };
    pid_t pid = -1;
    int output = -1;
    SpawnOptions spawn;
    spawn.captureOutput = true;
    if (SpawnProgram({ "testparm", "--suppress-prompt", "--parameter-name=restrict anonymous", configFile },
                     ChildEnvironment::FromProcess(), spawn, &pid, &output) == 0) {
        const std::string text = ReadAll(output, 256, kBoundMs);
        int code = -1;
        const ChildState state = WaitForChild(pid, kBoundMs, &code);
        if (state == ChildState::Running) {
            kill(pid, SIGKILL);
            WaitForChild(pid, kBoundMs, &code);
        } else if (state == ChildState::Exited && code == 0) {
            if (const std::optional<int> value = number(text))
                return value;
        }
    }
    std::vector<IniSection> sections;
    int readError = 0;
    if (ReadIniFile(configFile, &sections, &readError) != IniReadResult::Read)
        return std::nullopt;
    const std::string* value = FindIniValue(sections, "global", "restrictanonymous");
    return value == nullptr ? std::optional<int>(0) : number(*value);
}

std::string LsassProgram(const PerfdOptions& options)
{
    return options.lsassProgram.empty() ? kDebianSambaPrograms + options.lsassStandIn : options.lsassProgram;
}
