// Locating controllers through real DNS answers: LinuxDirectoryService against a dnsmasq on
// loopback.
#include <gtest/gtest.h>

#include "directory/win32_error_text.h"
#include "platform/linux/directory/linux_directory_service.h"
#include "tests/linux/test_support.h"

namespace {

constexpr const char* kDcRecord = "--srv-host=_ldap._tcp.dc._msdcs.zeltor.test,";

struct Controller {
    std::string netbios, dns;
    bool pdc;
    bool operator==(const Controller&) const = default;
};

void PrintTo(const Controller& c, std::ostream* os)
{
    *os << c.netbios << "/" << c.dns << (c.pdc ? " (PDC)" : "");
}

class DcLocatorTest : public ::testing::Test {
protected:
    void Serve(const std::vector<std::string>& records)
    {
        dns = std::make_unique<DnsmasqServer>(records);
        ASSERT_TRUE(dns->running());
        LinuxDirectoryService::Options options;
        options.dnsServer = dns->server();
        options.smbPort = UnusedLoopbackPort();
        options.smbTimeoutMs = 2000;
        service = std::make_unique<LinuxDirectoryService>(options);
    }

    // DsBind then DsGetDomainControllerInfo, releasing everything; the first failing status.
    std::uint32_t List(const CString& domain, std::vector<Controller>* out)
    {
        out->clear();
        DsBinding* binding = nullptr;
        if (std::uint32_t result = service->DsBind(domain, &binding); result != 0) {
            EXPECT_EQ(binding, nullptr);
            return result;
        }
        std::uint32_t count = 0;
        const DsControllerInfo1* infos = nullptr;
        const std::uint32_t result = service->DsGetDomainControllerInfo(binding, domain, 1, &count, &infos);
        if (result == 0) {
            for (std::uint32_t i = 0; i < count; ++i) {
                out->push_back({ infos[i].NetbiosName.ToUtf8(), infos[i].DnsHostName.ToUtf8(), infos[i].fIsPdc });
                EXPECT_TRUE(infos[i].fDsEnabled);
            }
            service->DsFreeDomainControllerInfo(1, count, infos);
        }
        EXPECT_EQ(service->DsUnBind(&binding), 0u);
        EXPECT_EQ(binding, nullptr);
        return result;
    }

    std::unique_ptr<DnsmasqServer> dns;
    std::unique_ptr<LinuxDirectoryService> service;
};

TEST_F(DcLocatorTest, ListsControllersByPriorityThenWeightThenName)
{
    ASSERT_NO_FATAL_FAILURE(Serve({
        std::string(kDcRecord) + "dc-a.zeltor.test,389,10,100",
        std::string(kDcRecord) + "dc-d.zeltor.test,389,0,50",
        std::string(kDcRecord) + "dc-c.zeltor.test,389,0,100",
        std::string(kDcRecord) + "dc-b.zeltor.test,389,0,50",
        // The same host again, on another port, is still one controller.
        std::string(kDcRecord) + "dc-c.zeltor.test,3268,20,0",
        "--srv-host=_ldap._tcp.pdc._msdcs.zeltor.test,dc-b.zeltor.test,389",
    }));
    const std::vector<Controller> expected = {
        { "DC-C", "dc-c.zeltor.test", false },
        { "DC-B", "dc-b.zeltor.test", true },
        { "DC-D", "dc-d.zeltor.test", false },
        { "DC-A", "dc-a.zeltor.test", false },
    };
    // The same order on every query, and for the name written with a final dot.
    for (const CString domain : { u"zeltor.test", u"zeltor.test", u"ZELTOR.TEST." }) {
        std::vector<Controller> controllers;
        EXPECT_EQ(List(domain, &controllers), 0u);
        EXPECT_EQ(controllers, expected);
    }
}

TEST_F(DcLocatorTest, ADomainWithoutControllersIsNoSuchDomain)
{
    ASSERT_NO_FATAL_FAILURE(Serve(
        { std::string(kDcRecord) + "dc1.zeltor.test,389,0,100", "--srv-host=_ldap._tcp.dc._msdcs.gone.test,.,389" }));
    std::vector<Controller> controllers;
    EXPECT_EQ(List(u"other.test", &controllers), win32_error::kNoSuchDomain);
    // A target of "." says the service is not offered there.
    EXPECT_EQ(List(u"gone.test", &controllers), win32_error::kNoSuchDomain);
    EXPECT_EQ(List(u"", &controllers), win32_error::kNoSuchDomain);

    // Asked through an existing binding, about a domain without controllers.
    DsBinding* binding = nullptr;
    ASSERT_EQ(service->DsBind(u"zeltor.test", &binding), 0u);
    std::uint32_t count = 0;
    const DsControllerInfo1* infos = nullptr;
    EXPECT_EQ(service->DsGetDomainControllerInfo(binding, u"other.test", 1, &count, &infos),
              win32_error::kNoSuchDomain);
    EXPECT_EQ(service->DsGetDomainControllerInfo(binding, u"zeltor.test", 2, &count, &infos),
              win32_error::kInvalidLevel);
    EXPECT_EQ(service->DsGetDomainControllerInfo(nullptr, u"zeltor.test", 1, &count, &infos),
              win32_error::kInvalidHandle);
    EXPECT_EQ(service->DsUnBind(&binding), 0u);
    EXPECT_EQ(service->DsUnBind(&binding), win32_error::kInvalidHandle);
}

TEST_F(DcLocatorTest, NoAnsweringDnsServerIsNoSuchDomain)
{
    LinuxDirectoryService::Options options;
    options.dnsServer = DnsServer{ "127.0.0.1", UnusedLoopbackPort(), {} };
    LinuxDirectoryService silent(options);
    DsBinding* binding = nullptr;
    EXPECT_EQ(silent.DsBind(u"zeltor.test", &binding), win32_error::kNoSuchDomain);
    options.dnsServer = DnsServer{ "not-an-address", 53, {} };
    EXPECT_EQ(LinuxDirectoryService(options).DsBind(u"zeltor.test", &binding), win32_error::kNoSuchDomain);
    EXPECT_EQ(binding, nullptr);
}

TEST_F(DcLocatorTest, BindWithCredentialsNeedsAControllerThatAnswers)
{
    // One controller without an address, one at an address where no SMB server listens.
    ASSERT_NO_FATAL_FAILURE(
        Serve({ std::string(kDcRecord) + "dc1.zeltor.test,389,0,100",
                std::string(kDcRecord) + "dc2.zeltor.test,389,0,50", "--host-record=dc2.zeltor.test,127.0.0.1" }));
    DsCredential* credential = nullptr;
    ASSERT_EQ(service->DsMakePasswordCredentials(u"ZELTOR\\Administrator", u"zeltor.test", u"secret", &credential), 0u);
    DsBinding* binding = nullptr;
    EXPECT_EQ(service->DsBindWithCred(u"zeltor.test", credential, &binding), win32_error::kNoLogonServers);
    EXPECT_EQ(service->DsBindWithCred(u"other.test", credential, &binding), win32_error::kNoSuchDomain);
    EXPECT_EQ(binding, nullptr);
    service->DsFreePasswordCredentials(credential);
}

} // namespace
