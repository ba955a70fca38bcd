// The command line of zeltor-perfd, and where Samba keeps its state.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct PerfdOptions {
    std::string configFile = "/etc/samba/smb.conf";
    bool configFileGiven = false;
    std::string stateDirectory; // empty: smb.conf's "state directory"
    double intervalSeconds = 1.0;
    std::string lsassStandIn = "samba";
    // The program the stand-in for lsass must run; empty: Samba's, /usr/sbin/NAME.
    std::string lsassProgram;
    std::string procRoot = "/proc";
    // The process instances published, by name (ASCII case ignored), besides _Total and the
    // stand-in for lsass; empty: those named as the stand-in (PublishedProcessNames).
    std::vector<std::string> processes;
    bool allProcesses = false; // every process instead
    // The group whose members alone, besides root, may read the databases (mode 0640); -1:
    // everyone (0644). Samba's server opens them as each caller's Unix user.
    long readersGroup = -1;
};

enum class PerfdCommand {
    Run,
    Help,
    Version,
    Error, // the message says what is wrong with the command line
};

// Reads argv into *options; *message is the help text, or what is wrong.
PerfdCommand ParsePerfdOptions(int argc, char** argv, PerfdOptions* options, std::string* message);

// Samba's state directory: the one given, else smb.conf's "state directory", else Samba's
// default on Debian. False with the reason when a configuration file named on the command line
// cannot be read.
bool ResolveStateDirectory(const PerfdOptions& options, std::string* directory, std::string* error);

// The names of the process instances published besides _Total and the stand-in for lsass (ASCII
// case ignored), or none for every process. By default the stand-in's name alone: on a domain
// controller the directory's processes, since what Samba's server spends on an answer grows with
// the instances (docs/performance.md).
std::optional<std::vector<std::string>> PublishedProcessNames(const PerfdOptions& options);

// The smb.conf whose Samba the provider feeds, when it knows it: the one given with -s, or the
// default one when the state directory is taken from it; empty otherwise.
std::string FedConfigFile(const PerfdOptions& options);

// Samba's "restrict anonymous" in that smb.conf, as testparm gives it (includes and defaults
// applied), else as the file says (0 when it says nothing, Samba's default); empty when
// neither can be read. Below 2, anonymous sessions may read HKEY_PERFORMANCE_DATA.
std::optional<int> RestrictAnonymous(const std::string& configFile);

// The program that a process must run, as root, to stand in for lsass.
std::string LsassProgram(const PerfdOptions& options);
