#include "util/CodePage.h"

#include "support/OnManyThreads.h"
#include "util/Platform.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace corvanta {
namespace {

using namespace std::string_literals;

struct RoundTripCase {
    const char* name;
    std::u16string wide;
    int codePage;
    std::string bytes;
};

class CodePageRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(CodePageRoundTripTest, ConvertsBothWays) {
    const RoundTripCase& c = GetParam();
    EXPECT_EQ(wideToCodePage(c.wide, c.codePage), c.bytes);
    EXPECT_EQ(codePageToWide(c.bytes, c.codePage), c.wide);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CodePageRoundTripTest,
    ::testing::Values(RoundTripCase{"ChineseLegacy", u"中国", 936, "\xD6\xD0\xB9\xFA"},
                      RoundTripCase{"ChineseUtf8", u"中国", 65001, "\xE4\xB8\xAD\xE5\x9B\xBD"},
                      RoundTripCase{"ChineseUtf16Le", u"中国", 1200, "\x2D\x4E\xFD\x56"},
                      RoundTripCase{"ChineseUtf16Be", u"中国", 1201, "\x4E\x2D\x56\xFD"},
                      RoundTripCase{"AsciiLegacy", u"abc 123", 936, "abc 123"},
                      RoundTripCase{"FullWidthAndIdeographicSpace", u"！\u3000Ａ", 936,
                                    "\xA3\xA1\xA1\xA1\xA3\xC1"},
                      // Beyond GBK: GB18030's four-byte forms keep these, nothing is cut short.
                      RoundTripCase{"NonBmpLegacy", u"\U00020BB7x", 936, "\x95\x34\xB2\x35x"},
                      RoundTripCase{"NonBmpUtf8", u"\U0001F600x", 65001, "\xF0\x9F\x98\x80x"},
                      RoundTripCase{"NonBmpUtf16Le", u"\U0001F600", 1200, "\x3D\xD8\x00\xDE"s},
                      RoundTripCase{"Gb18030Number", u"中", 54936, "\xD6\xD0"},
                      RoundTripCase{"WesternCodePage", u"é", 1252, "\xE9"},
                      RoundTripCase{"Empty", u"", 936, ""},
                      // The system's own code pages are the legacy one.
                      RoundTripCase{"SystemAnsi", u"中国", 0, "\xD6\xD0\xB9\xFA"},
                      RoundTripCase{"ThreadAnsi", u"中", 3, "\xD6\xD0"},
                      RoundTripCase{"UsAscii", u"abc", 20127, "abc"},
                      RoundTripCase{"Latin1", u"caf\u00E9", 28591, "caf\xE9"},
                      RoundTripCase{"Latin9Euro", u"\u20AC", 28605, "\xA4"},
                      RoundTripCase{"Big5", u"中", 950, "\xA4\xA4"},
                      RoundTripCase{"Utf32Le", u"中", 12000, "\x2D\x4E\x00\x00"s},
                      // Code page 936 writes the euro sign as the single byte 0x80.
                      RoundTripCase{"EuroLegacy", u"a\u20AC中\u20AC", 936, "a\x80\xD6\xD0\x80"},
                      RoundTripCase{"EuroSystemAnsi", u"\u20AC", 0, "\x80"},
                      // GB18030 proper has no single-byte euro sign.
                      RoundTripCase{"EuroGb18030", u"\u20AC", 54936, "\xA2\xE3"}),
    [](const ::testing::TestParamInfo<RoundTripCase>& tested) {
        return std::string(tested.param.name);
    });

TEST(CodePageTest, LegacyHelpersGoThroughGb18030) {
    EXPECT_EQ(ansiToUtf8("\xD6\xD0\xB9\xFA"), "中国");
    EXPECT_EQ(utf8ToAnsi("中国"), "\xD6\xD0\xB9\xFA");
    EXPECT_EQ(utf8ToAnsi("a\xF0\x9F\x98\x80"), "a\x94\x39\xFC\x36");
    EXPECT_EQ(ansiToUtf8("a\x94\x39\xFC\x36"), "a\xF0\x9F\x98\x80");
}

// GBK lacks these BMP characters; GB18030 writes them in four bytes taken from its table,
// which Windows has as code page 54936 and Wine does not.
TEST(CodePageTest, BmpCharactersBeyondGbkTakeFourBytes) {
#ifdef _WIN32
    if (!platform::convertCharset("\xC2\xA5", "UTF-8", platform::legacyCharset))
        GTEST_SKIP() << "no GB18030 table here (code page 54936), only GBK";
#endif
    const std::u16string wide = u"\u00A5\u0080\uFFFD";
    const std::string bytes = "\x81\x30\x84\x36\x81\x30\x81\x30\x84\x31\xA4\x37";
    EXPECT_EQ(wideToCodePage(wide, 936), bytes);
    EXPECT_EQ(codePageToWide(bytes, 936), wide);
    // Invalid input's U+FFFD marks reach a legacy file as themselves, not as "?".
    EXPECT_EQ(utf8ToAnsi("a\xFF"), "a\x84\x31\xA4\x37");
}

TEST(CodePageTest, DefaultsAreUtf8InAndLegacyOut) {
    EXPECT_EQ(codePageToWide("中"), u"中");
    EXPECT_EQ(wideToCodePage(u"中"), "\xD6\xD0");
}

TEST(CodePageTest, LongTextsAreNotCutShort) {
    // UTF-8 and GB18030 forms of these are far longer than their UTF-16 forms.
    std::string utf8;
    for (int i = 0; i < 2000; ++i)
        utf8 += "\xF0\x9F\x98\x80中a";
    const std::u16string wide = codePageToWide(utf8, 65001);
    EXPECT_EQ(wide.size(), 2000u * 4u);
    EXPECT_EQ(wideToCodePage(wide, 65001), utf8);
    EXPECT_EQ(ansiToUtf8(utf8ToAnsi(utf8)), utf8);
}

TEST(CodePageTest, TextsEndAtTheirFirstNul) {
    EXPECT_EQ(codePageToWide("ab\0cd"s, 65001), u"ab");
    EXPECT_EQ(wideToCodePage(u"ab\0cd"s, 65001), "ab");
    EXPECT_EQ(ansiToUtf8("\xD6\xD0\0\xB9\xFA"s), "中");
    // In UTF-16 the NUL is a whole zero unit, not any zero byte.
    EXPECT_EQ(codePageToWide("a\0b\0\0\0c\0"s, 1200), u"ab");
    EXPECT_EQ(wideToCodePage(u"ab", 1200), "a\0b\0"s);
}

struct InvalidCase {
    const char* name;
    std::string bytes;
    int codePage;
    std::u16string wide;
};

class CodePageInvalidInputTest : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(CodePageInvalidInputTest, KeepsTheValidPartAndMarksTheRest) {
    const InvalidCase& c = GetParam();
    EXPECT_EQ(codePageToWide(c.bytes, c.codePage), c.wide);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CodePageInvalidInputTest,
    ::testing::Values(InvalidCase{"Utf8StrayByte",
                                  "a\xFF"
                                  "b",
                                  65001, u"a\uFFFDb"},
                      InvalidCase{"Utf8CutShortInside", "\xE4\xB8x", 65001, u"\uFFFD\uFFFDx"},
                      InvalidCase{"Utf8CutShortAtEnd", "x\xE4\xB8", 65001, u"x\uFFFD"},
                      InvalidCase{"LegacyLeadBeforeBlank", "\xA1 x", 936, u"\uFFFD x"},
                      InvalidCase{"LegacyLeadAtEnd", "\xD6\xD0\xD6", 936, u"中\uFFFD"},
                      // A four-byte form cut short by ASCII at the end keeps the ASCII.
                      InvalidCase{"Gb18030CutShortBeforeAscii", "\x82\x30h", 54936, u"\uFFFD0h"},
                      // What is left of a four-byte form at the very end is one character.
                      InvalidCase{"Gb18030FourByteCutAtEnd", "x\x81\x30\x81", 54936, u"x\uFFFD"},
                      InvalidCase{"Utf16OddByte", "a\0b"s, 1200, u"a\uFFFD"},
                      // 0x80 as a trail byte belongs to its character; alone it is the euro.
                      InvalidCase{"LegacyTrail80", "\x81\x80\x80", 936, u"\u4E90\u20AC"},
                      InvalidCase{"AsciiHighByte", "a\xE9", 20127, u"a\uFFFD"}),
    [](const ::testing::TestParamInfo<InvalidCase>& tested) {
        return std::string(tested.param.name);
    });

TEST(CodePageTest, UnwritableCharactersBecomeReplacements) {
    const std::u16string loneSurrogate = u"a"s + char16_t(0xD800) + u"b";
    EXPECT_EQ(wideToCodePage(loneSurrogate, 65001), "a\xEF\xBF\xBD"
                                                    "b");
    EXPECT_EQ(wideToCodePage(loneSurrogate, 936), "a?b");
    EXPECT_EQ(wideToCodePage(u"a中b", 1252), "a?b");
    // A surrogate pair the code page cannot write is one character, so one mark.
    EXPECT_EQ(wideToCodePage(u"a\U0001F600b", 1252), "a?b");
}

TEST(CodePageTest, UnknownCodePagesGiveEmptyResults) {
    for (int codePage : {-1, 2, 99999}) {
        SCOPED_TRACE(codePage);
        EXPECT_EQ(codePageToWide("abc", codePage), u"");
        EXPECT_EQ(wideToCodePage(u"abc", codePage), "");
    }
}

TEST(CodePageTest, ConversionsOnSeveralThreadsAtOnce) {
    const int failures = test::failuresOnThreads(6, 500, [](int t, int) {
        const std::string text = "关键词" + std::to_string(t) + "\xF0\x9F\x98\x80";
        return ansiToUtf8(utf8ToAnsi(text)) == text &&
               wideToCodePage(codePageToWide(text), 1200).size() == 12;
    });
    EXPECT_EQ(failures, 0);
}

} // namespace
} // namespace corvanta
