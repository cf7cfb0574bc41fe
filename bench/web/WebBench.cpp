// Figures for the HTTP exchange against the fake index service on loopback: requests per
// second on several threads, how long after its time-out a stalled phase gives up, and
// the time per request through a 30 ms round trip over https, on a fresh connection per
// request and on a kept one.

#include "FakeIndexService.h"
#include "web/WebFetch.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using corvanta::WebExchange;
using corvanta::fake::FakeIndexService;

FakeIndexService& service() {
    static FakeIndexService instance = [] {
        FakeIndexService::Options options;
        options.acceptedCookie = "";
        return FakeIndexService(options);
    }();
    static const bool started = instance.start();
    (void)started;
    return instance;
}

void requestsPerSecond(benchmark::State& state) {
    FakeIndexService& fake = service();
    fake.setFault(corvanta::fake::Fault::None);
    const int threads = static_cast<int>(state.range(0));
    constexpr int perThread = 50;
    int failures = 0;
    for (auto _ : state) {
        std::atomic<int> failed{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i) {
                    const std::string keyword = "w" + std::to_string(t * perThread + i);
                    if (corvanta::webFetch(fake.indexUrl(keyword, 7), 1, "BDUSS=x").empty())
                        ++failed;
                }
            });
        }
        for (auto& w : workers)
            w.join();
        failures += failed.load();
    }
    state.SetItemsProcessed(state.iterations() * threads * perThread);
    state.counters["failures"] = failures;
}
BENCHMARK(requestsPerSecond)->Arg(1)->Arg(4)->Arg(15)->Unit(benchmark::kMillisecond)->UseRealTime();

// How far past a one-second time-out a stalled phase fails; the goal is under 250 ms.
void stallOvershoot(benchmark::State& state) {
    FakeIndexService& fake = service();
    corvanta::fake::FaultConfig config;
    config.fault = state.range(0) == 0 ? corvanta::fake::Fault::StallBeforeHeaders
                                       : corvanta::fake::Fault::StallMidBody;
    fake.setFault(config);
    double worstMs = 0;
    for (auto _ : state) {
        WebExchange exchange;
        exchange.url = fake.indexUrl("stall", 7);
        exchange.method = 1;
        exchange.timeoutSeconds = 1;
        const auto start = std::chrono::steady_clock::now();
        corvanta::webFetch(exchange);
        const double overshoot =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count() -
            1000.0;
        worstMs = std::max(worstMs, overshoot);
        benchmark::DoNotOptimize(exchange.statusText);
    }
    fake.setFault(corvanta::fake::Fault::None);
    state.counters["worst_overshoot_ms"] = worstMs;
    state.SetLabel(state.range(0) == 0 ? "stall before headers" : "stall mid-body");
}
BENCHMARK(stallOvershoot)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Time per request of one worker through a 30 ms round trip over https: a fresh connection
// per request (TCP, TLS, then the request: three round trips) against the kept connection
// of webFetchKeepingConnection (one round trip). The goal for the kept connection is within
// 1.2 x of one round trip plus the service's own time (the kept connection's time per
// request with no delay). The kept connection's first request, which opens it, is not
// counted.
void roundTrip30ms(benchmark::State& state) {
    constexpr int rttMs = 30;
    constexpr int requests = 20;
    auto perRequestMs = [](int rtt, bool kept) {
        FakeIndexService::Options options;
        options.tls = true;
        options.rttMs = rtt;
        options.acceptedCookie = "";
        options.keepRequests = false;
        FakeIndexService fake(options);
        if (!fake.start())
            return -1.0;
        double totalMs = 0;
        std::thread worker([&] {
            for (int i = 0; i <= requests; ++i) {
                WebExchange exchange;
                exchange.url = fake.indexUrl("r" + std::to_string(i), 7);
                exchange.method = 1;
                exchange.sendCookies = "BDUSS=x";
                exchange.ignoreCertErrors = true;
                const auto start = std::chrono::steady_clock::now();
                if (kept)
                    corvanta::webFetchKeepingConnection(exchange);
                else
                    corvanta::webFetch(exchange);
                if (i > 0)
                    totalMs += std::chrono::duration<double, std::milli>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
            }
        });
        worker.join();
        return totalMs / requests;
    };
    double fresh = 0, kept = 0, service = 0;
    for (auto _ : state) {
        service = perRequestMs(0, true);
        fresh = perRequestMs(rttMs, false);
        kept = perRequestMs(rttMs, true);
    }
    state.counters["fresh_ms"] = fresh;
    state.counters["kept_ms"] = kept;
    state.counters["service_ms"] = service;
    state.counters["fresh_over_kept"] = fresh / kept;
    state.counters["ratio_to_goal"] = kept / (1.2 * (rttMs + service));
}
BENCHMARK(roundTrip30ms)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
