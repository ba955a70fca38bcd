// zeltor-perfd as a service: its command line, a state directory it cannot write, a clean stop
// by signal, and databases removed or replaced while it runs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tdb.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <system_error>
#include <thread>

#include "tests/linux/test_support.h"

namespace {

constexpr int kPolls = 100; // of 50 ms: the bound of every wait here

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Pause()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// The program started with arguments, its output in files of a folder of its own.
class Perfd {
public:
    explicit Perfd(std::vector<std::string> arguments, std::vector<std::string> prefix = {})
    {
        std::vector<std::string> all = std::move(prefix);
        all.emplace_back(ZELTOR_PERFD);
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        argv.reserve(all.size() + 1);
        for (std::string& argument : all)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, Out().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, Err().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(posix_spawnp(&m_pid, argv[0], &files, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&files);
    }
    ~Perfd()
    {
        if (m_pid > 0 && !m_ended) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    // The exit status once it ended within the bound, or -1.
    int Wait()
    {
        for (int poll = 0; poll < kPolls && !m_ended; ++poll) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_ended = true;
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else {
                Pause();
            }
        }
        return m_ended ? m_status : -1;
    }
    int Stop(int signal)
    {
        kill(m_pid, signal);
        return Wait();
    }
    std::string Output() const { return ReadFile(Out()); }
    std::string Log() const { return ReadFile(Err()); }

private:
    std::string Out() const { return m_output.path() + "/out"; }
    std::string Err() const { return m_output.path() + "/err"; }

    TempDir m_output;
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_status = -1;
};

// The records of a database as tdbdump shows them ("key(N) = ..." lines), empty when it cannot
// be read.
std::string Dump(const std::string& path)
{
    return CommandOutput("tdbdump '" + path + "'");
}

// Whether the predicate came true within the bound.
template <typename Predicate>
bool Eventually(Predicate predicate)
{
    for (int poll = 0; poll < kPolls; ++poll) {
        if (predicate())
            return true;
        Pause();
    }
    return predicate();
}

bool Published(const std::string& state)
{
    return Dump(state + "/perfmon/names.tdb").find("key(1) = \"1\"") != std::string::npos &&
           Dump(state + "/perfmon/data.tdb").find("key(9) = \"0PerfTime\"") != std::string::npos;
}

// Every record of a published database, as Samba's server reads it (read-only, no locks).
std::map<std::string, std::string> Records(const std::string& path)
{
    std::map<std::string, std::string> records;
    tdb_context* tdb = tdb_open(path.c_str(), 0, TDB_DEFAULT, O_RDONLY, 0);
    if (tdb == nullptr)
        return records;
    tdb_traverse_read(
        tdb,
        [](tdb_context*, TDB_DATA key, TDB_DATA value, void* all) {
            (*static_cast<std::map<std::string, std::string>*>(
                all))[std::string(reinterpret_cast<char*>(key.dptr), key.dsize)] =
                std::string(reinterpret_cast<char*>(value.dptr), value.dsize);
            return 0;
        },
        &records);
    tdb_close(tdb);
    return records;
}

// The Process instances published: name, ID Process and Handle Count (DWORDs laid out in a C
// long), _Total first.
struct ProcessInstance {
    std::string name;
    unsigned long pid = 0;
    unsigned long handles = 0;
};
std::vector<ProcessInstance> ProcessInstances(const std::string& state)
{
    const auto names = Records(state + "/perfmon/names.tdb");
    const auto data = Records(state + "/perfmon/data.tdb");
    std::vector<ProcessInstance> instances;
    const auto count = names.find("230inst");
    for (int k = 0; count != names.end() && k < std::atoi(count->second.c_str()); ++k) {
        const auto name = names.find("230i" + std::to_string(k) + "name");
        const auto block = data.find("230i" + std::to_string(k));
        if (name == names.end() || block == data.end() || block->second.size() != 2 * sizeof(long))
            return {};
        ProcessInstance instance{ name->second };
        std::memcpy(&instance.pid, block->second.data(), sizeof(long));
        std::memcpy(&instance.handles, block->second.data() + sizeof(long), sizeof(long));
        instances.push_back(instance);
    }
    return instances;
}

} // namespace

TEST(PerfdService, PublishesTheStandInsProcessesAloneUnlessAskedForEveryProcess)
{
    // By default only the processes named as the stand-in for lsass (here sleep, which no
    // process may stand in as: it is no Samba program) are published, yet Process(_Total) sums
    // every process of the machine, this test's among them.
    pid_t sleeper = 0;
    const char* sleep[] = { "sleep", "100", nullptr };
    ASSERT_EQ(posix_spawnp(&sleeper, "sleep", nullptr, nullptr, const_cast<char**>(sleep), environ), 0);
    const auto has = [](const std::vector<ProcessInstance>& instances, unsigned long pid) {
        return std::any_of(instances.begin(), instances.end(), [&](const ProcessInstance& i) { return i.pid == pid; });
    };
    TempDir state;
    {
        Perfd perfd({ "--state-dir", state.path(), "--interval", "0.1", "--lsass", "sleep" });
        std::vector<ProcessInstance> instances;
        EXPECT_TRUE(Eventually([&] { return has(instances = ProcessInstances(state.path()), sleeper); }))
            << perfd.Log();
        ASSERT_FALSE(instances.empty());
        EXPECT_EQ(instances[0].name, "_Total");
        unsigned long published = 0;
        for (std::size_t k = 1; k < instances.size(); ++k) {
            EXPECT_EQ(instances[k].name, "sleep");
            published += instances[k].handles;
        }
        EXPECT_FALSE(has(instances, static_cast<unsigned long>(getpid())));
        // This test alone holds more than 2 descriptors (its standard ones and the database).
        EXPECT_GT(instances[0].handles, published + 2);
        EXPECT_EQ(perfd.Stop(SIGTERM), 0);
    }
    {
        Perfd perfd({ "--state-dir", state.path(), "--interval", "0.1", "--lsass", "sleep", "--all-processes" });
        EXPECT_TRUE(Eventually([&] {
            return has(ProcessInstances(state.path()), static_cast<unsigned long>(getpid()));
        })) << perfd.Log();
        EXPECT_EQ(perfd.Stop(SIGTERM), 0);
    }
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
}

TEST(PerfdService, CommandLinesItCannotRunWithSayWhy)
{
    for (const auto& [arguments, message] :
         { std::pair<std::vector<std::string>, std::string>{
               { "--interval", "0" }, "the interval must be a number of seconds from 0.1 to 3600: 0" },
           { { "-i", "1s" }, "the interval must be a number of seconds from 0.1 to 3600: 1s" },
           { { "--colour" }, "unknown option --colour" },
           { { "--lsass" }, "option --lsass needs a value" },
           { { "--lsass-program", "sbin/samba" },
             "the program of the lsass stand-in must be an absolute path: sbin/samba" },
           { { "--processes", "," }, "--processes needs at least one process name: ," },
           { { "--processes", "samba", "--all-processes" }, "--processes and --all-processes exclude each other" },
           { { "--readers", "zeltor-no-such-group" }, "no such group: zeltor-no-such-group" },
           { { "now" }, "unexpected argument now" } }) {
        Perfd perfd(arguments);
        EXPECT_EQ(perfd.Wait(), 2) << message;
        EXPECT_EQ(perfd.Log(), "zeltor-perfd: " + message + "\nTry 'zeltor-perfd --help'.\n");
    }
    Perfd help({ "--help" });
    EXPECT_EQ(help.Wait(), 0);
    EXPECT_NE(help.Output().find("--state-dir=DIR"), std::string::npos);
    Perfd version({ "-V" });
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_EQ(version.Output().rfind("zeltor-perfd ", 0), 0u);
}

TEST(PerfdService, AStateDirectoryItCannotWriteEndsItWithAReason)
{
    TempDir state;
    {
        Perfd perfd({ "--state-dir", state.path() + "/missing" });
        EXPECT_EQ(perfd.Wait(), 1);
        EXPECT_EQ(perfd.Log(), "zeltor-perfd: cannot write the performance databases: cannot make " + state.path() +
                                   "/missing/perfmon: No such file or directory\n");
    }
    {
        // data.tdb cannot be replaced: a folder is in its place.
        std::filesystem::create_directories(state.path() + "/perfmon/data.tdb");
        Perfd perfd({ "--state-dir", state.path() });
        EXPECT_EQ(perfd.Wait(), 1);
        EXPECT_EQ(perfd.Log(), "zeltor-perfd: cannot write the performance databases: cannot write " + state.path() +
                                   "/perfmon/data.tdb: Is a directory\n");
        std::filesystem::remove_all(state.path() + "/perfmon");
    }
    {
        Perfd perfd({ "-s", state.path() + "/smb.conf" });
        EXPECT_EQ(perfd.Wait(), 1);
        EXPECT_EQ(perfd.Log(), "zeltor-perfd: cannot read " + state.path() + "/smb.conf: No such file or directory\n");
    }
    // A folder of root's, to a user that may not write in it.
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to run the program as another user";
    std::filesystem::permissions(state.path(), std::filesystem::perms(0755));
    Perfd perfd({ "--state-dir", state.path() },
                { "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--" });
    EXPECT_EQ(perfd.Wait(), 1);
    EXPECT_EQ(perfd.Log(), "zeltor-perfd: cannot write the performance databases: cannot make " + state.path() +
                               "/perfmon: Permission denied\n");
}

TEST(PerfdService, StopsCleanlyBySignalAndLeavesNoOldFigures)
{
    for (const int signal : { SIGTERM, SIGINT }) {
        TempDir state;
        // The state directory as smb.conf names it.
        std::ofstream(state.path() + "/smb.conf")
            << "[global]\n\tstate directory = " << state.path() << "\n\trestrict anonymous = 2\n";
        Perfd perfd({ "-s", state.path() + "/smb.conf", "--interval", "0.1" });
        ASSERT_TRUE(Eventually([&] { return Published(state.path()); })) << perfd.Log();
        EXPECT_EQ(perfd.Stop(signal), 0);
        // What it published (for the measurements), then that it stopped.
        const std::string log = perfd.Log();
        const std::string started =
            "zeltor-perfd: writing this machine's counters to " + state.path() + "/perfmon every 0.1 s\n";
        EXPECT_EQ(log.substr(0, started.size()), started);
        EXPECT_TRUE(std::regex_match(log.substr(std::min(started.size(), log.size())),
                                     std::regex("zeltor-perfd: [0-9]+ samples published, [0-9]+ waited for an answer "
                                                "to end \\(at most [0-9]+ µs\\), [0-9]+ passed over, [0-9]+ "
                                                "published during one, [0-9]+ answers waited for that opened "
                                                "the names as they went out\n"
                                                "zeltor-perfd: stopped by " +
                                                std::string(signal == SIGTERM ? "SIGTERM" : "SIGINT") +
                                                "; the databases are emptied\n")))
            << log;
        // Both published, empty: Samba's server answers with no counters.
        EXPECT_TRUE(std::filesystem::exists(state.path() + "/perfmon/names.tdb"));
        EXPECT_EQ(Dump(state.path() + "/perfmon/names.tdb"), "");
        EXPECT_EQ(Dump(state.path() + "/perfmon/data.tdb"), "");
        // And the working copies are gone: only the two databases remain.
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(state.path() + "/perfmon"))
            files += entry.path().filename().string().rfind(".zeltor-perfd", 0) == 0 ? 100 : 1;
        EXPECT_EQ(files, 2);
    }
}

TEST(PerfdService, WarnsAtStartWhenTheSambaItFeedsLetsAnonymousSessionsRead)
{
    // Samba's default (0) and 1 let a session without a user read HKEY_PERFORMANCE_DATA; 2
    // refuses it. An include is followed (testparm reads the configuration as Samba does).
    for (const auto& [lines, warned] : { std::pair<std::string, const char*>{ "", "0" },
                                         { "\trestrict anonymous = 1\n", "1" },
                                         { "\tinclude = INCLUDED\n", nullptr },
                                         { "\trestrict anonymous = 2\n", nullptr } }) {
        TempDir state;
        std::string text = lines;
        if (const std::size_t at = text.find("INCLUDED"); at != std::string::npos)
            text.replace(at, 8, state.Write("included.conf", "[global]\n\trestrict anonymous = 2\n"));
        std::ofstream(state.path() + "/smb.conf") << "[global]\n\tstate directory = " << state.path() << "\n" << text;
        Perfd perfd({ "-s", state.path() + "/smb.conf", "--interval", "0.1" });
        ASSERT_TRUE(Eventually([&] { return Published(state.path()); })) << perfd.Log();
        EXPECT_EQ(perfd.Stop(SIGTERM), 0);
        const std::string warning = "zeltor-perfd: warning: " + state.path() +
                                    "/smb.conf lets anonymous sessions read these counters, the list of processes "
                                    "included (restrict anonymous = " +
                                    (warned ? warned : "") +
                                    "); \"restrict anonymous = 2\" in its [global] section refuses them\n";
        EXPECT_EQ(perfd.Log().find(warning) != std::string::npos, warned != nullptr) << lines << perfd.Log();
        EXPECT_EQ(perfd.Log().find("warning") != std::string::npos, warned != nullptr) << lines << perfd.Log();
    }
}

TEST(PerfdService, WithReadersTheDatabasesAreReadByThatGroupAndRootAlone)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to run a reader as other users";
    TempDir state;
    std::filesystem::permissions(state.path(), std::filesystem::perms(0755));
    // Every open in perfmon/ waits for this test's leave, and the test looks at the file then:
    // the working copies as they are made, before the program can change their mode.
    const std::string perfmon = state.path() + "/perfmon";
    ASSERT_EQ(mkdir(perfmon.c_str(), 0755), 0);
    const int watch = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY);
    ASSERT_GE(watch, 0) << std::generic_category().message(errno);
    ASSERT_EQ(fanotify_mark(watch, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD, perfmon.c_str()), 0);
    std::atomic<bool> watching = true;
    std::vector<mode_t> madeWith; // the modes of the working copies at their first open
    std::thread watcher([&] {
        while (watching) {
            pollfd ready{ watch, POLLIN, 0 };
            if (poll(&ready, 1, 20) <= 0)
                continue;
            alignas(fanotify_event_metadata) char buffer[4096];
            const ssize_t length = read(watch, buffer, sizeof buffer);
            auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
            for (ssize_t left = length; left > 0 && FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
                struct stat file {};
                char path[PATH_MAX] = {};
                if (readlink(("/proc/self/fd/" + std::to_string(event->fd)).c_str(), path, sizeof path - 1) > 0 &&
                    std::strstr(path, "/.zeltor-perfd.") != nullptr && fstat(event->fd, &file) == 0 &&
                    file.st_mode != 0)
                    madeWith.push_back(file.st_mode & 07777);
                const fanotify_response allow{ event->fd, FAN_ALLOW };
                EXPECT_EQ(write(watch, &allow, sizeof allow), static_cast<ssize_t>(sizeof allow));
                close(event->fd);
            }
        }
    });
    Perfd perfd({ "--state-dir", state.path(), "--interval", "0.1", "--readers", "65534" });
    const bool published = Eventually([&] { return Published(state.path()); });
    watching = false;
    watcher.join();
    close(watch);
    ASSERT_TRUE(published) << perfd.Log();
    // Each made for root alone (0600) and given to the group after: never readable by others.
    EXPECT_GE(madeWith.size(), 4u);
    for (mode_t mode : madeWith)
        EXPECT_EQ(mode & 0077, 0u) << std::oct << mode;
    // tdbdump as a user of that group and as one outside it.
    const auto dumpAs = [](const std::string& group, const std::string& path) {
        const std::string command =
            "setpriv --reuid=65533 --regid=" + group + " --clear-groups -- tdbdump '" + path + "'";
        return CommandOutput(command);
    };
    for (const char* name : { "/perfmon/names.tdb", "/perfmon/data.tdb" }) {
        struct stat file {};
        ASSERT_EQ(stat((state.path() + name).c_str(), &file), 0);
        EXPECT_EQ(file.st_mode & 07777, 0640u) << name;
        EXPECT_EQ(file.st_gid, 65534u) << name;
        EXPECT_NE(dumpAs("65534", state.path() + name).find("key("), std::string::npos) << name;
        EXPECT_EQ(dumpAs("65533", state.path() + name), "Failed to open " + state.path() + name + "\n") << name;
    }
    EXPECT_EQ(perfd.Stop(SIGTERM), 0);
}

TEST(PerfdService, DatabasesRemovedOrReplacedWhileItRunsArePublishedAgain)
{
    TempDir state;
    const std::string folder = state.path() + "/perfmon";
    Perfd perfd({ "--state-dir", state.path(), "--interval", "0.1" });
    ASSERT_TRUE(Eventually([&] { return Published(state.path()); })) << perfd.Log();

    // The whole folder removed, and names.tdb replaced by something else.
    std::filesystem::remove_all(folder);
    EXPECT_TRUE(Eventually([&] { return Published(state.path()); }));
    std::filesystem::remove(folder + "/names.tdb");
    std::ofstream(folder + "/names.tdb") << "not a database";
    EXPECT_TRUE(Eventually([&] { return Published(state.path()); }));

    // Something that cannot be replaced in data.tdb's place: said once, and that it writes again
    // once it is gone.
    std::filesystem::remove(folder + "/data.tdb");
    std::filesystem::create_directory(folder + "/data.tdb");
    const std::string failure =
        "zeltor-perfd: cannot write " + folder + "/data.tdb: Is a directory; trying again at each update\n";
    EXPECT_TRUE(Eventually([&] { return perfd.Log().find(failure) != std::string::npos; })) << perfd.Log();
    Pause();
    std::filesystem::remove(folder + "/data.tdb");
    EXPECT_TRUE(Eventually([&] { return Published(state.path()); }));
    EXPECT_TRUE(Eventually([&] { return perfd.Log().find("writing to " + folder + " again") != std::string::npos; }));
    const std::string log = perfd.Log();
    EXPECT_EQ(log.find(failure), log.rfind(failure)) << log;
    EXPECT_EQ(perfd.Stop(SIGTERM), 0);
}
