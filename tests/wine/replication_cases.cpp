#include "replication_cases.h"

#include "res/resource.h"
#include "scenarios.h"

void OverviewKeepsEachControllersReplicationBinding(const Paths& paths, Check& check)
{
    // Every controller answers its counters; DC1 and DC3 their replication, DC2 fails the call.
    const std::wstring scenario = CounterScenario() + L"ds.repl.neighbor=DC1 DC2 DC=corp,DC=example 60 0 0\n"
                                                      L"ds.repl.neighbor=DC3 DC1 DC=corp,DC=example 60 0 0\n"
                                                      L"ds.repl.result=DC2 1722\n";
    Program p(paths, "overview-replication", scenario);
    check.Require(p.Started(), "the program shows its window \"Zeltor\"");
    check.Require(BringToFront(p.Main()), "the main window comes to the front");
    PressWith(VK_CONTROL, 'D');
    const HWND overview = p.WaitForWindow(L"Domain Overview");
    check.Require(overview != nullptr, "Ctrl+D opens the overview");
    // A read asks for the neighbours, then, when they came, for the queue.
    check.Require(p.WaitForCalls(L"DsReplicaGetInfoW|bound|5|", 2, 20000) &&
                      p.WaitForCalls(L"DsBindWithCredW|\"DC2\"", 1, 20000),
                  "each controller's replication is read:" + Joined(p.Log()));

    // A click below the rows leaves none selected: Refresh now reads every controller again.
    ClickWithMouse(GetDlgItem(overview, IDC_OVERVIEW_LIST));
    Click(GetDlgItem(overview, IDC_OVERVIEW_REFRESH));
    // The bound is generous: the health checks of the same controllers run beside these reads.
    check.That(p.WaitForCalls(L"DsReplicaGetInfoW|bound|5|", 4, 40000) &&
                   p.WaitForCalls(L"DsBindWithCredW|\"DC2\"", 2, 40000),
               "Refresh now reads them again:" + Joined(p.Log()));
    check.Eq(static_cast<long long>(p.Count(L"DsBindWithCredW|\"DC1\"|(null)|own logon")), 1,
             "DC1's binding is kept, with the user's own logon");
    check.Eq(static_cast<long long>(p.Count(L"DsBindWithCredW|\"DC3\"")), 1, "and DC3's");
    check.Eq(static_cast<long long>(p.Count(L"DsBindWithCredW|\"DC2\"")), 2,
             "DC2's binding is dropped after its failed call and made again");

    Click(GetDlgItem(overview, IDCANCEL));
    check.That(WaitUntil([&] { return !IsWindow(overview); }, 10000), "the overview closes");
    Click(p.Item(IDCANCEL));
    check.Eq(p.WaitForExit(15000), 0, "exit code");
    check.Eq(static_cast<long long>(p.Count(L"DsUnBindW|released")),
             static_cast<long long>(p.Count(L"DsBindW|") + p.Count(L"DsBindWithCredW|")),
             "every binding (the discovery's too) is released by the end");
    check.Eq(static_cast<long long>(p.Count(L"DsReplicaFreeInfo|")),
             static_cast<long long>(2 * p.Count(L"DsReplicaGetInfoW|bound|5|")),
             "both answers of every read are freed:" + Joined(p.Log()));
    check.Eq(static_cast<long long>(p.Count(L"DsReplicaFreeInfo|")),
             static_cast<long long>(p.Count(L"DsReplicaFreeInfo|0|released") +
                                    p.Count(L"DsReplicaFreeInfo|5|released")),
             "each freed as the kind of answer it is:" + Joined(p.Log()));
}
