#include "export/Stopwatch.h"

#include "util/Platform.h"

#include <cstdio>

namespace corvanta {

Stopwatch::Stopwatch(TickSource ticks)
    : ticks_(ticks ? std::move(ticks) : TickSource(platform::tickCount)) {}

void Stopwatch::start() {
    startTick_ = ticks_();
}

std::int32_t Stopwatch::elapsedMilliseconds() const {
    // Unsigned subtraction is the difference modulo 2^32, right across one wrap.
    return static_cast<std::int32_t>(ticks_() - startTick_);
}

std::string Stopwatch::elapsedText(const std::string& prefix) const {
    const std::int32_t elapsed = elapsedMilliseconds();
    char seconds[40];
    std::snprintf(seconds, sizeof seconds, "%.13g", elapsed / 1000.0);
    return prefix + "耗时：" + std::to_string(elapsed) + "ms，" + seconds + "s";
}

} // namespace corvanta
