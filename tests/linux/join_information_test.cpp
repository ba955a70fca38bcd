// The join status as LinuxDirectoryService reads it from Samba's and SSSD's configuration files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/linux/directory/linux_directory_service.h"
#include "platform/linux/names/local_host_name.h"
#include "tests/linux/test_support.h"

namespace {

struct Join {
    std::uint32_t result;
    int status;
    std::string name;
};

class JoinInformationTest : public ::testing::Test {
protected:
    std::string smbConf() const { return dir.path() + "/smb.conf"; }
    std::string sssdConf() const { return dir.path() + "/sssd.conf"; }

    Join Query(const CString& server = CString())
    {
        LinuxDirectoryService::Options options;
        options.smbConfPath = smbConf();
        options.sssdConfPath = sssdConf();
        LinuxDirectoryService service(options);
        const char16_t* name = nullptr;
        int status = -1;
        const std::uint32_t result = service.NetGetJoinInformation(server, &name, &status);
        Join join{ result, status, name != nullptr ? CString(name).ToUtf8() : std::string() };
        if (result == 0) {
            EXPECT_NE(name, nullptr);
            service.NetApiBufferFree(name);
        } else {
            EXPECT_EQ(name, nullptr);
        }
        return join;
    }

    TempDir dir;
};

TEST_F(JoinInformationTest, SambaMemberships)
{
    struct Case {
        const char* conf;
        int status;
        const char* name;
    };
    const Case cases[] = {
        // An ADS member is named by its realm, the DNS name the controllers are found under.
        { "[global]\n  workgroup = ZELTOR\n  security = ads\n  realm = ZELTOR.TEST\n", NetSetupDomainName,
          "zeltor.test" },
        // Parameter names ignore case and blanks; values are trimmed; comments are skipped.
        { "# member\n[Global]\n\tSecurity=ADS\n  RE ALM   =   Corp.Example  \n; realm = WRONG.TEST\n#realm = WRONG.TEST\n",
          NetSetupDomainName, "corp.example" },
        // A continued line, and parameters before any section, which Samba takes as global.
        { "security = ads\nrealm = \\\n  zeltor.test\n[homes]\n  path = /home\n", NetSetupDomainName, "zeltor.test" },
        // With no realm the workgroup is the only name there is.
        { "[global]\nworkgroup = ZELTOR\nsecurity = ads\n", NetSetupDomainName, "ZELTOR" },
        { "[global]\nworkgroup = NTDOM\nsecurity = domain\n", NetSetupDomainName, "NTDOM" },
        // A domain controller of its own realm.
        { "[global]\nserver role = active directory domain controller\nrealm = ZELTOR.TEST\nworkgroup = ZELTOR\n",
          NetSetupDomainName, "zeltor.test" },
        { "[global]\nworkgroup = OFFICE\nsecurity = user\nrealm = IGNORED.TEST\n", NetSetupWorkgroupName, "OFFICE" },
        { "[global]\nserver string = files\n", NetSetupWorkgroupName, "WORKGROUP" },
        // Settings of a share section are not global ones; the last of repeated settings counts.
        { "[global]\nworkgroup = FIRST\n[share]\nsecurity = ads\nrealm = SHARE.TEST\n[global]\nworkgroup = LAST\n",
          NetSetupWorkgroupName, "LAST" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.conf);
        dir.Write("smb.conf", c.conf);
        const Join join = Query();
        EXPECT_EQ(join.result, 0u);
        EXPECT_EQ(join.status, c.status);
        EXPECT_EQ(join.name, c.name);
    }
}

TEST_F(JoinInformationTest, SssdMemberships)
{
    struct Case {
        const char* conf;
        int status;
        const char* name;
    };
    const Case cases[] = {
        { "[sssd]\ndomains = zeltor.test\n[domain/zeltor.test]\nid_provider = ad\n", NetSetupDomainName,
          "zeltor.test" },
        { "[domain/CORP]\nid_provider = ldap\nad_domain = Corp.Example\n", NetSetupDomainName, "corp.example" },
        // The "domains" list decides which sections are active, and in which order.
        { "[sssd]\ndomains = second.test, first.test\n[domain/first.test]\nid_provider = ad\n"
          "[domain/second.test]\nid_provider = ad\n[domain/unlisted.test]\nid_provider = ad\n",
          NetSetupDomainName, "second.test" },
        { "[sssd]\ndomains = unlisted.test\n[domain/listed.test]\nid_provider = ad\n", NetSetupUnjoined, "" },
        { "[domain/ldap.test]\nid_provider = ldap\n", NetSetupUnjoined, "" },
        // A section that names no domain is passed over for the next (a finding of the fuzzer).
        { "[domain/]\nid_provider = ad\n[domain/next.test]\nid_provider = ad\n", NetSetupDomainName, "next.test" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.conf);
        dir.Write("sssd.conf", c.conf);
        const Join join = Query();
        EXPECT_EQ(join.result, 0u);
        EXPECT_EQ(join.status, c.status);
        EXPECT_EQ(join.name, c.name);
    }
}

TEST_F(JoinInformationTest, MembershipOfEitherFileOutranksAWorkgroup)
{
    dir.Write("smb.conf", "[global]\nworkgroup = WORKGROUP\n");
    dir.Write("sssd.conf", "[domain/zeltor.test]\nid_provider = ad\n");
    EXPECT_EQ(Query().status, NetSetupDomainName);
    EXPECT_EQ(Query().name, "zeltor.test");

    dir.Write("smb.conf", "[global]\nsecurity = ads\nrealm = SAMBA.TEST\n");
    EXPECT_EQ(Query().name, "samba.test");
}

TEST_F(JoinInformationTest, MissingAndUnreadableFiles)
{
    const Join none = Query();
    EXPECT_EQ(none.result, 0u);
    EXPECT_EQ(none.status, NetSetupUnjoined);
    EXPECT_EQ(none.name, "");

    // A directory where the file should be cannot be read, even by root (unlike a mode-000 file).
    ASSERT_EQ(mkdir(smbConf().c_str(), 0755), 0);
    const Join broken = Query();
    EXPECT_NE(broken.result, 0u);
    EXPECT_EQ(broken.status, NetSetupUnknownStatus);

    // An unreadable SSSD file fails the query too, whatever smb.conf says.
    rmdir(smbConf().c_str());
    dir.Write("smb.conf", "[global]\nsecurity = ads\nrealm = ZELTOR.TEST\n");
    ASSERT_EQ(mkdir(sssdConf().c_str(), 0755), 0);
    EXPECT_EQ(Query().status, NetSetupUnknownStatus);
    EXPECT_NE(Query().result, 0u);
}

TEST_F(JoinInformationTest, AnswersForTheLocalMachineOnly)
{
    dir.Write("smb.conf", "[global]\nworkgroup = OFFICE\n");
    std::string upper = LocalHostName();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(Query(CString::FromUtf8(upper)).status, NetSetupWorkgroupName);
    EXPECT_EQ(Query(CString::FromUtf8(LocalHostName() + "-other")).result, 53u); // ERROR_BAD_NETPATH
}

TEST(ComputerNameTest, IsTheHostNameCutToTheBuffer)
{
    LinuxDirectoryService service;
    const CString host = CString::FromUtf8(LocalHostName());
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(service.GetComputerName(260), host);
    EXPECT_EQ(service.GetComputerName(2), host.substr(0, 1));
    EXPECT_EQ(service.GetComputerName(1), CString());
    EXPECT_EQ(service.GetComputerName(0), CString());
}

} // namespace
