#include "util/RegexMatcher.h"

#include "support/OnManyThreads.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace corvanta {
namespace {

const std::string kMetaPattern = R"(<meta.+?charset=[^\w]?([-\w]+))";
const std::string kGbkChinese = "\xD6\xD0\xCE\xC4"; // 中文 in GBK, not valid UTF-8

TEST(RegexMatcherTest, EveryQueryIsEmptyBeforeTheFirstExecute) {
    RegexMatcher matcher;
    int position = 0;
    EXPECT_EQ(matcher.getPattern(), "");
    EXPECT_EQ(matcher.matchCount(), 0);
    EXPECT_EQ(matcher.matchText(1, &position), "");
    EXPECT_EQ(position, -2);
    EXPECT_EQ(matcher.submatchText(1, 1), "");
    EXPECT_EQ(matcher.submatchCount(), 0);
    EXPECT_EQ(matcher.replace("x"), "");
    EXPECT_EQ(matcher.firstIndex(1), -1);
}

TEST(RegexMatcherTest, NoMatchIsStillSuccess) {
    RegexMatcher matcher;
    EXPECT_TRUE(matcher.execute("xyz", "abc"));
    EXPECT_EQ(matcher.matchCount(), 0);
    EXPECT_EQ(matcher.matchText(1), "");
    EXPECT_EQ(matcher.submatchCount(), 0);
    EXPECT_EQ(matcher.replace("q"), "abc");
}

TEST(RegexMatcherTest, InvalidPatternFailsAndDropsEarlierMatches) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.execute("b", "abc"));
    ASSERT_EQ(matcher.matchCount(), 1);
    for (const char* pattern : {"(", "a)", "[a-", "a{2,1}", "\xFF"}) {
        SCOPED_TRACE(pattern);
        EXPECT_FALSE(matcher.execute(pattern, "abc"));
        EXPECT_EQ(matcher.matchCount(), 0);
        EXPECT_EQ(matcher.matchText(1), "");
        EXPECT_EQ(matcher.replace("x"), "");
    }
}

struct OptionCase {
    const char* name;
    std::string pattern;
    std::string subject;
    bool caseSensitive;
    bool multiline;
    bool global;
    int expectedCount;
};

class RegexOptionTest : public ::testing::TestWithParam<OptionCase> {};

TEST_P(RegexOptionTest, OptionsChangeWhatMatches) {
    const OptionCase& c = GetParam();
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.execute(c.pattern, c.subject, c.caseSensitive, c.multiline, c.global));
    EXPECT_EQ(matcher.matchCount(), c.expectedCount);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexOptionTest,
    ::testing::Values(OptionCase{"IgnoreCaseByDefault", "abc", "ABC abc", false, true, true, 2},
                      OptionCase{"CaseSensitive", "abc", "ABC abc", true, true, true, 1},
                      OptionCase{"MultilineCaret", "^b", "a\nb\nb", false, true, true, 2},
                      OptionCase{"SingleLineCaret", "^b", "a\nb\nb", false, false, true, 0},
                      OptionCase{"MultilineDollarBeforeCrLf", "a$", "a\r\na", false, true, true, 2},
                      OptionCase{"DollarOnlyAtVeryEnd", "a$", "a\n", false, false, true, 0},
                      OptionCase{"DotMatchesNewline", "a.b", "a\nb", false, true, true, 1},
                      OptionCase{"GlobalKeepsAll", "a", "banana", false, true, true, 3},
                      OptionCase{"NotGlobalKeepsFirst", "a", "banana", false, true, false, 1},
                      OptionCase{"WordIsAscii", "\\w+", "caf\xC3\xA9x", false, true, true, 2},
                      OptionCase{"UnicodeEscape", "\\u4E2D", "中", false, true, true, 1},
                      OptionCase{"EmptyMatchesStepForward", "a*", "baaa", false, true, true, 3}),
    [](const ::testing::TestParamInfo<OptionCase>& tested) {
        return std::string(tested.param.name);
    });

TEST(RegexMatcherTest, QuoteTokenStandsForDoubleQuoteOnlyWhenAsked) {
    RegexMatcher matcher;
    const std::string pattern = "y=#引号(.*?)#引号";
    ASSERT_TRUE(matcher.execute(pattern, "x y=\"v1\" z", false, true, true, true));
    EXPECT_EQ(matcher.getPattern(), "y=\"(.*?)\"");
    EXPECT_EQ(matcher.submatchText(1, 1), "v1");

    ASSERT_TRUE(matcher.execute(pattern, "x y=\"v1\" z"));
    EXPECT_EQ(matcher.getPattern(), pattern);
    EXPECT_EQ(matcher.matchCount(), 0);
}

TEST(RegexMatcherTest, MatchNumbersOutsideTheCollectionGiveEmptyText) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.execute("(a)", "aa"));
    int position = 0;
    for (int n : {0, -1, 3}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(matcher.matchText(n, &position), "");
        EXPECT_EQ(position, -2);
        EXPECT_EQ(matcher.submatchText(n, 1), "");
    }
    EXPECT_EQ(matcher.submatchText(1, 0), "");
    EXPECT_EQ(matcher.submatchText(1, 2), "");
}

TEST(RegexMatcherTest, SubmatchCountIsThatOfTheFirstMatch) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.execute("(a)(b)?", "a ab"));
    ASSERT_EQ(matcher.matchCount(), 2);
    EXPECT_EQ(matcher.submatchCount(), 2);
    int position = 0;
    EXPECT_EQ(matcher.submatchText(1, 2, &position), ""); // took no part
    EXPECT_EQ(position, -2);
    EXPECT_EQ(matcher.submatchText(2, 2, &position), "b");
    EXPECT_EQ(position, 3);
}

TEST(RegexMatcherTest, BytePositionsExceedUtf16IndexAfterChineseText) {
    RegexMatcher matcher;
    // 中 and 文 take three bytes but one UTF-16 unit each; the emoji takes four bytes, two units.
    ASSERT_TRUE(matcher.execute("ab", "中文ab \xF0\x9F\x98\x80"
                                      "ab"));
    ASSERT_EQ(matcher.matchCount(), 2);
    int position = 0;
    EXPECT_EQ(matcher.matchText(1, &position), "ab");
    EXPECT_EQ(matcher.firstIndex(1), 2);
    EXPECT_EQ(position, 6);
    // An equal text earlier in the subject must not be taken for the second match.
    EXPECT_EQ(matcher.matchText(2, &position), "ab");
    EXPECT_EQ(matcher.firstIndex(2), 7);
    EXPECT_EQ(position, 13);
}

TEST(RegexMatcherTest, SubmatchPositionIsTheGroupsOwn) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.execute("(a)(a)", "中aa"));
    int position = 0;
    EXPECT_EQ(matcher.submatchText(1, 2, &position), "a");
    EXPECT_EQ(position, 4);
    EXPECT_EQ(matcher.submatchText(1, 1, &position), "a");
    EXPECT_EQ(position, 3);
}

TEST(RegexMatcherTest, EmptyMatchHasAPosition) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.execute("x*", "中", false, true, false));
    int position = 7;
    EXPECT_EQ(matcher.matchText(1, &position), "");
    EXPECT_EQ(position, 0);
}

struct ReplaceCase {
    const char* name;
    std::string pattern;
    std::string subject;
    std::string replacement;
    bool global;
    std::string expected;
};

class RegexReplaceTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(RegexReplaceTest, ReplacesKeptMatches) {
    const ReplaceCase& c = GetParam();
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.execute(c.pattern, c.subject, false, true, c.global));
    EXPECT_EQ(matcher.replace(c.replacement), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexReplaceTest,
    ::testing::Values(ReplaceCase{"GlobalReplacesAll", "a", "banana", "o", true, "bonono"},
                      ReplaceCase{"NotGlobalReplacesFirst", "a", "banana", "o", false, "bonana"},
                      ReplaceCase{"IgnoresCaseByDefault", "A", "banana", "o", true, "bonono"},
                      ReplaceCase{"Groups", "(\\w+) (\\w+)", "hello world", "$2-$1", true,
                                  "world-hello"},
                      ReplaceCase{"WholeMatch", "n", "an", "[$&]", true, "a[n]"},
                      ReplaceCase{"BeforeAndAfter", "b", "abc", "<$`|$'>", true, "a<a|c>c"},
                      ReplaceCase{"Dollar", "b", "abc", "$$", true, "a$c"},
                      ReplaceCase{"DollarZeroIsLiteral", "b", "abc", "$0", true, "a$0c"},
                      ReplaceCase{"MissingGroupIsLiteral", "(b)", "abc", "$2", true, "a$2c"},
                      ReplaceCase{"TwoDigitsFallBackToOne", "(b)", "abc", "$10", true, "ab0c"},
                      ReplaceCase{"LeadingZeroGroup", "(b)", "abc", "$01", true, "abc"},
                      ReplaceCase{"UnsetGroupIsEmpty", "(x)?b", "abc", "[$1]", true, "a[]c"},
                      ReplaceCase{"TrailingDollar", "b", "abc", "$", true, "a$c"},
                      ReplaceCase{"OtherDollar", "b", "abc", "$x", true, "a$xc"},
                      ReplaceCase{"EmptyMatches", "a*", "baaa", "X", true, "XbXX"},
                      ReplaceCase{"ChineseText", "国", "中国人", "[$&]", true, "中[国]人"}),
    [](const ::testing::TestParamInfo<ReplaceCase>& tested) {
        return std::string(tested.param.name);
    });

TEST(RegexMatcherTest, ReplaceWithTwelveGroups) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.execute("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)", "abcdefghijkl"));
    EXPECT_EQ(matcher.replace("$12$11$1"), "lka");
}

struct CharsetCase {
    const char* name;
    std::string body;
    std::string charset;
};

class MetaCharsetTest : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(MetaCharsetTest, FindsDeclaredCharset) {
    const CharsetCase& c = GetParam();
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.execute(kMetaPattern, c.body.substr(0, 1024)));
    EXPECT_EQ(matcher.submatchText(1, 1), c.charset);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MetaCharsetTest,
    ::testing::Values(
        CharsetCase{"GbkBodyDeclaresGb2312",
                    "<html><head><title>" + kGbkChinese +
                        "</title><meta http-equiv=\"Content-Type\" "
                        "content=\"text/html; charset=gb2312\"></head><body>" +
                        kGbkChinese + "</body>",
                    "gb2312"},
        CharsetCase{"UpperCaseTagAndName", "<HTML><META CHARSET=\"UTF-8\">" + kGbkChinese, "UTF-8"},
        CharsetCase{"QuotedHtml5", "<meta charset='utf-8'><p>中文</p>", "utf-8"},
        CharsetCase{"UnquotedInContent", "<meta content=text/html;charset=GBK>" + kGbkChinese,
                    "GBK"},
        CharsetCase{"JsonAnswerHasNone", "{\"status\":0,\"data\":{}}", ""},
        CharsetCase{"TagAfterFirst1024Bytes", std::string(1100, ' ') + "<meta charset=utf-8>", ""}),
    [](const ::testing::TestParamInfo<CharsetCase>& tested) {
        return std::string(tested.param.name);
    });

TEST(RegexMatcherTest, InvalidBytesNeverMatchButTheRestDoes) {
    RegexMatcher matcher;
    const std::string subject = kGbkChinese + "ab";
    ASSERT_TRUE(matcher.execute(".", subject));
    ASSERT_EQ(matcher.matchCount(), 2);
    int position = 0;
    EXPECT_EQ(matcher.matchText(1, &position), "a");
    EXPECT_EQ(position, 4);
    EXPECT_EQ(matcher.firstIndex(1), 4); // each stray byte counts as one unit
    EXPECT_EQ(matcher.replace("-"), kGbkChinese + "--");
}

// Global matching stays linear in the subject's size, with or without stray bytes (one
// match per character over 1 MB took minutes when every match re-checked the subject).
// The bound is only a hang guard; bench/util measures the time.
TEST(RegexMatcherTest, GlobalMatchingOverAMegabyteFindsEveryMatch) {
    std::string valid(1 << 20, 'a');
    std::string withStrayBytes = valid;
    for (std::size_t i = 999; i < withStrayBytes.size(); i += 1000)
        withStrayBytes[i] = '\xFF';
    for (const std::string* subject : {&valid, &withStrayBytes}) {
        RegexMatcher matcher;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(matcher.execute("a", *subject));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
        const int stray = subject == &valid ? 0 : static_cast<int>(subject->size() / 1000);
        EXPECT_EQ(matcher.matchCount(), (1 << 20) - stray);
        EXPECT_EQ(matcher.firstIndex(matcher.matchCount()), (1 << 20) - 1);
    }
}

TEST(RegexMatcherTest, RunawayBacktrackingFailsInsteadOfHanging) {
    RegexMatcher matcher;
    EXPECT_FALSE(matcher.execute("^(x+x+)+$", std::string(40, 'x') + "!"));
    EXPECT_EQ(matcher.matchCount(), 0);
}

TEST(RegexMatcherTest, MatchersOnSeveralThreadsDoNotInterfere) {
    const int failures = test::failuresOnThreads(6, 300, [](int t, int) {
        const std::string charset = "cs-" + std::to_string(t);
        const std::string body =
            "<html>" + kGbkChinese + "<meta charset=\"" + charset + "\">" + kGbkChinese;
        RegexMatcher matcher;
        return matcher.execute(kMetaPattern, body) && matcher.submatchText(1, 1) == charset;
    });
    EXPECT_EQ(failures, 0);
}

} // namespace
} // namespace corvanta
