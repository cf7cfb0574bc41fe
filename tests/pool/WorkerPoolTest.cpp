#include "pool/WorkerPool.h"

#include "pool/Event.h"
#include "pool/Polling.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

// Counting the threads of this process has no portable form.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
// tlhelp32.h needs windows.h first.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on
#else
#include <dirent.h>
#endif

namespace corvanta {
namespace {

using test::eventually;

// Tasks that hold their worker until the test opens the gate.
struct Blocker {
    ManualResetEvent gate{false};
    std::atomic<int> entered{0};
    std::atomic<int> finished{0};

    std::function<void()> task() {
        return [this] {
            ++entered;
            gate.wait();
            ++finished;
        };
    }
};

// Counts how often each numbered task ran.
struct RunLog {
    explicit RunLog(std::size_t n) : runs(n) {}
    std::vector<std::atomic<int>> runs;

    std::function<void()> task(std::size_t i) {
        return [this, i] { runs[i].fetch_add(1); };
    }
    int total() const {
        int sum = 0;
        for (const auto& r : runs)
            sum += r.load();
        return sum;
    }
    bool eachRanOnce() const {
        return std::all_of(runs.begin(), runs.end(), [](const auto& r) { return r.load() == 1; });
    }
};

class WorkerPoolTest : public ::testing::Test {
protected:
    void TearDown() override {
        blocker.gate.set();
        EXPECT_TRUE(pool.stop(StopMode::DiscardAndWait, 30000));
        EXPECT_EQ(pool.getState(), PoolState::Stopped);
    }

    void expectStoppedAndEmpty() {
        EXPECT_EQ(pool.getState(), PoolState::Stopped);
        EXPECT_EQ(pool.workerCount(), 0);
        EXPECT_EQ(pool.busyCount(), 0);
        EXPECT_EQ(pool.queuedCount(), 0);
        EXPECT_TRUE(pool.isIdle());
    }

    WorkerPool pool;
    Blocker blocker;
};

std::atomic<std::int64_t> routineSum{0};
void addBoth(std::int32_t first, std::int32_t second) {
    routineSum += std::int64_t{first} * 1000 + second;
}
void addFirst(std::int32_t first) {
    routineSum += first;
}

TEST_F(WorkerPoolTest, StartWithNothingGivenUsesTheDefaults) {
    ASSERT_TRUE(pool.start());
    EXPECT_EQ(pool.getState(), PoolState::Running);
    EXPECT_TRUE(eventually([&] { return pool.workerCount() == 5; }));
    EXPECT_EQ(pool.getMaxWorkers(), 20);
    EXPECT_EQ(pool.getIdleTimeout(), 10000);
    EXPECT_EQ(pool.getStackSize(), 0);
    EXPECT_EQ(pool.idleWorkerCount(), 5);
    EXPECT_TRUE(pool.isIdle());
}

TEST_F(WorkerPoolTest, StartClampsItsSettings) {
    struct Case {
        std::optional<std::int32_t> minWorkers, maxWorkers, idleMs, stack;
        std::int32_t workers, max, idle, stackSize;
    };
    const Case cases[] = {
        {0, 0, 50, 100, 1, 1, 100, 8192},
        {-3, -1, -5, -1, 1, 1, 100, 8192},
        {3, 2, 100, 70000, 3, 3, 100, 69632},
        {2, std::nullopt, 99, 8192, 2, 20, 100, 8192},
        {std::nullopt, 7, 250, 12289, 5, 7, 250, 12288},
        {1, 15, std::nullopt, 0, 1, 15, 10000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "case with workers " << c.workers << ", max " << c.max
                                          << ", stack " << c.stackSize);
        ASSERT_TRUE(pool.start(c.minWorkers, c.maxWorkers, c.idleMs, {}, c.stack));
        EXPECT_TRUE(eventually([&] { return pool.workerCount() == c.workers; }));
        EXPECT_EQ(pool.getMaxWorkers(), c.max);
        EXPECT_EQ(pool.getIdleTimeout(), c.idle);
        EXPECT_EQ(pool.getStackSize(), c.stackSize);
        ASSERT_TRUE(pool.stop(StopMode::DiscardAndWait, 30000));
        EXPECT_EQ(pool.getMaxWorkers(), c.max) << "a stopped pool keeps its last maximum";
    }
}

TEST_F(WorkerPoolTest, SettersClampWhileRunningAndDoNothingOtherwise) {
    pool.setMaxWorkers(9);
    pool.setIdleTimeout(5000);
    pool.setStackSize(65536);
    EXPECT_EQ(pool.getMaxWorkers(), 0) << "never started";
    EXPECT_EQ(pool.getIdleTimeout(), 0);
    EXPECT_EQ(pool.getStackSize(), 0);

    ASSERT_TRUE(pool.start(1, 4, 1000));
    struct StackCase {
        std::int32_t given, stored;
    };
    for (const StackCase c : {StackCase{70000, 65536}, StackCase{100, 8192}, StackCase{0, 0},
                              StackCase{-5, 8192}, StackCase{8192, 8192}}) {
        pool.setStackSize(c.given);
        EXPECT_EQ(pool.getStackSize(), c.stored) << "setStackSize(" << c.given << ")";
    }
    struct Case {
        std::int32_t given, stored;
    };
    for (const Case c : {Case{50, 100}, Case{250, 250}, Case{-1, 100}}) {
        pool.setIdleTimeout(c.given);
        EXPECT_EQ(pool.getIdleTimeout(), c.stored) << "setIdleTimeout(" << c.given << ")";
    }
    for (const Case c : {Case{0, 1}, Case{-4, 1}, Case{7, 7}}) {
        pool.setMaxWorkers(c.given);
        EXPECT_EQ(pool.getMaxWorkers(), c.stored) << "setMaxWorkers(" << c.given << ")";
    }

    ASSERT_TRUE(pool.stop(StopMode::DiscardAndWait, 30000));
    pool.setMaxWorkers(3);
    pool.setIdleTimeout(4000);
    pool.setStackSize(16384);
    EXPECT_EQ(pool.getMaxWorkers(), 7);
    EXPECT_EQ(pool.getIdleTimeout(), 100);
    EXPECT_EQ(pool.getStackSize(), 8192);
}

TEST_F(WorkerPoolTest, WorkersRunTasksOnTheStackSizeAsked) {
    ASSERT_TRUE(pool.start(2, 2, 1000, {}, 8192));
    // A task with a modest frame must run on a worker started with the smallest stack.
    std::atomic<int> checksum{0};
    ASSERT_TRUE(pool.post([&checksum] {
        volatile char buffer[16 * 1024];
        for (std::size_t i = 0; i < sizeof buffer; ++i)
            buffer[i] = static_cast<char>(i);
        checksum = buffer[100];
    }));
    EXPECT_TRUE(eventually([&] { return checksum.load() == 100; }));
}

TEST_F(WorkerPoolTest, SecondStartIsRefusedAndKeepsTheFirstMaximum) {
    ASSERT_TRUE(pool.start(1, 15));
    EXPECT_FALSE(pool.start(1, 3));
    EXPECT_FALSE(pool.start());
    EXPECT_EQ(pool.getMaxWorkers(), 15);
    EXPECT_EQ(pool.getState(), PoolState::Running);
    RunLog log(10);
    for (std::size_t i = 0; i < 10; ++i)
        ASSERT_TRUE(pool.post(log.task(i)));
    EXPECT_TRUE(eventually([&] { return log.total() == 10; }));
}

TEST_F(WorkerPoolTest, OnlyOneOfConcurrentStartsSucceeds) {
    std::atomic<int> succeeded{0};
    std::vector<std::thread> starters;
    for (int i = 0; i < 4; ++i)
        starters.emplace_back([&] { succeeded += pool.start(1, 2) ? 1 : 0; });
    for (auto& t : starters)
        t.join();
    EXPECT_EQ(succeeded.load(), 1);
    EXPECT_EQ(pool.getState(), PoolState::Running);
}

TEST_F(WorkerPoolTest, RoutinesReceiveTheirArguments) {
    ASSERT_TRUE(pool.start(2, 2));
    routineSum = 0;
    ASSERT_TRUE(pool.post(addBoth, 7, 3));
    ASSERT_TRUE(pool.post(addBoth, 2)); // second absent: 0
    ASSERT_TRUE(pool.post(addFirst, 40, 99));
    EXPECT_TRUE(eventually([] { return routineSum.load() == 7003 + 2000 + 40; }));
}

TEST_F(WorkerPoolTest, PostIsRefusedWithoutRoutineOrWhenNotRunning) {
    EXPECT_FALSE(pool.post(addBoth, 1, 2)) << "never started";
    EXPECT_EQ(pool.queuedCount(), 0);

    ASSERT_TRUE(pool.start(1, 1));
    EXPECT_FALSE(pool.post(static_cast<TaskRoutine>(nullptr), 1, 2));
    EXPECT_FALSE(pool.post(static_cast<OneArgTaskRoutine>(nullptr), 1));
    EXPECT_FALSE(pool.post(std::function<void()>{}));
    EXPECT_EQ(pool.queuedCount(), 0);

    // While a drain is under way (Stopping), new tasks are refused too.
    ASSERT_TRUE(pool.post(blocker.task()));
    ASSERT_TRUE(eventually([&] { return blocker.entered.load() == 1; }));
    RunLog log(1);
    ASSERT_TRUE(pool.post(log.task(0)));
    ASSERT_TRUE(pool.stop(StopMode::DrainNoWait));
    EXPECT_EQ(pool.getState(), PoolState::Stopping);
    EXPECT_FALSE(pool.post(addBoth, 1, 2));
    EXPECT_EQ(pool.queuedCount(), 1);
    blocker.gate.set();
    EXPECT_TRUE(eventually([&] { return pool.getState() == PoolState::Stopped; }));
    EXPECT_EQ(log.total(), 1) << "the task queued before the drain still ran";
    EXPECT_FALSE(pool.post(addBoth, 1, 2));
    expectStoppedAndEmpty();
}

TEST_F(WorkerPoolTest, GrowsToTheMaximumUnderLoadAndShrinksBackAfterTheIdleTimeOut) {
    ASSERT_TRUE(pool.start(1, 15, 200));
    ASSERT_EQ(pool.workerCount(), 1);
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};
    std::atomic<int> done{0};
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(pool.post([&] {
            const int now = ++running;
            int seen = mostRunning.load();
            while (now > seen && !mostRunning.compare_exchange_weak(seen, now)) {
            }
            blocker.gate.wait();
            --running;
            ++done;
        }));
    int mostWorkers = 0;
    EXPECT_TRUE(eventually([&] {
        mostWorkers = std::max(mostWorkers, pool.workerCount());
        // A worker raises busy before it lowers queued: wait for both to settle.
        return pool.workerCount() == 15 && pool.busyCount() == 15 && pool.queuedCount() == 85;
    }));
    EXPECT_EQ(pool.idleWorkerCount(), 0);

    blocker.gate.set();
    EXPECT_TRUE(eventually([&] {
        mostWorkers = std::max(mostWorkers, pool.workerCount());
        return done.load() == 100;
    }));
    EXPECT_TRUE(eventually([&] { return pool.workerCount() == 1; }))
        << "the 14 extra workers end after 200 ms without a task";
    EXPECT_LE(mostWorkers, 15);
    EXPECT_EQ(mostRunning.load(), 15);
    EXPECT_TRUE(pool.isIdle());
}

TEST_F(WorkerPoolTest, RaisingTheMaximumLetsAFullPoolGrow) {
    ASSERT_TRUE(pool.start(1, 1, 200));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(pool.post(blocker.task()));
    ASSERT_TRUE(eventually([&] { return blocker.entered.load() == 1; }));
    EXPECT_EQ(pool.workerCount(), 1);
    pool.setMaxWorkers(4);
    EXPECT_TRUE(eventually([&] { return blocker.entered.load() == 4; }));
    EXPECT_EQ(pool.workerCount(), 4);
}

TEST_F(WorkerPoolTest, DrainModesRunEveryQueuedTaskOnce) {
    for (const StopMode mode : {StopMode::DrainAndWait, StopMode::DrainNoWait}) {
        SCOPED_TRACE(static_cast<int>(mode));
        Blocker busy;
        ASSERT_TRUE(pool.start(1, 1));
        ASSERT_TRUE(pool.post(busy.task()));
        RunLog log(200);
        for (std::size_t i = 0; i < log.runs.size(); ++i)
            ASSERT_TRUE(pool.post(log.task(i)));
        // Opens the busy task's gate once the stop has begun.
        std::thread opener([&] {
            eventually([&] { return pool.getState() != PoolState::Running; });
            busy.gate.set();
        });
        ASSERT_TRUE(pool.stop(mode, 30000));
        opener.join();
        if (mode == StopMode::DrainNoWait) {
            EXPECT_TRUE(eventually([&] { return pool.getState() == PoolState::Stopped; }));
        }
        EXPECT_TRUE(log.eachRanOnce());
        EXPECT_EQ(busy.finished.load(), 1);
        expectStoppedAndEmpty();
    }
}

TEST_F(WorkerPoolTest, DiscardModesDropQueuedTasksAndLetRunningOnesFinish) {
    // 7 counts as DiscardAndWait.
    for (const StopMode mode :
         {StopMode::DiscardAndWait, StopMode::DiscardNoWait, static_cast<StopMode>(7)}) {
        SCOPED_TRACE(static_cast<int>(mode));
        Blocker busy;
        ASSERT_TRUE(pool.start(2, 2));
        ASSERT_TRUE(pool.post(busy.task()));
        ASSERT_TRUE(pool.post(busy.task()));
        ASSERT_TRUE(eventually([&] { return busy.entered.load() == 2; }));
        RunLog log(100);
        for (std::size_t i = 0; i < log.runs.size(); ++i)
            ASSERT_TRUE(pool.post(log.task(i)));
        std::thread opener([&] {
            eventually([&] { return pool.getState() != PoolState::Running; });
            busy.gate.set();
        });
        ASSERT_TRUE(pool.stop(mode, 30000));
        EXPECT_EQ(pool.queuedCount(), 0) << "dropped as soon as the stop begins";
        opener.join();
        EXPECT_TRUE(eventually([&] { return pool.getState() == PoolState::Stopped; }));
        EXPECT_EQ(busy.finished.load(), 2);
        EXPECT_EQ(log.total(), 0);
        expectStoppedAndEmpty();
    }
}

TEST_F(WorkerPoolTest, StopAnswersByState) {
    EXPECT_TRUE(pool.stop()) << "a pool that never ran is stopped";
    EXPECT_TRUE(pool.stop(StopMode::DrainAndWait));

    // Seen from inside start: the pool is Starting and a stop is refused.
    std::optional<PoolState> stateSeen;
    std::optional<bool> stopResult;
    ASSERT_TRUE(pool.start(1, 1, {}, [&] {
        if (!stopResult) {
            stateSeen = pool.getState();
            stopResult = pool.stop();
        }
    }));
    EXPECT_EQ(stateSeen, PoolState::Starting);
    EXPECT_EQ(stopResult, false);
    EXPECT_EQ(pool.getState(), PoolState::Running);

    // While Stopping, a second stop is refused; a timed wait that runs out says so.
    ASSERT_TRUE(pool.post(blocker.task()));
    ASSERT_TRUE(eventually([&] { return blocker.entered.load() == 1; }));
    EXPECT_FALSE(pool.stop(StopMode::DiscardAndWait, 50));
    EXPECT_EQ(pool.getState(), PoolState::Stopping);
    EXPECT_FALSE(pool.stop());
    blocker.gate.set();
    EXPECT_TRUE(eventually([&] { return pool.getState() == PoolState::Stopped; }));
    EXPECT_TRUE(pool.stop());
    expectStoppedAndEmpty();
}

TEST_F(WorkerPoolTest, PauseHoldsWorkersResumeReleasesThemAndStopOpensTheGate) {
    EXPECT_FALSE(pool.pause()) << "not running";
    EXPECT_FALSE(pool.resume());
    EXPECT_FALSE(pool.waitWhilePaused(0));

    ASSERT_TRUE(pool.start(2, 2));
    EXPECT_TRUE(pool.waitWhilePaused(0));
    ASSERT_TRUE(pool.pause());
    RunLog log(6);
    for (std::size_t i = 0; i < 4; ++i)
        ASSERT_TRUE(pool.post(log.task(i)));
    EXPECT_FALSE(pool.waitWhilePaused(50));
    EXPECT_EQ(log.total(), 0) << "paused: the workers hold the tasks they took";
    EXPECT_EQ(pool.busyCount(), 0);
    EXPECT_EQ(pool.queuedCount(), 4);

    std::thread waiter([&] { EXPECT_TRUE(pool.waitWhilePaused()); });
    ASSERT_TRUE(pool.resume());
    waiter.join();
    EXPECT_TRUE(eventually([&] { return log.total() == 4; }));

    // Paused again with tasks in hand: a discarding stop opens the gate and drops them.
    ASSERT_TRUE(pool.pause());
    ASSERT_TRUE(pool.post(log.task(4)));
    ASSERT_TRUE(pool.post(log.task(5)));
    EXPECT_TRUE(pool.stop(StopMode::DiscardAndWait, 30000));
    EXPECT_EQ(log.runs[4].load() + log.runs[5].load(), 0);
    expectStoppedAndEmpty();

    // A draining stop of a paused pool runs what the workers hold.
    ASSERT_TRUE(pool.start(2, 2));
    ASSERT_TRUE(pool.pause());
    RunLog held(3);
    for (std::size_t i = 0; i < 3; ++i)
        ASSERT_TRUE(pool.post(held.task(i)));
    EXPECT_TRUE(pool.stop(StopMode::DrainAndWait, 30000));
    EXPECT_TRUE(held.eachRanOnce());
    expectStoppedAndEmpty();
}

TEST_F(WorkerPoolTest, WaitTaskDoneFollowsFinishedTasksAndStop) {
    EXPECT_FALSE(pool.waitTaskDone(0));
    EXPECT_FALSE(pool.signalTaskDone());

    ASSERT_TRUE(pool.start(1, 1));
    EXPECT_FALSE(pool.waitTaskDone(30));
    ASSERT_TRUE(pool.post(addBoth, 0, 0));
    EXPECT_TRUE(pool.waitTaskDone(20000));
    ASSERT_TRUE(pool.signalTaskDone());
    EXPECT_TRUE(pool.waitTaskDone(0));

    int pumped = 0;
    EXPECT_FALSE(pool.waitTaskDone(60, [&] { ++pumped; }));
    EXPECT_GE(pumped, 1);
    ASSERT_TRUE(pool.post(addBoth, 0, 0));
    EXPECT_TRUE(pool.waitTaskDone(-1, [&] { ++pumped; }));

    // Every thread waiting without limit is let go when the pool stops.
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] { pool.waitTaskDone(); });
    EXPECT_TRUE(pool.stop(StopMode::DiscardAndWait, 30000));
    for (auto& t : waiters)
        t.join();
}

TEST_F(WorkerPoolTest, PumpingCallbackRunsWhileStartAndStopWait) {
    int pumped = 0;
    ASSERT_TRUE(pool.start(3, 3, {}, [&] { ++pumped; }));
    EXPECT_GE(pumped, 3) << "once after every worker started";

    ASSERT_TRUE(pool.post(blocker.task()));
    ASSERT_TRUE(eventually([&] { return blocker.entered.load() == 1; }));
    pumped = 0;
    // The stop pumps while it waits; the pump itself lets the busy task finish.
    EXPECT_TRUE(pool.stop(StopMode::DrainAndWait, 0, [&] {
        if (++pumped == 3)
            blocker.gate.set();
    }));
    EXPECT_GE(pumped, 3);
    expectStoppedAndEmpty();

    // A pumping stop with a time-out still gives up when the time is over.
    Blocker stuck;
    ASSERT_TRUE(pool.start(1, 1));
    ASSERT_TRUE(pool.post(stuck.task()));
    ASSERT_TRUE(eventually([&] { return stuck.entered.load() == 1; }));
    EXPECT_FALSE(pool.stop(StopMode::DiscardAndWait, 100, [] {}));
    stuck.gate.set();
    EXPECT_TRUE(eventually([&] { return pool.getState() == PoolState::Stopped; }));
}

TEST_F(WorkerPoolTest, ATaskMayStopItsOwnPoolWithoutHanging) {
    ASSERT_TRUE(pool.start(2, 2));
    std::atomic<int> result{-1};
    ASSERT_TRUE(pool.post([&] { result = pool.stop(StopMode::DrainAndWait) ? 1 : 0; }));
    EXPECT_TRUE(eventually([&] { return pool.getState() == PoolState::Stopped; }));
    EXPECT_EQ(result.load(), 0) << "it cannot wait for its own worker";
    expectStoppedAndEmpty();
}

TEST_F(WorkerPoolTest, AThrowingTaskLeavesItsWorkerAndTheCountsSound) {
    ASSERT_TRUE(pool.start(1, 1));
    ASSERT_TRUE(pool.post([] { throw std::runtime_error("task failed"); }));
    RunLog log(1);
    ASSERT_TRUE(pool.post(log.task(0)));
    EXPECT_TRUE(eventually([&] { return log.total() == 1; }));
    EXPECT_TRUE(eventually([&] { return pool.isIdle(); }));
    EXPECT_EQ(pool.workerCount(), 1);
}

TEST_F(WorkerPoolTest, StartsAndStopsManyTimesInARow) {
    const StopMode modes[] = {StopMode::DiscardAndWait, StopMode::DrainAndWait,
                              StopMode::DiscardNoWait, StopMode::DrainNoWait};
    std::atomic<int> ran{0};
    int drained = 0;
    for (int cycle = 0; cycle < 120; ++cycle) {
        const StopMode mode = modes[cycle % 4];
        // After a no-wait stop the pool may still be Stopping: start is refused until the
        // last worker of the previous run has gone.
        ASSERT_TRUE(eventually([&] { return pool.start(2, 4, 100); })) << "cycle " << cycle;
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(pool.post([&ran] { ++ran; }));
        if (mode == StopMode::DrainAndWait || mode == StopMode::DrainNoWait)
            drained += 10;
        ASSERT_TRUE(pool.stop(mode, 30000)) << "cycle " << cycle;
    }
    EXPECT_TRUE(eventually([&] { return pool.getState() == PoolState::Stopped; }));
    EXPECT_GE(ran.load(), drained);
    EXPECT_LE(ran.load(), 120 * 10);
    expectStoppedAndEmpty();
}

// CPU time the whole process has used, in microseconds.
std::int64_t processCpuMicros() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) {
        return (std::int64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10; // 100 ns units
#else
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return std::int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
#endif
}

// A stop on one thread while another starts the pool again: the stop finishes with its own
// run before the new one begins, so the new run is never closed, signalled or opened by it.
// After every round the new run takes work and, idle, uses no CPU.
TEST_F(WorkerPoolTest, StopOnOneThreadNeverDamagesARunStartedOnAnother) {
    const StopMode modes[] = {StopMode::DiscardNoWait, StopMode::DiscardAndWait};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(eventually([&] { return pool.start(1, 2, 100); }));
        std::atomic<bool> started{false};
        std::thread starter([&] {
            // Tries again without pause, to start inside the stop's window.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!pool.start(1, 2, 100)) {
                if (std::chrono::steady_clock::now() > deadline)
                    return;
                std::this_thread::yield();
            }
            started = true;
        });
        pool.stop(modes[round % 2], 30000);
        starter.join();
        ASSERT_TRUE(started.load());
        ASSERT_EQ(pool.getState(), PoolState::Running);
        std::atomic<bool> ran{false};
        ASSERT_TRUE(pool.post([&ran] { ran = true; }));
        ASSERT_TRUE(eventually([&] { return ran.load(); }));
        ASSERT_TRUE(eventually([&] { return pool.isIdle(); }));
        // An idle pool whose manager spins on a signalled event burns the whole window. The
        // window is long enough for a clock that counts in 15.6 ms ticks (Windows).
        const std::int64_t before = processCpuMicros();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_LT(processCpuMicros() - before, 30000);
        ASSERT_TRUE(pool.stop(StopMode::DiscardAndWait, 30000));
    }
}

TEST_F(WorkerPoolTest, StressEveryTinyTaskRunsExactlyOnce) {
    constexpr int posters = 2;
    constexpr int perPoster = 150000;
    static std::vector<std::atomic<std::uint8_t>> runs(posters * perPoster);
    for (auto& r : runs)
        r = 0;
    ASSERT_TRUE(pool.start(2, 6));
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < posters; ++p)
        threads.emplace_back([&, p] {
            for (int i = 0; i < perPoster; ++i)
                if (!pool.post([](std::int32_t index) { runs[index].fetch_add(1); },
                               p * perPoster + i))
                    ++refused;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(refused.load(), 0);
    ASSERT_TRUE(pool.stop(StopMode::DrainAndWait, 120000));
    int wrong = 0;
    for (const auto& r : runs)
        wrong += r.load() != 1;
    EXPECT_EQ(wrong, 0);
    expectStoppedAndEmpty();
}

// Threads of this process now. The first thread a process starts may bring helper threads
// of its own (the sanitizers' runtimes do), so a baseline is taken after one has run.
int threadsInProcess() {
    int count = 0;
#ifdef _WIN32
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more;
             more = Thread32Next(snapshot, &entry))
            count += entry.th32OwnerProcessID == GetCurrentProcessId();
        CloseHandle(snapshot);
    }
#else
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir))
            count += entry->d_name[0] != '.';
        closedir(dir);
    }
#endif
    return count;
}

int threadBaseline();

// Without a count both lifetime tests below would pass whatever the pool does.
TEST(WorkerPoolLifetime, ThreadsOfThisProcessCanBeCounted) {
    const int before = threadBaseline();
    EXPECT_GT(before, 0);
    std::atomic<bool> release{false};
    std::thread extra([&] {
        while (!release)
            std::this_thread::yield();
    });
    EXPECT_TRUE(eventually([&] { return threadsInProcess() == before + 1; }));
    release = true;
    extra.join();
}

int threadBaseline() {
    std::thread([] {}).join();
    return threadsInProcess();
}

TEST(WorkerPoolLifetime, FreeingADestroyedPoolWithBusyWorkersIsSafe) {
    const int threadsBefore = threadBaseline();
    auto blocker = std::make_shared<Blocker>();
    auto queuedRuns = std::make_shared<std::atomic<int>>(0);
    auto pool = std::make_unique<WorkerPool>();
    ASSERT_TRUE(pool->start(3, 3));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(pool->post([blocker] { blocker->task()(); }));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(pool->post([queuedRuns] { ++*queuedRuns; }));
    ASSERT_TRUE(eventually([&] { return blocker->entered.load() == 3; }));

    pool->destroy();
    pool.reset(); // freed while its workers are still busy
    blocker->gate.set();
    EXPECT_TRUE(eventually([&] { return blocker->finished.load() == 3; }));
    EXPECT_TRUE(eventually([&] { return threadsInProcess() <= threadsBefore; }))
        << "every pool thread ends by itself";
    EXPECT_EQ(queuedRuns->load(), 0);
    EXPECT_EQ(queuedRuns.use_count(), 1) << "the dropped tasks were released";
}

TEST(WorkerPoolLifetime, FreeingARunningPoolEndsItsThreads) {
    const int threadsBefore = threadBaseline();
    {
        WorkerPool pool;
        ASSERT_TRUE(pool.start(3, 3));
    }
    EXPECT_TRUE(eventually([&] { return threadsInProcess() <= threadsBefore; }));
    WorkerPool neverRun;
    neverRun.destroy();
    EXPECT_EQ(neverRun.getState(), PoolState::Stopped);
}

} // namespace
} // namespace corvanta
