// The probe and the window on this machine's counters: the same figures in every format.
#include <gtest/gtest.h>

#include <regex>

#include "app/zeltor_dlg.h"
#include "platform/linux/counters/linux_counter_source.h"
#include "probe/probe_main.h"
#include "res/program_resources.h"
#include "res/resource.h"
#include "tests/fakes/fake_probe_environment.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/fake_shell.h"
#include "tests/headless/headless_backend.h"
#include "tests/linux/child_process.h"

namespace {

constexpr int kLsassDescriptors = 7;

struct Figures {
    int committed = -1;
    int freeSpace = -1;
    std::string lsass;
    std::string ntfrs;
};

} // namespace

TEST(ProbeLiveTest, TheProbeShowsTheWindowsFiguresOfThisMachine)
{
    ChildProcess lsass("lsass", kLsassDescriptors);
    ASSERT_TRUE(lsass.Running());
    LinuxCounterSource source;
    FakeDirectoryService directory;
    FakeNetworkConnector network;

    // The window: Update on localhost, and the first tick.
    Figures window;
    {
        CWinApp app{ u"zeltor" };
        HeadlessBackend ui;
        app.m_pBackend = &ui;
        app.m_pResources = &ProgramResources();
        FakeShellService shell;
        ZeltorServices services{ directory, network, source, shell };
        CZeltorDlg dlg(services);
        app.m_pMainWnd = &dlg;
        ASSERT_TRUE(dlg.Create());
        const auto text = [&](int id) { return ui.GetWindowText(ui.Item(dlg.m_hWnd, id)).ToUtf8(); };
        ui.Type(ui.Item(dlg.m_hWnd, IDC_DC), u"localhost");
        ui.Click(ui.Item(dlg.m_hWnd, IDC_UPDATE));
        ASSERT_TRUE(ui.Tick(dlg.m_hWnd, CZeltorDlg::kRefreshTimerId));
        window = { std::stoi(text(IDC_MEMORYUSAGE)), std::stoi(text(IDC_DISKUSAGE)), text(IDC_LSASSHANDLES),
                   text(IDC_NTFRSHANDLES) };
        EXPECT_TRUE(ui.messageBoxes.empty());
        dlg.DestroyWindow();
        app.m_pMainWnd = nullptr;
    }
    EXPECT_EQ(window.lsass, std::to_string(kLsassDescriptors));
    EXPECT_EQ(window.ntfrs, "0"); // no such process here: the window shows 0

    // The probe, in each format: the third, second, seventh and eighth counters.
    ProbeServices services{ directory, network, source };
    const std::pair<const char*, std::regex> formats[] = {
        { "table", std::regex(R"(\n\\\S.*?\s+(-?\d+|unavailable)(?=\n))") },
        { "csv", std::regex(R"(,"(-?\d+| )\")") },
        { "json", std::regex(R"("value":(-?\d+|null))") },
        { "nagios", std::regex(R"('=(-?\d+|U))") },
        { "prometheus", std::regex(R"(zeltor_probe_path_available\{[^}]*\} ([01]))") },
    };
    for (const auto& [format, value] : formats) {
        SCOPED_TRACE(format);
        FakeProbeEnvironment env;
        // Short: only the rates depend on it, and they are not compared.
        ASSERT_EQ(ProbeMain(services, env, u"zeltor-probe",
                            { u"-f", CString::FromUtf8(format), u"-i", u"0.1", u"localhost" }),
                  0)
            << env.err;
        std::vector<std::string> found;
        for (std::sregex_iterator it(env.out.begin(), env.out.end(), value), end; it != end; ++it)
            found.push_back((*it)[1]);
        ASSERT_EQ(found.size(), 13u) << env.out;
        if (std::string(format) == "prometheus") {
            // Values are read from their own gauges; here only whether each counter had one.
            EXPECT_EQ(found[6], "1");
            EXPECT_EQ(found[7], "0");
            const std::regex lsassGauge(R"(zeltor_process_handles\{instance="localhost",pdh_instance="lsass"\} (\d+))");
            std::smatch m;
            ASSERT_TRUE(std::regex_search(env.out, m, lsassGauge));
            EXPECT_EQ(m[1], window.lsass);
            continue;
        }
        // Committed memory and free space move a little between the two readings at most.
        EXPECT_NEAR(std::stoi(found[1]), window.committed, 1);
        EXPECT_NEAR(std::stoi(found[2]), window.freeSpace, 1);
        EXPECT_EQ(found[6], window.lsass);
        // Where the window shows 0 for a counter it could not read, the probe says so.
        EXPECT_TRUE(found[7] == "unavailable" || found[7] == " " || found[7] == "null" || found[7] == "U") << found[7];
    }
}
