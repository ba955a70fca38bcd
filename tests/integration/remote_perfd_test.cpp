// The program's own remote counter source reading a standalone smbd (run_smbd.sh, its own
// instance on port 4459) whose performance databases zeltor-perfd fills: the thirteen counters
// of the main window and processes of one name, compared with this machine's local source.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "app/counter_set.h"
#include "perf/pdh_status.h"
#include "platform/linux/counters/linux_counter_source.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/remote/remote_counter_source.h"
#include "platform/linux/remote/samba_performance_registry.h"
#include "platform/linux/samba/credential_registry.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/child_process.h"

namespace {

constexpr int kPolls = 40; // of 250 ms: the bound of every wait

// A query of full paths on a source, collected on demand.
class Query {
public:
    Query(ICounterSource& source, const std::string& machine) : m_source(source), m_machine(machine)
    {
        EXPECT_EQ(m_source.ConnectMachine(CString::FromUtf8(machine)), 0u);
        EXPECT_EQ(m_source.OpenQuery(0, &m_query), 0u);
    }
    ~Query() { m_source.CloseQuery(m_query); }

    PdhCounter* Add(const std::u16string& path)
    {
        PdhCounter* counter = nullptr;
        EXPECT_EQ(m_source.AddCounter(m_query, CString::FromUtf8("\\\\" + m_machine) + CString(path), 0, &counter), 0u)
            << CString(path).ToUtf8();
        return counter;
    }
    PDH_STATUS Collect() { return m_source.CollectQueryData(m_query); }
    PdhFormattedValue operator[](PdhCounter* counter) { return LongValue(m_source, counter); }

private:
    ICounterSource& m_source;
    std::string m_machine;
    PdhQuery* m_query = nullptr;
};

// The PID of the process of that comm that started first (field 22 of /proc/PID/stat), or 0.
int OldestProcessNamed(const std::string& name)
{
    int oldest = 0;
    unsigned long long oldestStart = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream comm(entry.path() / "comm"), stat(entry.path() / "stat");
        std::string processName, statLine;
        if (!std::getline(comm, processName) || processName != name || !std::getline(stat, statLine))
            continue;
        std::istringstream fields(statLine.substr(statLine.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 22 && fields >> field; ++i) {}
        const unsigned long long started = std::stoull(field);
        if (oldest == 0 || started < oldestStart) {
            oldest = std::stoi(pid);
            oldestStart = started;
        }
    }
    return oldest;
}

int OpenDescriptors(int pid)
{
    const std::filesystem::path fd = "/proc/" + std::to_string(pid) + "/fd";
    return static_cast<int>(
        std::distance(std::filesystem::directory_iterator(fd), std::filesystem::directory_iterator()));
}

} // namespace

TEST(PerfdThroughTheRemoteSource, TheMainWindowsCountersAndProcessesOfOneName)
{
    std::map<std::string, std::string> peer = ReadPeerState("ZELTOR_SMBD_STATE");
    ASSERT_FALSE(peer["smb_conf"].empty()) << "no smbd state";
    const std::string name = "zr" + std::to_string(getpid() % 100000);
    ChildProcess first(name, 5), second(name, 9);
    ASSERT_TRUE(first.Running() && second.Running());

    // The provider on the server's smb.conf, its smbd standing in for lsass.
    const std::string perfd = ZELTOR_PERFD, config = peer["smb_conf"];
    const char* argv[] = { perfd.c_str(), "-s",   config.c_str(),    "--interval", "0.5",
                           "--lsass",     "smbd", "--all-processes", nullptr };
    pid_t provider = -1;
    ASSERT_EQ(posix_spawn(&provider, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);

    // Logged on to the server as Update does; the source rides that connection's credentials.
    CredentialRegistry credentials;
    SmbNetworkConnector::Options connectorOptions;
    connectorOptions.smbPort = static_cast<std::uint16_t>(std::stoi(peer["port"]));
    connectorOptions.timeoutMs = 10000;
    connectorOptions.credentials = &credentials;
    SmbNetworkConnector network(connectorOptions);
    ASSERT_EQ(network.AddConnection(CString::FromUtf8("\\\\" + peer["address"]), CString::FromUtf8(peer["password"]),
                                    CString::FromUtf8(peer["user"])),
              0u);
    RemoteCounterOptions options;
    options.smbPort = connectorOptions.smbPort;
    RemoteCounterSource remote(std::make_unique<SambaPerformanceRegistry>(credentials, options), [](std::uint32_t) {});

    // The children show once the provider has written a sample with them.
    bool shown = false;
    for (int poll = 0; poll < kPolls && !shown; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        Query probe(remote, peer["address"]);
        PdhCounter* counter = probe.Add(u"\\Process(" + CString::FromUtf8(name + "#1") + u")\\ID Process");
        shown = probe.Collect() == 0 && probe[counter].CStatus == PDH_CSTATUS_VALID_DATA;
    }
    ASSERT_TRUE(shown);

    Query remoteQuery(remote, peer["address"]);
    std::vector<PdhCounter*> thirteen;
    thirteen.reserve(std::size(kCounterSetPaths));
    for (const char16_t* path : kCounterSetPaths)
        thirteen.push_back(remoteQuery.Add(path));
    const CString child = CString::FromUtf8(name);
    PdhCounter* firstHandles = remoteQuery.Add(u"\\Process(" + child + u")\\Handle Count");
    PdhCounter* secondHandles = remoteQuery.Add(u"\\Process(" + child + u"#1)\\Handle Count");
    PdhCounter* firstPid = remoteQuery.Add(u"\\Process(" + child + u")\\ID Process");
    PdhCounter* secondPid = remoteQuery.Add(u"\\Process(" + child + u"#1)\\ID Process");
    LinuxCounterSource local;
    Query localQuery(local, "localhost");
    PdhCounter* localSpace = localQuery.Add(kCounterSetPaths[2]);
    PdhCounter* lsassPid = remoteQuery.Add(u"\\Process(lsass)\\ID Process");

    ASSERT_EQ(remoteQuery.Collect(), 0u);
    const int committedBefore = CommittedPercent();
    // Past two samples of the provider; a provider slowed by a loaded machine may take longer,
    // and until it has written again the two samples are the same one (no rate to make).
    for (int tries = 0; tries < 10; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(tries == 0 ? 1200 : 500));
        ASSERT_EQ(remoteQuery.Collect(), 0u);
        if (remoteQuery[thirteen[0]].CStatus == PDH_CSTATUS_VALID_DATA)
            break;
    }
    ASSERT_EQ(localQuery.Collect(), 0u);
    const int committedAfter = CommittedPercent();

    // Every counter of the main window reads, as on a Windows controller: ntfrs is absent there.
    for (std::size_t i = 0; i < thirteen.size(); ++i) {
        const PdhFormattedValue value = remoteQuery[thirteen[i]];
        if (i == 7) {
            EXPECT_EQ(value.CStatus, PDH_CSTATUS_NO_INSTANCE);
            continue;
        }
        EXPECT_EQ(value.CStatus, PDH_CSTATUS_VALID_DATA) << CString(kCounterSetPaths[i]).ToUtf8();
        EXPECT_GE(value.longValue, 0) << CString(kCounterSetPaths[i]).ToUtf8();
    }
    EXPECT_LE(remoteQuery[thirteen[0]].longValue, 100);
    EXPECT_LE(remoteQuery[thirteen[5]].longValue, 100);
    // The commit charge moves with every process that starts: the sample lies between.
    EXPECT_GE(remoteQuery[thirteen[1]].longValue, std::min(committedBefore, committedAfter) - 2);
    EXPECT_LE(remoteQuery[thirteen[1]].longValue, std::max(committedBefore, committedAfter) + 2);
    EXPECT_NEAR(remoteQuery[thirteen[2]].longValue, localQuery[localSpace].longValue, 1);
    // lsass is this server's main smbd: the oldest of its name, with the descriptors it holds.
    const int mainSmbd = OldestProcessNamed("smbd");
    EXPECT_EQ(remoteQuery[lsassPid].longValue, mainSmbd);
    EXPECT_NEAR(remoteQuery[thirteen[6]].longValue, OpenDescriptors(mainSmbd), 2);

    // Processes of one name, numbered in the order of the data: by PID.
    const int low = std::min(first.Pid(), second.Pid());
    const int high = std::max(first.Pid(), second.Pid());
    EXPECT_EQ(remoteQuery[firstPid].longValue, low);
    EXPECT_EQ(remoteQuery[secondPid].longValue, high);
    EXPECT_EQ(remoteQuery[firstHandles].longValue, low == first.Pid() ? 5 : 9);
    EXPECT_EQ(remoteQuery[secondHandles].longValue, high == second.Pid() ? 9 : 5);

    ASSERT_EQ(kill(provider, SIGTERM), 0);
    int status = -1;
    ASSERT_EQ(waitpid(provider, &status, 0), provider);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
