#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace corvanta::test {

// Calls check(thread, round) `rounds` times on each of `threads` threads running at once
// and returns how many calls answered false.
inline int failuresOnThreads(int threads, int rounds,
                             const std::function<bool(int thread, int round)>& check) {
    std::atomic<int> failures{0};
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t) {
        running.emplace_back([t, rounds, &check, &failures] {
            for (int round = 0; round < rounds; ++round) {
                if (!check(t, round))
                    ++failures;
            }
        });
    }
    for (auto& thread : running)
        thread.join();
    return failures.load();
}

} // namespace corvanta::test
