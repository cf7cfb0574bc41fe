#include "export/Stopwatch.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace corvanta::test {
namespace {

TEST(Stopwatch, ElapsedText) {
    struct Case {
        std::uint32_t startTick;
        std::uint32_t nowTick;
        const char* prefix;
        const char* expected;
    };
    const Case cases[] = {
        {1000, 1000, "", "耗时：0ms，0s"},
        {1000, 1050, "", "耗时：50ms，0.05s"},
        {1000, 2500, "", "耗时：1500ms，1.5s"},
        {1000, 3000, "", "耗时：2000ms，2s"},
        {1000, 2500, "导出", "导出耗时：1500ms，1.5s"},
        {1000, 1001, "", "耗时：1ms，0.001s"},
        {0, 123456789, "", "耗时：123456789ms，123456.789s"},
        // The counter wraps after 2^32 ms; the difference is still the true one.
        {0xFFFFFC18u, 500, "", "耗时：1500ms，1.5s"},
        {0x7FFFFFFFu, 0x80000000u, "", "耗时：1ms，0.001s"},
        {0xFFFFFFFFu, 0x7FFFFFFEu, "", "耗时：2147483647ms，2147483.647s"},
    };
    for (const Case& c : cases) {
        std::uint32_t tick = c.startTick;
        Stopwatch stopwatch([&tick] { return tick; });
        stopwatch.start();
        tick = c.nowTick;
        EXPECT_EQ(stopwatch.elapsedText(c.prefix), c.expected)
            << c.startTick << " -> " << c.nowTick;
    }
}

TEST(Stopwatch, MeasuresFromTheLatestStart) {
    std::uint32_t tick = 5000;
    Stopwatch stopwatch([&tick] { return tick; });
    EXPECT_EQ(stopwatch.elapsedMilliseconds(), 5000); // never started: from the counter's zero
    stopwatch.start();
    tick = 7000;
    const Stopwatch copy = stopwatch;
    stopwatch.start();
    tick = 7250;
    EXPECT_EQ(stopwatch.elapsedText(), "耗时：250ms，0.25s");
    EXPECT_EQ(copy.elapsedText(), "耗时：2250ms，2.25s");
}

} // namespace
} // namespace corvanta::test
