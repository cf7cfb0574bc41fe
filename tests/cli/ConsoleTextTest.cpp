#include "cli/ConsoleText.h"

#include <gtest/gtest.h>

namespace corvanta::cli {
namespace {

TEST(ConsoleText, WideCharactersTakeTwoColumns) {
    struct Case {
        std::string text;
        int width;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 3},
        {"\xE6\x89\x8B\xE6\x9C\xBA", 4}, // 手机
        {"iphone 15", 9},
        {"mbti\xE6\xB5\x8B\xE8\xAF\x95", 8}, // mbti测试
        {"\xEF\xBC\xA1", 2},                 // full-width A
        {"e\xCC\x81", 1},                    // e and a combining accent
        {"\xED\x95\x9C", 2},                 // hangul
    };
    for (const Case& c : cases)
        EXPECT_EQ(displayWidth(c.text), c.width) << c.text;
}

// A keyword file may hold anything; none of it may reach the terminal as a control.
TEST(ConsoleText, ControlsAndBrokenBytesNeverReachTheTerminal) {
    EXPECT_EQ(printable("a\x1b[31mb"), "a\xEF\xBF\xBD[31mb");
    EXPECT_EQ(printable("x\ry\tz\x7f"), "x\xEF\xBF\xBDy\xEF\xBF\xBDz\xEF\xBF\xBD");
    EXPECT_EQ(printable("\xC2\x9B"), "\xEF\xBF\xBD");             // C1 control CSI
    EXPECT_EQ(printable("\xB4\xF3"), "\xEF\xBF\xBD\xEF\xBF\xBD"); // GBK bytes, not UTF-8
    EXPECT_EQ(displayWidth("\x1b"), 1);
}

TEST(ConsoleText, CuttingKeepsWholeCharactersAndMarksTheCut) {
    const std::string text =
        "\xE7\xAC\x94\xE8\xAE\xB0\xE6\x9C\xAC\xE7\x94\xB5\xE8\x84\x91"; // 笔记本电脑
    EXPECT_EQ(fitWidth(text, 10), text);
    const std::string cut = fitWidth(text, 6);
    EXPECT_EQ(cut, "\xE7\xAC\x94\xE8\xAE\xB0\xE2\x80\xA6"); // 笔记…
    EXPECT_LE(displayWidth(cut), 6);
    EXPECT_EQ(padRight("\xE6\x89\x8B", 4), "\xE6\x89\x8B  ");
    EXPECT_EQ(padLeft("12", 4), "  12");
}

TEST(ConsoleText, Durations) {
    EXPECT_EQ(formatDuration(4.21), "4.2 s");
    EXPECT_EQ(formatDuration(187), "3:07");
    EXPECT_EQ(formatDuration(3723), "1:02:03");
    EXPECT_EQ(formatDuration(-1), "0.0 s");
}

} // namespace
} // namespace corvanta::cli
