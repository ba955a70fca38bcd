// The real window with the Linux services, watching Samba servers on loopback over their Remote
// Registry: the domain controller of run_samba_dc.sh found by discovery, and standalone smbd peers
// (run_smbd.sh) reached by names that a test DNS server gives.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <set>

#include "platform/linux/directory/linux_directory_service.h"
#include "platform/linux/directory/smb_network_connector.h"
#include "platform/linux/linux_counter_sources.h"
#include "platform/linux/samba/credential_registry.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/child_process.h"
#include "tests/linux/test_support.h"
#include "tests/qt/qt_fixture.h"

namespace {

constexpr const char16_t* kNoMachine = u"Unable to connect to the specified computer, or the computer is offline.";

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class RemoteWindowTest : public QtDialogTest {
protected:
    static void SetUpTestSuite()
    {
        dc = ReadPeerState("ZELTOR_SAMBA_DC_STATE");
        smbd = ReadPeerState("ZELTOR_SMBD_STATE");
    }
    void SetUp() override
    {
        ASSERT_FALSE(dc["dir"].empty() || smbd["perfmon"].empty()) << "no peer state";
        ASSERT_TRUE(names.running());
        // Message boxes are read and closed as they open, whichever loop runs them.
        QObject::connect(&boxCatcher, &QTimer::timeout, [this] {
            if (QMessageBox* box = OpenMessageBox()) {
                boxes.push_back(CString::FromUtf8(box->text().toStdString()));
                box->done(QMessageBox::Ok);
            }
        });
        boxCatcher.start(50);
    }

    // The Linux services, as the program makes them, with the test's name servers and ports.
    struct LiveServices {
        LiveServices(const DnsServer& dns, std::uint16_t smbPort, LinuxDirectoryService::Options directoryOptions)
            : directory(std::move(directoryOptions)), network(NetworkOptions(dns, smbPort, credentials)),
              counters(MakeLinuxCounterSource(credentials, RemoteOptions(dns, smbPort))), services{ directory, network,
                                                                                                    *counters, shell }
        {
        }
        static SmbNetworkConnector::Options NetworkOptions(const DnsServer& dns, std::uint16_t port,
                                                           CredentialRegistry& shared)
        {
            SmbNetworkConnector::Options options;
            options.dnsServer = dns;
            options.smbPort = port;
            options.timeoutMs = 10000;
            options.credentials = &shared;
            return options;
        }
        static RemoteCounterOptions RemoteOptions(const DnsServer& dns, std::uint16_t port)
        {
            RemoteCounterOptions options;
            options.dnsServer = dns;
            options.smbPort = port;
            options.reachTimeoutMs = 1000;
            return options;
        }
        CredentialRegistry credentials;
        LinuxDirectoryService directory;
        SmbNetworkConnector network;
        std::unique_ptr<ICounterSource> counters;
        FakeShellService shell;
        ZeltorServices services;
    };

    // Services for a standalone peer on port: discovery finds nothing (no domain here).
    std::unique_ptr<LiveServices> PeerServices(std::uint16_t port)
    {
        LinuxDirectoryService::Options options;
        options.smbConfPath = smbd["dir"] + "/no-smb.conf";
        options.sssdConfPath = smbd["dir"] + "/no-sssd.conf";
        return std::make_unique<LiveServices>(names.server(), port, options);
    }

    // Runs the main dialog with the services; script runs once it is shown. Bounded.
    void Run(LiveServices& live, const std::function<void(HWND)>& script)
    {
        CZeltorDlg dlg(live.services);
        app.m_pMainWnd = &dlg;
        QTimer::singleShot(0, [&] {
            HWND h = ui.FindDialog(u"Zeltor");
            ASSERT_NE(h, nullptr);
            script(h);
            dlg.EndDialog(IDCANCEL);
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] { dlg.EndDialog(-99); });
        guard.start(60000);
        EXPECT_EQ(dlg.DoModal(), IDCANCEL) << "the test ran past its bound";
        dlg.DisconnectAll();
        app.m_pMainWnd = nullptr;
    }

    void Type(HWND h, int id, const std::string& text)
    {
        auto* edit = Control<QLineEdit>(h, id);
        edit->clear();
        QTest::keyClicks(edit, QString::fromStdString(text));
    }

    void Update(HWND h, const std::string& machine, const std::string& user, const std::string& password)
    {
        Type(h, IDC_DC, machine);
        Type(h, IDC_USERNAME, user);
        Type(h, IDC_PASSWORD, password);
        QTest::mouseClick(Control<QPushButton>(h, IDC_UPDATE), Qt::LeftButton);
    }

    int Value(HWND h, int id) { return Control<QLabel>(h, id)->text().toInt(); }

    static inline std::map<std::string, std::string> dc, smbd;
    DnsmasqServer names{ { "--host-record=peer1.zeltor.test,127.0.0.1", "--host-record=peer2.zeltor.test,127.0.0.1",
                           "--host-record=silent.zeltor.test,127.0.0.9" } };
    QTimer boxCatcher;
    std::vector<CString> boxes;
};

} // namespace

TEST_F(RemoteWindowTest, TheControllersThirteenValuesAppearAndRefreshEverySecond)
{
    // The controller's databases filled by the provider, zeltor-perfd, with a child of this test
    // as its lsass (a process of that name would also be every other test's lsass).
    ChildProcess lsass(StandInLsassName(), 7);
    ASSERT_TRUE(lsass.Running());
    CommittedPercentWatch commit;
    PerfdRunner perfd(dc["dir"] + "/state", StandInLsassName());
    ASSERT_TRUE(perfd.Running());
    LinuxDirectoryService::Options options;
    options.smbConfPath = dc["smb_conf"];
    options.sssdConfPath = dc["dir"] + "/no-sssd.conf";
    const DnsServer controllerDns{ dc["address"], static_cast<std::uint16_t>(std::stoi(dc["dns_port"])),
                                   Lower(dc["realm"]) };
    options.dnsServer = controllerDns;
    LiveServices live(controllerDns, 445, options);

    Run(live, [&](HWND h) {
        // Discovery picked the controller; Auto Update is ticked from the start.
        ASSERT_EQ(Control<QLineEdit>(h, IDC_DC)->text(), QStringLiteral("DC1"));
        ASSERT_TRUE(Control<QCheckBox>(h, IDC_AUTOUPDATE)->isChecked());
        Update(h, Control<QLineEdit>(h, IDC_DC)->text().toStdString(), dc["domain"] + "\\" + dc["user"],
               dc["password"]);
        EXPECT_TRUE(WaitFor([&] { return Value(h, IDC_LSASSHANDLES) == 7; }, 8000));
        // The controller runs on this kernel: its figures are this machine's.
        const int committedPercent = Value(h, IDC_MEMORYUSAGE);
        EXPECT_NEAR(committedPercent, commit.Nearest(committedPercent), 2);
        const int disk = Value(h, IDC_DISKUSAGE);
        EXPECT_GT(disk, 0);
        EXPECT_LE(disk, 100);
        EXPECT_EQ(Value(h, IDC_NTFRSHANDLES), 0); // no such process
        // The rates come from the second tick on, and change as the seconds go.
        std::set<int> faults;
        WaitFor(
            [&] {
                faults.insert(Value(h, IDC_PAGEFAULTS));
                return faults.size() >= 3;
            },
            8000);
        EXPECT_GE(faults.size(), 3u);
        const int cpu = Value(h, IDC_CPUUSAGE);
        EXPECT_GE(cpu, 0);
        EXPECT_LE(cpu, 100);
        SaveScreenshot(ui.Widget(h), QStringLiteral("main-window-remote-controller.png"));
    });
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].ToUtf8());
}

TEST_F(RemoteWindowTest, EachFailureGivesTheBoxOfTheCycleAndNothingHangs)
{
    const std::uint16_t port = static_cast<std::uint16_t>(std::stoi(smbd["port"]));
    auto live = PeerServices(port);
    ASSERT_TRUE(FillPerfmon(smbd["perfmon"]));
    Run(*live, [&](HWND h) {
        // A wrong password: the connection's own box, and no counters set up.
        Update(h, "peer1.zeltor.test", smbd["user"], "wrong");
        ASSERT_TRUE(WaitFor([&] { return boxes.size() == 1; }));
        EXPECT_EQ(boxes[0], u"Error:1326\nThe user name or password is incorrect.\r\n");
        EXPECT_FALSE(Control<QCheckBox>(h, IDC_AUTOUPDATE)->isEnabled());

        // A name no one knows, and an address where nothing answers, without a user name: the
        // counters' connection fails at once.
        for (const char* machine : { "nosuch.zeltor.test", "silent.zeltor.test" }) {
            Update(h, machine, "", "");
            ASSERT_TRUE(WaitFor([&] { return boxes.size() == 2; }, 10000)) << machine;
            EXPECT_EQ(boxes[1], CString(u"Could not initialize.\n") + kNoMachine);
            boxes.pop_back();
        }

        // A server whose winreg has no performance data.
        ASSERT_TRUE(EmptyPerfmon(smbd["perfmon"]));
        Update(h, "peer1.zeltor.test", smbd["user"], smbd["password"]);
        ASSERT_TRUE(WaitFor([&] { return boxes.size() == 2; }));
        EXPECT_EQ(boxes[1],
                  u"Could not initialize.\nUnable to read the counter and/or help text from the specified computer.");
    });
    ASSERT_TRUE(FillPerfmon(smbd["perfmon"]));
}

TEST_F(RemoteWindowTest, APeerStoppedDuringAutoUpdateIsReportedEachSecondAndReadAgainOnceBack)
{
    constexpr std::uint16_t kPort = 4453; // apart from the other smbd fixtures (4450, 4451)
    const std::string state = smbd["dir"] + "-peer2.state";
    // The peer's databases filled by the provider, started anew with the peer.
    std::unique_ptr<PerfdRunner> perfd;
    const auto startPeer = [&] {
        if (!RunScript(ZELTOR_RUN_SMBD, { "start", state, std::to_string(kPort) }))
            return false;
        perfd = std::make_unique<PerfdRunner>(ReadStateFile(state).at("dir") + "/state", "");
        return perfd->Running();
    };
    ASSERT_TRUE(startPeer());
    auto live = PeerServices(kPort);
    Run(*live, [&](HWND h) {
        Update(h, "peer2.zeltor.test", smbd["user"], smbd["password"]);
        ASSERT_TRUE(WaitFor([&] { return Value(h, IDC_MEMORYUSAGE) > 0; }, 5000));
        ASSERT_TRUE(boxes.empty());

        ASSERT_TRUE(RunScript(ZELTOR_RUN_SMBD, { "stop", state }));
        perfd.reset();
        ASSERT_TRUE(WaitFor([&] { return boxes.size() >= 2; }, 8000));
        for (const CString& box : boxes)
            EXPECT_EQ(box, kNoMachine);
        // The display keeps the last values while the peer is away.
        EXPECT_GT(Value(h, IDC_MEMORYUSAGE), 0);

        // Back: the next collections connect again and succeed, so no box opens any more.
        ASSERT_TRUE(startPeer());
        WaitFor([] { return false; }, 1500); // a collection under way may still fail
        boxes.clear();
        WaitFor([] { return false; }, 3000);
        EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].ToUtf8());
        EXPECT_GT(Value(h, IDC_MEMORYUSAGE), 0);
    });
    perfd.reset();
    RunScript(ZELTOR_RUN_SMBD, { "stop", state });
}

TEST_F(RemoteWindowTest, AutoUpdateNeverLogsOnAgainWithARefusedPasswordAndASilentPeerHoldsATickOnce)
{
    const std::string state = std::getenv("ZELTOR_SMBD_STATE");
    auto live = PeerServices(static_cast<std::uint16_t>(std::stoi(smbd["port"])));
    ASSERT_TRUE(FillPerfmon(smbd["perfmon"]));
    const int refusedBefore = RefusedLogons(smbd["dir"]);
    Run(*live, [&](HWND h) {
        ASSERT_TRUE(Control<QCheckBox>(h, IDC_AUTOUPDATE)->isChecked());
        Update(h, "peer1.zeltor.test", smbd["user"], smbd["password"]);
        ASSERT_TRUE(WaitFor([&] { return Value(h, IDC_MEMORYUSAGE) > 0; }, 5000));
        ASSERT_TRUE(boxes.empty());

        // The password changed at the server, the connection dropped: Auto Update goes on ticking
        // and showing the refusal, but logs on with the refused password once only.
        {
            ChangedPassword changed(state, "Changed-Pa55!", smbd["password"]);
            ASSERT_TRUE(changed.Changed());
            ASSERT_TRUE(RunScript(ZELTOR_RUN_SMBD, { "drop", state }));
            ASSERT_TRUE(WaitFor([&] { return boxes.size() >= 4; }, 10000));
            EXPECT_EQ(boxes.back(), u"The user name or password is incorrect.");
            EXPECT_EQ(RefusedLogons(smbd["dir"]), refusedBefore + 1);
        }
        // A new Update (the fields as they were) with the password that holds again reads the
        // server.
        QTest::mouseClick(Control<QPushButton>(h, IDC_UPDATE), Qt::LeftButton);
        WaitFor([] { return false; }, 1500);
        boxes.clear();
        WaitFor([] { return false; }, 2000);
        EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].ToUtf8());

        // The server stops answering: each tick holds the window once, within the connection's
        // bound, then its box; the longest stall of the event loop is measured.
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, longest = 0;
        QTimer heartbeat;
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            longest = std::max(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        heartbeat.start(20);
        ASSERT_TRUE(RunScript(ZELTOR_RUN_SMBD, { "pause", state }));
        const bool reported = WaitFor([&] { return !boxes.empty(); }, 15000);
        const qint64 firstBox = clock.elapsed();
        WaitFor([&] { return boxes.size() >= 2; }, 15000);
        ASSERT_TRUE(RunScript(ZELTOR_RUN_SMBD, { "resume", state }));
        heartbeat.stop();
        std::printf("silent peer under Auto Update: first box after %.1f s, longest stall %.1f s\n",
                    static_cast<double>(firstBox) / 1000, static_cast<double>(longest) / 1000);
        EXPECT_TRUE(reported);
        // Far below a wait per counter or the library's own minute.
        EXPECT_LT(longest, 2 * 10000);
    });
    EXPECT_EQ(RefusedLogons(smbd["dir"]), refusedBefore + 1);
}
