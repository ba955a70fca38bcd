// The scenarios the cases share: a domain member with three controllers, and the thirteen
// counters with a value each and the field of the main window that shows it.
#pragma once

#include <string>

#include "res/resource.h"

struct ScriptedCounter {
    const wchar_t* path;
    int value;
    int field;
};

// The counters the program reads, each with a value of its own, and the field that shows it.
inline const ScriptedCounter kCounters[] = {
    { L"\\Processor(_Total)\\% Processor Time", 11, IDC_CPUUSAGE },
    { L"\\Memory\\% Committed Bytes In Use", 22, IDC_MEMORYUSAGE },
    { L"\\LogicalDisk(_Total)\\% Free Space", 33, IDC_DISKUSAGE },
    { L"\\System\\File Read Operations/sec", 44, IDC_FILEREADS },
    { L"\\System\\File Write Operations/sec", 55, IDC_FILEWRITES },
    { L"\\Processor(_Total)\\% Interrupt Time", 66, IDC_INTERRUPTTIME },
    { L"\\Process(lsass)\\Handle Count", 77, IDC_LSASSHANDLES },
    { L"\\Process(ntfrs)\\Handle Count", 88, IDC_NTFRSHANDLES },
    { L"\\Memory\\Page Faults/sec", 99, IDC_PAGEFAULTS },
    { L"\\Memory\\Pages Input/sec", 111, IDC_PAGESINPUT },
    { L"\\Memory\\Pages Output/sec", 122, IDC_PAGESOUTPUT },
    { L"\\Memory\\Page Reads/sec", 133, IDC_PAGEREADS },
    { L"\\Memory\\Page Writes/sec", 144, IDC_PAGEWRITES },
};

inline const wchar_t* const kDomainWithThreeControllers =
    L"join.status=3\njoin.name=CORP\nds.dc=DC1\nds.dc=DC2\nds.dc=DC3\n";

inline std::wstring CounterScenario()
{
    std::wstring s = kDomainWithThreeControllers;
    for (const ScriptedCounter& c : kCounters)
        s += L"pdh.value=" + std::to_wstring(c.value) + L" " + c.path + L"\n";
    return s;
}

// DC1 and DC3 in DNS and answering LDAP, with a logon that has Kerberos tickets: every check of
// DC1 passes; DC3 is missing from the domain's LDAP SRV record.
inline const wchar_t* const kControllersInDns = L"dns.host=DC1 dc1.corp.example 10.0.0.1\n"
                                                L"dns.host=DC3 dc3.corp.example 10.0.0.3\n"
                                                L"dns.srv=_ldap._tcp.dc._msdcs.corp.example dc1.corp.example\n"
                                                L"dns.srv=_kerberos._tcp.corp.example dc1.corp.example\n"
                                                L"dns.srv=_kerberos._tcp.corp.example dc3.corp.example\n"
                                                L"ldap.server=10.0.0.1 dc1.corp.example\n"
                                                L"ldap.server=dc1.corp.example dc1.corp.example\n"
                                                L"ldap.server=10.0.0.3 dc3.corp.example\n"
                                                L"ldap.server=dc3.corp.example dc3.corp.example\n";
