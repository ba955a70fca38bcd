// SmbNetworkConnector without a server that lets anyone in: its texts, the remote names it
// takes, and the failures of servers that are absent, unknown or silent.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(m_fd, 4) == 0
            && getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentListener() { close(m_fd); }
    std::uint16_t port() const { return m_port; }

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
    for (std::uint32_t code : { 5u, 6u, 8u, 30u, 53u, 59u, 67u, 86u, 87u, 121u, 124u, 1219u, 1222u, 1311u, 1326u,
                                1355u, 2250u }) {
        SCOPED_TRACE(code);
        const CString text = Text(connector, code, &length);
        EXPECT_EQ(length, text.size());
        ASSERT_GE(text.size(), 3u);
        EXPECT_EQ(text.substr(text.size() - 2), u"\r\n");
        EXPECT_EQ(text.find(u'\n'), text.size() - 1);
    }

    for (std::uint32_t code : { 0u, 1u, 54u, 0xFFFFFFFFu }) {
        SCOPED_TRACE(code);
        char16_t* buffer = reinterpret_cast<char16_t*>(1);
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

TEST(SmbNetworkConnectorTest, ASilentServerTimesOut)
{
    SilentListener listener;
    ASSERT_NE(listener.port(), 0);
    SmbNetworkConnector::Options options = QuickOptions();
    options.smbPort = listener.port();
    EXPECT_EQ(SmbNetworkConnector(options).AddConnection(u"\\\\127.0.0.1", u"secret", u"user"), win32_error::kSemTimeout);
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
