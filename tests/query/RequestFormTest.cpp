// The request forms beyond today's default, several keywords per request, the list of
// keywords the service does not index, and the daily series with its key.
#include "FakeIndexService.h"
#include "query/DailySeries.h"
#include "query/IndexService.h"
#include "query/KeywordGroups.h"
#include "web/WebFetch.h"

#include <gtest/gtest.h>

namespace corvanta {
namespace {

using fake::FakeIndexService;
using namespace std::chrono;
const std::string kChina = "\xE4\xB8\xAD\xE5\x9B\xBD"; // 中国
const std::string kCookie = "BDUSS=corvanta-demo";

class RequestFormTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service.start()) << service.lastError(); }

    QueryRequest request(RequestForm form = {}) const {
        QueryRequest r;
        r.base = service.baseUrl();
        r.cookie = kCookie;
        r.period = Period::Days30;
        r.form = std::move(form);
        return r;
    }
    static std::string trendText(const fake::Averages& a) {
        return std::to_string(a.allYoy) + " " + std::to_string(a.allQoq) + " " +
               std::to_string(a.pcYoy) + " " + std::to_string(a.pcQoq) + " " +
               std::to_string(a.wiseYoy) + " " + std::to_string(a.wiseQoq);
    }
    static std::string trendText(const QueryOutcome& o) {
        std::string text;
        for (const std::string& t : o.trends)
            text += (text.empty() ? "" : " ") + t;
        return text;
    }

    FakeIndexService service;
};

// The exact request line of every form, and each keyword's own averages from the answer.
TEST_F(RequestFormTest, EachFormSendsItsExactRequestLine) {
    RequestForm list;
    list.wordForm = WordForm::List;
    RequestForm dates = list;
    dates.startDate = "2024-01-01";
    dates.endDate = "2024-03-31";
    RequestForm area = list;
    area.area = 911;
    area.days = 90;
    RequestForm plainArea;
    plainArea.area = 901;
    const std::string one = "%5B%5B%7B%22name%22%3A%22%E4%B8%AD%E5%9B%BD%22%2C%22wordType%22%3A"
                            "1%7D%5D%5D";
    const std::string spaced = "%5B%5B%7B%22name%22%3A%22a%20b%22%2C%22wordType%22%3A1%7D%5D%5D";
    const auto group = [](const std::string& name) {
        return "%5B%7B%22name%22%3A%22" + name + "%22%2C%22wordType%22%3A1%7D%5D";
    };
    struct Case {
        const char* name;
        RequestForm form;
        std::vector<std::string> keywords;
        std::string query; // after "/api/SearchApi/index?"
        int days;          // the averages' days in the fake service
        int area;
    };
    const Case cases[] = {
        {"today's default", {}, {kChina}, "word=%E4%B8%AD%E5%9B%BD&area=0&days=30", 30, 0},
        {"plain form, region",
         plainArea,
         {kChina},
         "word=%E4%B8%AD%E5%9B%BD&area=901&days=30",
         30,
         901},
        {"list form, one keyword", list, {kChina}, "word=" + one + "&area=0&days=30", 30, 0},
        {"list form, a blank", list, {"a b"}, "word=" + spaced + "&area=0&days=30", 30, 0},
        {"list form, five keywords",
         list,
         {"a", "b", "c", "d", "e"},
         "word=%5B" + group("a") + "%2C" + group("b") + "%2C" + group("c") + "%2C" + group("d") +
             "%2C" + group("e") + "%5D&area=0&days=30",
         30,
         0},
        {"dates",
         dates,
         {kChina},
         "word=" + one + "&area=0&startDate=2024-01-01&endDate=2024-03-31",
         91,
         0},
        {"region and days", area, {kChina}, "word=" + one + "&area=911&days=90", 90, 911},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.clearRequests();
        const auto outcomes = queryKeywords(request(c.form), c.keywords);
        const auto requests = service.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].requestLine, "POST /api/SearchApi/index?" + c.query + " HTTP/1.1");
        ASSERT_EQ(outcomes.size(), c.keywords.size());
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            ASSERT_TRUE(outcomes[i].ok()) << outcomes[i].reason;
            const auto expected = FakeIndexService::expectedAverages(c.keywords[i], c.days, c.area);
            EXPECT_EQ(outcomes[i].overall, std::to_string(expected.all));
            EXPECT_EQ(outcomes[i].pc, std::to_string(expected.pc));
            EXPECT_EQ(outcomes[i].mobile, std::to_string(expected.wise));
            EXPECT_EQ(trendText(outcomes[i]), trendText(expected));
        }
    }
}

// Extra headers go out as given, after the defaults are completed; a header that could
// split the request is refused before anything is sent.
TEST_F(RequestFormTest, ExtraHeadersAreSentAndBrokenOnesNeverLeave) {
    RequestForm form;
    form.headers = {"Cipher-Text: 1698-abc==", "Referer: https://index.baidu.com/v2/index.html"};
    service.setRequiredHeader("Cipher-Text", "1698-abc==");
    QueryOutcome outcome = queryKeyword([&] {
        auto r = request(form);
        r.keyword = "abc";
        return r;
    }());
    ASSERT_TRUE(outcome.ok()) << outcome.reason;
    const auto headers = service.requests().at(0).headerLines;
    for (const std::string& line : form.headers)
        EXPECT_NE(std::find(headers.begin(), headers.end(), line), headers.end()) << line;

    // Without the header the service answers 10018, and the reason points at --header.
    QueryRequest bare = request();
    bare.keyword = "abc";
    outcome = queryKeyword(bare);
    EXPECT_EQ(outcome.status, QueryStatus::Failed);
    EXPECT_NE(outcome.reason.find("10018"), std::string::npos) << outcome.reason;
    EXPECT_NE(outcome.reason.find("--header"), std::string::npos) << outcome.reason;

    service.clearRequests();
    for (const std::string bad : {"X-A: 1\r\nX-Injected: 2", "X-A: 1\n", "X-A: \r", "NoColon",
                                  ": empty name", "Bad Name: 1"}) {
        SCOPED_TRACE(bad);
        RequestForm broken;
        broken.headers = {"Referer: x", bad};
        EXPECT_FALSE(headerLineProblem(bad).empty());
        QueryRequest r = request(broken);
        r.keyword = "abc";
        outcome = queryKeyword(r);
        EXPECT_EQ(outcome.status, QueryStatus::Failed);
        EXPECT_NE(outcome.reason.find("不能发送"), std::string::npos) << outcome.reason;
        EXPECT_EQ(queryKeywords(r, {"a", "b"}).at(1).status, QueryStatus::Failed);
    }
    EXPECT_TRUE(service.requests().empty());
    EXPECT_EQ(headerLineProblem("Cipher-Text: a:b c"), "");
}

// A keyword the service does not index costs its group one answer 10002; each keyword is
// then asked alone, so the others still get their values and it gets "未收录".
TEST_F(RequestFormTest, AnUnindexedKeywordInAGroupIsFoundByAskingEachAlone) {
    service.setUnknownKeywords({"zzz"});
    RequestForm list;
    list.wordForm = WordForm::List;
    const std::vector<std::string> words = {"a", "zzz", "c"};
    const auto outcomes = queryKeywords(request(list), words);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_TRUE(outcomes[0].ok());
    EXPECT_EQ(outcomes[1].status, QueryStatus::NotIndexed);
    EXPECT_EQ(outcomes[1].overall, "未收录");
    EXPECT_TRUE(outcomes[2].ok());
    EXPECT_EQ(outcomes[2].pc, std::to_string(FakeIndexService::expectedAverages("c", 30).pc));
    EXPECT_EQ(service.requests().size(), 4u);

    // Any other failure of the group is every keyword's failure, without more requests.
    service.setFault(fake::Fault::RateLimited);
    service.clearRequests();
    for (const QueryOutcome& o : queryKeywords(request(list), words))
        EXPECT_EQ(o.status, QueryStatus::RequestBlocked);
    EXPECT_EQ(service.requests().size(), 1u);
}

// Entries are matched by the keyword they name, whatever their order; a keyword the answer
// does not name fails on its own.
TEST(ReadKeywordListAnswer, MatchesEntriesByName) {
    WebExchange exchange;
    exchange.responseHeaders = "HTTP/1.1 200 OK\r\n\r\n";
    exchange.statusText = "200 OK";
    const std::string answer =
        R"({"status":0,"data":{"generalRatio":[)"
        R"({"word":[{"name":"b","wordType":1}],"all":{"avg":20,"yoy":1,"qoq":2},"pc":{"avg":8}},)"
        R"({"word":[{"name":"a","wordType":1}],"all":{"avg":10},"pc":{"avg":4},"wise":{"avg":6,"yoy":-7,"qoq":null}}]}})";
    const auto outcomes = readKeywordListAnswer(exchange, answer, {"a", "b", "c"});
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0].overall + "/" + outcomes[0].pc + "/" + outcomes[0].mobile, "10/4/6");
    EXPECT_EQ(outcomes[0].trends[4], "-7");
    EXPECT_EQ(outcomes[0].trends[5], "") << "a missing figure stays empty";
    EXPECT_EQ(outcomes[1].overall + "/" + outcomes[1].pc + "/" + outcomes[1].mobile, "20/8/0");
    EXPECT_EQ(outcomes[1].trends[0], "1");
    EXPECT_EQ(outcomes[2].status, QueryStatus::Failed);
    EXPECT_EQ(outcomes[2].overall, "失败");
}

TEST_F(RequestFormTest, CheckWordsListsTheUnindexedKeywords) {
    service.setUnknownKeywords({"zzz", kChina});
    const WordCheck check = checkWords(request(), {"a", kChina, "zzz", "b"});
    ASSERT_TRUE(check.ok) << check.reason;
    EXPECT_EQ(check.notIndexed, (std::set<std::string>{"zzz", kChina}));
    EXPECT_EQ(service.requests().at(0).requestLine,
              "GET /api/AddWordApi/checkWordsExists?word=%61%2C%E4%B8%AD%E5%9B%BD%2C%7A%7A%7A%2C%62"
              " HTTP/1.1");
    QueryRequest stale = request();
    stale.cookie = "BDUSS=stale";
    const WordCheck refused = checkWords(stale, {"a"});
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.status, QueryStatus::CookieRefused);
}

TEST(RequestFormDates, OnlyRealDatesInTheExactLayoutAreRead) {
    for (const char* good : {"2024-02-29", "2011-01-01", "1999-12-31"})
        EXPECT_TRUE(parseDate(good).has_value()) << good;
    for (const char* bad : {"2023-02-29", "2024-13-01", "2024-00-10", "2024-1-01", "24-01-01",
                            "2024/01/01", "2024-01-32", "", "2024-01-01x", "２024-01-01"})
        EXPECT_FALSE(parseDate(bad).has_value()) << bad;
    EXPECT_EQ(dateText(*parseDate("2024-03-05")), "2024-03-05");
    RequestForm form;
    form.startDate = "2024-01-01";
    form.endDate = "2024-12-31";
    EXPECT_EQ(form.daysAsked(Period::Days7), 366);
    EXPECT_EQ(RequestForm{}.daysAsked(Period::Days365), 365);
}

TEST(DailySeriesDecoding, TheKeyMapsItsFirstHalfOntoItsSecond) {
    struct Case {
        const char* name;
        std::string key, data;
        std::optional<std::string> decoded;
    };
    const Case cases[] = {
        {"digits and commas", "abcdefghijk0123456789,", "bckkdgk", "12,,36,"},
        {"several characters", "+-.%9876", "%+-..", "69877"},
        {"empty data", "ab12", "", ""},
        {"empty key", "", "abc", std::nullopt},
        {"odd key", "abc12", "a", std::nullopt},
        {"a character the key does not map", "ab12", "abz", std::nullopt},
        {"a key of Chinese characters",
         "\xE4\xB8\xAD\xE5\x9B\xBD"
         "12",
         "\xE5\x9B\xBD\xE4\xB8\xAD", "21"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeSeriesData(c.key, c.data), c.decoded);
    }
    using Figures = std::vector<std::optional<long long>>;
    EXPECT_EQ(splitFigures("12,,0"), (Figures{12, std::nullopt, 0}));
    EXPECT_EQ(splitFigures(""), (Figures{std::nullopt}));
    EXPECT_FALSE(splitFigures("1,x").has_value());
    EXPECT_FALSE(splitFigures("-1").has_value());

    const auto from = *parseDate("2023-01-01");
    const auto windows = seriesWindows(from, *parseDate("2024-12-31"));
    ASSERT_EQ(windows.size(), 3u); // 731 days: 300 + 300 + 131
    EXPECT_EQ(dateText(windows[0].second), "2023-10-27");
    EXPECT_EQ(dateText(windows[1].first), "2023-10-28");
    EXPECT_EQ(dateText(windows[2].second), "2024-12-31");
    EXPECT_EQ(seriesWindows(from, from).size(), 1u);
    EXPECT_EQ(seriesWindows(from, from + days{299}).size(), 1u);
    EXPECT_EQ(seriesWindows(from, from + days{300}).size(), 2u);
}

// The decoded figures are the fake service's own, empty days included; the key comes from
// either address; an empty key or a short series is a failure, never wrong numbers.
TEST_F(RequestFormTest, ADailySeriesIsDecodedWithItsOwnKey) {
    QueryRequest r = request();
    r.keyword = kChina;
    const auto from = *parseDate("2024-02-01");
    const auto to = *parseDate("2024-03-31");
    const auto check = [&](const SeriesOutcome& outcome, int area = 0) {
        ASSERT_TRUE(outcome.ok()) << outcome.reason;
        ASSERT_EQ(outcome.days.size(), 60u);
        int empty = 0;
        for (const SeriesDay& day : outcome.days) {
            const std::string date = dateText(day.date);
            EXPECT_EQ(day.overall,
                      FakeIndexService::dailyFigure(kChina, date, fake::Series::All, area));
            EXPECT_EQ(day.pc, FakeIndexService::dailyFigure(kChina, date, fake::Series::Pc, area));
            EXPECT_EQ(day.mobile,
                      FakeIndexService::dailyFigure(kChina, date, fake::Series::Wise, area));
            empty += !day.overall + !day.pc + !day.mobile;
        }
        EXPECT_GT(empty, 0) << "the range should hold days without data";
        EXPECT_EQ(dateText(outcome.days.front().date), "2024-02-01");
        EXPECT_EQ(dateText(outcome.days.back().date), "2024-03-31");
    };
    check(fetchSeriesWindow(r, from, to));
    auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[1].requestLine.starts_with("GET /Interface/api/ptbk?uniqid=u"))
        << requests[1].requestLine;

    RequestForm area;
    area.area = 920;
    QueryRequest regional = request(area);
    regional.keyword = kChina;
    check(fetchSeriesWindow(regional, from, to), 920);

    service.setKeyAddresses(false, true);
    service.clearRequests();
    check(fetchSeriesWindow(r, from, to));
    requests = service.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[2].requestLine.starts_with("GET /Interface/ptbk?uniqid=u"));

    service.setKeyAddresses(true, true);
    service.setEmptyKeyAnswers(2); // both addresses answer an empty key
    SeriesOutcome failed = fetchSeriesWindow(r, from, to);
    EXPECT_EQ(failed.status, QueryStatus::Failed);
    EXPECT_NE(failed.reason.find("解码密钥为空"), std::string::npos) << failed.reason;
    EXPECT_TRUE(failed.days.empty());

    service.setSeriesDaysDropped(1);
    failed = fetchSeriesWindow(r, from, to);
    EXPECT_EQ(failed.status, QueryStatus::Failed);
    EXPECT_NE(failed.reason.find("59"), std::string::npos) << failed.reason;
}

} // namespace
} // namespace corvanta
