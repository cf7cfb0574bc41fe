#pragma once

// Waitable events for the worker pool's threads to signal each other: an auto-reset
// event that wakes one waiter per signal and a manual-reset one that stays open.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace corvanta {

// A wait time in milliseconds; any negative value waits without limit, and so does
// one beyond what the clocks can add (about 24 days and more).
inline constexpr std::int64_t waitForever = -1;

inline bool waitsForever(std::int64_t timeoutMs) {
    return timeoutMs < 0 || timeoutMs > std::int64_t{0x7fffffff};
}

// Set wakes one waiter, or lets the next wait through; several sets before a wait
// coalesce into one. `release` opens it for every waiter until `reset`.
class AutoResetEvent {
public:
    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void set();
    // Lets every current and later wait through at once, until reset. A wait that was
    // under way at the release passes even if a reset follows at once.
    void release();
    // Not signalled, not released.
    void reset();
    // True when signalled (or released) within timeoutMs; a signal is consumed.
    bool wait(std::int64_t timeoutMs = waitForever);
    // Threads waiting right now; a momentary count.
    int waiting() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    std::atomic<bool> signalled_{false};
    bool released_ = false;
    std::uint64_t releases_ = 0;
    int waiters_ = 0;
};

// Stays signalled from set to reset; every waiter passes while it is signalled, and every
// wait under way at a set passes even if a reset follows at once.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool signalled) : signalled_(signalled) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void set();
    void reset();
    bool isSet() const { return signalled_.load(std::memory_order_acquire); }
    // True when the event is signalled within timeoutMs.
    bool wait(std::int64_t timeoutMs = waitForever);
    // Threads waiting right now; a momentary count.
    int waiting() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    std::atomic<bool> signalled_;
    std::uint64_t sets_ = 0;
    int waiters_ = 0;
};

} // namespace corvanta
