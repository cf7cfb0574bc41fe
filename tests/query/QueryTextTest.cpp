#include "query/QueryText.h"

#include "support/OnManyThreads.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace corvanta {
namespace {

using namespace std::string_literals;

struct EncodeCase {
    const char* name;
    std::string text;
    bool keepAlnum;
    bool asUtf8;
    std::string expected;
};

class PercentEncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(PercentEncodeTest, EncodesEveryByteOutsideTheKeptSet) {
    const EncodeCase& c = GetParam();
    EXPECT_EQ(percentEncodeUtf8(c.text, c.keepAlnum, c.asUtf8), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PercentEncodeTest,
    ::testing::Values(
        EncodeCase{"EmptyPlain", "", false, false, ""},
        EncodeCase{"EmptyKeep", "", true, false, ""}, EncodeCase{"EmptyUtf8", "", false, true, ""},
        EncodeCase{"EmptyBoth", "", true, true, ""},
        EncodeCase{"KeepAlnumEncodesUnderscore", "a-b.c_d", true, false, "a-b.c%5Fd"},
        EncodeCase{"EveryByteWithoutKeep", "a-b.c_d", false, false, "%61%2D%62%2E%63%5F%64"},
        EncodeCase{"AsciiKeywordAsUtf8", "abc", false, true, "%61%62%63"},
        EncodeCase{"BlankIsNeverPlus", " ", true, true, "%20"},
        EncodeCase{"LineFeed", "\n", false, false, "%0A"},
        EncodeCase{"TildeAndOthersEncoded", "~*Z9", true, true, "%7E%2AZ9"},
        EncodeCase{"ChineseAsUtf8", "中国", false, true, "%E4%B8%AD%E5%9B%BD"},
        EncodeCase{"ChineseAsLegacy", "中国", false, false, "%D6%D0%B9%FA"},
        EncodeCase{"FullWidthLetterAsLegacy", "Ａ", true, false, "%A3%C1"},
        EncodeCase{"IdeographicSpaceAsLegacy", "\u3000", false, false, "%A1%A1"},
        EncodeCase{"NonBmpAsUtf8", "\U0001F600", false, true, "%F0%9F%98%80"},
        EncodeCase{"NonBmpAsLegacyKeepsAllFourBytes", "\U0001F600", false, false, "%94%39%FC%36"},
        EncodeCase{"EndsAtNulUtf8", "ab\0c"s, false, true, "%61%62"},
        EncodeCase{"EndsAtNulLegacy", "ab\0c"s, false, false, "%61%62"},
        EncodeCase{"InvalidBytesAsUtf8PassThrough", "\xFF", false, true, "%FF"}),
    [](const ::testing::TestParamInfo<EncodeCase>& tested) {
        return std::string(tested.param.name);
    });

struct BetweenCase {
    const char* name;
    std::string text;
    std::string left;
    std::string right;
    int start;
    bool ignoreCase;
    std::string expected;
};

class TextBetweenTest : public ::testing::TestWithParam<BetweenCase> {};

TEST_P(TextBetweenTest, CutsTextBetweenDelimiters) {
    const BetweenCase& c = GetParam();
    EXPECT_EQ(textBetween(c.text, c.left, c.right, c.start, c.ignoreCase), c.expected);
}

const std::string kAnswer = R"({"status":0,"data":{"generalRatio":[{"all":{"avg":1234,"yoy":-12},)"
                            R"("pc":{"avg":345,"yoy":3},"wise":{"avg":889,"yoy":"-"}}]}})";

INSTANTIATE_TEST_SUITE_P(
    Cases, TextBetweenTest,
    ::testing::Values(
        BetweenCase{"QuoteMarkerInBoth", "x y=\"val\" z", "y=#引号", "#引号", 1, false, "val"},
        BetweenCase{"QuoteMarkerNotPresent", "x y=val\" z", "y=#引号", "#引号", 1, false, ""},
        BetweenCase{"OverallAverage", "{\"all\":{\"avg\":12,\"yoy\":", "all\":{\"avg\":",
                    ",\"yoy\":", 1, false, "12"},
        BetweenCase{"AnswerOverall", kAnswer, "all\":{\"avg\":", ",\"yoy\":", 1, false, "1234"},
        BetweenCase{"AnswerPc", kAnswer, "pc\":{\"avg\":", ",\"yoy\":", 1, false, "345"},
        BetweenCase{"AnswerMobile", kAnswer, "wise\":{\"avg\":", ",\"yoy\":", 1, false, "889"},
        BetweenCase{"LeftMissing", "a=1;", "b=", ";", 1, false, ""},
        BetweenCase{"RightMissingAfterLeft", ";a=1", "a=", ";", 1, false, ""},
        BetweenCase{"DelimitersTouch", "a=;", "a=", ";", 1, false, ""},
        BetweenCase{"LeftAtVeryEnd", "xa=", "a=", ";", 1, false, ""},
        BetweenCase{"OnlyFirstLeftCounts", "a=1;a=2;", "a=", ";", 1, false, "1"},
        BetweenCase{"StartFiveSkipsEarlierLeft", "a=1;b a=2;", "a=", ";", 5, false, "2"},
        BetweenCase{"StartZeroCountsAsOne", "a=1;", "a=", ";", 0, false, "1"},
        BetweenCase{"NegativeStartCountsAsOne", "a=1;", "a=", ";", -3, false, "1"},
        BetweenCase{"StartBeyondEnd", "a=1;", "a=", ";", 9, false, ""},
        BetweenCase{"EmptyLeft", "a=1;", "", ";", 1, false, ""},
        BetweenCase{"EmptyRight", "a=1;", "a=", "", 1, false, ""},
        BetweenCase{"CaseObservedByDefault", "X=1;", "x=", ";", 1, false, ""},
        BetweenCase{"CaseIgnored", "X=1;", "x=", ";", 1, true, "1"},
        BetweenCase{"FullWidthCaseIgnored", "ＫＥＹ：值；", "ｋｅｙ：", "；", 1, true, "值"},
        BetweenCase{"FullWidthCaseObserved", "ＫＥＹ：值；", "ｋｅｙ：", "；", 1, false, ""},
        BetweenCase{"ChineseBeforeDelimiters", "中文a=值;", "a=", ";", 1, false, "值"},
        // The tail bytes of 中 followed by x must not be taken for a delimiter.
        BetweenCase{"NoMatchInsideCharacter", "中x1;", "\xB8\xADx", ";", 1, false, ""},
        BetweenCase{"RightSearchedOnlyAfterLeft", ";a=1;", "a=", ";", 1, false, "1"},
        // Delimiters that are only part of a character are not found in it: the value
        // never starts or ends inside a character.
        BetweenCase{"LeftEndingInsideCharacter", "中文", "\xE4", "\xE6", 1, false, ""},
        BetweenCase{"RightEndingInsideCharacter", "a=中;", "a=", "\xE4", 1, false, ""},
        // Raw legacy bytes that are not UTF-8 are delimiters like any other.
        BetweenCase{"StrayBytesAsDelimiters", "\x80v\x81", "\x80", "\x81", 1, false, "v"}),
    [](const ::testing::TestParamInfo<BetweenCase>& tested) {
        return std::string(tested.param.name);
    });

TEST(QueryTextTest, HelpersOnSeveralThreadsAtOnce) {
    const int failures = test::failuresOnThreads(6, 500, [](int t, int) {
        const std::string value = std::to_string(t * 1000);
        const std::string answer = "{\"all\":{\"avg\":" + value + ",\"yoy\":1}";
        return percentEncodeUtf8("中国", false, false) == "%D6%D0%B9%FA" &&
               textBetween(answer, "all\":{\"avg\":", ",\"yoy\":") == value;
    });
    EXPECT_EQ(failures, 0);
}

} // namespace
} // namespace corvanta
