// The replication client's reading of DsReplicaGetInfo's answers, as Samba's own marshalling
// writes them (drsuapi_answers.py, python3-samba): every neighbour and its texts, a refusal, the
// pending operations with their texts (which Samba's controller never queues), and every answer
// cut short refused as such rather than read past its end.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/linux/replication/drsuapi_client.h"
#include "tests/linux/test_support.h"

namespace {

constexpr std::uint32_t kBadStubData = 0xC003000C; // NT_STATUS_RPC_BAD_STUB_DATA

std::vector<std::uint8_t> Read(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

void Collect(void* context, const drsuapi_neighbor* raw)
{
    static_cast<std::vector<drsuapi_neighbor>*>(context)->push_back(*raw);
}

struct Seen {
    std::string context, dsa, address, guid;
    std::uint64_t success, attempt;
    std::uint32_t result, failures;
};

void Keep(void* context, const drsuapi_neighbor* raw)
{
    static_cast<std::vector<Seen>*>(context)->push_back(
        { raw->naming_context_dn, raw->source_dsa_dn, raw->source_dsa_address, raw->source_dsa_guid, raw->last_success,
          raw->last_attempt, raw->result_last_attempt, raw->consecutive_failures });
}

class DrsuapiAnswerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string script = std::string(ZELTOR_SOURCE_DIR) + "/tests/linux/drsuapi_answers.py";
        std::vector<char*> argv = { const_cast<char*>("/usr/bin/python3"), const_cast<char*>(script.c_str()),
                                    const_cast<char*>(dir.path().c_str()), nullptr };
        pid_t pid = 0;
        int status = -1;
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "drsuapi_answers.py failed";
    }
    std::vector<std::uint8_t> Answer(const char* name) const { return Read(dir.path() + "/" + name); }

    TempDir dir;
};

TEST_F(DrsuapiAnswerTest, NeighboursAreReadWholeAndARefusalGivesNone)
{
    const std::vector<std::uint8_t> answer = Answer("neighbours.bin");
    std::vector<Seen> seen;
    std::uint32_t werror = 1;
    ASSERT_EQ(drsuapi_parse_neighbors(answer.data(), answer.size(), Keep, &seen, &werror), 0u);
    EXPECT_EQ(werror, 0u);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].context, "DC=example,DC=com");
    EXPECT_EQ(seen[0].dsa, "CN=NTDS Settings,CN=DC2,CN=Servers,CN=Site,CN=Sites,CN=Configuration,DC=example,DC=com");
    EXPECT_EQ(seen[0].address, "8bf9dd8c-2ec0-4ba6-908f-1197c658d88e._msdcs.example.com");
    EXPECT_EQ(seen[0].guid, "8bf9dd8c-2ec0-4ba6-908f-1197c658d88e");
    EXPECT_EQ(seen[0].success, 133000000000000000u);
    EXPECT_EQ(seen[0].attempt, 133000000100000000u);
    EXPECT_EQ(seen[0].result, 1722u);
    EXPECT_EQ(seen[0].failures, 3u);
    // A neighbour without texts or times: empty texts, never.
    EXPECT_EQ(seen[1].context, "");
    EXPECT_EQ(seen[1].dsa, "");
    EXPECT_EQ(seen[1].guid, "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(seen[1].success, 0u);

    const std::vector<std::uint8_t> denied = Answer("denied.bin");
    std::vector<drsuapi_neighbor> none;
    EXPECT_EQ(drsuapi_parse_neighbors(denied.data(), denied.size(), Collect, &none, &werror), 0u);
    EXPECT_EQ(werror, 8453u);
    EXPECT_TRUE(none.empty());

    // A pending operations' answer is not taken for neighbours.
    const std::vector<std::uint8_t> pending = Answer("pending.bin");
    EXPECT_EQ(drsuapi_parse_neighbors(pending.data(), pending.size(), Collect, &none, &werror), kBadStubData);
    EXPECT_TRUE(none.empty());
}

TEST_F(DrsuapiAnswerTest, PendingOperationsAreCountedPastTheirTexts)
{
    std::uint32_t count = 99, werror = 1;
    const std::vector<std::uint8_t> pending = Answer("pending.bin");
    ASSERT_EQ(drsuapi_parse_pending_operations(pending.data(), pending.size(), &count, &werror), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(werror, 0u);
    const std::vector<std::uint8_t> idle = Answer("idle.bin");
    ASSERT_EQ(drsuapi_parse_pending_operations(idle.data(), idle.size(), &count, &werror), 0u);
    EXPECT_EQ(count, 0u);
}

TEST_F(DrsuapiAnswerTest, EveryAnswerCutShortIsRefusedAndNothingOfItIsGiven)
{
    for (const char* name : { "neighbours.bin", "pending.bin" }) {
        const std::vector<std::uint8_t> whole = Answer(name);
        for (std::size_t length = 0; length < whole.size(); ++length) {
            // A copy of the prefix alone, so that a read past its end is a read past the buffer.
            const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            std::vector<drsuapi_neighbor> neighbors;
            std::uint32_t count = 0, werror = 0;
            const std::uint32_t status =
                name[0] == 'n' ? drsuapi_parse_neighbors(cut.data(), cut.size(), Collect, &neighbors, &werror)
                               : drsuapi_parse_pending_operations(cut.data(), cut.size(), &count, &werror);
            EXPECT_EQ(status, kBadStubData) << name << " cut at " << length;
            EXPECT_TRUE(neighbors.empty());
            EXPECT_EQ(count, 0u);
        }
    }
}

} // namespace
