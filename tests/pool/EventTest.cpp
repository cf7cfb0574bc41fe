#include "pool/Event.h"

#include "pool/Polling.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace corvanta {
namespace {

using test::eventually;

TEST(AutoResetEvent, SetsBeforeAWaitCoalesceIntoOneWake) {
    AutoResetEvent event;
    EXPECT_FALSE(event.wait(0));
    event.set();
    event.set();
    EXPECT_TRUE(event.wait(0));
    EXPECT_FALSE(event.wait(0)) << "a wait consumes the signal";
    EXPECT_FALSE(event.wait(30));
}

TEST(AutoResetEvent, EachSetWakesOneWaiter) {
    AutoResetEvent event;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            event.wait();
            ++woken;
        });
    for (int expected = 1; expected <= 3; ++expected) {
        // A set made while the previous one is still pending would coalesce with it, so
        // set again only once a waiter has taken the previous signal.
        event.set();
        ASSERT_TRUE(eventually([&] { return woken.load() >= expected; }));
    }
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken.load(), 3);
}

TEST(AutoResetEvent, ReleaseLetsEveryWaiterThroughUntilReset) {
    AutoResetEvent event;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            event.wait();
            ++woken;
        });
    event.release();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken.load(), 4);
    EXPECT_TRUE(event.wait(0));
    EXPECT_TRUE(event.wait(0)) << "released: later waits pass too";
    event.reset();
    EXPECT_FALSE(event.wait(0));
}

// A stop releases the pool's waiters and a new start may reset the events right after;
// a waiter that was already waiting must still get out.
TEST(Events, AWaiterUnderWayPassesASetOrReleaseFollowedAtOnceByReset) {
    AutoResetEvent autoEvent;
    ManualResetEvent manualEvent(false);
    std::atomic<int> passed{0};
    std::thread autoWaiter([&] { passed += autoEvent.wait(20000) ? 1 : 0; });
    std::thread manualWaiter([&] { passed += manualEvent.wait(20000) ? 1 : 0; });
    ASSERT_TRUE(eventually([&] { return autoEvent.waiting() == 1; }));
    ASSERT_TRUE(eventually([&] { return manualEvent.waiting() == 1; }));
    autoEvent.release();
    autoEvent.reset();
    manualEvent.set();
    manualEvent.reset();
    autoWaiter.join();
    manualWaiter.join();
    EXPECT_EQ(passed.load(), 2);
    EXPECT_FALSE(autoEvent.wait(0));
    EXPECT_FALSE(manualEvent.wait(0));
}

TEST(ManualResetEvent, StaysSignalledForEveryWaiterUntilReset) {
    ManualResetEvent event(false);
    EXPECT_FALSE(event.wait(20));
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            event.wait();
            ++woken;
        });
    event.set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken.load(), 4);
    EXPECT_TRUE(event.wait(0));
    EXPECT_TRUE(event.isSet());
    event.reset();
    EXPECT_FALSE(event.isSet());
    EXPECT_FALSE(event.wait(0));
    EXPECT_TRUE(ManualResetEvent(true).wait(0));
}

TEST(WaitTimes, NegativeAndOversizedWaitsAreUnlimited) {
    EXPECT_TRUE(waitsForever(waitForever));
    EXPECT_TRUE(waitsForever(-5));
    EXPECT_TRUE(waitsForever(std::int64_t{1} << 40));
    EXPECT_FALSE(waitsForever(0));
    EXPECT_FALSE(waitsForever(10000));
    // An oversized time-out must wait for the signal, not overflow the clock.
    AutoResetEvent event;
    std::thread setter([&] { event.set(); });
    EXPECT_TRUE(event.wait(std::int64_t{1} << 40));
    setter.join();
}

} // namespace
} // namespace corvanta
