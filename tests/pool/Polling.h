#pragma once

#include <chrono>
#include <thread>

namespace corvanta::test {

// Polls `condition` until it holds or `limit` has passed; true if it held. The limit is
// generous on purpose: it only bounds a failing test.
template <class Condition>
bool eventually(Condition condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(20000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace corvanta::test
