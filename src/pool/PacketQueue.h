#pragma once

// The worker pool's packet queue: many threads post, many take, in the order posted;
// a take can wait for a limited time. Closing it is the pool's stop signal.

#include "pool/Event.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

namespace corvanta {

enum class TakeResult { Taken, TimedOut, Closed };

template <class Packet>
class PacketQueue {
public:
    PacketQueue() = default;
    PacketQueue(const PacketQueue&) = delete;
    PacketQueue& operator=(const PacketQueue&) = delete;

    // Appends a packet; false, and the packet dropped, once the queue is closed.
    bool post(Packet packet) {
        std::lock_guard lock(mutex_);
        if (closed_)
            return false;
        packets_.push_back(std::move(packet));
        if (waiters_ > 0)
            cond_.notify_one();
        return true;
    }

    // Takes the oldest packet, waiting up to timeoutMs (negative: without limit) for one.
    // A closed queue still hands out what it holds, then answers Closed to every take.
    TakeResult take(Packet& out, std::int64_t timeoutMs = waitForever) {
        std::unique_lock lock(mutex_);
        const auto ready = [this] { return !packets_.empty() || closed_; };
        ++waiters_;
        bool woken = true;
        if (waitsForever(timeoutMs))
            cond_.wait(lock, ready);
        else
            woken = cond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
        --waiters_;
        if (!woken)
            return TakeResult::TimedOut;
        if (packets_.empty())
            return TakeResult::Closed;
        out = std::move(packets_.front());
        packets_.pop_front();
        return TakeResult::Taken;
    }

    // Refuses further posts; the packets already queued are still handed out.
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        cond_.notify_all();
    }

    // Closes the queue and hands back every packet not yet taken.
    std::deque<Packet> closeAndTakeAll() {
        std::deque<Packet> left;
        std::lock_guard lock(mutex_);
        closed_ = true;
        left.swap(packets_);
        cond_.notify_all();
        return left;
    }

    // Accepts posts again. Packets still queued stay, in order.
    void reopen() {
        std::lock_guard lock(mutex_);
        closed_ = false;
    }

    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return packets_.size();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    std::deque<Packet> packets_;
    bool closed_ = false;
    int waiters_ = 0;
};

} // namespace corvanta
