#include "tests/integration/remote_peer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "platform/linux/counters/proc_parsers.h"

namespace {

// Starts program; with input, its standard input is a pipe that gets input and is closed.
pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments, const std::string* input = nullptr)
{
    std::vector<char*> argv{ const_cast<char*>(program.c_str()) };
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipeFds[2] = { -1, -1 };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input != nullptr) {
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return -1;
        posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    }
    pid_t pid = -1;
    const bool started = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (input != nullptr) {
        close(pipeFds[0]);
        if (started && write(pipeFds[1], input->data(), input->size()) != static_cast<ssize_t>(input->size()))
            kill(pid, SIGTERM);
        close(pipeFds[1]);
    }
    return started ? pid : -1;
}

bool Succeeded(pid_t pid)
{
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> FillArguments(const std::string& perfmon, const std::vector<std::string>& extra)
{
    std::vector<std::string> arguments{ ZELTOR_FILL_PERFMON, perfmon };
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

} // namespace

std::map<std::string, std::string> ReadPeerState(const char* variable)
{
    const char* path = std::getenv(variable);
    return ReadStateFile(path != nullptr ? path : "");
}

std::map<std::string, std::string> ReadStateFile(const std::string& path)
{
    std::map<std::string, std::string> state;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            state[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return state;
}

bool FillPerfmon(const std::string& perfmon, const std::vector<std::string>& arguments)
{
    return Succeeded(Spawn("/usr/bin/python3", FillArguments(perfmon, arguments)));
}

bool EmptyPerfmon(const std::string& perfmon)
{
    bool removed = true;
    for (const char* name : { "/names.tdb", "/data.tdb" })
        removed = (unlink((perfmon + name).c_str()) == 0 || errno == ENOENT) && removed;
    return removed;
}

PerfmonFiller::PerfmonFiller(const std::string& perfmon, int seconds)
    : m_pid(Spawn("/usr/bin/python3", FillArguments(perfmon, { "--every", "0.5", "--for", std::to_string(seconds) })))
{
}

PerfmonFiller::~PerfmonFiller()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

std::string StandInLsassName()
{
    return "lsass-" + std::to_string(getpid());
}

namespace {

bool IsPid(const std::string& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The parent of process pid, from its stat line ("pid (comm) state ppid ..."); 0 when unknown.
pid_t ParentOf(const std::string& pid)
{
    std::ifstream file("/proc/" + pid + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    fields >> state >> parent;
    return parent;
}

// A directory that reads as /proc, but for the processes: every other entry is a link to
// /proc's own ("self" among them, which then names the reader), and of the processes only this
// one's children have a directory, of links to their entries. Empty when it could not be made.
std::string MakeProcView()
{
    char path[] = "/tmp/zeltor-proc-view.XXXXXX";
    if (mkdtemp(path) == nullptr)
        return {};
    const std::filesystem::path view = path;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (!IsPid(name)) {
            std::filesystem::create_symlink(entry.path(), view / name, error);
        } else if (ParentOf(name) == getpid()) {
            std::filesystem::create_directory(view / name, error);
            for (const auto& file : std::filesystem::directory_iterator(entry.path(), error)) {
                // The program a process runs reads as its own, not as a link into /proc.
                const bool program = file.path().filename() == "exe";
                const std::filesystem::path target =
                    program ? std::filesystem::read_symlink(file.path(), error) : file.path();
                std::filesystem::create_symlink(target, view / name / file.path().filename(), error);
            }
        }
    }
    return view;
}

} // namespace

PerfdRunner::PerfdRunner(const std::string& stateDirectory, const std::string& lsass)
{
    // Running once both of its databases are there: whatever another test left goes first (the
    // provider publishes data.tdb before names.tdb, and old names would not match new data).
    const std::string perfmon = stateDirectory + "/perfmon";
    EmptyPerfmon(perfmon);
    std::vector<std::string> arguments{ "--state-dir", stateDirectory, "--interval", "0.5", "--lsass", lsass };
    if (!lsass.empty()) {
        // The stand-in is a child of this test, run by root from this test's program.
        m_procView = MakeProcView();
        std::error_code error;
        const std::string program = std::filesystem::read_symlink("/proc/self/exe", error);
        arguments.insert(arguments.end(), { "--proc", m_procView, "--lsass-program", program });
    }
    m_pid = m_procView.empty() && !lsass.empty() ? -1 : Spawn(ZELTOR_PERFD, arguments);
    const auto published = [&] {
        return access((perfmon + "/data.tdb").c_str(), F_OK) == 0 &&
               access((perfmon + "/names.tdb").c_str(), F_OK) == 0;
    };
    for (int i = 0; i < 100 && m_pid > 0 && !published(); ++i)
        usleep(50'000);
    if (!published() && m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

PerfdRunner::~PerfdRunner()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    if (!m_procView.empty()) {
        // Links and directories only: nothing they lead to is removed.
        std::error_code ignored;
        std::filesystem::remove_all(m_procView, ignored);
    }
}

int CommittedPercent()
{
    std::ifstream file("/proc/meminfo");
    const std::string meminfo((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::optional<CommitCharge> charge = ParseCommitCharge(meminfo);
    return charge && charge->limitKb > 0 ? static_cast<int>(100 * charge->committedKb / charge->limitKb) : -1;
}

CommittedPercentWatch::CommittedPercentWatch()
{
    m_lowest = m_highest = CommittedPercent();
    m_sampler = std::thread([this] {
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    return;
            }
            Sample();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
}

CommittedPercentWatch::~CommittedPercentWatch()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_sampler.join();
}

void CommittedPercentWatch::Sample()
{
    const int figure = CommittedPercent();
    std::lock_guard lock(m_mutex);
    m_lowest = std::min(m_lowest, figure);
    m_highest = std::max(m_highest, figure);
}

int CommittedPercentWatch::Nearest(int value)
{
    Sample();
    std::lock_guard lock(m_mutex);
    return std::clamp(value, m_lowest, m_highest);
}

bool RunScript(const std::string& script, const std::vector<std::string>& arguments, const std::string& input)
{
    return Succeeded(Spawn(script, arguments, input.empty() ? nullptr : &input));
}

int RefusedLogons(const std::string& peerDirectory)
{
    std::vector<std::string> logs = { peerDirectory + "/smbd.out" };
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(peerDirectory + "/log", error))
        logs.push_back(entry.path());
    int refused = 0;
    for (const std::string& path : logs) {
        std::ifstream log(path);
        for (std::string line; std::getline(log, line);) {
            if (line.find("Auth: ") != std::string::npos && line.find(" status [NT_STATUS_") != std::string::npos &&
                line.find(" status [NT_STATUS_OK]") == std::string::npos)
                ++refused;
        }
    }
    return refused;
}

ChangedPassword::ChangedPassword(const std::string& state, const std::string& password, std::string original)
    : m_state(state), m_original(std::move(original))
{
    m_changed = RunScript(ZELTOR_RUN_SMBD, { "password", m_state, password });
}

ChangedPassword::~ChangedPassword()
{
    if (m_changed)
        RunScript(ZELTOR_RUN_SMBD, { "password", m_state, m_original });
}

PdhFormattedValue LongValue(ICounterSource& source, PdhCounter* counter)
{
    PdhFormattedValue value;
    value.CStatus = 0xFFFFFFFF;
    source.GetFormattedCounterValue(counter, PDH_FMT_LONG_FORMAT, &value);
    return value;
}
