// Who stands in for lsass, with real processes in the real /proc: only a process that root runs
// from Samba's program; one that merely bears the name, or runs another program of the name,
// or runs Samba's program as another user, does not, and a process named lsass is not
// Process(lsass).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "perfd/perfmon_sampler.h"
#include "tests/linux/test_support.h"

namespace {

constexpr uid_t kNobody = 65534;

// A program run (with one argument, "1000": copies of sleep) as the user given.
class Started {
public:
    Started(const std::string& program, uid_t user)
    {
        m_pid = fork();
        if (m_pid == 0) {
            if (user != 0 &&
                (setgroups(0, nullptr) != 0 || setresgid(user, user, user) != 0 || setresuid(user, user, user) != 0))
                _exit(126);
            execl(program.c_str(), program.c_str(), "1000", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Until it runs the program (bears its name).
        const std::string exe = "/proc/" + std::to_string(m_pid) + "/exe";
        for (int poll = 0; poll < 200; ++poll) {
            std::error_code error;
            if (std::filesystem::read_symlink(exe, error) == program)
                break;
            usleep(10'000);
        }
    }
    ~Started()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

// A copy of sleep at path (made with its folders, readable and runnable by everyone).
std::string Program(const std::string& path)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::copy_file("/bin/sleep", path);
    chmod(path.c_str(), 0755);
    return path;
}

// The published instances of the given PID, as "NAME PID".
// The names pid is published under, in alphabetical order: where each stands in the list is the
// instance slots' business.
std::vector<std::string> InstancesOf(const PerfmonSample& sample, pid_t pid)
{
    std::vector<std::string> names;
    for (const PublishedProcess& p : sample.processes) {
        if (p.pid == pid)
            names.push_back(p.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Samples until every PID given is published (processes join at the refresh after they start).
const PerfmonSample& SampleWith(PerfmonSampler& sampler, std::initializer_list<pid_t> pids)
{
    for (int refresh = 0;; ++refresh) {
        const PerfmonSample& sample = sampler.Sample();
        bool all = true;
        for (const pid_t pid : pids)
            all = all && !InstancesOf(sample, pid).empty();
        if (all || refresh == 50)
            return sample;
        usleep(20'000);
    }
}

} // namespace

TEST(LsassStandIn, OnlyRootRunningSambasProgramStandsIn)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run programs as another user";
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    const std::string samba = Program(dir.path() + "/sbin/samba");
    const std::string otherSamba = Program(dir.path() + "/elsewhere/samba");
    const std::string lsass = Program(dir.path() + "/elsewhere/lsass");

    PerfmonSampler sampler("/proc", "samba", samba, 5);
    // Started first: Samba's program run by another user, another program of the name run by
    // root, and a program named lsass run by another user.
    Started asNobody(samba, kNobody), elsewhere(otherSamba, 0), fakeLsass(lsass, kNobody);
    const PerfmonSample& before = SampleWith(sampler, { asNobody.Pid(), elsewhere.Pid(), fakeLsass.Pid() });
    EXPECT_EQ(InstancesOf(before, asNobody.Pid()), std::vector<std::string>{ "samba" });
    EXPECT_EQ(InstancesOf(before, elsewhere.Pid()), std::vector<std::string>{ "samba" });
    EXPECT_EQ(InstancesOf(before, fakeLsass.Pid()),
              std::vector<std::string>{ "lsass_" + std::to_string(fakeLsass.Pid()) });
    for (const PublishedProcess& p : before.processes)
        EXPECT_NE(p.name, "lsass") << p.pid;

    // Samba's program run by root, started last, is the one.
    Started byRoot(samba, 0);
    const PerfmonSample& after = SampleWith(sampler, { byRoot.Pid() });
    EXPECT_EQ(InstancesOf(after, byRoot.Pid()), (std::vector<std::string>{ "lsass", "samba" }));
    EXPECT_EQ(InstancesOf(after, asNobody.Pid()), std::vector<std::string>{ "samba" });
    EXPECT_EQ(InstancesOf(after, fakeLsass.Pid()),
              std::vector<std::string>{ "lsass_" + std::to_string(fakeLsass.Pid()) });
}

TEST(LsassStandIn, AProgramReplacedSinceItStartedIsStillSambas)
{
    // A package upgrade replaces the program while Samba runs: /proc/PID/exe reads "PATH (deleted)".
    TempDir dir;
    const std::string samba = Program(dir.path() + "/sbin/samba");
    Started running(samba, 0);
    std::filesystem::remove(samba);
    Program(samba);
    const int proc = open("/proc", O_RDONLY | O_DIRECTORY);
    EXPECT_EQ(RunsAsRoot(proc, running.Pid(), samba), geteuid() == 0);
    EXPECT_FALSE(RunsAsRoot(proc, running.Pid(), dir.path() + "/sbin/smbd"));
    close(proc);
}

TEST(PublishOnly, NamedProcessesAndTheStandInAloneArePublished)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run Samba's program as root";
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    const std::string samba = Program(dir.path() + "/sbin/samba");
    const std::string other = Program(dir.path() + "/elsewhere/zother");
    const std::string lsass = Program(dir.path() + "/elsewhere/lsass");
    PerfmonSampler sampler("/proc", "samba", samba, 5);
    sampler.PublishOnly({ "SAMBA" });
    Started byRoot(samba, 0), notNamed(other, 0), fakeLsass(lsass, 0);
    const PerfmonSample& sample = SampleWith(sampler, { byRoot.Pid() });
    EXPECT_EQ(InstancesOf(sample, byRoot.Pid()), (std::vector<std::string>{ "lsass", "samba" }));
    EXPECT_TRUE(InstancesOf(sample, notNamed.Pid()).empty());
    EXPECT_TRUE(InstancesOf(sample, fakeLsass.Pid()).empty());
    for (const PublishedProcess& p : sample.processes)
        EXPECT_TRUE(p.name == "samba" || p.name == "lsass") << p.name << " " << p.pid;
}
