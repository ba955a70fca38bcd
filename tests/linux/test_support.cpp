#include "tests/linux/test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

namespace {

// dnsmasq-base installs the daemon here.
constexpr const char* kDnsmasq = "/usr/sbin/dnsmasq";
// Up to 5 s for dnsmasq to start listening, and as long for it to end.
constexpr int kPolls = 50;
constexpr auto kPollInterval = std::chrono::milliseconds(100);

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool AcceptsTcp(std::uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

bool Exited(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == pid;
}

} // namespace

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zeltor-test-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr)
        m_path = pattern;
}

TempDir::~TempDir()
{
    if (!m_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
}

std::string TempDir::Write(const std::string& name, const std::string& text) const
{
    std::string path = m_path + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value) : m_name(std::move(name))
{
    if (const char* before = std::getenv(m_name.c_str())) // NOLINT(concurrency-mt-unsafe): see the class
        m_before = before;
    setenv(m_name.c_str(), value.c_str(), 1); // NOLINT(concurrency-mt-unsafe): see the class
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (m_before)
        setenv(m_name.c_str(), m_before->c_str(), 1); // NOLINT(concurrency-mt-unsafe): see the class
    else
        unsetenv(m_name.c_str()); // NOLINT(concurrency-mt-unsafe): see the class
}

std::string CommandOutput(const std::string& commandLine)
{
    std::string out;
    // NOLINTNEXTLINE(cert-env33-c): the test's own command lines, with no outside text in them
    if (FILE* pipe = popen((commandLine + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::uint16_t UnusedLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

DnsmasqServer::DnsmasqServer(const std::vector<std::string>& recordOptions)
{
    // A port found free can be taken again before dnsmasq binds it (for TCP too, or by a test
    // running beside this one): then dnsmasq exits at once, and another port is tried.
    constexpr int kPortAttempts = 5;
    for (int attempt = 0; attempt < kPortAttempts && m_pid <= 0; ++attempt)
        Start(recordOptions);
}

void DnsmasqServer::Start(const std::vector<std::string>& recordOptions)
{
    m_port = UnusedLoopbackPort();
    if (m_port == 0 || m_dir.path().empty())
        return;
    std::vector<std::string> args = {
        kDnsmasq,
        "--keep-in-foreground",
        "--conf-file=/dev/null",
        "--pid-file=" + m_dir.path() + "/dnsmasq.pid",
        "--port=" + std::to_string(m_port),
        "--listen-address=127.0.0.1",
        "--bind-interfaces",
        "--no-resolv",
        "--no-hosts",
        "--local=/test/",
    };
    args.insert(args.end(), recordOptions.begin(), recordOptions.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, kDnsmasq, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return;
    for (int i = 0; i < kPolls; ++i) {
        if (Exited(pid))
            return;
        if (AcceptsTcp(m_port)) {
            m_pid = pid;
            return;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

DnsmasqServer::~DnsmasqServer()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    for (int i = 0; i < kPolls; ++i) {
        if (Exited(m_pid))
            return;
        std::this_thread::sleep_for(kPollInterval);
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
}
