#include "pool/Event.h"

#include <chrono>

namespace corvanta {

namespace {

// Waits on `cond` until `ready()` holds or the time is up; the lock is held.
template <class Ready>
bool waitFor(std::condition_variable& cond, std::unique_lock<std::mutex>& lock,
             std::int64_t timeoutMs, Ready ready) {
    if (waitsForever(timeoutMs)) {
        cond.wait(lock, ready);
        return true;
    }
    return cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

} // namespace

void AutoResetEvent::set() {
    // Already signalled: this set coalesces with the pending one, which no waiter has
    // consumed yet (an exchange reads the latest value).
    if (signalled_.exchange(true, std::memory_order_acq_rel))
        return;
    std::lock_guard lock(mutex_);
    if (waiters_ > 0)
        cond_.notify_one();
}

void AutoResetEvent::release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    ++releases_;
    cond_.notify_all();
}

void AutoResetEvent::reset() {
    std::lock_guard lock(mutex_);
    released_ = false;
    signalled_.store(false, std::memory_order_release);
}

bool AutoResetEvent::wait(std::int64_t timeoutMs) {
    std::unique_lock lock(mutex_);
    const std::uint64_t releasesBefore = releases_;
    ++waiters_;
    const bool woken = waitFor(cond_, lock, timeoutMs, [&] {
        return released_ || releases_ != releasesBefore ||
               signalled_.load(std::memory_order_acquire);
    });
    --waiters_;
    // Consuming by exchange also picks up any set that coalesced with this signal.
    if (woken && !released_ && releases_ == releasesBefore)
        signalled_.exchange(false, std::memory_order_acq_rel);
    return woken;
}

int AutoResetEvent::waiting() const {
    std::lock_guard lock(mutex_);
    return waiters_;
}

void ManualResetEvent::set() {
    std::lock_guard lock(mutex_);
    signalled_.store(true, std::memory_order_release);
    ++sets_;
    cond_.notify_all();
}

void ManualResetEvent::reset() {
    std::lock_guard lock(mutex_);
    signalled_.store(false, std::memory_order_release);
}

bool ManualResetEvent::wait(std::int64_t timeoutMs) {
    if (signalled_.load(std::memory_order_acquire))
        return true;
    std::unique_lock lock(mutex_);
    const std::uint64_t setsBefore = sets_;
    ++waiters_;
    const bool woken = waitFor(cond_, lock, timeoutMs, [&] {
        return sets_ != setsBefore || signalled_.load(std::memory_order_acquire);
    });
    --waiters_;
    return woken;
}

int ManualResetEvent::waiting() const {
    std::lock_guard lock(mutex_);
    return waiters_;
}

} // namespace corvanta
