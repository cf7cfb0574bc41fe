#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace corvanta {

// Measures the time since start() on the machine's 32-bit millisecond tick counter, which
// may wrap around once in between.
class Stopwatch {
public:
    using TickSource = std::function<std::uint32_t()>;

    // Ticks come from the platform unless a source is given (tests).
    explicit Stopwatch(TickSource ticks = {});

    void start();
    // Milliseconds since start() (since the counter's zero before any start()).
    std::int32_t elapsedMilliseconds() const;
    // prefix + "耗时：<ms>ms，<seconds>s", e.g. "导出耗时：1500ms，1.5s".
    std::string elapsedText(const std::string& prefix = {}) const;

private:
    TickSource ticks_;
    std::uint32_t startTick_ = 0;
};

} // namespace corvanta
