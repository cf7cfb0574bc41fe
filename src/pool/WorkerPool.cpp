#include "pool/WorkerPool.h"

#include "pool/Event.h"
#include "pool/PacketQueue.h"
#include "util/Platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>

namespace corvanta {

namespace detail {

// One queued task: a two- or one-argument routine with its arguments, or a callable.
struct TaskPacket {
    TaskRoutine routine = nullptr;
    OneArgTaskRoutine oneArgRoutine = nullptr;
    std::int32_t first = 0;
    std::int32_t second = 0;
    std::function<void()> callable;
};

// Everything the pool's threads touch. The pool object and every thread of the pool hold
// it, so a pool object freed while its workers are still leaving stays memory-safe.
struct PoolCore {
    std::atomic<PoolState> state{PoolState::Stopped};
    // 1 while workers execute the tasks they take; 0 makes each leave at its next packet.
    std::atomic<std::int32_t> executeTasks{0};
    std::atomic<std::int32_t> workers{0}; // worker threads that have registered
    std::atomic<std::int32_t> busy{0};
    std::atomic<std::int32_t> queued{0}; // posted and not yet taken (or dropped)
    // Worker threads started and not yet ended, registered or not.
    std::atomic<std::int32_t> workerThreads{0};
    // Everyone a run must wait for before it is torn down: the worker threads, the
    // manager and `start` while it builds. Whoever brings it to 0 sets Stopped, so a new
    // run never meets a thread of the previous one.
    std::atomic<std::int32_t> members{0};
    std::atomic<std::int32_t> maxWorkers{0};
    std::atomic<std::int32_t> idleTimeoutMs{0};
    std::atomic<std::int32_t> stackSize{0};

    PacketQueue<TaskPacket> port;
    AutoResetEvent demandEvent;   // wakes the manager
    AutoResetEvent readyEvent;    // a worker registered or left
    AutoResetEvent taskDoneEvent; // a task finished
    ManualResetEvent gateEvent{true};
    ManualResetEvent managerDone{true};

    // Every change of `state` away from Stopping happens under this mutex, so a waiter for
    // the end of a stop cannot miss it.
    std::mutex stoppedMutex;
    std::condition_variable stoppedCond;
    std::uint64_t teardowns = 0; // under stoppedMutex
};

} // namespace detail

namespace {

using detail::PoolCore;
using detail::TaskPacket;

constexpr std::int32_t defaultMinWorkers = 5;
constexpr std::int32_t defaultMaxWorkers = 20;
constexpr std::int32_t defaultIdleTimeoutMs = 10000;
constexpr std::int32_t leastIdleTimeoutMs = 100;
constexpr std::int32_t leastStackSize = 8192;
constexpr std::size_t managerStackSize = 8192;
constexpr int maxConsecutiveLaunchFailures = 5;
constexpr std::int64_t pollMs = 20;
constexpr int managerEndPolls = 21;
// How long a start that could not bring a worker up waits for what it started to leave.
constexpr std::int64_t abandonWaitMs = 11 * pollMs;

// The pool whose worker runs on this thread, if any.
thread_local const PoolCore* currentPool = nullptr;

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void pump(const PumpMessages& pumpMessages) {
    if (pumpMessages)
        pumpMessages();
}

// More tasks queued or running than there are workers, and room for another.
bool demandHolds(const PoolCore& core, std::int32_t workers) {
    return workers < core.maxWorkers.load() && core.busy.load() + core.queued.load() > workers;
}

// Closes the queue and drops every task still in it.
void dropQueuedTasks(PoolCore& core) {
    auto dropped = core.port.closeAndTakeAll();
    core.queued.fetch_sub(static_cast<std::int32_t>(dropped.size()));
}

void tearDown(PoolCore& core) {
    dropQueuedTasks(core);
    core.executeTasks.store(0);
    {
        std::lock_guard lock(core.stoppedMutex);
        core.state.store(PoolState::Stopped);
        ++core.teardowns;
    }
    core.stoppedCond.notify_all();
}

// Joins the current run as a member, so that it cannot be torn down (and no other run can
// begin) until this caller leaves. False when there is no run to join.
bool joinRun(PoolCore& core) {
    std::int32_t members = core.members.load(std::memory_order_acquire);
    while (members > 0) {
        if (core.members.compare_exchange_weak(members, members + 1, std::memory_order_acq_rel))
            return true;
    }
    return false;
}

// A member of the run is done; the last one tears the run down.
void leave(PoolCore& core) {
    if (core.members.fetch_sub(1, std::memory_order_acq_rel) == 1)
        tearDown(core);
}

// Waits until the run being stopped has been torn down (even if the pool has been started
// and is stopping again by then). Only a positive timeoutMs limits the wait.
bool waitUntilStopped(PoolCore& core, std::int64_t timeoutMs, const PumpMessages& pumpMessages) {
    std::unique_lock lock(core.stoppedMutex);
    const std::uint64_t teardownsBefore = core.teardowns;
    const auto notStopping = [&core, teardownsBefore] {
        return core.state.load() != PoolState::Stopping || core.teardowns != teardownsBefore;
    };
    if (pumpMessages) {
        const std::int64_t began = nowMs();
        while (!notStopping()) {
            if (timeoutMs > 0 && nowMs() - began > timeoutMs)
                return false;
            core.stoppedCond.wait_for(lock, std::chrono::milliseconds(pollMs), notStopping);
            lock.unlock();
            pumpMessages();
            lock.lock();
        }
        return true;
    }
    if (timeoutMs > 0)
        return core.stoppedCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), notStopping);
    core.stoppedCond.wait(lock, notStopping);
    return true;
}

void runTask(const TaskPacket& packet) {
    // A task reports its own outcome; one that throws must not take its worker (and with
    // it the counts) down.
    try {
        if (packet.routine != nullptr)
            packet.routine(packet.first, packet.second);
        else if (packet.oneArgRoutine != nullptr)
            packet.oneArgRoutine(packet.first);
        else if (packet.callable)
            packet.callable();
    } catch (...) {
    }
}

void workerLoop(PoolCore& core, bool extra) {
    currentPool = &core;
    core.workers.fetch_add(1);
    if (core.state.load() != PoolState::Stopping)
        core.readyEvent.set();
    for (;;) {
        const std::int64_t timeoutMs = extra ? core.idleTimeoutMs.load() : waitForever;
        TaskPacket packet;
        const TakeResult taken = core.port.take(packet, timeoutMs);
        core.gateEvent.wait(); // a paused pool holds its workers here
        if (taken != TakeResult::Taken)
            break;
        if (core.executeTasks.load() != 1) {
            core.queued.fetch_sub(1); // the task is dropped
            break;
        }
        core.busy.fetch_add(1);
        core.queued.fetch_sub(1);
        runTask(packet);
        packet = TaskPacket{}; // let go of what the task holds before reporting it done
        core.busy.fetch_sub(1);
        core.taskDoneEvent.set();
    }
    core.workers.fetch_sub(1);
    currentPool = nullptr;
}

// Starts one worker thread; it counts as a member of the run from before it starts.
bool launchWorker(const std::shared_ptr<PoolCore>& core, bool extra) {
    core->members.fetch_add(1);
    core->workerThreads.fetch_add(1);
    const auto stack = static_cast<std::size_t>(std::max(0, core->stackSize.load()));
    const bool started = platform::startThread(
        [core, extra] {
            workerLoop(*core, extra);
            core->workerThreads.fetch_sub(1);
            core->readyEvent.set();
            leave(*core);
        },
        stack);
    if (!started) {
        core->workerThreads.fetch_sub(1);
        leave(*core);
    }
    return started;
}

// After starting an extra worker: waits until every started worker has registered, at
// most budgetMs, or until the pool stops running.
void waitForRegistration(PoolCore& core, std::int64_t budgetMs) {
    const std::int64_t deadline = nowMs() + budgetMs;
    while (core.state.load() == PoolState::Running &&
           core.workers.load() < core.workerThreads.load()) {
        const std::int64_t left = deadline - nowMs();
        if (left <= 0 || !core.readyEvent.wait(left))
            return;
    }
}

void managerLoop(const std::shared_ptr<PoolCore>& corePtr) {
    PoolCore& core = *corePtr;
    core.demandEvent.wait();
    int failures = 0;
    while (core.state.load() == PoolState::Running) {
        // Workers still starting count too, or a slow start would let the pool overshoot
        // its maximum.
        if (demandHolds(core, core.workerThreads.load())) {
            if (launchWorker(corePtr, true)) {
                failures = 0;
                waitForRegistration(core, std::int64_t{core.workers.load()} * 2 + 1000);
            } else if (++failures >= maxConsecutiveLaunchFailures) {
                core.maxWorkers.store(std::max(1, core.workers.load()));
                failures = 0;
            }
        } else {
            core.demandEvent.wait();
        }
        core.gateEvent.wait();
    }
}

// Undoes a start that could not bring a worker up: whatever was started leaves, and the
// last one to leave sets Stopped.
bool abandonStart(PoolCore& core, const PumpMessages& pumpMessages) {
    core.state.store(PoolState::Stopping);
    core.executeTasks.store(0);
    dropQueuedTasks(core);
    core.demandEvent.release();
    core.readyEvent.release();
    core.taskDoneEvent.release();
    core.gateEvent.set();
    leave(core);
    // Bounded: threads that never got going leave on their own, and the last of them
    // sets Stopped whenever that is.
    waitUntilStopped(core, abandonWaitMs, pumpMessages);
    return false;
}

bool postPacket(PoolCore& core, TaskPacket&& packet) {
    if (core.state.load() != PoolState::Running)
        return false;
    core.queued.fetch_add(1);
    if (!core.port.post(std::move(packet))) { // a stop closed the queue meanwhile
        core.queued.fetch_sub(1);
        return false;
    }
    if (demandHolds(core, core.workers.load()))
        core.demandEvent.set();
    return true;
}

std::int32_t startStackSize(std::optional<std::int32_t> bytes) {
    if (!bytes || *bytes == 0)
        return 0;
    if (*bytes < leastStackSize)
        return leastStackSize;
    return *bytes - *bytes % 4096;
}

} // namespace

WorkerPool::WorkerPool() : core_(std::make_shared<PoolCore>()) {}

WorkerPool::~WorkerPool() {
    destroy();
}

void WorkerPool::destroy() {
    stop(StopMode::DiscardNoWait);
}

bool WorkerPool::start(std::optional<std::int32_t> minWorkers,
                       std::optional<std::int32_t> maxWorkers,
                       std::optional<std::int32_t> idleTimeoutMs, PumpMessages pumpMessages,
                       std::optional<std::int32_t> stackSize) {
    PoolCore& core = *core_;
    PoolState expected = PoolState::Stopped;
    if (!core.state.compare_exchange_strong(expected, PoolState::Starting))
        return false;

    const std::int32_t least = minWorkers ? std::max(1, *minWorkers) : defaultMinWorkers;
    core.maxWorkers.store(std::max(maxWorkers.value_or(defaultMaxWorkers), least));
    core.idleTimeoutMs.store(idleTimeoutMs ? std::max(leastIdleTimeoutMs, *idleTimeoutMs)
                                           : defaultIdleTimeoutMs);
    core.stackSize.store(startStackSize(stackSize));

    core.port.reopen();
    core.demandEvent.reset();
    core.readyEvent.reset();
    core.taskDoneEvent.reset();
    core.gateEvent.set();
    core.managerDone.reset();
    core.executeTasks.store(1);
    core.members.fetch_add(1); // this call, until the pool runs or is given up

    core.members.fetch_add(1);
    const bool managerStarted = platform::startThread(
        [corePtr = core_] {
            managerLoop(corePtr);
            corePtr->managerDone.set();
            leave(*corePtr);
        },
        managerStackSize);
    if (!managerStarted) {
        core.managerDone.set();
        leave(core);
        return abandonStart(core, pumpMessages);
    }

    std::int32_t created = 0;
    int failures = 0;
    for (std::int32_t i = 0; i < least && failures < maxConsecutiveLaunchFailures; ++i) {
        if (launchWorker(core_, false)) {
            ++created;
            failures = 0;
        } else {
            ++failures;
        }
        pump(pumpMessages);
    }

    if (created > 0) {
        // One budget for the whole wait, however often the event fires.
        const std::int64_t deadline = nowMs() + std::int64_t{created} * 2 + 1000;
        while (core.workers.load() < created) {
            const std::int64_t left = deadline - nowMs();
            if (left <= 0 || !core.readyEvent.wait(left))
                break;
            pump(pumpMessages);
        }
    }
    if (core.workers.load() > 0) {
        core.state.exchange(PoolState::Running);
        leave(core);
        return true;
    }
    return abandonStart(core, pumpMessages);
}

bool WorkerPool::stop(StopMode mode, std::int32_t timeoutMs, PumpMessages pumpMessages) {
    PoolCore& core = *core_;
    // The stop is a member of the run it stops until its own work on it is done: the run
    // cannot be torn down, and so no new run can start, while this call still closes its
    // queue and signals its events.
    if (!joinRun(core))
        return core.state.load() == PoolState::Stopped;
    PoolState expected = PoolState::Running;
    if (!core.state.compare_exchange_strong(expected, PoolState::Stopping)) {
        leave(core);
        return false;
    }

    if (mode != StopMode::DrainAndWait && mode != StopMode::DiscardNoWait &&
        mode != StopMode::DrainNoWait)
        mode = StopMode::DiscardAndWait;
    const bool discard = mode == StopMode::DiscardAndWait || mode == StopMode::DiscardNoWait;

    // A closed queue answers "leave" to every take once it is empty, however many workers
    // there are or will have started; in the drain modes the tasks before it run first.
    if (discard) {
        core.executeTasks.store(0);
        dropQueuedTasks(core);
    } else {
        core.port.close();
    }
    core.taskDoneEvent.release();
    core.readyEvent.release();
    core.demandEvent.release();
    core.gateEvent.set();

    for (int i = 0; i < managerEndPolls && !core.managerDone.wait(pollMs); ++i)
        pump(pumpMessages);
    leave(core);

    if (mode == StopMode::DiscardNoWait || mode == StopMode::DrainNoWait)
        return true;
    // A task of this pool cannot wait for its own worker to leave.
    if (currentPool == &core)
        return false;
    return waitUntilStopped(core, timeoutMs, pumpMessages);
}

bool WorkerPool::pause() {
    PoolCore& core = *core_;
    if (core.state.load() != PoolState::Running)
        return false;
    core.gateEvent.reset();
    // A stop that came in between has opened the gate already: keep it open.
    if (core.state.load() != PoolState::Running) {
        core.gateEvent.set();
        return false;
    }
    return true;
}

bool WorkerPool::resume() {
    PoolCore& core = *core_;
    if (core.state.load() != PoolState::Running)
        return false;
    core.gateEvent.set();
    return true;
}

bool WorkerPool::waitWhilePaused(std::int64_t timeoutMs) {
    PoolCore& core = *core_;
    if (core.state.load() != PoolState::Running)
        return false;
    return core.gateEvent.wait(timeoutMs);
}

bool WorkerPool::post(TaskRoutine routine, std::int32_t first, std::int32_t second) {
    if (routine == nullptr)
        return false;
    TaskPacket packet;
    packet.routine = routine;
    packet.first = first;
    packet.second = second;
    return postPacket(*core_, std::move(packet));
}

bool WorkerPool::post(OneArgTaskRoutine routine, std::int32_t first, std::int32_t second) {
    if (routine == nullptr)
        return false;
    TaskPacket packet;
    packet.oneArgRoutine = routine;
    packet.first = first;
    packet.second = second;
    return postPacket(*core_, std::move(packet));
}

bool WorkerPool::post(std::function<void()> task) {
    if (!task)
        return false;
    TaskPacket packet;
    packet.callable = std::move(task);
    return postPacket(*core_, std::move(packet));
}

bool WorkerPool::waitTaskDone(std::int64_t timeoutMs, PumpMessages pumpMessages) {
    PoolCore& core = *core_;
    if (core.state.load() != PoolState::Running)
        return false;
    if (!pumpMessages)
        return core.taskDoneEvent.wait(timeoutMs);
    const bool timed = !waitsForever(timeoutMs);
    const std::int64_t began = nowMs();
    for (;;) {
        pumpMessages();
        if (core.taskDoneEvent.wait(pollMs))
            return true;
        if (timed && nowMs() - began > timeoutMs)
            return false;
    }
}

bool WorkerPool::signalTaskDone() {
    PoolCore& core = *core_;
    if (core.state.load() != PoolState::Running)
        return false;
    core.taskDoneEvent.set();
    return true;
}

std::int32_t WorkerPool::idleWorkerCount() const {
    // Read apart, the two counts can cross for a moment.
    return std::max(0, core_->workers.load() - core_->busy.load());
}

std::int32_t WorkerPool::busyCount() const {
    return core_->busy.load();
}

std::int32_t WorkerPool::queuedCount() const {
    return core_->queued.load();
}

std::int32_t WorkerPool::workerCount() const {
    return core_->workers.load();
}

bool WorkerPool::isIdle() const {
    return core_->queued.load() == 0 && core_->busy.load() == 0;
}

PoolState WorkerPool::getState() const {
    return core_->state.load();
}

std::int32_t WorkerPool::getMaxWorkers() const {
    return core_->maxWorkers.load();
}

std::int32_t WorkerPool::getIdleTimeout() const {
    return core_->idleTimeoutMs.load();
}

std::int32_t WorkerPool::getStackSize() const {
    return core_->stackSize.load();
}

void WorkerPool::setMaxWorkers(std::int32_t count) {
    PoolCore& core = *core_;
    if (core.state.load() != PoolState::Running)
        return;
    core.maxWorkers.store(std::max(1, count));
    if (demandHolds(core, core.workers.load()))
        core.demandEvent.set();
}

void WorkerPool::setIdleTimeout(std::int32_t milliseconds) {
    PoolCore& core = *core_;
    if (core.state.load() != PoolState::Running)
        return;
    core.idleTimeoutMs.store(std::max(leastIdleTimeoutMs, milliseconds));
}

void WorkerPool::setStackSize(std::int32_t bytes) {
    PoolCore& core = *core_;
    if (core.state.load() != PoolState::Running)
        return;
    std::int32_t size = 0;
    if (bytes != 0)
        size = bytes < leastStackSize ? leastStackSize : bytes - bytes % 8192;
    core.stackSize.store(size);
}

} // namespace corvanta
