#include "pool/PacketQueue.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace corvanta {
namespace {

TEST(PacketQueue, HandsOutPacketsInPostedOrder) {
    PacketQueue<int> queue;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(queue.post(i));
    EXPECT_EQ(queue.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        int out = -1;
        ASSERT_EQ(queue.take(out, 0), TakeResult::Taken);
        EXPECT_EQ(out, i);
    }
    int out = -1;
    EXPECT_EQ(queue.take(out, 20), TakeResult::TimedOut);
}

TEST(PacketQueue, ClosedQueueHandsOutWhatItHoldsThenAnswersClosed) {
    PacketQueue<int> queue;
    queue.post(1);
    queue.post(2);
    queue.close();
    EXPECT_FALSE(queue.post(3));
    int out = 0;
    ASSERT_EQ(queue.take(out), TakeResult::Taken);
    EXPECT_EQ(out, 1);
    ASSERT_EQ(queue.take(out), TakeResult::Taken);
    EXPECT_EQ(out, 2);
    // Every later take, however many, is told to leave at once.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(queue.take(out), TakeResult::Closed);

    queue.reopen();
    EXPECT_TRUE(queue.post(4));
    ASSERT_EQ(queue.take(out, 0), TakeResult::Taken);
    EXPECT_EQ(out, 4);
}

TEST(PacketQueue, CloseAndTakeAllHandsBackThePacketsAndWakesWaitingTakers) {
    PacketQueue<int> queue;
    std::atomic<int> closedSeen{0};
    std::vector<std::thread> takers;
    for (int i = 0; i < 3; ++i)
        takers.emplace_back([&] {
            int out = 0;
            while (queue.take(out) == TakeResult::Taken) {
            }
            ++closedSeen;
        });
    const auto none = queue.closeAndTakeAll();
    for (auto& t : takers)
        t.join();
    EXPECT_EQ(closedSeen.load(), 3);
    EXPECT_TRUE(none.empty());

    queue.reopen();
    queue.post(7);
    queue.post(8);
    const auto left = queue.closeAndTakeAll();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], 7);
    EXPECT_EQ(left[1], 8);
    EXPECT_EQ(queue.size(), 0u);
    int out = 0;
    EXPECT_EQ(queue.take(out, 0), TakeResult::Closed);
}

TEST(PacketQueue, ManyPostersAndTakersSeeEveryPacketExactlyOnce) {
    constexpr int posters = 3;
    constexpr int perPoster = 20000;
    PacketQueue<int> queue;
    std::vector<std::atomic<int>> seen(posters * perPoster);
    std::vector<std::thread> takers;
    for (int i = 0; i < 3; ++i)
        takers.emplace_back([&] {
            int out = 0;
            while (queue.take(out) == TakeResult::Taken)
                seen[static_cast<std::size_t>(out)].fetch_add(1);
        });
    std::vector<std::thread> posting;
    for (int p = 0; p < posters; ++p)
        posting.emplace_back([&queue, p] {
            for (int i = 0; i < perPoster; ++i)
                queue.post(p * perPoster + i);
        });
    for (auto& t : posting)
        t.join();
    queue.close(); // the takers drain what is left, then leave
    for (auto& t : takers)
        t.join();
    int wrong = 0;
    for (const auto& count : seen)
        wrong += count.load() != 1;
    EXPECT_EQ(wrong, 0);
}

} // namespace
} // namespace corvanta
