#include "console_cases.h"

#include <sddl.h>

#include <regex>

#include "scenarios.h"

namespace {

// A program's text with its line ends as the probe writes them to standard error.
std::string Lines(const std::wstring& text)
{
    std::wstring out;
    for (const wchar_t c : text) {
        if (c != L'\r')
            out += c;
    }
    while (!out.empty() && out.back() == L'\n')
        out.pop_back();
    return Utf8(out);
}

std::wstring SystemText(DWORD code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    return result;
}

// The values each format shows, in the counters' order.
std::vector<std::string> Figures(const std::string& out, const std::string& pattern)
{
    const std::regex value(pattern);
    std::vector<std::string> found;
    for (std::sregex_iterator it(out.begin(), out.end(), value), end; it != end; ++it)
        found.push_back((*it)[1]);
    return found;
}

std::string Listed(const std::vector<std::string>& values)
{
    std::string out;
    for (const std::string& v : values)
        out += " " + v;
    return out;
}

// A file holding text that only the user running the driver may use (a protected DACL with
// one entry), or one with the default security Wine gives a new file.
bool WriteSecretFile(const std::wstring& path, const std::string& text, bool ownerOnly)
{
    SECURITY_ATTRIBUTES attributes{ sizeof attributes, nullptr, FALSE };
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ownerOnly) {
        HANDLE token = nullptr;
        std::vector<BYTE> user(512);
        DWORD length = 0;
        wchar_t* sid = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return false;
        const bool gotUser =
            GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &length) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid);
        CloseHandle(token);
        if (!gotUser)
            return false;
        const std::wstring sddl = std::wstring(L"D:P(A;;FA;;;") + sid + L")";
        LocalFree(sid);
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            return false;
        attributes.lpSecurityDescriptor = descriptor;
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS, 0, nullptr);
    if (descriptor != nullptr)
        LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    CloseHandle(file);
    return ok;
}

} // namespace

void ProbeShowsTheWindowsFigures(const Paths& paths, Check& check)
{
    std::vector<std::string> shown;
    {
        Program p(paths, "probe-window", CounterScenario());
        check.Require(p.Started(), "the program shows its window \"Zeltor\"");
        Click(p.Item(IDC_UPDATE));
        check.Require(WaitUntil([&] { return TextOf(p.Item(IDC_PAGEWRITES)) != L"0"; }, 20000),
                      "a tick shows the values");
        for (const ScriptedCounter& c : kCounters)
            shown.push_back(Utf8(TextOf(p.Item(c.field))));
    }
    const std::pair<const char*, const char*> formats[] = {
        { "table", R"(\n\\\S.*?\s+(-?\d+)(?=\n))" },
        { "csv", R"(,"(-?\d+)\")" },
        { "json", R"("value":(-?\d+))" },
        { "nagios", R"('=(-?\d+))" },
        { "prometheus", R"(\n(?!zeltor_probe_)zeltor_\w+\{[^}]*\} (-?\d+))" },
    };
    for (const auto& [format, pattern] : formats) {
        const ConsoleRun run =
            RunConsole(paths, std::string("probe-") + format, CounterScenario(), L"-f " + Widen(format) + L" DC1");
        check.Eq(run.exitCode, 0, std::string(format) + ": exit code");
        const std::vector<std::string> figures = Figures(run.out, pattern);
        check.That(figures == shown,
                   std::string(format) + ": the window's" + Listed(shown) + ", the probe's" + Listed(figures));
        check.Eq(static_cast<long long>(IndexOf(run.log, L"PdhCollectQueryData|open")), 15,
                 std::string(format) + ": the first collection comes right after the 13 counters");
    }
}

void ProbeFailuresSayTheWindowsTexts(const Paths& paths, Check& check)
{
    // A refused connection: "Error:53" and the system's text; no counters asked for.
    ConsoleRun run = RunConsole(paths, "probe-netfail", CounterScenario() + L"mpr.add.result=53\n",
                                L"-u admin --password-stdin DC1", "pa55\r\n");
    check.Eq(run.exitCode, 4, "a refused connection's exit code");
    check.Eq(Widen(run.err), Widen("zeltor-probe: Error:53\n" + Lines(SystemText(53)) + "\n"), "its text");
    check.That(HasCall(run.log,
                       L"WNetAddConnection2W|type=0|local=(null)|remote=\"\\\\DC1\"|provider=(null)|password=\"pa55\"|"
                       L"user=\"admin\"|flags=0"),
               "the connection is asked for with the password from standard input:" + Joined(run.log));
    check.Eq(IndexOf(run.log, L"PdhConnectMachineW"), -1, "counters after the failure");

    // Counters that cannot be set up: the query's text, as a box and as a plugin's line.
    const std::wstring offline = CounterScenario() + L"pdh.connect.result=0x800007D0\n";
    run = RunConsole(paths, "probe-offline", offline, L"DC1");
    check.Eq(run.exitCode, 5, "a machine that cannot be connected: exit code");
    check.Eq(
        Widen(run.err),
        L"zeltor-probe: Could not initialize.\nUnable to connect to the specified computer, or the computer is offline.\n",
        "its text");
    run = RunConsole(paths, "probe-offline-plugin", offline, L"-f nagios DC1");
    check.Eq(run.exitCode, 3, "the plugin's exit code");
    check.Eq(
        Widen(run.out),
        L"ZELTOR UNKNOWN - Could not initialize. Unable to connect to the specified computer, or the computer is offline.\n",
        "the plugin's line");

    // A password on the command line is refused before anything is asked of the system.
    run = RunConsole(paths, "probe-password-argument", CounterScenario(), L"-u admin --password Hunter2x DC1");
    check.Eq(run.exitCode, 2, "a password on the command line: exit code");
    check.That(run.err.find("--password-stdin") != std::string::npos &&
                   run.err.find("--password-file") != std::string::npos &&
                   run.err.find("Hunter2x") == std::string::npos,
               "it says how to give the password, not the password: " + run.err);
    check.That(run.log.empty(), "no system call:" + Joined(run.log));

    // A counter the machine does not publish is unavailable, not 0.
    run = RunConsole(paths, "probe-missing", CounterScenario() + L"pdh.missing=\\Process(ntfrs)\\Handle Count\n",
                     L"-f csv DC1");
    check.Eq(run.exitCode, 0, "an unpublished counter: exit code");
    check.That(run.out.find("\"77\",\" \",\"99\"") != std::string::npos,
               "the cell between 77 and 99 is blank: " + run.out);
}

void ProbePasswordFileAndConnection(const Paths& paths, Check& check)
{
    CreateDirectoryW(paths.cases.c_str(), nullptr);
    const std::wstring mine = paths.cases + L"\\password-mine.txt";
    const std::wstring shared = paths.cases + L"\\password-shared.txt";
    check.Require(WriteSecretFile(mine, "s3cret\r\n", true) && WriteSecretFile(shared, "s3cret\r\n", false),
                  "the password files are written");

    ConsoleRun run = RunConsole(paths, "probe-password-mine", CounterScenario(),
                                L"-u CORP\\admin --password-file \"" + mine + L"\" -f json DC1");
    check.Eq(run.exitCode, 0, "a file only its owner can read: exit code");
    check
        .That(HasCall(run.log,
                      L"WNetAddConnection2W|type=0|local=(null)|remote=\"\\\\DC1\"|provider=(null)|password=\"s3cret\"|"
                      L"user=\"CORP\\admin\"|flags=0"),
              "the connection is opened with the file's first line:" + Joined(run.log));
    const long long cancel = IndexOf(run.log, L"WNetCancelConnectionW|\"\\\\DC1\"|1");
    const long long close = IndexOf(run.log, L"PdhCloseQuery|released");
    check.That(cancel >= 0 && close > cancel,
               "the connection is cancelled, forced, before the query closes:" + Joined(run.log));

    run = RunConsole(paths, "probe-password-shared", CounterScenario(),
                     L"-u CORP\\admin --password-file \"" + shared + L"\" -f json DC1");
    check.Eq(run.exitCode, 3, "a file others can read: exit code");
    check.That(run.err.find("can be read or changed by") != std::string::npos,
               "it says who else can read it: " + run.err);
    check.That(run.log.empty(), "nothing is connected:" + Joined(run.log));
}

void ProbeChecksAControllersHealth(const Paths& paths, Check& check)
{
    const std::wstring scenario = std::wstring(kDomainWithThreeControllers) + kControllersInDns;
    ConsoleRun run = RunConsole(paths, "probe-health", scenario, L"--health DC1");
    check.Eq(run.exitCode, 0, "all pass: exit code");
    check.That(run.out.rfind("Health of DC1: ok\n", 0) == 0, "the summary: " + run.out);
    const std::string checks[] = { "ldap", "global_catalog", "ldap_bind", "kerberos",
                                   "dns",  "time",           "sysvol",    "netlogon" };
    for (const std::string& name : checks)
        check.That(std::regex_search(run.out, std::regex("\n" + name + " +ok ")), name + " passes: " + run.out);
    check.That(run.out.find("the KDC at 10.0.0.1 gave a ticket for ldap/dc1.corp.example to alice@CORP.EXAMPLE") !=
                   std::string::npos,
               "the KDC's answer: " + run.out);
    check.That(HasCall(run.log, L"ldap_bind_sW|\"dc1.corp.example\":389|(null)|method=1158|this logon") &&
                   HasCall(run.log,
                           L"WNetAddConnection2W|type=0|local=(null)|remote=\"\\\\DC1\\SYSVOL\"|provider=(null)|"
                           L"password=(null)|user=(null)|flags=0") &&
                   HasCall(run.log, L"WNetCancelConnectionW|\"\\\\DC1\\SYSVOL\"|0"),
               "a Negotiate bind and the shares with this logon's credentials:" + Joined(run.log));

    run = RunConsole(paths, "probe-health-srv", scenario, L"-u CORP\\admin --password-stdin --health DC3", "pa55\r\n");
    check.Eq(run.exitCode, 8, "a failing check: exit code");
    check.That(std::regex_search(run.out,
                                 std::regex("\ndns +FAILED .*_ldap\\._tcp\\.dc\\._msdcs\\.corp\\.example does not list "
                                            "dc3\\.corp\\.example\n")),
               "the missing record is named: " + run.out);
    check.That(HasCall(run.log, L"ldap_bind_sW|\"dc3.corp.example\":389|(null)|method=1158|user=\"admin\"|"
                                L"domain=\"CORP\"|password=\"pa55\"|flags=2"),
               "the bind with the given credentials:" + Joined(run.log));
    size_t sent = 0;
    for (const std::wstring& line : run.log)
        sent += line.find(L"pa55") != std::wstring::npos && line.rfind(L"ldap_bind_sW|", 0) != 0 &&
                line.rfind(L"WNetAddConnection2W|", 0) != 0;
    check.Eq(static_cast<long long>(sent), 0, "the password goes to the bind and the shares alone");
    run = RunConsole(paths, "probe-health-nagios", scenario, L"-f nagios --health DC3");
    check.Eq(run.exitCode, 2, "the plugin: critical");
    check.That(run.out.find("does not list dc3.corp.example") != std::string::npos, "its line: " + run.out);

    // A refused password: the bind says so, and the shares are not tried with it. A logon
    // without Kerberos tickets: the KDC is not asked with the password instead.
    run = RunConsole(paths, "probe-health-refused", scenario + L"ldap.bind.result=0x31\nkdc.ticket.status=0x8009030E\n",
                     L"-u CORP\\admin --password-stdin --health DC1", "wrong\r\n");
    check.Eq(run.exitCode, 8, "a refused bind: exit code");
    check.That(std::regex_search(run.out, std::regex("\nsysvol +FAILED .*not tried: the bind's logon")),
               "the shares wait for the bind: " + run.out);
    check.That(std::regex_search(run.out, std::regex("\nkerberos +FAILED .*Kerberos ticket, and it has none .*no "
                                                     "password is sent to it\n")),
               "no ticket: said, and no password sent instead: " + run.out);
    check.Eq(IndexOf(run.log, L"WNetAddConnection2W"), -1, "no share's logon with the refused password");
}

void ProbeReadsTheReplicationThroughNtdsapi(const Paths& paths, Check& check)
{
    // DC1 pulls the domain from DC2 and DC3 and the configuration from DC2; DC3 has failed for
    // three hours. DC1 answers LDAP; its forest does not set the tombstone lifetime.
    const std::wstring scenario = std::wstring(kDomainWithThreeControllers) + L"ldap.server=DC1 dc1.corp.example\n" +
                                  L"ds.repl.neighbor=DC1 DC2 DC=corp,DC=example 600 0 0\n"
                                  L"ds.repl.neighbor=DC1 DC3 DC=corp,DC=example 10830 7 1722\n"
                                  L"ds.repl.neighbor=DC1 DC2 CN=Configuration,DC=corp,DC=example 60 0 0\n"
                                  L"ds.repl.pending=DC1 4\n";
    ConsoleRun run = RunConsole(paths, "probe-replication", scenario, L"--replication DC1");
    check.Eq(run.exitCode, 9, "a failing partner's exit code");
    const std::string out = run.out;
    check.That(out.rfind("Replication of DC1: DC3 failing for 3 h: The RPC server is unavailable.\n", 0) == 0,
               "the summary names the failing partner and its result's text: " + out);
    check.That(std::regex_search(out, std::regex(R"(; pending operations 4\n)")), "the queue's length: " + out);
    check.That(std::regex_search(out, std::regex(R"(\nDC=corp,DC=example +Default-First-Site-Name\\DC3 +)"
                                                 R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\dZ +7 +1722 The RPC server)")),
               "the failing partner's line: its last success, failures and result: " + out);
    check.That(std::regex_search(out, std::regex(R"(\nCN=Configuration,DC=corp,DC=example +)"
                                                 R"(Default-First-Site-Name\\DC2 +\S+ \S+ +0 +0 ok\n)")),
               "the configuration's partner: " + out);
    check.That(out.find("\ntombstone lifetime 60 days (not set in the forest: the default); pending operations 4\n") !=
                   std::string::npos,
               "the default tombstone lifetime, said to be the default: " + out);
    const std::wstring directoryService =
        L"\"CN=Directory Service,CN=Windows NT,CN=Services,CN=Configuration,DC=corp,DC=example\"";
    check.That(HasCall(run.log, L"ldap_bind_sW|\"DC1\":389|(null)|method=1158|this logon") &&
                   HasCall(run.log, L"ldap_search_ext_sW|\"DC1\":389|\"\"|0|configurationNamingContext") &&
                   HasCall(run.log, L"ldap_search_ext_sW|\"DC1\":389|" + directoryService + L"|0|tombstoneLifetime") &&
                   HasCall(run.log, L"ldap_get_valuesW|" + directoryService + L"|\"tombstoneLifetime\"|none"),
               "the Directory Service object read under the rootDSE's configuration, with this logon:" +
                   Joined(run.log));
    check.That(HasCall(run.log, L"ldap_msgfree|\"\"") && HasCall(run.log, L"ldap_msgfree|" + directoryService) &&
                   HasCall(run.log, L"ldap_value_freeW|\"CN=Configuration,DC=corp,DC=example\"") &&
                   HasCall(run.log, L"ldap_unbind|\"DC1\":389"),
               "both answers and the value freed, the connection closed:" + Joined(run.log));
    check.That(HasCall(run.log, L"DsBindWithCredW|\"DC1\"|(null)|own logon"),
               "bound to DC1 with the user's own logon:" + Joined(run.log));
    check.That(HasCall(run.log, L"DsReplicaGetInfoW|bound|0|(null)|every source") &&
                   HasCall(run.log, L"DsReplicaGetInfoW|bound|5|(null)|every source"),
               "the neighbours and the pending operations of every naming context:" + Joined(run.log));
    check.That(HasCall(run.log, L"DsReplicaFreeInfo|0|released") && HasCall(run.log, L"DsReplicaFreeInfo|5|released") &&
                   HasCall(run.log, L"DsUnBindW|released"),
               "both answers freed, the binding released:" + Joined(run.log));

    // With a user: the credentials live as long as the binding; the plugin line is critical past
    // the default hour of the warning.
    run = RunConsole(paths, "probe-replication-nagios", scenario,
                     L"-u CORP\\admin --password-stdin -f nagios --replication DC1", "pa55\r\n");
    check.Eq(run.exitCode, 1, "the plugin warns of three hours' failure");
    check.That(run.out.rfind("ZELTOR WARNING - Default-First-Site-Name\\DC3 DC=corp,DC=example failing for 3 h: "
                             "The RPC server is unavailable. | 'failing'=1 'longest_failing'=",
                             0) == 0 &&
                   run.out.find("'pending_operations'=4\n") != std::string::npos,
               "the plugin's line: " + run.out);
    check.That(HasCall(run.log, L"DsMakePasswordCredentialsW|\"CORP\\admin\"|(null)|\"pa55\"") &&
                   HasCall(run.log, L"DsBindWithCredW|\"DC1\"|(null)|credential"),
               "bound with the user's credentials:" + Joined(run.log));
    const long long unbind = IndexOf(run.log, L"DsUnBindW|released");
    const long long freed = IndexOf(run.log, L"DsFreePasswordCredentials|released");
    check.That(unbind >= 0 && freed > unbind, "the credentials freed after the binding:" + Joined(run.log));

    // A forest that sets the lifetime, under a configuration of its own name, read with the
    // user's credentials; a refused LDAP bind leaves it unknown, and says why.
    run = RunConsole(paths, "probe-replication-tombstone",
                     scenario + L"ldap.tombstone=180\nldap.config=CN=Configuration,DC=forest,DC=example\n",
                     L"-u CORP\\admin --password-stdin --replication DC1", "pa55\r\n");
    check.That(run.out.find("\ntombstone lifetime 180 days; pending operations 4\n") != std::string::npos,
               "the forest's tombstone lifetime: " + run.out);
    const std::wstring forestService =
        L"\"CN=Directory Service,CN=Windows NT,CN=Services,CN=Configuration,DC=forest,DC=example\"";
    check.That(HasCall(run.log, L"ldap_bind_sW|\"DC1\":389|(null)|method=1158|user=\"admin\"|domain=\"CORP\"|"
                                L"password=\"pa55\"|flags=2") &&
                   HasCall(run.log, L"ldap_search_ext_sW|\"DC1\":389|" + forestService + L"|0|tombstoneLifetime") &&
                   HasCall(run.log, L"ldap_value_freeW|\"180\"") && HasCall(run.log, L"ldap_msgfree|" + forestService),
               "a Negotiate bind as the user, the object read and freed:" + Joined(run.log));
    run = RunConsole(paths, "probe-replication-ldap-refused", scenario + L"ldap.bind.result=0x31\n",
                     L"--replication DC1");
    check.That(run.out.find("\ntombstone lifetime unknown (the LDAP bind to DC1: Invalid Credentials); pending "
                            "operations 4\n") != std::string::npos,
               "the unread tombstone lifetime: " + run.out);
    check.Eq(IndexOf(run.log, L"ldap_search_ext_sW"), -1, "nothing searched after a refused bind");

    // A refused logon: the system's text, and nothing asked of the controller.
    run = RunConsole(paths, "probe-replication-refused", scenario + L"ds.bind.result=1326\n",
                     L"-u CORP\\admin --password-stdin --replication DC1", "wrong\r\n");
    check.Eq(run.exitCode, 4, "a refused logon's exit code");
    check.Eq(Widen(run.err), Widen("zeltor-probe: the replication interface of DC1: " + Lines(SystemText(1326)) + "\n"),
             "its text");
    check.Eq(IndexOf(run.log, L"DsReplicaGetInfoW"), -1, "no replication asked for");
    check.That(HasCall(run.log, L"DsFreePasswordCredentials|released"), "the credentials freed:" + Joined(run.log));
}
