#include "web/HeaderBlock.h"

#include <gtest/gtest.h>

namespace corvanta {
namespace {

const std::string kUserAgent =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
const std::string kAccept = "Accept: text/html, application/xhtml+xml, */*";
const std::string kEncoding = "Accept-Encoding: gbk, GB2312";
const std::string kLanguage = "Accept-Language: zh-cn";
const std::string kContentType = "Content-Type: application/x-www-form-urlencoded";
const std::string kCacheControl = "Cache-Control: no-cache";

TEST(HeaderBlock, ProgramRequestCarriesTheSixDefaultLinesThenTheCookie) {
    EXPECT_EQ(assembleRequestHeaders("", 1, "BDUSS=abc; x=1", true, true),
              kUserAgent + "\r\n" + kAccept + "\r\n" + kEncoding + "\r\n" + kLanguage + "\r\n" +
                  kContentType + "\r\n" + kCacheControl + "\r\nCookie: BDUSS=abc; x=1\r\n");
}

struct DefaultsCase {
    const char* name;
    std::string block;
    int method;
    std::string expected;
};

class CompleteDefaults : public testing::TestWithParam<DefaultsCase> {};

TEST_P(CompleteDefaults, AppendsOnlyMissingLines) {
    EXPECT_EQ(completeDefaultHeaders(GetParam().block, GetParam().method), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompleteDefaults,
    testing::Values(DefaultsCase{"GetHasNoContentType", "", 0,
                                 kUserAgent + "\r\n" + kAccept + "\r\n" + kEncoding + "\r\n" +
                                     kLanguage + "\r\n" + kCacheControl + "\r\n"},
                    DefaultsCase{"LowerCaseUserAgentCounts", "user-agent: X\r\n", 0,
                                 "user-agent: X\r\n" + kAccept + "\r\n" + kEncoding + "\r\n" +
                                     kLanguage + "\r\n" + kCacheControl + "\r\n"},
                    // The presence search looks anywhere, so X-Accept: also stands for Accept:.
                    DefaultsCase{"KeyInsideAnotherHeader", "X-Accept: 1\r\n", 0,
                                 "X-Accept: 1\r\n" + kUserAgent + "\r\n" + kEncoding + "\r\n" +
                                     kLanguage + "\r\n" + kCacheControl + "\r\n"},
                    DefaultsCase{"CallersContentTypeOnPost", "content-type: text/plain\r\n", 1,
                                 "content-type: text/plain\r\n" + kUserAgent + "\r\n" + kAccept +
                                     "\r\n" + kEncoding + "\r\n" + kLanguage + "\r\n" +
                                     kCacheControl + "\r\n"}),
    [](const auto& p) { return std::string(p.param.name); });

struct TextCase {
    const char* name;
    std::string input;
    std::string expected;
};

class Normalize : public testing::TestWithParam<TextCase> {};

TEST_P(Normalize, CapitalisesNamesAndDropsLinesWithoutColon) {
    EXPECT_EQ(normalizeHeaderBlock(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Normalize,
    testing::Values(TextCase{"Dashes", "x-requested-with: a\r\n", "X-Requested-With: a"},
                    TextCase{"NothingLowered", "CONTENT-type:b\r\n", "CONTENT-Type:b"},
                    TextCase{"ValueUntouched", "accept: text/html-x\r\n", "Accept: text/html-x"},
                    TextCase{"NoColonAndBlankDropped", "junk\r\n\r\n:x\r\na: 1\r\n", ":x\r\nA: 1"},
                    TextCase{"Empty", "", ""}, TextCase{"OnlyJunk", "abc\r\ndef", ""}),
    [](const auto& p) { return std::string(p.param.name); });

class KeepAlive : public testing::TestWithParam<TextCase> {};

TEST_P(KeepAlive, RemovesOnlyTheExactLineWithItsLineEnd) {
    EXPECT_EQ(dropKeepAliveLine(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, KeepAlive,
    testing::Values(
        TextCase{"Removed", "A: 1\r\nConnection: keep-alive\r\nB: 2", "A: 1\r\nB: 2"},
        TextCase{"OtherCaseStays", "Connection: Keep-Alive\r\nB: 2",
                 "Connection: Keep-Alive\r\nB: 2"},
        TextCase{"CloseStays", "Connection: close\r\nB: 2", "Connection: close\r\nB: 2"},
        TextCase{"LastLineWithoutLineEndStays", "A: 1\r\nConnection: keep-alive",
                 "A: 1\r\nConnection: keep-alive"},
        TextCase{"LowerCaseStays", "connection: keep-alive\r\nB: 2",
                 "connection: keep-alive\r\nB: 2"},
        TextCase{"ConnectionTypeComesFirst", "Connection-Type: x\r\nConnection: keep-alive\r\n",
                 "Connection-Type: x\r\nConnection: keep-alive\r\n"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(HeaderBlock, HeaderValueTakesTheFirstLineStartingWithTheName) {
    EXPECT_EQ(headerValue("A: 1\r\nConnection: close\r\n", "Connection"), "close");
    EXPECT_EQ(headerValue("Connection-Type: x\r\nConnection: close", "Connection"), "");
    EXPECT_EQ(headerValue("A: 1", "Connection"), "");
    EXPECT_EQ(headerValue("X: a: X: b", "X"), "b");
}

TEST(HeaderBlock, LowerCaseKeepAliveIsDroppedOnceNormalised) {
    const std::string block =
        assembleRequestHeaders("connection: keep-alive\r\nA: 1", 0, "", false, true);
    EXPECT_EQ(block, "A: 1");
}

TEST(HeaderBlock, CookieLineRules) {
    // Without normalisation the block keeps its line end, so the Cookie line follows an
    // empty line.
    EXPECT_EQ(assembleRequestHeaders("A: 1", 0, "a=1", false, false),
              "A: 1\r\n\r\nCookie: a=1\r\n");
    EXPECT_EQ(assembleRequestHeaders("A: 1", 0, "Cookie: a=1", false, true),
              "A: 1\r\nCookie: a=1\r\n");
    EXPECT_EQ(assembleRequestHeaders("cookie: z=9", 0, "a=1", false, true), "Cookie: z=9");
    EXPECT_EQ(assembleRequestHeaders("A: 1", 0, "", false, true), "A: 1");
    EXPECT_EQ(assembleRequestHeaders("", 0, "", false, true), "");
    EXPECT_EQ(assembleRequestHeaders("", 0, "", false, false), "");
}

} // namespace
} // namespace corvanta
