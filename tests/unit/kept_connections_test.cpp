// The connections the health checks keep between checks: given again to the same key, one check
// at a time, opened anew past their lifetime or after a failure, and closed once unused.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "directory/kept_connections.h"

namespace {

using Clock = std::chrono::steady_clock;

// A connection that counts how many of its kind are open.
struct Counted {
    explicit Counted(int* open) : open(open) { ++*open; }
    ~Counted() { --*open; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    int* open;
};

Clock::time_point Soon()
{
    return Clock::now() + std::chrono::milliseconds(20);
}

TEST(KeptConnections, AConnectionIsGivenAgainToItsKeyAloneAndOneCheckAtATime)
{
    int open = 0;
    KeptConnections<Counted> kept(std::chrono::hours(1));
    {
        auto lease = kept.Take("dc1|alice", Soon());
        ASSERT_TRUE(lease);
        EXPECT_EQ(lease->get(), nullptr);
        lease->Keep(std::make_unique<Counted>(&open));

        // While one check holds it, another of the same key waits until its deadline and gets
        // nothing; another key is not held.
        EXPECT_FALSE(kept.Take("dc1|alice", Soon()));
        auto other = kept.Take("dc2|alice", Soon());
        ASSERT_TRUE(other);
        EXPECT_EQ(other->get(), nullptr);
    }
    Counted* first = nullptr;
    {
        auto again = kept.Take("dc1|alice", Soon());
        ASSERT_TRUE(again);
        first = again->get();
        EXPECT_NE(first, nullptr);
        EXPECT_EQ(open, 1);
        // A waiting check gets it once the holder is done.
        std::thread done([lease = std::move(*again)]() mutable {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            (void)lease;
        });
        auto waited = kept.Take("dc1|alice", Clock::now() + std::chrono::seconds(10));
        done.join();
        ASSERT_TRUE(waited);
        EXPECT_EQ(waited->get(), first);
        // Other credentials are another key: not this logon.
        EXPECT_EQ(kept.Take("dc1|bob", Soon())->get(), nullptr);
        // A failed connection is closed; the next check opens another.
        waited->Drop();
        EXPECT_EQ(open, 0);
    }
    EXPECT_EQ(kept.Take("dc1|alice", Soon())->get(), nullptr);
}

TEST(KeptConnections, PastItsLifetimeAConnectionIsOpenedAnewAndAnUnusedOneClosed)
{
    int open = 0;
    KeptConnections<Counted> kept(std::chrono::milliseconds(30));
    kept.Take("dc1", Soon())->Keep(std::make_unique<Counted>(&open));
    kept.Take("dc2", Soon())->Keep(std::make_unique<Counted>(&open));
    EXPECT_NE(kept.Take("dc1", Soon())->get(), nullptr);
    EXPECT_EQ(open, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    // dc1's is past its lifetime: closed when asked for, so that its logon is made again; dc2's,
    // unused as long, is closed by the next check of any other controller.
    EXPECT_EQ(kept.Take("dc1", Soon())->get(), nullptr);
    EXPECT_EQ(open, 0);
}

} // namespace
