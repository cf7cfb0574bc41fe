#include "core/CookieRoster.h"

#include <gtest/gtest.h>
#include <thread>

namespace corvanta {
namespace {

using namespace std::chrono_literals;
using Turn = CookieRoster::Turn;

std::vector<int> takes(CookieRoster& roster, int count) {
    std::atomic<bool> cancel = false;
    std::vector<int> taken;
    for (int i = 0; i < count; ++i) {
        int index = -1;
        if (roster.take(index, cancel) != Turn::Ready)
            break;
        taken.push_back(index);
    }
    return taken;
}

TEST(CookieRoster, CookiesTakeTurnsAndARefusedOneIsDropped) {
    CookieRoster roster({"a", "b", "c"}, {});
    EXPECT_EQ(takes(roster, 6), (std::vector<int>{0, 1, 2, 0, 1, 2}));
    EXPECT_TRUE(roster.refuse(1));
    EXPECT_FALSE(roster.refuse(1)); // told once
    EXPECT_EQ(takes(roster, 4), (std::vector<int>{0, 2, 0, 2}));
    EXPECT_EQ(roster.usableCount(), 2);
    EXPECT_EQ(roster.cookie(2), "c");
}

TEST(CookieRoster, BlockedCookiesRestForTheirCoolDownOrForGood) {
    std::atomic<bool> cancel = false;
    int index = -1;
    {
        CookieRoster roster({"a", "b"}, {});
        EXPECT_TRUE(roster.block(0));
        EXPECT_FALSE(roster.block(0));
        EXPECT_EQ(takes(roster, 2), (std::vector<int>{1, 1}));
        roster.block(1);
        EXPECT_EQ(roster.take(index, cancel), Turn::NoneLeft);
        EXPECT_EQ(roster.usableCount(), 0);
    }
    {
        PacingOptions pacing;
        pacing.cooldownSeconds = 1;
        CookieRoster roster({"a"}, pacing);
        roster.block(0);
        EXPECT_EQ(roster.usableCount(), 1); // resting, not gone
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(roster.take(index, cancel), Turn::Ready);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);

        // A take waiting for a resting cookie ends when the run is cancelled.
        roster.block(0);
        std::thread canceller([&] {
            std::this_thread::sleep_for(100ms);
            cancel = true;
        });
        EXPECT_EQ(roster.take(index, cancel), Turn::Cancelled);
        canceller.join();
    }
}

TEST(CookieRoster, EachCookieKeepsItsOwnPace) {
    PacingOptions pacing;
    pacing.requestsPerSecond = 20; // a request every 50 ms per cookie
    CookieRoster roster({"a", "b"}, pacing);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<int> taken = takes(roster, 10);
    // Ten requests over two cookies: the last of each cookie's five comes 4 gaps after its
    // first. Only a lower bound: the pace is a minimum.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
    EXPECT_EQ(std::count(taken.begin(), taken.end(), 0), 5);
    EXPECT_EQ(std::count(taken.begin(), taken.end(), 1), 5);
}

} // namespace
} // namespace corvanta
