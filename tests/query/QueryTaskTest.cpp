#include "query/QueryTask.h"

#include "FakeIndexService.h"
#include "query/IndexService.h"
#include "query/QueryText.h"
#include "web/WebFetch.h"

#include <climits>
#include <gtest/gtest.h>

namespace corvanta {
namespace {

using fake::FakeIndexService;
const std::string kChina = "\xE4\xB8\xAD\xE5\x9B\xBD"; // 中国

TEST(IndexRequestUrl, EncodesEveryByteOfTheKeywordAndNamesThePeriod) {
    struct Case {
        std::string keyword;
        Period period;
        std::string query;
    };
    for (const Case& c : {Case{"abc", Period::Days30, "word=%61%62%63&area=0&days=30"},
                          Case{kChina, Period::Days7, "word=%E4%B8%AD%E5%9B%BD&area=0&days=7"},
                          Case{"", Period::Days365, "word=&area=0&days=365"},
                          Case{"a b", Period::Days7, "word=%61%20%62&area=0&days=7"}}) {
        EXPECT_EQ(indexRequestUrl("https://index.baidu.com", c.keyword, c.period),
                  "https://index.baidu.com/api/SearchApi/index?" + c.query);
    }
}

TEST(IndexService, BaseAddressesAreHttpOrHttpsWithAHost) {
    EXPECT_EQ(normalizedServiceBase("http://127.0.0.1:8765/"), "http://127.0.0.1:8765");
    EXPECT_EQ(normalizedServiceBase("https://index.baidu.com"), "https://index.baidu.com");
    for (const char* bad : {"", "ftp://x", "http://", "127.0.0.1:80", "http://h/p", "http://h?x"})
        EXPECT_EQ(normalizedServiceBase(bad), "") << bad;
    Period period;
    EXPECT_FALSE(periodFromIndex(-1, period));
    EXPECT_FALSE(periodFromIndex(3, period));
    ASSERT_TRUE(periodFromIndex(2, period));
    EXPECT_EQ(periodDays(period), 365);
}

TEST(ParseWorkerCount, ReadsTheLeadingNumberLikeTheWindowDoes) {
    struct Case {
        std::string text;
        int count;
    };
    for (const Case& c :
         {Case{"15", 15}, Case{"8abc", 8}, Case{"\xEF\xBC\x98", 8}, // ８
          Case{"  8", 8},
          Case{"\xE3\x80\x80"
               "8",
               8},                              // 　8
          Case{"\xEF\xBC\x8D\xEF\xBC\x93", -3}, // －３
          Case{"abc", 0}, Case{"", 0}, Case{"-5", -5}, Case{"+7", 7}, Case{"1 2", 1},
          Case{"99999999999", INT_MAX}, Case{"-99999999999", INT_MIN}}) {
        EXPECT_EQ(parseWorkerCount(c.text), c.count) << c.text;
    }
}

TEST(CookieLine, APastedCookieBecomesOneLine) {
    struct Case {
        std::string pasted;
        std::string line;
    };
    for (const Case& c : {Case{"BDUSS=x", "BDUSS=x"}, Case{"a=1; b=2", "a=1; b=2"},
                          Case{"a=1;\r\nb=2\r\n", "a=1; b=2"}, Case{"  a=1\n\n b=2 ", "a=1; b=2"},
                          Case{"a=1\rb=2", "a=1; b=2"}, Case{"\r\n", ""}, Case{"", ""}}) {
        EXPECT_EQ(cookieLine(c.pasted), c.line) << c.pasted;
    }
}

// What an exchange that ended as given means for the row.
struct AnswerCase {
    const char* name;
    std::string statusText;
    bool answered; // the exchange got a response (its headers are set)
    std::string body;
    QueryStatus status;
    std::string pc, mobile, overall;
    std::string reasonPart;
};

class ReadIndexAnswer : public testing::TestWithParam<AnswerCase> {};

TEST_P(ReadIndexAnswer, TellsValuesFromFailures) {
    const AnswerCase& c = GetParam();
    WebExchange exchange;
    exchange.statusText = c.statusText;
    if (c.answered)
        exchange.responseHeaders = "HTTP/1.1 " + c.statusText + "\r\n\r\n";
    const QueryOutcome outcome = readIndexAnswer(exchange, c.body);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.pc, c.pc);
    EXPECT_EQ(outcome.mobile, c.mobile);
    EXPECT_EQ(outcome.overall, c.overall);
    EXPECT_NE(outcome.reason.find(c.reasonPart), std::string::npos) << outcome.reason;
    EXPECT_EQ(outcome.ok(), outcome.reason.empty());
}

const std::string kFull = "{\"status\":0,\"data\":{\"generalRatio\":[{\"word\":[],"
                          "\"all\":{\"avg\":1801,\"yoy\":-3,\"qoq\":5},"
                          "\"pc\":{\"avg\":1234,\"yoy\":2,\"qoq\":-1},"
                          "\"wise\":{\"avg\":567,\"yoy\":7,\"qoq\":0}}]},\"message\":0}";
const std::string kOnlyAll = "{\"status\":0,\"data\":{\"generalRatio\":[{\"all\":{\"avg\":1234,"
                             "\"yoy\":1,\"qoq\":2}}]},\"message\":0}";
// The same values in another key order: the text cut finds nothing, the JSON still does.
const std::string kReordered = "{\"data\":{\"generalRatio\":[{\"all\":{\"yoy\":1,\"avg\":9},"
                               "\"pc\":{\"qoq\":0,\"avg\":0},\"wise\":{\"avg\":4}}]},"
                               "\"status\":0}";

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadIndexAnswer,
    testing::Values(
        AnswerCase{"success", "200 OK", true, kFull, QueryStatus::Ok, "1234", "567", "1801", ""},
        AnswerCase{"only the overall series", "200 OK", true, kOnlyAll, QueryStatus::Ok, "0", "0",
                   "1234", ""},
        AnswerCase{"other key order", "200 OK", true, kReordered, QueryStatus::Ok, "0", "4", "9",
                   ""},
        AnswerCase{"cookie refused", "200 OK", true, "{\"status\":10000,\"message\":\"not login\"}",
                   QueryStatus::CookieRefused, "cookie无效", "cookie无效", "cookie无效",
                   "not login"},
        AnswerCase{"request block", "200 OK", true,
                   "{\"status\":10001,\"message\":\"request block\"}", QueryStatus::RequestBlocked,
                   "请求受限", "请求受限", "请求受限", "request block"},
        AnswerCase{"bad request", "200 OK", true, "{\"status\":10002,\"message\":\"bad request\"}",
                   QueryStatus::NotIndexed, "未收录", "未收录", "未收录", "10002"},
        AnswerCase{"abnormal access", "200 OK", true,
                   "{\"status\":10018,\"message\":\"abnormal access\"}", QueryStatus::Failed,
                   "失败", "失败", "失败", "--header"},
        AnswerCase{"not json", "200 OK", true, "<html>login</html>", QueryStatus::Failed, "失败",
                   "失败", "失败", "JSON"},
        AnswerCase{"cut short", "200 OK", true, kFull.substr(0, 60), QueryStatus::Failed, "失败",
                   "失败", "失败", "JSON"},
        AnswerCase{"no status", "200 OK", true, "{\"data\":{}}", QueryStatus::Failed, "失败",
                   "失败", "失败", "status"},
        AnswerCase{"http error", "502 Bad Gateway", true, kFull, QueryStatus::Failed, "失败",
                   "失败", "失败", "502 Bad Gateway"},
        AnswerCase{"no answer", "712 服务器未响应!", false, "", QueryStatus::Failed, "失败", "失败",
                   "失败", "712 服务器未响应!"},
        AnswerCase{"cancelled", "714 请求已取消!", false, "", QueryStatus::NotQueried, "未查询",
                   "未查询", "未查询", "714"}),
    [](const testing::TestParamInfo<AnswerCase>& param) {
        std::string name = param.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(QueryKeyword, PostsTheRequestWithTheCookieAndReadsTheAverages) {
    FakeIndexService service;
    ASSERT_TRUE(service.start());
    QueryRequest request;
    request.base = service.baseUrl();
    request.keyword = kChina;
    request.period = Period::Days30;
    request.cookie = "BDUSS=corvanta-demo;\r\nother=1";
    const QueryOutcome outcome = queryKeyword(request);

    ASSERT_TRUE(outcome.ok()) << outcome.reason;
    const fake::Averages expected = FakeIndexService::expectedAverages(kChina, 30);
    EXPECT_EQ(outcome.overall, std::to_string(expected.all));
    EXPECT_EQ(outcome.pc, std::to_string(expected.pc));
    EXPECT_EQ(outcome.mobile, std::to_string(expected.wise));

    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine,
              "POST /api/SearchApi/index?word=%E4%B8%AD%E5%9B%BD&area=0&days=30 HTTP/1.1");
    int cookieLines = 0;
    for (const std::string& line : requests[0].headerLines) {
        if (line.starts_with("Cookie:")) {
            ++cookieLines;
            EXPECT_EQ(line, "Cookie: BDUSS=corvanta-demo; other=1");
        }
    }
    EXPECT_EQ(cookieLines, 1);
}

} // namespace
} // namespace corvanta
