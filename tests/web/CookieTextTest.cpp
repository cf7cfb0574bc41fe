#include "web/CookieText.h"

#include <gtest/gtest.h>

namespace corvanta {
namespace {

struct MergeCase {
    const char* name;
    std::string sent;
    std::string received;
    std::string merged;
};

class MergeCookies : public testing::TestWithParam<MergeCase> {};

TEST_P(MergeCookies, ReceivedFirstThenSentOfOtherNames) {
    std::string sent = GetParam().sent;
    EXPECT_EQ(mergeCookieText(sent, GetParam().received), GetParam().merged);
    EXPECT_EQ(sent, GetParam().merged);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MergeCookies,
    testing::Values(MergeCase{"ReplaceByName", "a=0; x=9", "a=1; b=2", "a=1; b=2; x=9"},
                    MergeCase{"DeletedRemoves", "x=9; y=1", "x=deleted", "y=1"},
                    MergeCase{"NoSpaceIsOnePart", "a=1;b=2", "a=5", "a=5"},
                    MergeCase{"FirstOfSameNameSurvives", "a=1; a=2", "", "a=1"},
                    MergeCase{"IdenticalReceivedOnce", "", "a=1; a=1", "a=1"},
                    MergeCase{"SameNameReceivedBothSurvive", "", "a=1; a=2", "a=1; a=2"},
                    MergeCase{"TrimmedWithTrailingSemicolon", "  a=1;  ", "", "a=1"},
                    MergeCase{"IdeographicSpaceTrimmed",
                              "\xE3\x80\x80"
                              "a=1\xE3\x80\x80",
                              "", "a=1"},
                    MergeCase{"TabsStay", "\ta=1", "", "\ta=1"},
                    MergeCase{"NameIsTrimmed", "a =1", "a=2", "a=2"},
                    MergeCase{"EverythingDeleted", "a=1", "a=deleted", ""},
                    // A blank a part brings to an end of the result is trimmed too.
                    MergeCase{"BlankAtTheEndsTrimmed", "b=2 ; a=1", "a=deleted", "b=2"},
                    // So is a ";" a part brings to the end, which reading it again drops.
                    MergeCase{"FinalSemicolonDropped", "x=1;;;; a=2", "a=deleted", "x=1"}),
    [](const auto& p) { return std::string(p.param.name); });

struct LineCase {
    const char* name;
    std::string line;
    std::string cookie;
};

class SetCookieLine : public testing::TestWithParam<LineCase> {};

TEST_P(SetCookieLine, TakesTheCookieBeforeItsAttributes) {
    EXPECT_EQ(setCookieFromLine(GetParam().line), GetParam().cookie);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SetCookieLine,
    testing::Values(LineCase{"WithAttributes", "Set-Cookie: a=1; Path=/", "a=1"},
                    LineCase{"Plain", "Set-Cookie: b=2", "b=2"},
                    LineCase{"LowerCaseNameIgnored", "set-cookie: a=1", ""},
                    LineCase{"NoSpaceAfterColonIgnored", "Set-Cookie:a=1", ""},
                    LineCase{"OtherHeader", "X-Set-Cookie: a=1", ""},
                    LineCase{"Blank", "Set-Cookie:   ", ""},
                    // A stray line break ends the cookie.
                    LineCase{"StrayCarriageReturn", "Set-Cookie: a=1\rX-Evil: 1", "a=1"},
                    LineCase{"StrayLineFeed", "Set-Cookie: a=1\nb=2; Path=/", "a=1"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CookieText, SplittingCountsInnerEmptyPiecesButNotAFinalOne) {
    EXPECT_EQ(splitCookieText("a; ; b; "), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(splitCookieText("").empty());
    EXPECT_EQ(cookieName(" sid =x=y"), "sid");
    EXPECT_EQ(cookieName(" flag "), "flag");
}

} // namespace
} // namespace corvanta
