#include "core/CookieRoster.h"

#include <algorithm>

namespace corvanta {

namespace {

// How often a waiting take looks at its cancel flag.
constexpr auto kCancelCheck = std::chrono::milliseconds(50);

} // namespace

CookieRoster::CookieRoster(std::vector<std::string> cookies, PacingOptions pacing)
    : cookies_(std::move(cookies)), pacing_(pacing), entries_(cookies_.size()) {}

CookieRoster::Clock::duration CookieRoster::gap() {
    if (pacing_.requestsPerSecond <= 0)
        return Clock::duration::zero();
    double seconds = 1.0 / pacing_.requestsPerSecond;
    if (pacing_.jitter > 0)
        seconds *= 1.0 + std::uniform_real_distribution<double>(0, pacing_.jitter)(random_);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

CookieRoster::Turn CookieRoster::take(int& index, const std::atomic<bool>& cancel) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (cancel.load())
            return Turn::Cancelled;
        const auto now = Clock::now();
        // Rested cookies come back; the earliest slot among the usable ones goes next, ties
        // broken in turn so that cookies without a rate take turns.
        std::optional<Clock::time_point> wakeUp;
        int best = -1;
        for (std::size_t k = 0; k < entries_.size(); ++k) {
            const std::size_t i = (nextInTurn_ + k) % entries_.size();
            Entry& e = entries_[i];
            if (e.state == State::Resting && now >= e.restUntil)
                e.state = State::Usable;
            if (e.state == State::Resting)
                wakeUp = std::min(wakeUp.value_or(e.restUntil), e.restUntil);
            if (e.state != State::Usable)
                continue;
            if (best < 0 || e.nextSlot < entries_[static_cast<std::size_t>(best)].nextSlot)
                best = static_cast<int>(i);
        }
        if (best >= 0) {
            Entry& e = entries_[static_cast<std::size_t>(best)];
            if (e.nextSlot <= now) {
                e.nextSlot = std::max(e.nextSlot, now) + gap();
                nextInTurn_ = static_cast<std::size_t>(best) + 1;
                index = best;
                return Turn::Ready;
            }
            wakeUp = std::min(wakeUp.value_or(e.nextSlot), e.nextSlot);
        }
        if (!wakeUp)
            return Turn::NoneLeft;
        changed_.wait_until(lock, std::min(*wakeUp, now + kCancelCheck));
    }
}

bool CookieRoster::refuse(int index) {
    std::lock_guard lock(mutex_);
    Entry& e = entries_[static_cast<std::size_t>(index)];
    const bool first = e.state != State::Refused;
    e.state = State::Refused;
    changed_.notify_all();
    return first;
}

bool CookieRoster::block(int index) {
    std::lock_guard lock(mutex_);
    Entry& e = entries_[static_cast<std::size_t>(index)];
    const bool wasUsable = e.state == State::Usable;
    if (e.state == State::Refused)
        return false;
    if (pacing_.cooldownSeconds >= 0) {
        e.state = State::Resting;
        e.restUntil = Clock::now() + std::chrono::seconds(pacing_.cooldownSeconds);
    } else {
        e.state = State::Blocked;
    }
    changed_.notify_all();
    return wasUsable;
}

int CookieRoster::usableCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) {
        return e.state == State::Usable || e.state == State::Resting;
    }));
}

} // namespace corvanta
