// Posting and end-to-end throughput of WorkerPool for batches of 100k no-op tasks.
// Goals on the project's 2-core machines: posting 100k tasks under 50 ms, running them
// on 2 workers under 200 ms. Each run prints ms_per_batch and its ratio to the goal.

#include "pool/Event.h"
#include "pool/WorkerPool.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <thread>

namespace corvanta {
namespace {

constexpr int batch = 100000;
constexpr double postGoalMs = 50.0;
constexpr double runGoalMs = 200.0;

std::atomic<int> tasksDone{0};
ManualResetEvent* allDone = nullptr;

void noOp(std::int32_t, std::int32_t) {}

void countDone(std::int32_t, std::int32_t) {
    if (tasksDone.fetch_add(1, std::memory_order_relaxed) + 1 == batch)
        allDone->set();
}

double msSince(std::chrono::steady_clock::time_point began) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
        .count();
}

void report(benchmark::State& state, double totalMs, double goalMs) {
    const double perBatch = totalMs / static_cast<double>(state.iterations());
    state.counters["ms_per_batch"] = perBatch;
    state.counters["goal_ms"] = goalMs;
    state.counters["ratio_to_goal"] = perBatch / goalMs;
    state.counters["tasks_per_second"] = batch / (perBatch / 1000.0);
}

// Posting alone: the pool is paused, so the workers take at most one task each and the
// queue absorbs the rest. Arg 0 posts a routine, arg 1 a callable.
void BM_Post100k(benchmark::State& state) {
    const bool callable = state.range(0) == 1;
    double totalMs = 0;
    for (auto _ : state) {
        WorkerPool pool;
        pool.start(2, 2);
        pool.pause();
        const auto began = std::chrono::steady_clock::now();
        for (int i = 0; i < batch; ++i) {
            if (callable)
                benchmark::DoNotOptimize(pool.post([] {}));
            else
                benchmark::DoNotOptimize(pool.post(noOp, i));
        }
        const double ms = msSince(began);
        totalMs += ms;
        state.SetIterationTime(ms / 1000.0);
        pool.stop(StopMode::DiscardAndWait);
    }
    report(state, totalMs, postGoalMs);
}
BENCHMARK(BM_Post100k)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

// From the first post until the last of 100k tasks has run, on 2 workers.
void BM_RunOnTwoWorkers100k(benchmark::State& state) {
    double totalMs = 0;
    for (auto _ : state) {
        ManualResetEvent done(false);
        allDone = &done;
        tasksDone = 0;
        WorkerPool pool;
        pool.start(2, 2);
        const auto began = std::chrono::steady_clock::now();
        for (int i = 0; i < batch; ++i)
            pool.post(countDone, i);
        done.wait();
        const double ms = msSince(began);
        totalMs += ms;
        state.SetIterationTime(ms / 1000.0);
        pool.stop(StopMode::DrainAndWait);
        allDone = nullptr;
    }
    report(state, totalMs, runGoalMs);
}
BENCHMARK(BM_RunOnTwoWorkers100k)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

// The ramp of a query run: the engine starts the pool with 1 core worker and a maximum of
// 15, then posts every keyword at once. How long until 15 tasks run at the same time when
// 2,000 wait, each taking 50 ms (a request to a service 50 ms away).
void BM_RampTo15Workers(benchmark::State& state) {
    constexpr int workers = 15;
    constexpr int tasks = 2000;
    for (auto _ : state) {
        std::atomic<int> running{0};
        ManualResetEvent allRunning(false);
        WorkerPool pool;
        pool.start(1, workers);
        const auto began = std::chrono::steady_clock::now();
        for (int i = 0; i < tasks; ++i) {
            pool.post([&running, &allRunning] {
                if (running.fetch_add(1) + 1 == workers)
                    allRunning.set();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                running.fetch_sub(1);
            });
        }
        allRunning.wait();
        state.SetIterationTime(msSince(began) / 1000.0);
        pool.stop(StopMode::DiscardAndWait);
    }
    state.SetLabel("1 to 15 workers, 2000 tasks of 50 ms waiting");
}
BENCHMARK(BM_RampTo15Workers)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

} // namespace
} // namespace corvanta

BENCHMARK_MAIN();
