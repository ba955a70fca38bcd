// The counters of the domain controller without a user name typed: as the user's Kerberos ticket
// when there is one, else anonymously, which the controller refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "perf/pdh_status.h"
#include "platform/linux/linux_counter_sources.h"
#include "tests/integration/remote_peer.h"
#include "tests/linux/test_support.h"

TEST(RemoteKerberosTest, WithoutAUserNameTheTicketIsUsedAndAnonymousIsRefused)
{
    auto dc = ReadPeerState("ZELTOR_SAMBA_DC_STATE");
    ASSERT_FALSE(dc["dir"].empty()) << "no controller state";
    CommittedPercentWatch commit;
    ASSERT_TRUE(FillPerfmon(dc["dir"] + "/state/perfmon"));
    // A Kerberos configuration of the test's own, and a ticket cache that is empty for now.
    TempDir scratch;
    const std::string realm = dc["realm"];
    const std::string config = scratch.Write("krb5.conf", "[libdefaults]\n default_realm = " + realm +
                                                              "\n dns_lookup_kdc = false\n rdns = false\n[realms]\n " +
                                                              realm + " = {\n  kdc = " + dc["address"] + "\n }\n");
    const ScopedEnvironment krb5Config("KRB5_CONFIG", config);
    const ScopedEnvironment ticketCache("KRB5CCNAME", "FILE:" + scratch.path() + "/cache");

    std::string domain = realm;
    for (char& c : domain)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    RemoteCounterOptions options;
    options.dnsServer = DnsServer{ dc["address"], static_cast<std::uint16_t>(std::stoi(dc["dns_port"])), domain };
    CredentialRegistry noConnection;
    const CString machine = CString::FromUtf8(dc["host"]);
    {
        auto source = MakeLinuxCounterSource(noConnection, options);
        EXPECT_EQ(source->ConnectMachine(machine), PDH_ACCESS_DENIED);
    }
    ASSERT_TRUE(RunScript("/usr/bin/kinit", { dc["user"] + "@" + realm }, dc["password"] + "\n"));
    {
        auto source = MakeLinuxCounterSource(noConnection, options);
        ASSERT_EQ(source->ConnectMachine(machine), 0u);
        PdhQuery* query = nullptr;
        PdhCounter* committed = nullptr;
        ASSERT_EQ(source->OpenQuery(1, &query), 0u);
        ASSERT_EQ(source->AddCounter(query, u"\\\\" + machine + u"\\Memory\\% Committed Bytes In Use", 0, &committed),
                  0u);
        ASSERT_EQ(source->CollectQueryData(query), 0u);
        PdhFormattedValue value;
        EXPECT_EQ(source->GetFormattedCounterValue(committed, PDH_FMT_LONG_FORMAT, &value), 0u);
        EXPECT_NEAR(value.longValue, commit.Nearest(value.longValue), 2);
        source->CloseQuery(query);
    }
    RunScript("/usr/bin/kdestroy", {});
}
