#pragma once

// The cookies of a long run: which of them may still be used, whose turn it is, and how fast
// each may send. Safe on any number of threads at once.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace corvanta {

struct PacingOptions {
    double requestsPerSecond = 0; // per cookie; 0: no limit
    double jitter = 0;            // 0 to 1: each gap lengthened by up to this share at random
    int cooldownSeconds = -1;     // how long a blocked cookie rests; below 0: for good
};

class CookieRoster {
public:
    using Clock = std::chrono::steady_clock;

    CookieRoster(std::vector<std::string> cookies, PacingOptions pacing);

    enum class Turn { Ready, NoneLeft, Cancelled };
    // Waits for the next usable cookie's turn (round robin, each cookie at most its rate) and
    // takes it. NoneLeft when every cookie was refused or blocked for good; Cancelled as soon
    // as `cancel` is set.
    Turn take(int& index, const std::atomic<bool>& cancel);

    const std::string& cookie(int index) const { return cookies_[static_cast<std::size_t>(index)]; }
    int size() const { return static_cast<int>(cookies_.size()); }

    // The service refused the cookie (logged out): not used again. True the first time.
    bool refuse(int index);
    // The service blocked the cookie: it rests for the cool-down, or for good. True when it
    // was usable until now.
    bool block(int index);
    // Cookies usable now or after their rest.
    int usableCount() const;

private:
    enum class State { Usable, Resting, Refused, Blocked };
    struct Entry {
        State state = State::Usable;
        Clock::time_point nextSlot{};  // earliest moment of its next request
        Clock::time_point restUntil{}; // while Resting
    };

    Clock::duration gap();

    const std::vector<std::string> cookies_;
    const PacingOptions pacing_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry> entries_;
    std::size_t nextInTurn_ = 0;
    std::mt19937 random_{12345};
};

} // namespace corvanta
