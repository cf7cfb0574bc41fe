#include "util/Utf8.h"

#include <gtest/gtest.h>
#include <string>

namespace corvanta {
namespace {

struct SequenceCase {
    const char* name;
    std::string bytes;
    std::size_t length;
};

class Utf8SequenceTest : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(Utf8SequenceTest, MeasuresWellFormedCharactersOnly) {
    EXPECT_EQ(utf8::sequenceLength(GetParam().bytes, 0), GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(Cases, Utf8SequenceTest,
                         ::testing::Values(SequenceCase{"Ascii", "a", 1},
                                           SequenceCase{"TwoBytes", "\xC3\xA9", 2},
                                           SequenceCase{"ThreeBytes", "中", 3},
                                           SequenceCase{"FourBytes", "\xF0\x9F\x98\x80", 4},
                                           SequenceCase{"Continuation", "\x80", 0},
                                           SequenceCase{"OverlongTwo", "\xC0\xAF", 0},
                                           SequenceCase{"OverlongThree", "\xE0\x80\xAF", 0},
                                           SequenceCase{"Surrogate", "\xED\xA0\x80", 0},
                                           SequenceCase{"BeyondUnicode", "\xF4\x90\x80\x80", 0},
                                           SequenceCase{"Truncated", "\xE4\xB8", 0},
                                           SequenceCase{"BrokenTail", "\xE4\xB8x", 0},
                                           SequenceCase{"GbkLead", "\xD6\xD0", 0},
                                           SequenceCase{"Empty", "", 0}),
                         [](const ::testing::TestParamInfo<SequenceCase>& tested) {
                             return std::string(tested.param.name);
                         });

TEST(Utf8Test, Utf16LengthCountsPairsAndInvalidBytes) {
    EXPECT_EQ(utf8::utf16Length("abc"), 3u);
    EXPECT_EQ(utf8::utf16Length("中国"), 2u);
    EXPECT_EQ(utf8::utf16Length("\xF0\x9F\x98\x80x"), 3u);
    EXPECT_EQ(utf8::utf16Length("\xD6\xD0\xCE\xC4"), 4u); // GBK 中文: four stray bytes
    EXPECT_EQ(utf8::utf16Length("\xD6\xD0\xB9\xFA"), 3u); // GBK 中国: D0 B9 reads as й
}

TEST(Utf8Test, ValidityOfWholeTexts) {
    EXPECT_TRUE(utf8::isValid(""));
    EXPECT_TRUE(utf8::isValid("abc中国\xF0\x9F\x98\x80"));
    EXPECT_FALSE(utf8::isValid("abc\xD6\xD0\xCE\xC4"));
    EXPECT_FALSE(utf8::isValid("中\xE4\xB8")); // cut short at the end
    EXPECT_FALSE(utf8::isValid("\xED\xA0\x80"));
}

TEST(Utf8Test, NextCharacterStepsOverWholeCharacters) {
    const std::string text = "中\xFFx";
    EXPECT_EQ(utf8::nextCharacter(text, 0), 3u);
    EXPECT_EQ(utf8::nextCharacter(text, 3), 4u);
    EXPECT_EQ(utf8::nextCharacter(text, 4), 5u);
}

} // namespace
} // namespace corvanta
