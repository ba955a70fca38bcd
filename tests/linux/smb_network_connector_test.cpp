// SmbNetworkConnector without a server that lets anyone in: its texts, the remote names it
// takes, and the failures of servers that are absent, unknown or silent.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "directory/win32_error_text.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "tests/linux/test_support.h"

namespace {

CString Text(INetworkConnector& connector, std::uint32_t code, std::uint32_t* length)
{
    char16_t* buffer = nullptr;
    *length = connector.FormatMessage(code, &buffer);
    if (buffer == nullptr)
        return CString();
    CString text = buffer;
    connector.LocalFree(buffer);
    return text;
}

// A listener on 127.0.0.1 that never accepts: the kernel completes connections to it and
// nothing ever answers.
class SilentListener {
public:
    SilentListener()
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(m_fd, 4) == 0 &&
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentListener() { close(m_fd); }
    std::uint16_t port() const { return m_port; }
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

SmbNetworkConnector::Options QuickOptions()
{
    SmbNetworkConnector::Options options;
    options.smbPort = UnusedLoopbackPort();
    options.timeoutMs = 1000;
    return options;
}

TEST(SmbNetworkConnectorTest, FormatsTheWindowsTextsOfItsCodes)
{
    SmbNetworkConnector connector;
    std::uint32_t length = 0;
    EXPECT_EQ(Text(connector, 53, &length), u"The network path was not found.\r\n");
    EXPECT_EQ(length, 33u);
    EXPECT_EQ(Text(connector, 1326, &length), u"The user name or password is incorrect.\r\n");
    EXPECT_EQ(Text(connector, 86, &length), u"The specified network password is not correct.\r\n");
    // The wording of current Windows releases.
    EXPECT_EQ(Text(connector, 1311, &length).substr(0, 40), u"We can't sign you in with this credentia");

    // Every code the Linux services report has a one-paragraph text, ended as Windows ends it.
    for (std::uint32_t code :
         { 5u, 6u, 8u, 30u, 53u, 59u, 67u, 86u, 87u, 121u, 124u, 1219u, 1222u, 1311u, 1326u, 1355u, 2250u }) {
        SCOPED_TRACE(code);
        const CString text = Text(connector, code, &length);
        EXPECT_EQ(length, text.size());
        ASSERT_GE(text.size(), 3u);
        EXPECT_EQ(text.substr(text.size() - 2), u"\r\n");
        EXPECT_EQ(text.find(u'\n'), text.size() - 1);
    }

    for (std::uint32_t code : { 0u, 1u, 54u, 0xFFFFFFFFu }) {
        SCOPED_TRACE(code);
        auto* buffer = reinterpret_cast<char16_t*>(1);
        EXPECT_EQ(connector.FormatMessage(code, &buffer), 0u);
        EXPECT_EQ(buffer, nullptr);
    }
}

TEST(SmbNetworkConnectorTest, RemoteNamesMustBeAMachineOrAShareOfOne)
{
    SmbNetworkConnector connector(QuickOptions());
    for (const CString name : { u"", u"machine", u"\\machine", u"\\\\", u"\\\\\\share", u"\\\\machine\\a\\b" }) {
        SCOPED_TRACE(name.ToUtf8());
        EXPECT_EQ(connector.AddConnection(name, u"secret", u"user"), win32_error::kBadNetName);
    }
}

TEST(SmbNetworkConnectorTest, AnAbsentServerIsABadNetworkPath)
{
    SmbNetworkConnector connector(QuickOptions());
    EXPECT_EQ(connector.AddConnection(u"\\\\127.0.0.1", u"secret", u"ZELTOR\\Administrator"), win32_error::kBadNetPath);
    EXPECT_EQ(connector.AddConnection(u"\\\\127.0.0.1\\share\\", u"secret", u"user"), win32_error::kBadNetPath);
    // Nothing was connected, so there is nothing to cancel.
    EXPECT_EQ(connector.CancelConnection(u"\\\\127.0.0.1", true), win32_error::kNotConnected);
}

TEST(SmbNetworkConnectorTest, ASilentServerTimesOutAndEachStepSaysSo)
{
    SilentListener listener;
    ASSERT_NE(listener.port(), 0);
    SmbNetworkConnector::Options options = QuickOptions();
    options.smbPort = listener.port();
    SmbNetworkConnector connector(options);
    EXPECT_EQ(connector.AddConnection(u"\\\\127.0.0.1", u"secret", u"user"), win32_error::kSemTimeout);
    EXPECT_EQ(connector.LastFailureStep(),
              u"The server at 127.0.0.1 took the connection and did not answer the logon.");

    // The port, with a bound on its answer: nothing listens there.
    options.smbPort = UnusedLoopbackPort();
    options.reachTimeoutMs = 1000;
    SmbNetworkConnector reaching(options);
    EXPECT_EQ(reaching.AddConnection(u"\\\\127.0.0.1", u"secret", u"user"), win32_error::kBadNetPath);
    EXPECT_EQ(reaching.LastFailureStep(),
              u"Nothing listens on port " + CString::FromUtf8(std::to_string(options.smbPort)) + u" of 127.0.0.1.");

    // The name's look-up, at a given DNS server that never answers (a UDP socket nobody reads).
    const int dns = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(dns, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(dns, reinterpret_cast<sockaddr*>(&address), &size), 0);
    options.dnsServer = DnsServer{ "127.0.0.1", ntohs(address.sin_port), {} };
    SmbNetworkConnector looking(options);
    EXPECT_EQ(looking.AddConnection(u"\\\\dc1.zeltor.test", u"secret", u"user"), win32_error::kBadNetPath);
    EXPECT_EQ(looking.LastFailureStep(), u"The look-up of the name dc1.zeltor.test gave no address.");
    close(dns);
}

// Logons on several threads leave the environment alone: another thread reading it (the name
// look-ups, the window) never finds it changing under it.
TEST(SmbNetworkConnectorTest, LogonsLeaveTheEnvironmentAlone)
{
    // Before any thread starts: the variable a logon once took away.
    if (std::getenv("HOME") == nullptr)           // NOLINT(concurrency-mt-unsafe): no other thread yet
        setenv("HOME", "/nonexistent", 1);        // NOLINT(concurrency-mt-unsafe): no other thread yet
    const std::string home = std::getenv("HOME"); // NOLINT(concurrency-mt-unsafe): no other thread yet
    std::atomic<bool> done{ false };
    std::atomic<int> missing{ 0 }, reads{ 0 };
    std::thread reader([&] {
        while (!done) {
            const char* value = std::getenv("HOME");
            if (value == nullptr || home != value)
                ++missing;
            ++reads;
        }
    });
    // A server that takes each connection and hangs up at once, so every logon is begun.
    SilentListener server;
    std::thread hangingUp([&] {
        while (!done) {
            pollfd waiting{ server.fd(), POLLIN, 0 };
            if (poll(&waiting, 1, 50) == 1)
                close(accept(server.fd(), nullptr, nullptr));
        }
    });
    std::atomic<int> begun{ 0 };
    std::vector<std::thread> logons;
    logons.reserve(2);
    for (int t = 0; t < 2; ++t) {
        logons.emplace_back([&] {
            SmbNetworkConnector::Options options = QuickOptions();
            options.smbPort = server.port();
            SmbNetworkConnector connector(options);
            for (int i = 0; i < 100; ++i) {
                connector.AddConnection(u"\\\\127.0.0.1", u"secret", u"user");
                begun += connector.LastFailureStep().find(u"logon") != CString::npos ? 1 : 0;
            }
        });
    }
    for (std::thread& logon : logons)
        logon.join();
    done = true;
    reader.join();
    hangingUp.join();
    EXPECT_EQ(begun.load(), 200);
    EXPECT_EQ(missing.load(), 0) << "of " << reads.load() << " reads";
}

TEST(SmbNetworkConnectorTest, NamesAreLookedUpInTheGivenDns)
{
    // A name that DNS knows leads to the silent server and times out; one it does not know fails
    // at once.
    DnsmasqServer dns({ "--host-record=dc1.zeltor.test,127.0.0.1" });
    ASSERT_TRUE(dns.running());
    SilentListener listener;
    SmbNetworkConnector::Options options = QuickOptions();
    options.smbPort = listener.port();
    options.dnsServer = dns.server();
    EXPECT_EQ(SmbNetworkConnector(options).AddConnection(u"\\\\dc1.zeltor.test", u"secret", u"user"),
              win32_error::kSemTimeout);
    EXPECT_EQ(SmbNetworkConnector(options).AddConnection(u"\\\\nosuch.zeltor.test", u"secret", u"user"),
              win32_error::kBadNetPath);

    // A short name is found under the search domain only.
    EXPECT_EQ(SmbNetworkConnector(options).AddConnection(u"\\\\DC1", u"secret", u"user"), win32_error::kBadNetPath);
    options.dnsServer->searchDomain = "zeltor.test";
    EXPECT_EQ(SmbNetworkConnector(options).AddConnection(u"\\\\DC1", u"secret", u"user"), win32_error::kSemTimeout);
}

} // namespace
