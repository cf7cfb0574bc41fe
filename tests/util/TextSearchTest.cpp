#include "util/TextSearch.h"

#include <gtest/gtest.h>
#include <string>

namespace corvanta {
namespace {

struct FindCase {
    const char* name;
    std::string text;
    std::string sought;
    int start;
    bool ignoreCase;
    int expected;
};

class FindTextTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindTextTest, FindsFirstOccurrenceFromStart) {
    const FindCase& c = GetParam();
    EXPECT_EQ(findText(c.text, c.sought, c.start, c.ignoreCase), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindTextTest,
    ::testing::Values(
        FindCase{"EmptyText", "", "a", 0, false, -1},
        FindCase{"EmptySought", "abc", "", 0, false, -1},
        FindCase{"SingleByte", "abc", "c", 0, false, 3},
        FindCase{"FromStartThree", "abcabc", "bc", 3, false, 5},
        FindCase{"StartOnMatch", "abcabc", "bc", 2, false, 2},
        FindCase{"CaseObserved", "aXb", "x", 0, false, -1},
        FindCase{"CaseIgnored", "aXb", "x", 0, true, 2},
        FindCase{"CaseIgnoredBothWays", "axb", "X", 0, true, 2},
        FindCase{"StartBelowOneCountsAsOne", "abc", "a", -7, false, 1},
        FindCase{"StartAtLastByte", "abc", "c", 3, false, 3},
        FindCase{"StartBeyondEnd", "abc", "c", 4, false, -1},
        FindCase{"SoughtLongerThanRest", "abc", "bcd", 2, false, -1},
        FindCase{"RefusalMarkerAnywhere", "xx{\"status\":10000,", "{\"status\":10000", 0, false, 3},
        FindCase{"AcceptanceMarkerNotInRefusal", "{\"status\":10000,", "{\"status\":0", 0, false,
                 -1},
        FindCase{"PositionsCountBytes", "中国abc", "abc", 0, false, 7},
        FindCase{"ChineseNeedle", "中国中国", "国", 4, false, 4},
        FindCase{"ChineseNeedleLaterStart", "中国中国", "国", 5, false, 10},
        // Only ASCII letters fold: a full-width Ａ is not the same as ａ.
        FindCase{"NoFoldBeyondAscii", "ａ", "Ａ", 0, true, -1},
        // The tail bytes of 中 (E4 B8 AD) must not be found inside the character.
        FindCase{"NeedleStartingMidCharacter", "中", "\xB8\xAD", 0, false, -1},
        FindCase{"NeedleStartingMidCharacterIgnoreCase", "中", "\xAD", 0, true, -1},
        // Raw legacy bytes are searched byte by byte like any other text.
        FindCase{"LegacyBytesLeadByte", "x\xD6\xD0y", "\xD6\xD0y", 0, false, 2},
        // A byte outside any well-formed character is a character of its own,
        // continuation bytes included.
        FindCase{"StrayContinuationByteInItself", "\x80", "\x80", 0, false, 1},
        FindCase{"StrayContinuationAfterInvalidByte", "\xFF\x80\xB9", "\x80\xB9", 0, false, 2},
        FindCase{"StrayContinuationIgnoreCase", "A\xBF", "a\xBF", 0, true, 1},
        // A match ends at a boundary too: E4 alone is not the start of 中.
        FindCase{"NeedleEndingMidCharacter", "中文", "\xE4", 0, false, -1},
        FindCase{"NeedleEndingMidCharacterFoundLater", "中\xE4x", "\xE4", 0, false, 4}),
    [](const ::testing::TestParamInfo<FindCase>& tested) {
        return std::string(tested.param.name);
    });

TEST(FindTextTest, IgnoreCaseLeavesCallersTextsAlone) {
    std::string text = "ABC";
    std::string sought = "B";
    EXPECT_EQ(findText(text, sought, 0, true), 2);
    EXPECT_EQ(text, "ABC");
    EXPECT_EQ(sought, "B");
}

TEST(FindTextTest, EmbeddedNulIsAnOrdinaryByte) {
    const std::string text("a\0b", 3);
    EXPECT_EQ(findText(text, "b"), 3);
}

} // namespace
} // namespace corvanta
