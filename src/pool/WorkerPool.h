#pragma once

// WorkerPool runs short tasks on worker threads fed from one FIFO packet queue. A fixed
// number of core workers wait for work without limit; a manager thread adds extra
// workers one at a time while more tasks are queued or running than there are workers,
// up to a maximum, and an extra worker ends after waiting idleTimeoutMs for a task.
// The pool can be paused, resumed, stopped with or without running what is queued, and
// started again. Every operation is safe to call from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace corvanta {

namespace detail {
struct PoolCore;
} // namespace detail

enum class PoolState : std::int32_t { Stopped = 0, Running = 1, Starting = 2, Stopping = 3 };

// What `stop` does with queued tasks and whether it waits for the workers to leave.
// Any other value counts as DiscardAndWait.
enum class StopMode : std::int32_t {
    DiscardAndWait = 0,
    DrainAndWait = 1,
    DiscardNoWait = 2,
    DrainNoWait = 3,
};

// A task: called as routine(first, second) on a worker thread.
using TaskRoutine = void (*)(std::int32_t first, std::int32_t second);
// A task that takes only the first argument.
using OneArgTaskRoutine = void (*)(std::int32_t first);

// Called between waits by `start`, `stop` and `waitTaskDone` so that a GUI thread can
// let its pending events through while it waits. Empty: no pumping.
using PumpMessages = std::function<void()>;

class WorkerPool {
public:
    WorkerPool();
    // Stops the pool without waiting (as `destroy`). Running tasks finish on their
    // threads, which keep what they use alive until the last of them leaves.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Stops in DiscardNoWait mode: queued tasks are dropped and the workers are not waited
    // for (only the manager thread, briefly).
    void destroy();

    // Builds and starts the pool. Absent settings: 5 core workers, a maximum of 20 (raised
    // to minWorkers), an idle time-out of 10000 ms (at least 100) and the default stack;
    // a stack size other than 0 is at least 8192 and rounded down to a multiple of 4096
    // (threads get at least that much; the platform may give more).
    // False when the pool was not Stopped (nothing changes) or could not be built.
    bool start(std::optional<std::int32_t> minWorkers = {},
               std::optional<std::int32_t> maxWorkers = {},
               std::optional<std::int32_t> idleTimeoutMs = {}, PumpMessages pumpMessages = {},
               std::optional<std::int32_t> stackSize = {});

    // Stops a Running pool: true when Stopped already or when the stop began (and, in the
    // waiting modes, the workers have all left within timeoutMs, which counts only when
    // positive). False in Starting or Stopping, or when the wait timed out; the pool then
    // still reaches Stopped when its last worker leaves.
    bool stop(StopMode mode = StopMode::DiscardAndWait, std::int32_t timeoutMs = 0,
              PumpMessages pumpMessages = {});

    // Pause holds every worker after the next task it takes; resume lets them go on.
    // Both only while Running.
    bool pause();
    bool resume();
    // While Running: waits until the pool is not paused; true if so within timeoutMs.
    bool waitWhilePaused(std::int64_t timeoutMs = -1);

    // Queue a task while Running; false, and nothing queued, when the pool is not
    // Running or there is no routine.
    bool post(TaskRoutine routine, std::int32_t first = 0, std::int32_t second = 0);
    bool post(OneArgTaskRoutine routine, std::int32_t first = 0, std::int32_t second = 0);
    bool post(std::function<void()> task);

    // While Running: waits until a task has finished since the last such wait (or
    // signalTaskDone was called, or the pool stops). Negative timeoutMs: without limit.
    bool waitTaskDone(std::int64_t timeoutMs = -1, PumpMessages pumpMessages = {});
    bool signalTaskDone();

    // Momentary counts, readable in any state; 0 once the pool has stopped.
    std::int32_t idleWorkerCount() const;
    std::int32_t busyCount() const;
    std::int32_t queuedCount() const;
    std::int32_t workerCount() const;
    bool isIdle() const;
    PoolState getState() const;
    // The settings keep their last values after the pool stops.
    std::int32_t getMaxWorkers() const;
    std::int32_t getIdleTimeout() const;
    std::int32_t getStackSize() const;

    // Only while Running. At least 1; wakes the manager if the pool may now grow.
    void setMaxWorkers(std::int32_t count);
    // Only while Running. At least 100 ms.
    void setIdleTimeout(std::int32_t milliseconds);
    // Only while Running; applies to workers started later. 0 stays 0 (default stack),
    // other values are at least 8192 and rounded down to a multiple of 8192.
    void setStackSize(std::int32_t bytes);

private:
    // Shared with every pool thread: it lives until the object and the last thread are gone.
    std::shared_ptr<detail::PoolCore> core_;
};

} // namespace corvanta
