#include "platform/linux/exporter/process_figures.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <vector>

std::optional<ProcessFigures> ReadProcessFigures(const std::string& procSelf, const std::string& procStat)
{
    std::ifstream statFile(procSelf + "/stat");
    std::string stat;
    if (!std::getline(statFile, stat))
        return std::nullopt;
    // The command's name may hold spaces and parentheses: the fields start after its last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream rest(stat.substr(close + 1));
    std::vector<std::string> fields; // fields[0] is the state, the third field of the line
    for (std::string field; rest >> field;)
        fields.push_back(field);
    if (fields.size() < 22)
        return std::nullopt;
    const auto number = [&](std::size_t fieldNumber) { return std::stod(fields[fieldNumber - 3]); };
    const auto ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    const auto pageSize = static_cast<double>(sysconf(_SC_PAGESIZE));
    ProcessFigures figures;
    try {
        figures.cpuSeconds = (number(14) + number(15)) / ticks;
        figures.virtualBytes = number(23);
        figures.residentBytes = number(24) * pageSize;
        std::ifstream bootFile(procStat);
        double bootTime = -1;
        for (std::string line; std::getline(bootFile, line);) {
            if (line.starts_with("btime "))
                bootTime = std::stod(line.substr(6));
        }
        if (bootTime < 0)
            return std::nullopt;
        figures.startTimeSeconds = bootTime + number(22) / ticks;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    DIR* descriptors = opendir((procSelf + "/fd").c_str());
    if (descriptors == nullptr)
        return std::nullopt;
    double open = 0;
    while (const dirent* entry = readdir(descriptors)) {
        if (entry->d_name[0] != '.')
            ++open;
    }
    closedir(descriptors);
    // Our own count holds the descriptor that reads the folder: not one the process keeps.
    figures.openDescriptors = procSelf == "/proc/self" ? open - 1 : open;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::nullopt;
    figures.maxDescriptors = limit.rlim_cur == RLIM_INFINITY ? 0 : static_cast<double>(limit.rlim_cur);
    return figures;
}
