// Answers as DNS servers send them, parsed without a server.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/linux/names/dns_resolver.h"

namespace {

std::vector<unsigned char> Seed(const char* name)
{
    std::ifstream in(std::string(ZELTOR_FUZZ_CORPUS "/dns_answer/") + name, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

} // namespace

TEST(DnsAnswer, SrvRecordsGiveTheirFieldsAndTargets)
{
    std::vector<SrvRecord> records;
    ASSERT_EQ(ParseSrvAnswer(Seed("srv_two"), &records), DnsStatus::Ok);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].target, "dc1.zeltor.test");
    EXPECT_EQ(records[0].weight, 100);
    EXPECT_EQ(records[0].port, 389);
    EXPECT_EQ(records[1].target, "dc2.zeltor.test");
    EXPECT_EQ(records[1].weight, 50);
}

TEST(DnsAnswer, OtherTypesAreSkippedAndTruncatedAnswersFail)
{
    std::vector<std::string> addresses;
    EXPECT_EQ(ParseIpv4Answer(Seed("a_with_cname"), &addresses), DnsStatus::Ok);
    EXPECT_EQ(addresses, (std::vector<std::string>{ "127.0.0.1" }));
    std::vector<SrvRecord> records;
    EXPECT_EQ(ParseSrvAnswer(Seed("a_with_cname"), &records), DnsStatus::NotFound);

    std::vector<unsigned char> cut = Seed("srv_two");
    cut.resize(cut.size() - 5);
    EXPECT_EQ(ParseSrvAnswer(cut, &records), DnsStatus::Failed);
    EXPECT_EQ(ParseSrvAnswer({}, &records), DnsStatus::Failed);
}
