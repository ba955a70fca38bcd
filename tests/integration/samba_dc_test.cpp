// The Linux services against a Samba Active Directory domain controller on loopback, started by
// run_samba_dc.sh, whose state file ZELTOR_SAMBA_DC_STATE names.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "app/zeltor_dlg.h"
#include "directory/win32_error_text.h"
#include "platform/linux/directory/linux_directory_service.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "res/program_resources.h"
#include "res/resource.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/fake_shell.h"
#include "tests/headless/headless_backend.h"

namespace {

std::map<std::string, std::string> ReadState()
{
    std::map<std::string, std::string> state;
    const char* path = std::getenv("ZELTOR_SAMBA_DC_STATE");
    std::ifstream file(path != nullptr ? path : "");
    for (std::string line; std::getline(file, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            state[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return state;
}

// This process's established TCP connections to port 445 of address (dotted IPv4), from
// /proc/net/tcp matched against the sockets among its own descriptors.
int OwnSmbConnections(const std::string& address)
{
    std::vector<std::string> inodes;
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(fds)) {
            char target[64] = {};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) > 0 && std::string(target).rfind("socket:[", 0) == 0)
                inodes.emplace_back(target + 8, std::strlen(target) - 9);
        }
        closedir(fds);
    }
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(address.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    char remote[16];
    std::snprintf(remote, sizeof remote, "%02X%02X%02X%02X:01BD", d, c, b, a); // little-endian, port 445

    int count = 0;
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    std::getline(tcp, line); // the column titles
    while (std::getline(tcp, line)) {
        std::istringstream fields(line);
        std::string slot, local, rem, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> rem >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
        if (rem == remote && state == "01" && std::find(inodes.begin(), inodes.end(), inode) != inodes.end())
            ++count;
    }
    return count;
}

class SambaDcTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { state = ReadState(); }

    void SetUp() override { ASSERT_FALSE(state["dir"].empty() || state["password"].empty()) << "no controller state"; }

    static std::string Lower(std::string s)
    {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }

    static DnsServer Dns()
    {
        return { state["address"], static_cast<std::uint16_t>(std::stoi(state["dns_port"])), Lower(state["realm"]) };
    }

    static LinuxDirectoryService::Options DirectoryOptions()
    {
        LinuxDirectoryService::Options options;
        options.smbConfPath = state["smb_conf"];
        options.sssdConfPath = state["dir"] + "/no-sssd.conf";
        options.dnsServer = Dns();
        options.smbTimeoutMs = 10000;
        return options;
    }

    static SmbNetworkConnector::Options ConnectorOptions()
    {
        SmbNetworkConnector::Options options;
        options.dnsServer = Dns();
        options.timeoutMs = 10000;
        return options;
    }

    static CString Password() { return CString::FromUtf8(state["password"]); }
    static CString Admin() { return CString::FromUtf8(state["domain"] + "\\" + state["user"]); }
    static CString Host() { return CString::FromUtf8("\\\\" + state["host"]); }
    static int Sessions() { return OwnSmbConnections(state["address"]); }

    static CString Message(INetworkConnector& connector, std::uint32_t code)
    {
        char16_t* buffer = nullptr;
        connector.FormatMessage(code, &buffer);
        CString text = buffer != nullptr ? CString(buffer) : CString();
        connector.LocalFree(buffer);
        return text;
    }

    static inline std::map<std::string, std::string> state;
};

TEST_F(SambaDcTest, TheControllerIsFoundUnderTheNameTheJoinReports)
{
    LinuxDirectoryService service(DirectoryOptions());
    // The controller's own smb.conf: a member of its realm, by the realm's DNS name.
    const char16_t* name = nullptr;
    int status = 0;
    ASSERT_EQ(service.NetGetJoinInformation(u"", &name, &status), 0u);
    const CString domain = name;
    service.NetApiBufferFree(name);
    EXPECT_EQ(status, NetSetupDomainName);
    EXPECT_EQ(domain.ToUtf8(), Lower(state["realm"]));

    // Its internal DNS answers the locator's SRV query.
    DsBinding* binding = nullptr;
    ASSERT_EQ(service.DsBind(domain, &binding), 0u);
    std::uint32_t count = 0;
    const DsControllerInfo1* infos = nullptr;
    ASSERT_EQ(service.DsGetDomainControllerInfo(binding, domain, 1, &count, &infos), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(infos[0].NetbiosName, u"DC1");
    EXPECT_EQ(infos[0].DnsHostName.ToUtf8(), state["host"]);
    EXPECT_TRUE(infos[0].fIsPdc);
    service.DsFreeDomainControllerInfo(1, count, infos);
    EXPECT_EQ(service.DsUnBind(&binding), 0u);

    EXPECT_EQ(service.DsBind(u"nosuch." + domain, &binding), win32_error::kNoSuchDomain);
}

TEST_F(SambaDcTest, BindWithCredentialsLogsOnToTheController)
{
    LinuxDirectoryService service(DirectoryOptions());
    const CString domain = CString::FromUtf8(Lower(state["realm"]));
    const int before = Sessions();
    const CString user = CString::FromUtf8(state["user"]);
    for (const CString& name : { user, Admin(), user + u"@" + domain }) {
        SCOPED_TRACE(name.ToUtf8());
        DsCredential* credential = nullptr;
        ASSERT_EQ(service.DsMakePasswordCredentials(name, domain, Password(), &credential), 0u);
        DsBinding* binding = nullptr;
        EXPECT_EQ(service.DsBindWithCred(domain, credential, &binding), 0u);
        service.DsFreePasswordCredentials(credential);
        ASSERT_NE(binding, nullptr);
        // The binding holds the logged-on session until it is released.
        EXPECT_EQ(Sessions(), before + 1);
        EXPECT_EQ(service.DsUnBind(&binding), 0u);
        EXPECT_EQ(Sessions(), before);
    }

    for (const auto& [name, password] :
         { std::pair{ Admin(), CString(u"wrong") }, std::pair{ CString(u"nobody"), Password() } }) {
        SCOPED_TRACE(name.ToUtf8());
        DsCredential* credential = nullptr;
        ASSERT_EQ(service.DsMakePasswordCredentials(name, domain, password, &credential), 0u);
        DsBinding* binding = nullptr;
        EXPECT_EQ(service.DsBindWithCred(domain, credential, &binding), win32_error::kLogonFailure);
        EXPECT_EQ(binding, nullptr);
        service.DsFreePasswordCredentials(credential);
    }
    EXPECT_EQ(Sessions(), before);
}

TEST_F(SambaDcTest, AConnectionHoldsASessionUntilCancelled)
{
    SmbNetworkConnector connector(ConnectorOptions());
    const int before = Sessions();
    ASSERT_EQ(connector.AddConnection(Host(), Password(), Admin()), 0u);
    EXPECT_EQ(Sessions(), before + 1);
    // Again as the same user: a second session; as another user: refused while these last.
    ASSERT_EQ(connector.AddConnection(Host(), Password(), Admin()), 0u);
    EXPECT_EQ(Sessions(), before + 2);
    EXPECT_EQ(connector.AddConnection(Host(), Password(), u"ZELTOR\\Guest"), win32_error::kSessionCredentialConflict);
    EXPECT_EQ(Message(connector, win32_error::kSessionCredentialConflict).substr(0, 44),
              u"Multiple connections to a server or shared r");

    EXPECT_EQ(connector.CancelConnection(Host(), true), 0u);
    EXPECT_EQ(Sessions(), before + 1);
    EXPECT_EQ(connector.CancelConnection(Host(), true), 0u);
    EXPECT_EQ(Sessions(), before);
    EXPECT_EQ(connector.CancelConnection(Host(), true), win32_error::kNotConnected);
}

TEST_F(SambaDcTest, RefusalsAndMissingNamesHaveTheirCodesAndTexts)
{
    SmbNetworkConnector connector(ConnectorOptions());
    const int before = Sessions();
    EXPECT_EQ(connector.AddConnection(Host(), u"wrong", Admin()), win32_error::kLogonFailure);
    EXPECT_EQ(Message(connector, win32_error::kLogonFailure), u"The user name or password is incorrect.\r\n");
    EXPECT_EQ(connector.AddConnection(Host(), Password(), u"nobody"), win32_error::kLogonFailure);

    // A name the domain's DNS does not know, and an address where no server listens.
    EXPECT_EQ(connector.AddConnection(u"\\\\nosuch.zeltor.test", Password(), Admin()), win32_error::kBadNetPath);
    EXPECT_EQ(connector.AddConnection(u"\\\\127.0.0.2", Password(), Admin()), win32_error::kBadNetPath);
    EXPECT_EQ(Message(connector, win32_error::kBadNetPath), u"The network path was not found.\r\n");

    // Shares: one the controller has, one it has not.
    EXPECT_EQ(connector.AddConnection(Host() + u"\\sysvol", Password(), Admin()), 0u);
    EXPECT_EQ(connector.AddConnection(Host() + u"\\nosuch", Password(), Admin()), win32_error::kBadNetName);
    EXPECT_EQ(Message(connector, win32_error::kBadNetName), u"The network name cannot be found.\r\n");
    EXPECT_EQ(connector.CancelConnection(Host() + u"\\SYSVOL", false), 0u);
    EXPECT_EQ(Sessions(), before);
}

// The main window on the headless backend with the real Linux services and scripted counters:
// discovery at start-up, then Update with the typed credentials.
TEST_F(SambaDcTest, TheMainWindowFindsTheDomainAndConnectsToItsController)
{
    LinuxDirectoryService directory(DirectoryOptions());
    SmbNetworkConnector network(ConnectorOptions());
    FakeCounterSource counters;
    FakeShellService shell;
    ZeltorServices services{ directory, network, counters, shell };
    CWinApp app{ u"zeltor" };
    HeadlessBackend ui;
    app.m_pBackend = &ui;
    app.m_pResources = &ProgramResources();
    app.m_strAppName = u"zeltor";
    CZeltorDlg dlg(services);
    app.m_pMainWnd = &dlg;
    ASSERT_TRUE(dlg.Create());
    const auto ctl = [&](int id) { return ui.Item(dlg.m_hWnd, id); };

    EXPECT_EQ(ui.GetWindowText(ctl(IDC_DOMAIN)).ToUtf8(), Lower(state["realm"]));
    EXPECT_EQ(ui.GetWindowText(ctl(IDC_DC)), u"DC1");

    const int before = Sessions();
    ui.Type(ctl(IDC_USERNAME), Admin());
    ui.Type(ctl(IDC_PASSWORD), u"wrong");
    ui.Click(ctl(IDC_UPDATE));
    ASSERT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(ui.messageBoxes[0].text, u"Error:1326\nThe user name or password is incorrect.\r\n");

    ui.Type(ctl(IDC_PASSWORD), Password());
    ui.Click(ctl(IDC_UPDATE));
    EXPECT_EQ(ui.messageBoxes.size(), 1u);
    EXPECT_EQ(counters.connectedMachines, (std::vector<CString>{ u"DC1" }));
    EXPECT_EQ(Sessions(), before + 1);

    dlg.DisconnectAll();
    EXPECT_EQ(Sessions(), before);
    dlg.DestroyWindow();
    app.m_pMainWnd = nullptr;
}

} // namespace
