#include "util/Platform.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The promises of Platform.h that every platform module keeps alike.
namespace corvanta::platform {
namespace {

using namespace std::string_literals;

struct ConversionCase {
    const char* name;
    std::string input;
    const char* from;
    const char* to;
    std::optional<std::string> strict;
    std::optional<std::string> lenient; // replacement "<?>", one byte skipped
};

void PrintTo(const ConversionCase& c, std::ostream* out) {
    *out << c.name;
}

class Conversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(Conversion, StrictFailsWhereLenientReplaces) {
    const ConversionCase& c = GetParam();
    EXPECT_EQ(convertCharset(c.input, c.from, c.to), c.strict);
    EXPECT_EQ(convertCharsetLenient(c.input, c.from, c.to, "<?>",
                                    [](std::string_view) { return std::size_t{1}; }),
              c.lenient);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Conversion,
    ::testing::Values(
        ConversionCase{"Utf8ToLegacy", "a中", "UTF-8", "GB18030", "a\xD6\xD0", "a\xD6\xD0"},
        ConversionCase{"NamesIgnoreLetterCase", "中", "utf-8", "gb18030", "\xD6\xD0", "\xD6\xD0"},
        ConversionCase{"Empty", "", "UTF-8", "UTF-16LE", "", ""},
        ConversionCase{"InvalidInside", "a\xFF"
                                        "b",
                       "UTF-8", "UTF-16LE", std::nullopt, "a\0<?>b\0"s},
        ConversionCase{"CutShortAtTheEndIsOneReplacement", "x\xE4\xB8", "UTF-8", "UTF-16LE",
                       std::nullopt, "x\0<?>"s},
        ConversionCase{"OddByteAtTheEnd", "a\0b"s, "UTF-16LE", "UTF-8", std::nullopt, "a<?>"},
        // One byte skipped leaves the character's other two bytes, each invalid alone.
        ConversionCase{"UnwritableInTarget", "a中b", "UTF-8", "CP1252", std::nullopt,
                       "a<?><?><?>b"},
        ConversionCase{"WesternCodePage", "caf\xE9", "CP1252", "UTF-8", "caf\xC3\xA9",
                       "caf\xC3\xA9"},
        ConversionCase{"BigEndian", "\x4E\x2D"s, "UTF-16BE", "UTF-8", "中", "中"},
        ConversionCase{"UnknownSource", "abc", "NO-SUCH-CHARSET", "UTF-8", std::nullopt,
                       std::nullopt},
        ConversionCase{"UnknownTarget", "abc", "UTF-8", "NO-SUCH-CHARSET", std::nullopt,
                       std::nullopt}),
    [](const ::testing::TestParamInfo<ConversionCase>& tested) {
        return std::string(tested.param.name);
    });

TEST(ConversionSkip, SeesTheRestFromTheBadSequenceAndStepsAtLeastOneByte) {
    std::vector<std::string> seen;
    const auto lenient = [&](std::string_view input, std::size_t step) {
        seen.clear();
        return convertCharsetLenient(input, "UTF-8", "UTF-16LE", "?",
                                     [&](std::string_view rest) {
                                         seen.emplace_back(rest);
                                         return step;
                                     });
    };
    EXPECT_EQ(lenient("a\xFF\xFE"
                      "bc",
                      2),
              "a\0?b\0c\0"s);
    EXPECT_EQ(seen, std::vector<std::string>{"\xFF\xFE"
                                             "bc"});
    EXPECT_EQ(lenient("a\xFF"
                      "bc",
                      0),
              "a\0?b\0c\0"s)
        << "a step of 0 still moves on";
    EXPECT_EQ(lenient("a\xFF"
                      "bc",
                      100),
              "a\0?"s)
        << "a step past the end stops there";
    EXPECT_TRUE(isKnownCharset("UTF-8"));
    EXPECT_TRUE(isKnownCharset(legacyCharset));
    EXPECT_FALSE(isKnownCharset("NO-SUCH-CHARSET"));
}

TEST(PlatformThreads, AnEmptyBodyStartsNothing) {
    EXPECT_FALSE(startThread({}, 0));
}

// A tiny requested stack is raised to what ordinary code needs; many threads start at once.
TEST(PlatformThreads, SmallStacksAreRaisedToAUsefulSize) {
    constexpr int threads = 40;
    std::atomic<int> finished{0};
    for (int i = 0; i < threads; ++i) {
        ASSERT_TRUE(startThread(
            [&finished] {
                volatile char buffer[32 * 1024];
                for (std::size_t at = 0; at < sizeof buffer; at += 512)
                    buffer[at] = static_cast<char>(at);
                finished.fetch_add(1);
            },
            1));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (finished.load() < threads && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(finished.load(), threads);
}

TEST(PlatformClock, TickCountCountsMilliseconds) {
    const std::uint32_t before = tickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::uint32_t elapsed = tickCount() - before; // wraps like the counter
    EXPECT_GE(elapsed, 150u);
    EXPECT_LT(elapsed, 60000u);
}

TEST(PlatformClock, LocalTimeIsNow) {
    std::tm local = localTimeNow();
    const std::time_t now = std::time(nullptr);
    EXPECT_GE(local.tm_year, 120);
    EXPECT_LE(local.tm_mon, 11);
    EXPECT_GE(local.tm_mday, 1);
    local.tm_isdst = -1;
    const double apart = std::difftime(std::mktime(&local), now);
    EXPECT_LT(apart < 0 ? -apart : apart, 5.0);
}

TEST(PlatformFolders, DesktopIsAnExistingFolderWithoutTrailingSeparator) {
    const std::string desktop = desktopFolder();
    ASSERT_FALSE(desktop.empty());
    const char last = desktop.back();
    if (desktop.size() > 3) {
        EXPECT_TRUE(last != '/' && last != '\\') << desktop;
    }
    EXPECT_TRUE(std::filesystem::is_directory(pathFromUtf8(desktop))) << desktop;
}

TEST(PlatformFiles, OpenFileCreatesExclusivelyWithX) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / fs::path(u8"corvanta-平台-test");
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string name = utf8FromPath(folder / fs::path(u8"文件.bin"));
    std::FILE* file = openFile(name, "wbx");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite("abc", 1, 3, file), 3u);
    std::fclose(file);
    EXPECT_EQ(openFile(name, "wbx"), nullptr) << "the file exists";
    EXPECT_EQ(fs::file_size(folder / fs::path(u8"文件.bin")), 3u) << "and is left alone";
    file = openFile(name, "rb");
    ASSERT_NE(file, nullptr);
    char bytes[4] = {};
    EXPECT_EQ(std::fread(bytes, 1, 4, file), 3u);
    std::fclose(file);
    EXPECT_EQ(std::string(bytes), "abc");
    fs::remove_all(folder);
}

} // namespace
} // namespace corvanta::platform
